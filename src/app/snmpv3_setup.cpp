#include "app/snmpv3_setup.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "base/regular_file.h"
#include "base/text.h"
#include "base/unique_fd.h"
#include "snmp/usm_crypto.h"

namespace korvimo::app {

namespace {

// The engines file is a short list; anything beyond this is no engines file.
constexpr std::size_t kMaxEnginesFile = 4 * 1024 * 1024;

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

}  // namespace

Result userFromLine(std::string_view line, snmp::UsmUser& user) {
    bool isUser = false;
    if (Result r = snmp::parseUserLine(line, user, &isUser); !r || !isUser) {
        // Named by its user, not shown: the line holds pass phrases.
        std::string_view name;
        std::string_view rest;
        takeWord(line, name, rest);
        return Result::failuref("--v3-user of user [%s]: %s", std::string(name).c_str(),
                                r ? "no user on the line" : r.c_str());
    }
    return {};
}

bool engineIdFromText(std::string_view text, std::vector<uint8_t>& engineId) {
    if (text.starts_with("0x") || text.starts_with("0X")) {
        text.remove_prefix(2);
    }
    if (text.size() % 2 != 0 || text.size() < 10 || text.size() > 2 * snmp::kMaxEngineId) {
        return false;
    }
    std::vector<uint8_t> bytes;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = hexDigit(text[i]);
        const int low = hexDigit(text[i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        bytes.push_back(static_cast<uint8_t>(high << 4 | low));
    }
    engineId = std::move(bytes);
    return true;
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
        if (Result r = userFromLine(line, user); !r) {
            return r;
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
    struct stat info {};
    const bool missing = ::stat(path_.c_str(), &info) != 0 && errno == ENOENT;
    if (Result r = missing ? Result() : readRegularFile(path_, kMaxEnginesFile, text); !r) {
        lock_.reset();
        return Result::failuref("Cannot read engines file [%s]: %s", path_.c_str(), r.c_str());
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
                          engineIdFromText(id, entry.identity.engineId) &&
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
    if (text.size() > kMaxEnginesFile) {
        written = Result::failuref(
            "Cannot write engines file [%s]: it would pass 4 MB; remove the lines of endpoints "
            "that are gone.",
            path_.c_str());
    } else if (const int error = replaceFileContent(path_, text); error != 0) {
        // A copy renamed over the old file: a failure leaves the old one whole.
        written = Result::failuref("Cannot write engines file [%s]: %s", path_.c_str(),
                                   std::strerror(error));
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
