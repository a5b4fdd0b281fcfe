#include "mibinfo/mib_info_library.h"


#include <cerrno>
#include <cstring>

#include "base/regular_file.h"
#include "base/unique_fd.h"

namespace korvimo::mibinfo {

namespace {

constexpr const char* kCannotOpenText = "Cannot open [%s]: %s";
constexpr const char* kCannotStatText = "Cannot read the state of [%s]: %s";

// Time stamps of some file systems count whole seconds or two; a copy read within this long
// of the file's modification may miss a rewrite that leaves size and time as they were.
constexpr time_t kTimeStampSlack = 2;

}  // namespace

bool MibInfoLibrary::Copy::sameVersion(const struct stat& status) const {
    return info != nullptr && device == status.st_dev && inode == status.st_ino &&
           size == status.st_size && modified.tv_sec == status.st_mtim.tv_sec &&
           modified.tv_nsec == status.st_mtim.tv_nsec;
}

std::shared_ptr<const MibInfo> MibInfoLibrary::refresh(int fd, const struct stat& status,
                                                       Result* why) {
    timespec readStart{};
    ::clock_gettime(CLOCK_REALTIME, &readStart);
    std::shared_ptr<const MibInfo> fresh = MibInfo::read(fd, why);
    if (fresh == nullptr) {
        copy_ = {};
        return nullptr;
    }
    // An unchanged text keeps the copy already shared.
    if (copy_.info == nullptr || copy_.info->text() != fresh->text()) {
        copy_.info = std::move(fresh);
    }
    copy_.device = status.st_dev;
    copy_.inode = status.st_ino;
    copy_.size = status.st_size;
    copy_.modified = status.st_mtim;
    copy_.settled = status.st_mtim.tv_sec + kTimeStampSlack < readStart.tv_sec;
    return copy_.info;
}

std::shared_ptr<const MibInfo> MibInfoLibrary::current(Result* why) {
    const std::lock_guard<std::mutex> lock(mutex_);
    struct stat status {};
    // The common case, an unchanged file, costs one stat.
    if (::stat(path_.c_str(), &status) == 0 && copy_.settled && copy_.sameVersion(status)) {
        return copy_.info;
    }
    // Only a regular file: a device never ends and a FIFO's open waits for a writer.
    UniqueFd file;
    if (Result opened = openRegularFile(path_, file); !opened) {
        if (why != nullptr) {
            *why = Result::failuref(kCannotOpenText, path_.c_str(), opened.c_str());
        }
        copy_ = {};
        return nullptr;
    }
    // The version of what is read is that of the file opened, which may have replaced the one
    // just seen.
    if (::fstat(file.get(), &status) != 0) {
        if (why != nullptr) {
            *why = Result::failuref(kCannotStatText, path_.c_str(), std::strerror(errno));
        }
        copy_ = {};
        return nullptr;
    }
    if (copy_.settled && copy_.sameVersion(status)) {
        return copy_.info;  // the file opened is the version already read
    }
    return refresh(file.get(), status, why);
}

}  // namespace korvimo::mibinfo
