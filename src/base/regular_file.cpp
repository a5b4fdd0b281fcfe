#include "base/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace korvimo {

Result openRegularFile(const std::string& path, UniqueFd& file) {
    file.reset();
    UniqueFd opened;
    do {
        opened.reset(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    } while (!opened && errno == EINTR);
    if (!opened) {
        return Result::failure(std::strerror(errno));
    }
    struct stat info {};
    if (::fstat(opened.get(), &info) != 0) {
        return Result::failure(std::strerror(errno));
    }
    if (S_ISDIR(info.st_mode)) {
        return Result::failure(std::strerror(EISDIR));
    }
    if (!S_ISREG(info.st_mode)) {
        return Result::failure(kNotRegularFileText);
    }
    const int flags = ::fcntl(opened.get(), F_GETFL);
    if (flags < 0 || ::fcntl(opened.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return Result::failure(std::strerror(errno));
    }
    file = std::move(opened);
    return {};
}

}  // namespace korvimo
