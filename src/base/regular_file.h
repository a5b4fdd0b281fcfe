// openRegularFile: opens a file that a user named, for reading, only when it is a regular
// file.
//
// A name may point at a device that never ends (/dev/zero), a FIFO whose open waits for a
// writer, or a directory: reading any of them whole would wait or grow without end. The file
// is opened without waiting (O_NONBLOCK, which a FIFO's open honours) and refused unless it
// is a regular file; the descriptor handed back reads as usual (blocking).
//
//   UniqueFd file;
//   if (Result opened = openRegularFile(path, file); !opened) report(opened.text());
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "base/unique_fd.h"

namespace korvimo {

inline constexpr const char* kNotRegularFileText = "Not a regular file";

// On failure the text is the reason alone ("No such file or directory", "Is a directory",
// kNotRegularFileText), for the caller to put after the line that names the file; file is
// left closed. With error given, it receives the errno of the failure (0 for a file that is
// neither a regular file nor a directory), so that a caller can tell a missing file (ENOENT).
Result openRegularFile(const std::string& path, UniqueFd& file, int* error = nullptr);

// The whole text of a regular file of at most maxSize bytes. On failure the text is the
// reason alone, as openRegularFile gives it, or the system's for a read that fails or a file
// larger than maxSize ("File too large"); text is then empty.
Result readRegularFile(const std::string& path, std::size_t maxSize, std::string& text);

// Writes the whole text to fd, again after an interruption; 0, or the errno of the write
// that failed (ENOSPC for one that wrote nothing).
int writeAll(int fd, std::string_view text);

// Replaces the content of the file at path with text: a copy is written beside it under a
// name of this process's own and renamed over it, so a failure half-way leaves the old file
// whole (and the copy removed). An existing file's permissions carry over; a new one takes
// the umask. 0, or the errno of the step that failed.
int replaceFileContent(const std::string& path, std::string_view text);

// The names in a directory, "." and ".." included; none when it cannot be read.
std::vector<std::string> listDirectory(const std::string& directory);

}  // namespace korvimo
