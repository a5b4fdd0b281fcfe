#include "app/core/configuration.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "base/decimal_text.h"
#include "base/regular_file.h"
#include "base/text.h"
#include "base/unique_fd.h"

namespace korvimo {

namespace {

struct KeyInfo {
    ConfigKey key;
    const char* name;
    bool history;
};

constexpr std::array kKeys = {
    KeyInfo{ConfigKey::IPADDRESS, "IPADDRESS", true},
    KeyInfo{ConfigKey::RCOMMUNITY, "RCOMMUNITY", true},
    KeyInfo{ConfigKey::WCOMMUNITY, "WCOMMUNITY", true},
    KeyInfo{ConfigKey::TCOMMUNITY, "TCOMMUNITY", true},
    KeyInfo{ConfigKey::MGRIPADDRESS, "MGRIPADDRESS", true},
    KeyInfo{ConfigKey::INPUTFILE, "INPUTFILE", true},
    KeyInfo{ConfigKey::TRAPFILE, "TRAPFILE", true},
    KeyInfo{ConfigKey::TIMEOUT, "TIMEOUT", true},
    KeyInfo{ConfigKey::RETRIES, "RETRIES", true},
    KeyInfo{ConfigKey::STSYSUPTIME, "STSYSUPTIME", true},
    KeyInfo{ConfigKey::NUMROWS, "NUMROWS", true},
    KeyInfo{ConfigKey::TRAPENTID, "TRAPENTID", true},
    KeyInfo{ConfigKey::TRAPDEST, "TRAPDEST", true},
    KeyInfo{ConfigKey::STARTOID, "STARTOID", false},
    KeyInfo{ConfigKey::STOPOID, "STOPOID", false},
    KeyInfo{ConfigKey::TIMESTAMP, "TIMESTAMP", false},
    KeyInfo{ConfigKey::SKIPINST, "SKIPINST", false},
    KeyInfo{ConfigKey::DEBUGMODE, "DEBUGMODE", false},
    KeyInfo{ConfigKey::INSTALLDIR, "INSTALLDIR", false},
    KeyInfo{ConfigKey::SKIPWALKTYPE, "SKIPWALKTYPE", false},
    KeyInfo{ConfigKey::ZORLETTYPE, "ZORLETTYPE", false},
    KeyInfo{ConfigKey::EDITOR, "EDITOR", false},
    KeyInfo{ConfigKey::USESTDTRAPS, "USESTDTRAPS", false},
    KeyInfo{ConfigKey::CACHESIZE, "CACHESIZE", false},
    KeyInfo{ConfigKey::DYNINSTSIZE, "DYNINSTSIZE", false},
    KeyInfo{ConfigKey::DYNTEMPLATE, "DYNTEMPLATE", false},
    KeyInfo{ConfigKey::RANDOMSEED, "RANDOMSEED", false},
    KeyInfo{ConfigKey::OVERRIDEDEF, "OVERRIDEDEF", false},
    KeyInfo{ConfigKey::SPLITMIBFILES, "SPLITMIBFILES", false},
    KeyInfo{ConfigKey::MIBEXTENSION, "MIBEXTENSION", false},
    KeyInfo{ConfigKey::ERASESPLITMIBS, "ERASESPLITMIBS", false},
    KeyInfo{ConfigKey::AGENTIP, "AGENTIP", false},
    KeyInfo{ConfigKey::AGENTPORT, "AGENTPORT", false},
    KeyInfo{ConfigKey::SNMPVER, "SNMPVER", false},
    KeyInfo{ConfigKey::SV2TOV1TRAPNOZERO, "SV2TOV1TRAPNOZERO", false},
    KeyInfo{ConfigKey::AGENTIPXADDR, "AGENTIPXADDR", false},
    KeyInfo{ConfigKey::MIBDIRLIST, "MIBDIRLIST", false},
    KeyInfo{ConfigKey::MIBEXTLIST, "MIBEXTLIST", false},
    KeyInfo{ConfigKey::IPV6SUPPORT, "IPV6SUPPORT", false},
    KeyInfo{ConfigKey::TRAPPORT, "TRAPPORT", false},
    KeyInfo{ConfigKey::MAXMSGSIZE, "MAXMSGSIZE", false},
    KeyInfo{ConfigKey::DEBUGMAXSIZE, "DEBUGMAXSIZE", false},
};

const KeyInfo& infoOf(ConfigKey key) {
    for (const KeyInfo& info : kKeys) {
        if (info.key == key) {
            return info;
        }
    }
    return kKeys.front();  // unreachable: every enumerator is in the table
}

// The values a new file is given, in the order they are written; history keys as number 1.
struct DefaultValue {
    ConfigKey key;
    const char* value;
};
constexpr std::array kDefaults = {
    DefaultValue{ConfigKey::RCOMMUNITY, "vintor"},
    DefaultValue{ConfigKey::WCOMMUNITY, "vintor"},
    DefaultValue{ConfigKey::TCOMMUNITY, "vintor"},
    DefaultValue{ConfigKey::STARTOID, "1.0"},
    DefaultValue{ConfigKey::STOPOID, "End Of All MIBs"},
    DefaultValue{ConfigKey::INPUTFILE, "../agent/learn.ctl"},
    DefaultValue{ConfigKey::TRAPFILE, "../agent/default.trp"},
    DefaultValue{ConfigKey::TIMEOUT, "1"},
    DefaultValue{ConfigKey::RETRIES, "3"},
    DefaultValue{ConfigKey::STSYSUPTIME, "0"},
    DefaultValue{ConfigKey::DEBUGMODE, "NO"},
    DefaultValue{ConfigKey::SNMPVER, "BILINGUAL"},
    DefaultValue{ConfigKey::ZORLETTYPE, "MEMORY"},
    DefaultValue{ConfigKey::NUMROWS, "2"},
    DefaultValue{ConfigKey::USESTDTRAPS, "YES"},
    DefaultValue{ConfigKey::INSTALLDIR, ".."},
    DefaultValue{ConfigKey::CACHESIZE, "30"},
    DefaultValue{ConfigKey::DYNINSTSIZE, "100"},
    DefaultValue{ConfigKey::DYNTEMPLATE, "NO"},
    DefaultValue{ConfigKey::SPLITMIBFILES, "NO"},
};

std::string storedName(ConfigKey key, int number) {
    const KeyInfo& info = infoOf(key);
    if (!info.history) {
        return info.name;
    }
    return std::string(info.name) + std::to_string(number);
}

// The file as lines, each kept with its own line end, so that a rewrite changes nothing but
// the lines it means to change.
class IniDocument {
  public:
    enum class LoadResult { Loaded, Missing, Unreadable };

