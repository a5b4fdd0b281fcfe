#include "store/attribute_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <new>

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

void appendIdentifierText(std::string& out, std::span<const uint32_t> ids, std::size_t width) {
    const std::size_t start = out.size();
    for (std::size_t i = 0; i < ids.size(); ++i) {
        if (i > 0) {
            out.push_back('.');
        }
        appendDecimal(out, ids[i]);
    }
    const std::size_t length = out.size() - start;
    if (length < width) {
        out.append(width - length, ' ');
    }
}

}  // namespace

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
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) {
        return false;
    }
    try {
        buffer_.reserve(kWriteChunk + 2 * 1500);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

uint32_t AttributeFile::appendIdentifier(std::span<const uint32_t> ids) {
    const auto offset = static_cast<uint32_t>(subIds_.size());
    subIds_.insert(subIds_.end(), ids.begin(), ids.end());
    return offset;
}

bool AttributeFile::flush() {
    std::size_t done = 0;
    while (done < buffer_.size()) {
        const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
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

bool AttributeFile::writeAttribute(uint32_t oidOffset, uint32_t oidLength,
                                   std::string_view syntaxWord, std::string_view accessWord,
                                   std::string_view expression, uint8_t syntax, uint8_t access,
                                   uint32_t ordinal) {
    if (fd_ < 0) {
        return false;
    }
    appendIdentifierText(buffer_, {subIds_.data() + oidOffset, oidLength}, 30);
    buffer_.append(", ");
    appendPadded(buffer_, syntaxWord, 12);
    buffer_.append(", ");
    appendPadded(buffer_, accessWord, 3);
    buffer_.append(", ");
    IndexEntry entry;
    entry.oidOffset = oidOffset;
    entry.oidLength = static_cast<uint16_t>(oidLength);
    entry.syntax = syntax;
    entry.access = access;
    entry.textOffset = static_cast<uint32_t>(written_ + buffer_.size());
    entry.textLength = static_cast<uint32_t>(expression.size());
    entry.number = ordinal;
    buffer_.append(expression);
    buffer_.append("\r\n");
    entries_.push_back(entry);
    return appendLine();
}

bool AttributeFile::writeMarker(uint32_t oidOffset, uint32_t oidLength, uint32_t column) {
    if (fd_ < 0) {
        return false;
    }
    buffer_.push_back('D');
    appendIdentifierText(buffer_, {subIds_.data() + oidOffset, oidLength}, 30);
    buffer_.append(", ");
    appendDecimal(buffer_, column);
    buffer_.append("\r\n");
    IndexEntry entry;
    entry.oidOffset = oidOffset;
    entry.oidLength = static_cast<uint16_t>(oidLength);
    entry.number = column;
    entries_.push_back(entry);
    return appendLine();
}

bool AttributeFile::finish() {
    if (fd_ < 0 || !flush()) {
        return false;
    }
    if (written_ > 0) {
        void* map = ::mmap(nullptr, written_, PROT_READ, MAP_SHARED, fd_, 0);
        if (map == MAP_FAILED) {
            return false;
        }
        map_ = static_cast<const char*>(map);
        mapLength_ = written_;
    }
    std::string().swap(buffer_);
    try {
        nextVisible_.resize(entries_.size());
    } catch (const std::bad_alloc&) {
        return false;
    }
    auto following = static_cast<uint32_t>(entries_.size());
    for (std::size_t i = entries_.size(); i > 0; --i) {
        const IndexEntry& e = entries_[i - 1];
        if (e.isMarker() || e.access == 1 || e.access == 2) {
            following = static_cast<uint32_t>(i - 1);
        }
        nextVisible_[i - 1] = following;
    }
    return buildHash();
}

uint32_t AttributeFile::hashOf(std::span<const uint32_t> ids) {
    uint64_t h = 0x9E3779B97F4A7C15ull ^ ids.size();
    for (uint32_t id : ids) {
        h = (h ^ id) * 0xFF51AFD7ED558CCDull;
        h ^= h >> 32;
    }
    return static_cast<uint32_t>(h);
}

bool AttributeFile::buildHash() {
    uint64_t places = 16;
    while (places < 2 * static_cast<uint64_t>(entries_.size())) {
        places *= 2;
    }
    try {
        hash_.assign(places, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    hashMask_ = places - 1;
    for (std::size_t p = 0; p < entries_.size(); ++p) {
        if (entries_[p].isMarker()) {
            continue;
        }
        const uint32_t h = hashOf(identifier(p));
        uint64_t place = h & hashMask_;
        while (hash_[place] != 0) {
            place = (place + 1) & hashMask_;
        }
        hash_[place] = (static_cast<uint64_t>(h) << 32) | (p + 1);
    }
    return true;
}

void AttributeFile::release() {
    if (map_ != nullptr) {
        ::munmap(const_cast<char*>(map_), mapLength_);
        map_ = nullptr;
        mapLength_ = 0;
    }
    std::string().swap(buffer_);
    std::vector<uint32_t>().swap(subIds_);
    std::vector<IndexEntry>().swap(entries_);
    std::vector<uint32_t>().swap(nextVisible_);
    std::vector<uint64_t>().swap(hash_);
    hashMask_ = 0;
    written_ = 0;
    fd_ = -1;
}

std::string_view AttributeFile::expression(std::size_t position) const {
    const IndexEntry& e = entries_[position];
    if (map_ == nullptr || static_cast<std::size_t>(e.textOffset) + e.textLength > mapLength_) {
        return {};
    }
    return {map_ + e.textOffset, e.textLength};
}

std::ptrdiff_t AttributeFile::floor(std::span<const uint32_t> target) const {
    std::size_t low = 0;
    std::size_t high = entries_.size();
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

bool AttributeFile::findAttribute(std::span<const uint32_t> target, std::size_t& position) const {
    if (hash_.empty()) {
        return false;
    }
    const uint32_t h = hashOf(target);
    for (uint64_t place = h & hashMask_; hash_[place] != 0; place = (place + 1) & hashMask_) {
        if (static_cast<uint32_t>(hash_[place] >> 32) != h) {
            continue;
        }
        const auto p = static_cast<std::size_t>(static_cast<uint32_t>(hash_[place]) - 1);
        if (compareIdentifiers(identifier(p), target) == 0) {
            position = p;
            return true;
        }
    }
    return false;
}

}  // namespace korvimo::store
