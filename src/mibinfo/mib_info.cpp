#include "mibinfo/mib_info.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "base/regular_file.h"
#include "base/unique_fd.h"
#include "mibinfo/lines.h"

namespace korvimo::mibinfo {

namespace {

// Failure texts of reading; %s is the path (where there is one), then the system's reason.
constexpr const char* kCannotOpenText = "Cannot open [%s]: %s";
constexpr const char* kCannotReadPathText = "Cannot read [%s]: %s";
constexpr const char* kCannotReadText = "Cannot read mibinfo.out: %s";
constexpr const char* kNotOpenText = "mibinfo.out is not open.";
// Offsets and positions are 32-bit, which no MIB collection comes near.
constexpr const char* kTooLargeText = "mibinfo.out is too large: it must stay below 4 GiB.";

constexpr std::string_view kEnumerationTag = "%ev";
constexpr std::string_view kNameTag = "%en";
constexpr std::string_view kIndexTag = "%ei";
constexpr std::string_view kTrapTag = "%trap";
constexpr std::string_view kTrapVariableTag = "%tvar";

constexpr uint64_t kMaxText = UINT32_MAX - 1;

// The whole file behind fd from offset 0; 0 or the errno of the failure (EFBIG when it is too
// large to index).
int readAll(int fd, std::string& text) {
    struct stat status {};
    std::size_t size = 1 << 16;
    if (::fstat(fd, &status) == 0 && !S_ISREG(status.st_mode)) {
        return EINVAL;  // a device or a FIFO may never end
    }
    if (status.st_size > 0) {
        if (static_cast<uint64_t>(status.st_size) > kMaxText) {
            return EFBIG;
        }
        // One more byte than the size, so that the end shows without a second buffer.
        size = static_cast<std::size_t>(status.st_size) + 1;
    }
    text.resize(size);
    std::size_t used = 0;
    for (;;) {
        if (used == text.size()) {
            if (used > kMaxText) {
                return EFBIG;
            }
            text.resize(text.size() * 2);
        }
        const ssize_t n =
            ::pread(fd, text.data() + used, text.size() - used, static_cast<off_t>(used));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return errno;
        }
        if (n == 0) {
            break;
        }
        used += static_cast<std::size_t>(n);
    }
    if (used > kMaxText) {
        return EFBIG;
    }
    text.resize(used);
    return 0;
}

// Reads "(low,high)" among the words of an object line's rest.
bool readRange(std::string_view rest, int64_t& low, int64_t& high) {
    const std::size_t open = rest.find('(');
    if (open == std::string_view::npos) {
        return false;
    }
    const std::size_t comma = rest.find(',', open);
    const std::size_t close = rest.find(')', open);
    if (comma == std::string_view::npos || close == std::string_view::npos || comma > close) {
        return false;
    }
    auto number = [](std::string_view text) {
        text = trimBlanks(text);
        bool negative = false;
        std::size_t i = 0;
        if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
            negative = text[i] == '-';
            ++i;
        }
        int64_t value = 0;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && value < (INT64_MAX / 20);
             ++i) {
            value = value * 10 + (text[i] - '0');
        }
        return negative ? -value : value;
    };
    low = number(rest.substr(open + 1, comma - open - 1));
    high = number(rest.substr(comma + 1, close - comma - 1));
    return true;
}

// Splits the words after a tag: up to two named fields, then the trimmed rest.
void splitFields(std::string_view text, std::string_view* first, std::string_view* second,
                 std::string_view& rest) {
    std::string_view word;
    if (first != nullptr) {
        if (!takeWord(text, word, text)) {
            return;
        }
        *first = word;
    }
    if (second != nullptr) {
        if (!takeWord(text, word, text)) {
            return;
        }
        *second = word;
    }
    rest = trimBlanks(text);
}

Record readRecord(std::string_view line, std::size_t offset) {
    Record r;
    r.offset = static_cast<uint32_t>(offset);
    r.line = line;
    if (line.empty()) {
        r.kind = RecordKind::Blank;
    } else if (line.front() == '-') {
        r.kind = RecordKind::Comment;
    } else if (line.front() == '%') {
        std::string_view tag;
        std::string_view text;
        takeWord(line, tag, text);  // a line starting with "%" always has its first word
        if (tag == kEnumerationTag) {
            r.kind = RecordKind::Enumeration;
            splitFields(text, &r.descriptor, nullptr, r.rest);
        } else if (tag == kNameTag) {
            r.kind = RecordKind::Name;
            splitFields(text, &r.identifier, &r.descriptor, r.rest);
        } else if (tag == kIndexTag) {
            r.kind = RecordKind::Index;
            splitFields(text, &r.identifier, nullptr, r.rest);
        } else if (tag == kTrapTag) {
            r.kind = RecordKind::Trap;
            splitFields(text, &r.descriptor, &r.identifier, r.rest);
        } else if (tag == kTrapVariableTag) {
            r.kind = RecordKind::TrapVariable;
            splitFields(text, &r.descriptor, &r.identifier, r.rest);
        } else {
            r.kind = RecordKind::Directive;
            r.rest = trimBlanks(text);
        }
    } else if (!isObjectLine(line)) {
        r.kind = RecordKind::Blank;
    } else {
        r.kind = RecordKind::Object;
        std::string_view text;
        takeWord(line, r.identifier, text);
        if (takeWord(text, r.descriptor, text) && takeWord(text, r.type, text)) {
            r.rest = trimBlanks(text);
        }
    }
    return r;
}

}  // namespace

