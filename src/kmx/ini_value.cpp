#include "kmx/ini_value.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvimo::kmx {

namespace {

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool findIniValue(std::string_view text, std::string_view section, std::string_view key,
                  std::string& value) {
    bool inSection = false;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = trim(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line.front() == ';') {
            continue;
        }
        if (line.front() == '[') {
            std::size_t close = line.find(']');
            // A section header may be followed directly by a key on the same line when the
            // file was created without a line end after it.
            std::string_view name = line.substr(
                1, close == std::string_view::npos ? std::string_view::npos : close - 1);
            inSection = equalsIgnoringCase(trim(name), section);
            if (close == std::string_view::npos) {
                continue;
            }
            line = trim(line.substr(close + 1));
            if (line.empty()) {
                continue;
            }
        }
        if (!inSection) {
            continue;
        }
        std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        if (equalsIgnoringCase(trim(line.substr(0, equals)), key)) {
            value.assign(trim(line.substr(equals + 1)));
            return true;
        }
    }
    return false;
}

bool readIniValue(const std::string& path, std::string_view section, std::string_view key,
                  std::string& value) {
    // Only a regular file of a settings file's size is read: the name may lead to a device
    // that never ends or a FIFO that waits for a writer.
    constexpr std::size_t kLargestSettingsFile = std::size_t{1} << 20;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    std::string text;
    bool read = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    char block[4096];
    while (read) {
        const ssize_t got = ::read(fd, block, sizeof block);
        if (got <= 0 || text.size() + static_cast<std::size_t>(got) > kLargestSettingsFile) {
            read = got == 0;
            break;
        }
        text.append(block, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return read && findIniValue(text, section, key, value);
}

}  // namespace korvimo::kmx
