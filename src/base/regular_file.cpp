#include "base/regular_file.h"

#include <dirent.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace korvimo {

Result openRegularFile(const std::string& path, UniqueFd& file, int* error) {
    file.reset();
    auto fail = [error](int code, const char* text) {
        if (error != nullptr) {
            *error = code;
        }
        return Result::failure(text);
    };
    UniqueFd opened;
    do {
        opened.reset(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    } while (!opened && errno == EINTR);
    if (!opened) {
        return fail(errno, std::strerror(errno));
    }
    struct stat info {};
    if (::fstat(opened.get(), &info) != 0) {
        return fail(errno, std::strerror(errno));
    }
    if (S_ISDIR(info.st_mode)) {
        return fail(EISDIR, std::strerror(EISDIR));
    }
    if (!S_ISREG(info.st_mode)) {
        return fail(0, kNotRegularFileText);
    }
    const int flags = ::fcntl(opened.get(), F_GETFL);
    if (flags < 0 || ::fcntl(opened.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return fail(errno, std::strerror(errno));
    }
    file = std::move(opened);
    return {};
}

Result readRegularFile(const std::string& path, std::size_t maxSize, std::string& text) {
    text.clear();
    UniqueFd file;
    if (Result opened = openRegularFile(path, file); !opened) {
        return opened;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int error = errno;
            text.clear();
            return Result::failure(std::strerror(error));
        }
        if (got == 0) {
            return {};
        }
        if (text.size() + static_cast<std::size_t>(got) > maxSize) {
            text.clear();
            return Result::failure(std::strerror(EFBIG));
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
}

int writeAll(int fd, std::string_view text) {
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return n < 0 ? errno : ENOSPC;
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }
    return 0;
}

int replaceFileContent(const std::string& path, std::string_view text) {
    // The writer's process number makes the name its own; a copy a killed writer left
    // behind is replaced by the next write.
    const std::string temporary = path + ".new-" + std::to_string(::getpid());
    struct stat old {};
    const bool existed = ::stat(path.c_str(), &old) == 0;
    UniqueFd file(::open(temporary.c_str(),
                         O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644));
    if (!file) {
        return errno;
    }
    if (existed) {
        (void)::fchmod(file.get(), old.st_mode & 07777);
    }
    int error = writeAll(file.get(), text);
    if (::close(file.release()) != 0 && error == 0) {
        error = errno;
    }
    if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(temporary.c_str());
    }
    return error;
}

std::vector<std::string> listDirectory(const std::string& directory) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(directory.c_str());
    if (dir == nullptr) {
        return names;
    }
    while (const dirent* entry = ::readdir(dir)) {
        names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    return names;
}

}  // namespace korvimo