    // Loads the file; anything but Loaded leaves failure() saying why. Only a regular file of
    // at most kMaxConfigFileSize bytes is read: the name may point at a device that never
    // ends or a FIFO that waits for a writer.
    LoadResult load(const std::string& path) {
        lines_.clear();
        lineEnd_ = "\r\n";
        failure_.clear();
        UniqueFd file;
        int error = 0;
        if (Result opened = openRegularFile(path, file, &error); !opened) {
            failure_ = opened.text();
            return error == ENOENT ? LoadResult::Missing : LoadResult::Unreadable;
        }
        std::string content;
        char buffer[4096];
        for (;;) {
            ssize_t n = ::read(file.get(), buffer, sizeof buffer);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                failure_ = std::strerror(errno);
                return LoadResult::Unreadable;
            }
            if (n == 0) {
                break;
            }
            // The size is checked as the file is read: it may grow meanwhile.
            if (content.size() + static_cast<std::size_t>(n) > kMaxConfigFileSize) {
                failure_ = "larger than " + std::to_string(kMaxConfigFileSize) + " bytes";
                return LoadResult::Unreadable;
            }
            content.append(buffer, static_cast<std::size_t>(n));
        }
        split(content);
        return LoadResult::Loaded;
    }

    // Why the last load did not give the file.
    const std::string& failure() const { return failure_; }

