#include "app/snmpv3_setup.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "base/unique_fd.h"
#include "snmp/usm_crypto.h"

namespace korvimo::app {

namespace {

// The engines file is a short list; anything beyond this is no engines file.
constexpr off_t kMaxEnginesFile = 4 * 1024 * 1024;

bool fromHex(std::string_view text, std::vector<uint8_t>& bytes) {
    if (text.size() % 2 != 0 || text.empty()) {
        return false;
    }
    bytes.clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        unsigned value = 0;
        for (std::size_t k = 0; k < 2; ++k) {
            const char c = text[i + k];
            unsigned digit;
            if (c >= '0' && c <= '9') {
                digit = static_cast<unsigned>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                digit = static_cast<unsigned>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                digit = static_cast<unsigned>(c - 'A' + 10);
            } else {
                return false;
            }
            value = value * 16 + digit;
        }
        bytes.push_back(static_cast<uint8_t>(value));
    }
    return true;
}

Result readWhole(int fd, const std::string& path, std::string& text) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kMaxEnginesFile) {
        return Result::failuref("Cannot use engines file [%s]: not a regular file of at most "
                                "4 MB.",
                                path.c_str());
    }
    text.resize(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::pread(fd, text.data() + done, text.size() - done,
                                  static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return Result::failuref("Cannot read engines file [%s]: %s", path.c_str(),
                                    n < 0 ? std::strerror(errno) : "it got shorter");
        }
        done += static_cast<std::size_t>(n);
    }
    return {};
}

Result writeWhole(int fd, const std::string& path, const std::string& text) {
    if (::ftruncate(fd, 0) != 0) {
        return Result::failuref("Cannot write engines file [%s]: %s", path.c_str(),
                                std::strerror(errno));
    }
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::pwrite(fd, text.data() + done, text.size() - done,
                                   static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return Result::failuref("Cannot write engines file [%s]: %s", path.c_str(),
                                    std::strerror(errno));
        }
        done += static_cast<std::size_t>(n);
    }
    return {};
}

}  // namespace

Result loadUsers(const std::string& home, const UserSources& sources,
                 std::vector<snmp::UsmUser>& users) {
    users.clear();
    const std::string path = sources.usersFile.value_or(home + kUsersFileName);
    struct stat info {};
    if (sources.usersFile || ::stat(path.c_str(), &info) == 0) {
        if (Result r = snmp::readUsersFile(path, users); !r) {
            return r;
        }
    }
    for (const std::string& line : sources.userLines) {
        snmp::UsmUser user;
        bool isUser = false;
        if (Result r = snmp::parseUserLine(line, user, &isUser); !r || !isUser) {
            return Result::failuref("--v3-user '%s': %s", line.c_str(),
                                    r ? "no user on the line" : r.c_str());
        }
        snmp::addOrReplaceUser(users, std::move(user));
    }
    return {};
}

std::vector<uint8_t> newEngineId() {
    // 0x80 and no enterprise number: an engine ID of RFC 3411's form whose fifth octet, 5,
    // says that administratively assigned octets follow.
    std::vector<uint8_t> id = {0x80, 0x00, 0x00, 0x00, 0x05};
    uint8_t random[12] = {};
    if (!snmp::randomBytes(random, sizeof random)) {
        // No generator: the time and the process tell engines of one machine apart.
        const uint64_t now = static_cast<uint64_t>(::time(nullptr));
        const uint32_t pid = static_cast<uint32_t>(::getpid());
        std::memcpy(random, &now, sizeof now);
        std::memcpy(random + 8, &pid, sizeof pid);
    }
    id.insert(id.end(), std::begin(random), std::end(random));
    return id;
}

std::string hexText(const std::vector<uint8_t>& bytes) {
    std::string text;
    text.reserve(bytes.size() * 2);
    char two[3];
    for (const uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%02x", b);
        text += two;
    }
    return text;
}

Result startEngine(const std::string& home, std::string_view endpoint, EngineIdentity& engine) {
    const std::string path = home + kEnginesFileName;
    UniqueFd file(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (!file.valid()) {
        return Result::failuref("Cannot open engines file [%s]: %s", path.c_str(),
                                std::strerror(errno));
    }
    int locked;
    do {
        locked = ::flock(file.get(), LOCK_EX);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        return Result::failuref("Cannot lock engines file [%s]: %s", path.c_str(),
                                std::strerror(errno));
    }
    std::string text;
    if (Result r = readWhole(file.get(), path, text); !r) {
        return r;
    }

    // Every line is kept as it stands but the endpoint's own, which is written anew.
    std::ostringstream kept;
    std::istringstream lines(text);
    std::string line;
    bool found = false;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string key;
        std::string id;
        unsigned long long boots = 0;
        if (!found && (fields >> key >> id >> boots) && key == endpoint &&
            fromHex(id, engine.engineId) && engine.engineId.size() >= 5 &&
            engine.engineId.size() <= snmp::kMaxEngineId) {
            found = true;
            // The boots stop at their largest, where RFC 3414 2.2.2 leaves them.
            engine.boots = static_cast<uint32_t>(
                std::min<unsigned long long>(boots + 1, snmp::kMaxEngineBoots));
            continue;
        }
        if (!line.empty()) {
            kept << line << "\n";
        }
    }
    if (!found) {
        engine.engineId = newEngineId();
        engine.boots = 1;
    }
    kept << endpoint << " " << hexText(engine.engineId) << " " << engine.boots << "\n";
    return writeWhole(file.get(), path, kept.str());
}

std::string v3StartedLine(const V3Security& security) {
    char line[200];
    std::snprintf(line, sizeof line, "SNMPv3: %zu user(s), engine ID %s, boots %u.",
                  security.userCount(), hexText(security.engineId()).c_str(), security.boots());
    return line;
}

}  // namespace korvimo::app
