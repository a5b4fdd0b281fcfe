#include "store/mib_info_index.h"

#include <algorithm>

#include "app/core/mibinfo_file.h"
#include "store/control_line.h"

namespace korvimo::store {

namespace {

struct Span {
    uint32_t offset;
    uint32_t length;
};

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

}  // namespace

void MibInfoIndex::clear() {
    text_.clear();
    objects_.clear();
    byDescriptor_.clear();
    runStart_.clear();
    byIdentifier_.clear();
    indexClauses_.clear();
    resume_ = 0;
    loaded_ = false;
}

bool MibInfoIndex::load(int fd) {
    clear();
    if (fd < 0) {
        return false;
    }
    // First keep the lines that matter, then take views into the finished text.
    std::vector<Span> objectLines;
    std::vector<Span> indexLines;
    MibInfoLines lines(fd);
    std::string line;
    while (lines.next(line)) {
        const bool object = isMibInfoObjectLine(line);
        if (!object && !line.starts_with("%ei")) {
            continue;
        }
        (object ? objectLines : indexLines)
            .push_back({static_cast<uint32_t>(text_.size()), static_cast<uint32_t>(line.size())});
        text_ += line;
    }
    const std::string_view all(text_);
    objects_.reserve(objectLines.size());
    for (const Span& span : objectLines) {
        std::string_view rest = all.substr(span.offset, span.length);
        ObjectLine object;
        if (!takeWord(rest, object.identifier, rest) || !takeWord(rest, object.descriptor, rest)) {
            continue;
        }
        if (takeWord(rest, object.type, rest)) {
            object.rest = trimBlanks(rest);
        }
        objects_.push_back(object);
    }
    for (const Span& span : indexLines) {
        std::string_view tag, entry, rest;
        std::string_view text = all.substr(span.offset, span.length);
        if (takeWord(text, tag, rest) && tag == "%ei" && takeWord(rest, entry, rest)) {
            indexClauses_.emplace(entry, trimBlanks(rest));
        }
    }
    byDescriptor_.resize(objects_.size());
    for (uint32_t i = 0; i < objects_.size(); ++i) {
        byDescriptor_[i] = i;
        byIdentifier_.emplace(objects_[i].identifier, i);
    }
    std::sort(byDescriptor_.begin(), byDescriptor_.end(), [this](uint32_t a, uint32_t b) {
        const int order = objects_[a].descriptor.compare(objects_[b].descriptor);
        return order != 0 ? order < 0 : a < b;
    });
    for (uint32_t i = 0; i < byDescriptor_.size(); ++i) {
        runStart_.emplace(objects_[byDescriptor_[i]].descriptor, i);
    }
    loaded_ = true;
    return true;
}

bool MibInfoIndex::mapDescriptor(std::string_view name, std::string& numeric) {
    if (isNumericName(name)) {
        numeric.assign(name);
        return true;
    }
    const std::size_t dot = name.find('.');
    const std::string_view descriptor = name.substr(0, dot);
    const auto run = runStart_.find(descriptor);
    if (run == runStart_.end()) {
        return false;
    }
    // The run lists the descriptor's object lines in file order: take the first at or after
    // the previous match, else wrap to the first.
    uint32_t chosen = byDescriptor_[run->second];
    for (uint32_t i = run->second;
         i < byDescriptor_.size() && objects_[byDescriptor_[i]].descriptor == descriptor; ++i) {
        if (byDescriptor_[i] >= resume_) {
            chosen = byDescriptor_[i];
            break;
        }
    }
    resume_ = chosen;
    numeric.assign(objects_[chosen].identifier);
    if (dot != std::string_view::npos) {
        numeric.append(name.substr(dot));
    }
    return true;
}

bool MibInfoIndex::descriptorOf(std::string_view numeric, std::string_view& descriptor) const {
    const auto found = byIdentifier_.find(numeric);
    if (found == byIdentifier_.end()) {
        return false;
    }
    descriptor = objects_[found->second].descriptor;
    return true;
}

bool MibInfoIndex::objectInfo(std::string_view descriptor, ObjectInfo& info) const {
    const auto run = runStart_.find(descriptor);
    if (run == runStart_.end()) {
        return false;
    }
    const ObjectLine& object = objects_[byDescriptor_[run->second]];
    info = ObjectInfo{};
    info.type = object.type;
    info.hasRange = readRange(object.rest, info.low, info.high);
    return true;
}

bool MibInfoIndex::indexClause(std::string_view entryNumeric, std::string_view& clause) const {
    const auto found = indexClauses_.find(entryNumeric);
    if (found == indexClauses_.end()) {
        return false;
    }
    clause = found->second;
    return true;
}

}  // namespace korvimo::store