    // The value of key in the first section of that name, trimmed and without enclosing quotes.
    std::optional<std::string> get(std::string_view section, std::string_view key) const {
        std::optional<std::size_t> line = findKey(section, key);
        if (!line) {
            return std::nullopt;
        }
        std::string_view text = body(lines_[*line]);
        std::string_view value = trimBlanks(text.substr(text.find('=') + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        return std::string(value);
    }

    void set(std::string_view section, std::string_view key, std::string_view value) {
        // Lines are built by appending: GCC 12 at -O3 takes "text" + string for an overlapping
        // copy (a false -Wrestrict).
        std::string line;
        line.append(key).append("=").append(value);
        if (std::optional<std::size_t> existing = findKey(section, key)) {
            std::string& old = lines_[*existing];
            old = line.append(ending(old));
            return;
        }
        std::optional<std::size_t> header = findSection(section);
        if (!header) {
            insertAt(lines_.size(), headerLine(section));
            insertAt(lines_.size(), line);
            return;
        }
        // New keys go after the last non-blank line of the section, as the platform's
        // profile writer puts them.
        std::size_t last = *header;
        for (std::size_t i = *header + 1; i < lines_.size() && !isHeader(lines_[i]); ++i) {
            if (!trimBlanks(body(lines_[i])).empty()) {
                last = i;
            }
        }
        insertAt(last + 1, line);
    }

    // Removes key from the first section of that name, if it is there.
    void remove(std::string_view section, std::string_view key) {
        if (std::optional<std::size_t> existing = findKey(section, key)) {
            lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(*existing));
        }
    }

    std::string text() const {
        std::string all;
        for (const std::string& line : lines_) {
            all += line;
        }
        return all;
    }

    void startEmptySection(std::string_view section) {
        lines_.assign(1, headerLine(section));
        lineEnd_ = "\r\n";
    }

  private:
    static std::string headerLine(std::string_view section) {
        std::string line = "[";
        line.append(section).append("]");
        return line;
    }

    void split(const std::string& content) {
        std::size_t start = 0;
        bool endSeen = false;
        while (start < content.size()) {
            std::size_t lf = content.find('\n', start);
            std::size_t end = lf == std::string::npos ? content.size() : lf + 1;
            lines_.push_back(content.substr(start, end - start));
            if (!endSeen && lf != std::string::npos) {
                // New lines follow the file's own line ends.
                lineEnd_ = lf > start && content[lf - 1] == '\r' ? "\r\n" : "\n";
                endSeen = true;
            }
            start = end;
        }
    }

    static std::string_view ending(std::string_view line) {
        if (line.ends_with("\r\n")) {
            return "\r\n";
        }
        if (line.ends_with('\n')) {
            return "\n";
        }
        return "";
    }

    static std::string_view body(std::string_view line) {
        return line.substr(0, line.size() - ending(line).size());
    }

    static bool isHeader(std::string_view line) {
        std::string_view text = trimBlanks(body(line));
        return !text.empty() && text.front() == '[';
    }

    static std::string_view sectionName(std::string_view line) {
        std::string_view text = trimBlanks(body(line));
        text.remove_prefix(1);
        std::size_t close = text.find(']');
        return trimBlanks(close == std::string_view::npos ? text : text.substr(0, close));
    }

    std::optional<std::size_t> findSection(std::string_view section) const {
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            if (isHeader(lines_[i]) && equalsIgnoringCase(sectionName(lines_[i]), section)) {
                return i;
            }
        }
        return std::nullopt;
    }

    std::optional<std::size_t> findKey(std::string_view section, std::string_view key) const {
        std::optional<std::size_t> header = findSection(section);
        if (!header) {
            return std::nullopt;
        }
        for (std::size_t i = *header + 1; i < lines_.size() && !isHeader(lines_[i]); ++i) {
            std::string_view text = trimBlanks(body(lines_[i]));
            if (text.empty() || text.front() == ';') {
                continue;
            }
            std::size_t equals = text.find('=');
            if (equals != std::string_view::npos &&
                equalsIgnoringCase(trimBlanks(text.substr(0, equals)), key)) {
                return i;
            }
        }
        return std::nullopt;
    }

    // Inserts a line at position; the line before it gets a line end when it has none.
    void insertAt(std::size_t position, const std::string& line) {
        if (position > 0 && ending(lines_[position - 1]).empty()) {
            lines_[position - 1] += lineEnd_;
        }
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(position), line + lineEnd_);
    }