std::shared_ptr<const MibInfo> MibInfo::load(const std::string& path, Result* why) {
    // Only a regular file: a device never ends and a FIFO's open waits for a writer.
    UniqueFd file;
    if (Result opened = openRegularFile(path, file); !opened) {
        if (why != nullptr) {
            *why = Result::failuref(kCannotOpenText, path.c_str(), opened.c_str());
        }
        return nullptr;
    }
    std::string text;
    if (const int error = readAll(file.get(), text); error != 0) {
        if (why != nullptr) {
            *why = error == EFBIG
                       ? Result::failure(kTooLargeText)
                       : Result::failuref(kCannotReadPathText, path.c_str(), std::strerror(error));
        }
        return nullptr;
    }
    return build(std::move(text));
}

std::shared_ptr<const MibInfo> MibInfo::read(int fd, Result* why) {
    if (fd < 0) {
        if (why != nullptr) {
            *why = Result::failure(kNotOpenText);
        }
        return nullptr;
    }
    std::string text;
    if (const int error = readAll(fd, text); error != 0) {
        if (why != nullptr) {
            *why = error == EFBIG ? Result::failure(kTooLargeText)
                                  : Result::failuref(kCannotReadText, std::strerror(error));
        }
        return nullptr;
    }
    return build(std::move(text));
}

std::shared_ptr<const MibInfo> MibInfo::fromText(std::string text) {
    if (text.size() > kMaxText) {
        text.clear();
    }
    return build(std::move(text));
}

const MibInfo& MibInfo::empty() {
    static const std::shared_ptr<const MibInfo> none = build(std::string());
    return *none;
}

std::shared_ptr<const MibInfo> MibInfo::build(std::string text) {
    // Not make_shared: the constructor is private, and views into text_ need it never to
    // move once they are taken.
    std::shared_ptr<MibInfo> mib(new MibInfo);
    mib->text_ = std::move(text);
    mib->index();
    return mib;
}

void MibInfo::index() {
    const std::string_view all(text_);
    records_.reserve(static_cast<std::size_t>(std::count(all.begin(), all.end(), '\n')) + 1);
    Lines lines(all);
    std::string_view line;
    while (lines.next(line)) {
        records_.push_back(readRecord(line, lines.lineOffset()));
    }

    std::vector<std::pair<std::string_view, uint32_t>> objects;
    std::vector<std::pair<std::string_view, uint32_t>> variables;
    std::vector<std::pair<std::string_view, uint32_t>> identifiers;
    objects.reserve(records_.size());
    identifiers.reserve(records_.size());
    for (uint32_t i = 0; i < records_.size(); ++i) {
        const Record& r = records_[i];
        switch (r.kind) {
            case RecordKind::Object:
                ++objectCount_;
                if (!r.descriptor.empty()) {
                    objects.emplace_back(r.descriptor, i);
                    identifiers.emplace_back(r.identifier, i);
                }
                break;
            case RecordKind::Index:
                if (!r.identifier.empty()) {
                    indexes_.emplace(r.identifier, i);
                }
                break;
            case RecordKind::Trap:
                if (!r.descriptor.empty()) {
                    traps_.emplace(r.descriptor, i);
                }
                break;
            case RecordKind::TrapVariable:
                if (!r.descriptor.empty()) {
                    variables.emplace_back(r.descriptor, i);
                }
                break;
            default:
                break;
        }
    }
    byDescriptor_.build(objects);
    byIdentifier_.build(identifiers);
    trapVariables_.build(variables);
}

