#include "base/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

}  // namespace korvimo