    std::vector<std::string> lines_;
    std::string lineEnd_ = "\r\n";
    std::string failure_;
};

// Several programs of one home (a window, any number of korvan-cli agents) change the file,
// each by reading it, changing it and writing it back. An exclusive advisory lock on the
// file's directory makes each of those steps whole: no program reads the file while another
// is between its read and its write, so no change is lost. The directory is locked rather
// than the file, since every write replaces the file with a new one. Where the directory
// cannot be opened the write goes on unlocked, as before.
class DirectoryLock {
  public:
    explicit DirectoryLock(const std::string& filePath) {
        const std::size_t slash = filePath.rfind('/');
        const std::string directory = slash == std::string::npos ? "."
                                      : slash == 0               ? "/"
                                                                 : filePath.substr(0, slash);
        fd_.reset(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        while (fd_ && ::flock(fd_.get(), LOCK_EX) != 0 && errno == EINTR) {
        }
    }

  private:
    UniqueFd fd_;  // closing it releases the lock
};

// The file a write replaces: the path itself, or, for a symbolic link, the file the link
// leads to, so that the link stays a link. A link that leads nowhere yet gives the name it
// holds (relative to the link's directory), where the write then creates the file.
std::string replacedFile(const std::string& path) {
    struct stat link {};
    if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) {
        return path;
    }
    if (char* resolved = ::realpath(path.c_str(), nullptr); resolved != nullptr) {
        std::string target(resolved);
        std::free(resolved);
        return target;
    }
    char held[4096];
    const ssize_t n = ::readlink(path.c_str(), held, sizeof held - 1);
    if (n <= 0) {
        return path;
    }
    const std::string target(held, static_cast<std::size_t>(n));
    const std::size_t slash = path.rfind('/');
    return target.starts_with('/') || slash == std::string::npos
               ? target
               : path.substr(0, slash + 1) + target;
}

// Replaces the file's content. A copy is written beside it under a name of its own (so that
// two writers never share one) and renamed over it, so that a failure half-way leaves the
// old file whole. The file is never rewritten in place: where no copy can be made (a full
// disk, a directory that cannot be written) it stays as it was and the reason is returned.
Result saveDocument(const std::string& path, const IniDocument& doc) {
    if (const int error = replaceFileContent(replacedFile(path), doc.text()); error != 0) {
        return Result::failure(std::strerror(error));
    }
    return {};
}

// A value holds one line: whatever follows a line break is not stored, so a value can never
// add keys of its own to the file.
std::string_view oneLine(std::string_view value) {
    std::size_t end = value.find_first_of("\r\n");
    return end == std::string_view::npos ? value : value.substr(0, end);
}

std::string cut(std::string text, std::size_t capacity) {
    if (text.size() > capacity) {
        text.resize(capacity);
    }
    return text;
}

}  // namespace

const char* Configuration::keyName(ConfigKey key) {
    return infoOf(key).name;
}

bool Configuration::isHistoryKey(ConfigKey key) {
    return infoOf(key).history;
}

bool Configuration::readPlain(ConfigKey key, std::string& value) const {
    value.clear();
    IniDocument doc;
    if (doc.load(path_) != IniDocument::LoadResult::Loaded) {
        return false;
    }
    std::optional<std::string> stored = doc.get(kConfigSection, storedName(key, 1));
    if (!stored) {
        return false;
    }
    value = cut(std::move(*stored), kConfigValueCapacity);
    return true;
}

bool Configuration::writePlain(ConfigKey key, std::string_view value) {
    const DirectoryLock lock(path_);
    IniDocument doc;
    if (doc.load(path_) == IniDocument::LoadResult::Unreadable) {
        // Rewriting a file we cannot read would lose its content.
        return saved(Result::failure(doc.failure()));
    }
    doc.set(kConfigSection, storedName(key, 1), oneLine(value));
    return saved(saveDocument(path_, doc));
}

std::string Configuration::readHistoryHead(ConfigKey key) const {
    std::string value;
    readPlain(key, value);
    return value;
}