void MibInfo::Groups::build(const std::vector<std::pair<std::string_view, uint32_t>>& members) {
    // Count each key's members, give each group its place, then fill the groups in the order
    // of members, which is file order. Elements of an unordered_map keep their address.
    std::vector<Span*> groupOf;
    groupOf.reserve(members.size());
    spans_.reserve(members.size());
    for (const auto& member : members) {
        Span& span = spans_.try_emplace(member.first, Span{0, 0}).first->second;
        ++span.count;
        groupOf.push_back(&span);
    }
    uint32_t start = 0;
    for (auto& entry : spans_) {
        entry.second.start = start;
        start += entry.second.count;
        entry.second.count = 0;
    }
    positions_.resize(members.size());
    for (std::size_t i = 0; i < members.size(); ++i) {
        Span& span = *groupOf[i];
        positions_[span.start + span.count++] = members[i].second;
    }
}

std::span<const uint32_t> MibInfo::Groups::find(std::string_view key) const {
    const auto found = spans_.find(key);
    if (found == spans_.end()) {
        return {};
    }
    return std::span<const uint32_t>(positions_).subspan(found->second.start, found->second.count);
}

const Record* MibInfo::firstObjectWithDescriptor(std::string_view descriptor) const {
    const std::span<const uint32_t> objects = byDescriptor_.find(descriptor);
    return objects.empty() ? nullptr : &records_[objects.front()];
}

std::span<const uint32_t> MibInfo::objectsWithDescriptor(std::string_view descriptor) const {
    return byDescriptor_.find(descriptor);
}

const Record* MibInfo::firstObjectWithIdentifier(std::string_view identifier) const {
    const std::span<const uint32_t> objects = byIdentifier_.find(identifier);
    return objects.empty() ? nullptr : &records_[objects.front()];
}

bool MibInfo::descriptorOf(std::string_view identifier, std::string_view& descriptor) const {
    const Record* object = firstObjectWithIdentifier(identifier);
    if (object == nullptr) {
        return false;
    }
    descriptor = object->descriptor;
    return true;
}

const Record* MibInfo::objectOf(std::string_view numericText, std::size_t& identifierLength,
                                uint32_t from) const {
    // Every leading part that ends before a "." or at the end could be a line's identifier.
    // Of those lines, the first met by a search from position `from` to the end of the file
    // and then on from its start wins: a line at or after `from` ranks by its distance from
    // it, one before it after all of those.
    const uint64_t lineCount = records_.size();
    // The line at `from` itself ranks first when it matches: a walk in identifier order meets
    // the same object again and again, and is then spared a lookup of every leading part.
    if (from < lineCount) {
        const Record& at = records_[from];
        const std::size_t length = at.identifier.size();
        if (at.kind == RecordKind::Object && !at.descriptor.empty() && length > 0 &&
            numericText.substr(0, length) == at.identifier &&
            (length == numericText.size() || numericText[length] == '.')) {
            identifierLength = length;
            return &at;
        }
    }
    uint64_t bestRank = UINT64_MAX;
    uint32_t best = 0;
    identifierLength = 0;
    for (std::size_t length = 1; length <= numericText.size(); ++length) {
        if (length < numericText.size() && numericText[length] != '.') {
            continue;
        }
        const std::span<const uint32_t> lines = byIdentifier_.find(numericText.substr(0, length));
        if (lines.empty()) {
            continue;
        }
        const auto atOrAfter = std::lower_bound(lines.begin(), lines.end(), from);
        const uint32_t position = atOrAfter != lines.end() ? *atOrAfter : lines.front();
        const uint64_t rank = position >= from ? position - from : position + lineCount;
        if (rank < bestRank) {
            bestRank = rank;
            best = position;
            identifierLength = length;
        }
    }
    return bestRank == UINT64_MAX ? nullptr : &records_[best];
}

bool MibInfo::nameOf(std::string_view numericText, std::string& out) const {
    std::size_t identifierLength = 0;
    const Record* object = objectOf(numericText, identifierLength);
    if (object == nullptr) {
        out.assign(numericText);
        return false;
    }
    out.assign(object->descriptor);
    out.append(numericText.substr(identifierLength));
    return true;
}

bool MibInfo::objectInfo(std::string_view descriptor, ObjectInfo& info) const {
    const Record* object = firstObjectWithDescriptor(descriptor);
    if (object == nullptr) {
        return false;
    }
    info = ObjectInfo{};
    info.type = object->type;
    info.hasRange = readRange(object->rest, info.low, info.high);
    return true;
}

bool MibInfo::indexClause(std::string_view entryIdentifier, std::string_view& clause) const {
    const auto found = indexes_.find(entryIdentifier);
    if (found == indexes_.end()) {
        return false;
    }
    clause = records_[found->second].rest;
    return true;
}

const Record* MibInfo::trap(std::string_view name) const {
    const auto found = traps_.find(name);
    return found == traps_.end() ? nullptr : &records_[found->second];
}

std::span<const uint32_t> MibInfo::trapVariables(std::string_view name) const {
    return trapVariables_.find(name);
}

}  // namespace korvimo::mibinfo
