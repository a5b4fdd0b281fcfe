#include "app/snmpv3_setup.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "base/text.h"
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
        return Result::failuref(
            "Cannot use engines file [%s]: not a regular file of at most "
            "4 MB.",
            path.c_str());
    }
    text.resize(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n =
            ::pread(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
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

// Boots as the engines file writes them: decimal digits, at most the largest boots.
bool bootsFromText(const std::string& text, uint32_t& boots) {
    if (text.empty() || text.size() > 10 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const unsigned long long value = std::stoull(text);
    if (value > static_cast<unsigned long long>(snmp::kMaxEngineBoots)) {
        return false;
    }
    boots = static_cast<uint32_t>(value);
    return true;
}

Result writeWhole(int fd, const std::string& path, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n =
            ::pwrite(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
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

std::string firstWord(std::string_view line) {
    const std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string_view::npos) {
        return std::string();
    }
    const std::size_t end = line.find_first_of(" \t\r", start);
    return std::string(line.substr(start, end == std::string_view::npos ? end : end - start));
}

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
            // Named by its user, not shown: the line holds pass phrases.
            return Result::failuref("--v3-user of user [%s]: %s", firstWord(line).c_str(),
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

Result EngineBook::open(const std::string& home) {
    path_ = home + kEnginesFileName;
    others_.clear();
    entries_.clear();
    index_.clear();
    notes_.clear();
    // The lock has a file of its own: the engines file itself is replaced whole at save.
    const std::string lockPath = path_ + ".lock";
    lock_.reset(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (!lock_.valid()) {
        return Result::failuref("Cannot open engines lock file [%s]: %s", lockPath.c_str(),
                                std::strerror(errno));
    }
    int locked;
    do {
        locked = ::flock(lock_.get(), LOCK_EX);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        const int error = errno;
        lock_.reset();
        return Result::failuref("Cannot lock engines file [%s]: %s", lockPath.c_str(),
                                std::strerror(error));
    }
    std::string text;
    if (UniqueFd file(::open(path_.c_str(), O_RDONLY | O_CLOEXEC)); file.valid()) {
        if (Result r = readWhole(file.get(), path_, text); !r) {
            lock_.reset();
            return r;
        }
    } else if (errno != ENOENT) {
        const int error = errno;
        lock_.reset();
        return Result::failuref("Cannot open engines file [%s]: %s", path_.c_str(),
                                std::strerror(error));
    }
    std::istringstream lines(text);
    std::string line;
    std::size_t number = 0;
    while (std::getline(lines, line)) {
        ++number;
        std::istringstream fields(line);
        Entry entry;
        std::string id;
        std::string boots;
        std::string extra;
        const bool read = (fields >> entry.endpoint >> id >> boots) && !(fields >> extra) &&
                          fromHex(id, entry.identity.engineId) &&
                          entry.identity.engineId.size() >= 5 &&
                          entry.identity.engineId.size() <= snmp::kMaxEngineId &&
                          bootsFromText(boots, entry.identity.boots);
        if (read && !index_.contains(entry.endpoint)) {
            index_.emplace(entry.endpoint, entries_.size());
            entries_.push_back(std::move(entry));
        } else if (line.find_first_not_of(" \t\r") != std::string::npos) {
            // Kept as it stands, and said: an engine whose line is damaged gets a new ID.
            notes_.push_back(formatText(kEnginesLineUnreadFormat, path_.c_str(), number));
            others_.push_back(line);
        }
    }
    return {};
}

EngineIdentity EngineBook::start(std::string_view endpoint) {
    const std::string key(endpoint);
    if (auto it = index_.find(key); it != index_.end()) {
        EngineIdentity& identity = entries_[it->second].identity;
        if (identity.boots >= static_cast<uint32_t>(snmp::kMaxEngineBoots) - 1) {
            // Its boots would reach their largest, where no authenticated message is taken
            // any more (RFC 3414 2.2.2): the engine starts anew under a new ID.
            identity = {newEngineId(), 1};
            notes_.push_back(formatText(kEngineRenewedFormat, key.c_str()));
        } else {
            ++identity.boots;
        }
        return identity;
    }
    index_.emplace(key, entries_.size());
    entries_.push_back({key, {newEngineId(), 1}});
    return entries_.back().identity;
}

std::vector<std::string> EngineBook::takeNotes() {
    std::vector<std::string> notes = std::move(notes_);
    notes_.clear();
    return notes;
}

Result EngineBook::save() {
    if (!lock_.valid()) {
        return Result::failuref("Cannot write engines file [%s]: it is not open", path_.c_str());
    }
    std::string text;
    for (const std::string& line : others_) {
        text += line + "\n";
    }
    for (const Entry& entry : entries_) {
        text += entry.endpoint + " " + hexText(entry.identity.engineId) + " " +
                std::to_string(entry.identity.boots) + "\n";
    }
    Result written;
    if (text.size() > static_cast<std::size_t>(kMaxEnginesFile)) {
        written = Result::failuref(
            "Cannot write engines file [%s]: it would pass 4 MB; remove the lines of endpoints "
            "that are gone.",
            path_.c_str());
    } else {
        // A new file renamed over the old one: a crash leaves the one or the other, whole.
        const std::string temporary = path_ + ".new";
        UniqueFd file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (!file.valid()) {
            written = Result::failuref("Cannot write engines file [%s]: %s", temporary.c_str(),
                                       std::strerror(errno));
        } else {
            written = writeWhole(file.get(), temporary, text);
            if (written && ::fsync(file.get()) != 0) {
                written = Result::failuref("Cannot write engines file [%s]: %s", temporary.c_str(),
                                           std::strerror(errno));
            }
            file.reset();
            if (written && ::rename(temporary.c_str(), path_.c_str()) != 0) {
                written = Result::failuref("Cannot write engines file [%s]: %s", path_.c_str(),
                                           std::strerror(errno));
            }
            if (!written) {
                ::unlink(temporary.c_str());
            }
        }
    }
    lock_.reset();  // and the lock with it
    return written;
}

Result startEngine(const std::string& home, std::string_view endpoint, EngineIdentity& engine,
                   std::vector<std::string>* notes) {
    EngineBook book;
    if (Result opened = book.open(home); !opened) {
        return opened;
    }
    engine = book.start(endpoint);
    if (notes != nullptr) {
        *notes = book.takeNotes();
    }
    return book.save();
}

std::string v3StartedLine(const V3Security& security) {
    char line[200];
    std::snprintf(line, sizeof line, "SNMPv3: %zu user(s), engine ID %s, boots %u.",
                  security.userCount(), hexText(security.engineId()).c_str(), security.boots());
    return line;
}

}  // namespace korvimo::app