std::vector<std::string> Configuration::historyValues(ConfigKey key) const {
    std::vector<std::string> values;
    IniDocument doc;
    if (doc.load(path_) != IniDocument::LoadResult::Loaded) {
        return values;
    }
    for (int number = 1; number <= kHistoryLength; ++number) {
        std::optional<std::string> stored = doc.get(kConfigSection, storedName(key, number));
        if (!stored) {
            break;
        }
        values.push_back(cut(std::move(*stored), kConfigListCapacity));
    }
    return values;
}

bool Configuration::pushHistory(ConfigKey key, std::string_view value) {
    const DirectoryLock lock(path_);
    IniDocument doc;
    if (doc.load(path_) == IniDocument::LoadResult::Unreadable) {
        return saved(Result::failure(doc.failure()));
    }
    value = oneLine(value);
    // Index 0 unused, so that numbers read as in the file.
    std::array<std::optional<std::string>, kHistoryLength + 1> stored;
    for (int number = 1; number <= kHistoryLength; ++number) {
        stored[number] = doc.get(kConfigSection, storedName(key, number));
    }
    int found = 0;
    for (int number = 1; number <= kHistoryLength && stored[number]; ++number) {
        if (*stored[number] == value) {
            found = number;
            break;
        }
    }
    // Found at number i: numbers i-1 .. 1 move up one, overwriting the old number i. Not
    // found: numbers 9 .. 1 that exist move up one and number 10 falls off.
    const int highest = found > 0 ? found - 1 : kHistoryLength - 1;
    for (int number = highest; number >= 1; --number) {
        if (stored[number]) {
            doc.set(kConfigSection, storedName(key, number + 1), *stored[number]);
        }
    }
    doc.set(kConfigSection, storedName(key, 1), value);
    return saved(saveDocument(path_, doc));
}

bool Configuration::replaceHistory(ConfigKey key, const std::vector<std::string>& values) {
    const DirectoryLock lock(path_);
    IniDocument doc;
    if (doc.load(path_) == IniDocument::LoadResult::Unreadable) {
        return saved(Result::failure(doc.failure()));
    }
    for (int number = 1; number <= kHistoryLength; ++number) {
        const std::size_t index = static_cast<std::size_t>(number - 1);
        if (index < values.size()) {
            doc.set(kConfigSection, storedName(key, number), oneLine(values[index]));
        } else {
            doc.remove(kConfigSection, storedName(key, number));
        }
    }
    return saved(saveDocument(path_, doc));
}

bool Configuration::ensureFile() {
    const DirectoryLock lock(path_);
    struct stat info {};
    if (::stat(path_.c_str(), &info) == 0) {
        return true;  // an existing file is never rewritten here
    }
    // The header goes in without a line end; the first key written gives it one.
    IniDocument doc;
    doc.startEmptySection(kConfigSection);
    for (const DefaultValue& entry : kDefaults) {
        doc.set(kConfigSection, storedName(entry.key, 1), entry.value);
    }
    return saved(saveDocument(path_, doc));
}

Result Configuration::check() const {
    IniDocument doc;
    if (doc.load(path_) == IniDocument::LoadResult::Unreadable) {
        return Result::failuref(kCannotReadConfigFormat, path_.c_str(), doc.failure().c_str());
    }
    return {};
}

bool Configuration::saved(const Result& written) {
    if (!written && writeFailure_.empty()) {
        char line[2048];
        std::snprintf(line, sizeof line, kCannotWriteConfigFormat, path_.c_str(), written.c_str());
        writeFailure_ = line;
    }
    return written.ok();
}

std::string Configuration::takeWriteFailure() {
    return std::exchange(writeFailure_, std::string());
}

long readSettingNumber(std::string_view text) {
    // Nine characters hold no number that the wrap could reach.
    return static_cast<int32_t>(readDecimal(text.substr(0, 9)));
}

std::string installDirectory(const Configuration& config) {
    std::string installDir;
    if (!config.readPlain(ConfigKey::INSTALLDIR, installDir) || installDir.empty()) {
        installDir = "..";
    }
    return installDir;
}

}  // namespace korvimo
