// MibInfoLibrary: one MibInfo of mibinfo.out for the whole process. Every agent started in
// the process asks for the current copy and shares it; the file is read on first use and
// again only when it changed (device, inode, size or modification time), so a compilation
// that rewrites it is picked up at the next agent start and costs nothing before.
//
//   MibInfoLibrary library(home + "/mibs/mibinfo.out");   // owned by the process
//   std::shared_ptr<const MibInfo> mib = library.current();  // at each agent start
//   if (!mib) ...                                            // missing: no descriptors
//
// A file rewritten within the resolution of its time stamps can keep its size and time, so
// a copy read less than two seconds after the file's modification time is not trusted: the
// next request reads the file again and keeps the copy it has when the text is unchanged.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "base/result.h"
#include "mibinfo/mib_info.h"

namespace korvimo::mibinfo {

class MibInfoLibrary {
  public:
    explicit MibInfoLibrary(std::string path) : path_(std::move(path)) {}
    MibInfoLibrary(const MibInfoLibrary&) = delete;
    MibInfoLibrary& operator=(const MibInfoLibrary&) = delete;

    // The file as it is now; null (with why) when it is missing or cannot be read.
    std::shared_ptr<const MibInfo> current(Result* why = nullptr);
    const std::string& path() const { return path_; }

  private:
    // The file's copy and the version of the file it was read from.
    struct Copy {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        timespec modified{};
        bool settled = false;  // read long enough after the file's last change to be trusted
        std::shared_ptr<const MibInfo> info;

        bool sameVersion(const struct stat& status) const;
    };

    // Brings the copy up to the file behind fd, whose state is status; null (with why) when
    // it cannot be read, the copy then holding nothing.
    std::shared_ptr<const MibInfo> refresh(int fd, const struct stat& status, Result* why);

    std::string path_;
    std::mutex mutex_;
    Copy copy_;
};

}  // namespace korvimo::mibinfo
