#include "store/attribute_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "store/instance_range.h"

namespace korvimo::store {

namespace {

// Lines are written in pieces of about this size.
constexpr std::size_t kWriteChunk = 1 << 20;

void appendDecimal(std::string& out, uint64_t value) {
    char digits[20];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n > 0) {
        out.push_back(digits[--n]);
    }
}

// printf's "%-Ns": the text, then spaces up to the width.
void appendPadded(std::string& out, std::string_view text, std::size_t width) {
    out.append(text);
    if (text.size() < width) {
        out.append(width - text.size(), ' ');
    }
}

// printf's "%-Ns" of an identifier's text.
void appendPaddedIdentifier(std::string& out, std::span<const uint32_t> ids, std::size_t width) {
    const std::size_t start = out.size();
    appendIdentifierText(out, ids);
    const std::size_t length = out.size() - start;
    if (length < width) {
        out.append(width - length, ' ');
    }
}

}  // namespace

bool readIdentifierText(std::string_view text, std::vector<uint32_t>& ids) {
    ids.clear();
    std::size_t start = 0;
    while (true) {
        const std::size_t dot = std::min(text.find('.', start), text.size());
        const std::string_view part = text.substr(start, dot - start);
        if (part.empty() || part.size() > 10 || (part.size() > 1 && part[0] == '0') ||
            ids.size() == kMaxNameComponents) {
            return false;
        }
        uint64_t id = 0;
        for (char c : part) {
            if (c < '0' || c > '9') {
                return false;
            }
            id = id * 10 + static_cast<uint64_t>(c - '0');
        }
        if (id > UINT32_MAX) {
            return false;
        }
        ids.push_back(static_cast<uint32_t>(id));
        if (dot == text.size()) {
            return ids.size() >= 2;
        }
        start = dot + 1;
    }
}

void appendIdentifierText(std::string& out, std::span<const uint32_t> ids) {
    for (std::size_t i = 0; i < ids.size(); ++i) {
        if (i > 0) {
            out.push_back('.');
        }
        appendDecimal(out, ids[i]);
    }
}

int compareIdentifiers(std::span<const uint32_t> a, std::span<const uint32_t> b) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (a[i] != b[i]) {
            return a[i] < b[i] ? -1 : 1;
        }
    }
    if (a.size() == b.size()) {
        return 0;
    }
    return a.size() < b.size() ? -1 : 1;
}

bool AttributeFile::create(const std::string& path) {
    release();
    ::unlink(path.c_str());
    do {
        fd_.reset(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    } while (!fd_ && errno == EINTR);
    if (!fd_) {
        return false;
    }
    try {
        buffer_.reserve(kWriteChunk + 2 * 1500);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

uint32_t AttributeFile::addRecord(std::span<const uint32_t> ids, std::string_view expression) {
    const auto textWords = static_cast<uint32_t>((expression.size() + 3) / 4);
    const uint32_t words = kHeaderWords + static_cast<uint32_t>(ids.size()) + textWords;
    if (blockUsed_ + words > kBlockWords) {
        if (blocks_.size() >= (std::size_t{1} << (32 - kBlockShift))) {
            throw std::bad_alloc();
        }
        // Left uninitialised: every record is written whole, and the pages of a block that
        // no record reaches cost no memory (a small control file uses a few of the first).
        blocks_.push_back(std::make_unique_for_overwrite<uint32_t[]>(kBlockWords));
        // Word 0 of the first block stays unused: a record there would read as an empty
        // place of the hash table.
        blockUsed_ = blocks_.size() == 1 ? 1 : 0;
    }
    const auto record = static_cast<uint32_t>(((blocks_.size() - 1) << kBlockShift) + blockUsed_);
    blockUsed_ += words;
    uint32_t* r = at(record);
    std::fill(r, r + kHeaderWords, 0);
    r[kLengths] = (static_cast<uint32_t>(ids.size()) << 16) |
                  (static_cast<uint32_t>(expression.size()) & 0xFFFFu);
    std::copy(ids.begin(), ids.end(), r + kHeaderWords);
    if (!expression.empty()) {
        r[kHeaderWords + ids.size() + textWords - 1] = 0;
        std::memcpy(r + kHeaderWords + ids.size(), expression.data(), expression.size());
    }
    return record;
}

void AttributeFile::collect(std::span<const uint32_t> ids, std::string_view expression,
                            uint8_t syntax, Access access, uint32_t sourceOffset) {
    const uint32_t record = addRecord(ids, expression);
    at(record)[kCodes] = syntax | (static_cast<uint32_t>(access) << 8);
    if (ascending_ && !collected_.empty() &&
        compareIdentifiers(idsOf(collected_.back().record), ids) > 0) {
        ascending_ = false;
    }
    collected_.push_back({record, sourceOffset});
}

void AttributeFile::sortCollected() {
    std::stable_sort(collected_.begin(), collected_.end(),
                     [this](const CollectedLine& a, const CollectedLine& b) {
                         return compareIdentifiers(idsOf(a.record), idsOf(b.record)) < 0;
                     });
}

std::size_t AttributeFile::dropRepeats() {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < collected_.size(); ++i) {
        if (kept > 0 && compareIdentifiers(idsOf(collected_[kept - 1].record),
                                           idsOf(collected_[i].record)) == 0) {
            continue;
        }
        collected_[kept++] = collected_[i];
    }
    const std::size_t dropped = collected_.size() - kept;
    collected_.resize(kept);
    return dropped;
}

bool AttributeFile::flush() {
    std::size_t done = 0;
    while (done < buffer_.size()) {
        const ssize_t n = ::write(fd_.get(), buffer_.data() + done, buffer_.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    written_ += buffer_.size();
    buffer_.clear();
    return true;
}

bool AttributeFile::appendLine() {
    if (written_ + buffer_.size() > UINT32_MAX) {
        return false;
    }
    return buffer_.size() < kWriteChunk || flush();
}

bool AttributeFile::writeAttribute(const CollectedLine& line, std::string_view syntaxWord,
                                   std::string_view accessWord, uint32_t ordinal) {
    if (!fd_) {
        return false;
    }
    uint32_t* r = at(line.record);
    r[kNumber] = ordinal;
    r[kPosition] = static_cast<uint32_t>(lines_.size());
    appendPaddedIdentifier(buffer_, idsOf(line.record), 30);
    buffer_.append(", ");
    appendPadded(buffer_, syntaxWord, 12);
    buffer_.append(", ");
    appendPadded(buffer_, accessWord, 3);
    buffer_.append(", ");
    buffer_.append(expressionOf(line.record));
    buffer_.append("\r\n");
    lines_.push_back(line.record);
    return appendLine();
}

bool AttributeFile::writeMarker(std::span<const uint32_t> ids, uint32_t column) {
    if (!fd_) {
        return false;
    }
    const uint32_t record = addRecord(ids, {});
    uint32_t* r = at(record);
    r[kNumber] = column;
    r[kPosition] = static_cast<uint32_t>(lines_.size());
    buffer_.push_back('D');
    appendPaddedIdentifier(buffer_, ids, 30);
    buffer_.append(", ");
    appendDecimal(buffer_, column);
    buffer_.append("\r\n");
    lines_.push_back(record);
    return appendLine();
}

bool AttributeFile::finish() {
    if (!fd_ || !flush()) {
        return false;
    }
    std::string().swap(buffer_);
    std::vector<CollectedLine>().swap(collected_);
    try {
        nextVisible_.resize(lines_.size());
    } catch (const std::bad_alloc&) {
        return false;
    }
    auto following = static_cast<uint32_t>(lines_.size());
    for (std::size_t i = lines_.size(); i > 0; --i) {
        const IndexEntry e = entry(i - 1);
        if (e.isMarker() || isReadable(e.access)) {
            following = static_cast<uint32_t>(i - 1);
        }
        nextVisible_[i - 1] = following;
    }
    return buildHash();
}

bool AttributeFile::buildHash() {
    uint64_t places = 16;
    while (places < 2 * static_cast<uint64_t>(lines_.size())) {
        places *= 2;
    }
    try {
        hash_.assign(places, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    hashMask_ = places - 1;
    for (uint32_t record : lines_) {
        if ((at(record)[kCodes] >> 8) == 0) {
            continue;  // marker lines are found through their columns
        }
        const uint32_t h = hashIdentifiers(idsOf(record));
        uint64_t place = h & hashMask_;
        while (hash_[place] != 0) {
            place = (place + 1) & hashMask_;
        }
        hash_[place] = (static_cast<uint64_t>(h) << 32) | record;
    }
    return true;
}

void AttributeFile::release() {
    std::string().swap(buffer_);
    std::vector<std::unique_ptr<uint32_t[]>>().swap(blocks_);
    blockUsed_ = kBlockWords;
    std::vector<CollectedLine>().swap(collected_);
    std::vector<uint32_t>().swap(lines_);
    std::vector<uint32_t>().swap(nextVisible_);
    std::vector<uint64_t>().swap(hash_);
    hashMask_ = 0;
    ascending_ = true;
    written_ = 0;
    fd_.reset();
}

IndexEntry AttributeFile::entryOf(uint32_t record) const {
    const uint32_t* r = at(record);
    IndexEntry e;
    e.number = r[kNumber];
    e.syntax = static_cast<uint8_t>(r[kCodes]);
    e.access = static_cast<Access>((r[kCodes] >> 8) & 0xFFu);
    e.expression = expressionOf(record);
    return e;
}

IndexEntry AttributeFile::entry(std::size_t position) const {
    return entryOf(lines_[position]);
}

std::ptrdiff_t AttributeFile::floor(std::span<const uint32_t> target) const {
    std::size_t low = 0;
    std::size_t high = lines_.size();
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (compareIdentifiers(identifier(middle), target) <= 0) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return static_cast<std::ptrdiff_t>(low) - 1;
}

bool AttributeFile::findAttribute(std::span<const uint32_t> target, std::size_t& position,
                                  IndexEntry& found) const {
    if (hash_.empty()) {
        return false;
    }
    const uint32_t h = hashIdentifiers(target);
    for (uint64_t place = h & hashMask_; hash_[place] != 0; place = (place + 1) & hashMask_) {
        if (static_cast<uint32_t>(hash_[place] >> 32) != h) {
            continue;
        }
        const auto record = static_cast<uint32_t>(hash_[place]);
        if (compareIdentifiers(idsOf(record), target) == 0) {
            position = at(record)[kPosition];
            found = entryOf(record);
            return true;
        }
    }
    return false;
}

bool AttributeFile::findAttribute(std::span<const uint32_t> target, std::size_t& position) const {
    IndexEntry ignored;
    return findAttribute(target, position, ignored);
}

}  // namespace korvimo::store
