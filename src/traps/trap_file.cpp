#include "traps/trap_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "agent/message_sending.h"
#include "base/decimal_text.h"
#include "base/regular_file.h"
#include "base/text.h"
#include "base/unique_fd.h"

namespace korvimo::traps {

namespace {

// Characters of a generic or specific field that count for its number.
constexpr std::size_t kCodeDigits = 9;

std::string_view dropLeadingBlanks(std::string_view text) {
    std::size_t start = 0;
    while (start < text.size() && isBlank(text[start])) {
        ++start;
    }
    return text.substr(start);
}

// A comma field off the front of rest, untrimmed; rest continues after the comma with its
// leading blanks dropped. False when rest is empty.
bool takeCommaField(std::string_view& rest, std::string_view& field) {
    if (rest.empty()) {
        return false;
    }
    const std::size_t comma = rest.find(',');
    if (comma == std::string_view::npos) {
        field = rest;
        rest = {};
    } else {
        field = rest.substr(0, comma);
        rest = dropLeadingBlanks(rest.substr(comma + 1));
    }
    return true;
}

// A blank field: rest up to its first space or tab. False when rest is empty.
bool takeBlankField(std::string_view rest, std::string_view& field) {
    if (rest.empty()) {
        return false;
    }
    std::size_t end = 0;
    while (end < rest.size() && !isBlank(rest[end])) {
        ++end;
    }
    field = rest.substr(0, end);
    return true;
}

int32_t readCode(std::string_view field) {
    return static_cast<int32_t>(readDecimal(field.substr(0, kCodeDigits)));
}

// The name field of a line after its tag; false when there is nothing after the tag.
bool lineName(std::string_view afterTag, std::string_view& name) {
    std::string_view rest = dropLeadingBlanks(afterTag);
    std::string_view field;
    if (!takeCommaField(rest, field)) {
        return false;
    }
    name = trimBlanks(field);
    return true;
}

struct VariableFields {
    std::string_view identifier;
    std::string_view type;
    std::string_view value;
};

bool splitVariable(std::string_view afterTag, VariableFields& fields) {
    std::string_view rest = dropLeadingBlanks(afterTag);
    std::string_view name;
    std::string_view identifier;
    std::string_view type;
    std::string_view value;
    if (!takeCommaField(rest, name) || !takeCommaField(rest, identifier) ||
        !takeCommaField(rest, type) || !takeCommaField(rest, value)) {
        return false;
    }
    fields.identifier = trimBlanks(identifier);
    fields.type = trimBlanks(type);
    fields.value = value;  // its leading blanks went with the comma before it; trailing stay
    return true;
}

}  // namespace

TrapFile::TrapFile(const TrapFile& other) {
    if (other.loaded_) {
        assign(other.text_);
    }
}

TrapFile& TrapFile::operator=(const TrapFile& other) {
    if (this != &other) {
        clear();
        if (other.loaded_) {
            assign(other.text_);
        }
    }
    return *this;
}

TrapFile::TrapFile(TrapFile&& other) noexcept {
    *this = std::move(other);
}

TrapFile& TrapFile::operator=(TrapFile&& other) noexcept {
    if (this == &other) {
        return *this;
    }
    const char* before = other.text_.data();
    text_ = std::move(other.text_);
    loaded_ = other.loaded_;
    if (text_.data() == before) {
        // The buffer moved with the text, so the views still point into it.
        names_ = std::move(other.names_);
        definitions_ = std::move(other.definitions_);
        variables_ = std::move(other.variables_);
    } else {
        // A short text lives inside the string itself: view it again where it is now.
        names_.clear();
        definitions_.clear();
        variables_.clear();
        index();
    }
    other.clear();
    return *this;
}

Result TrapFile::read(const std::string& path) {
    UniqueFd file;
    if (Result opened = openRegularFile(path, file); !opened) {
        return opened;
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) {
        return Result::failure(std::strerror(errno));
    }
    const auto tooLarge = [&path] {
        return Result::failuref(kTrapFileTooLargeFormat, path.c_str(), kMaxTrapFileBytes >> 20);
    };
    if (static_cast<std::size_t>(status.st_size) > kMaxTrapFileBytes) {
        return tooLarge();
    }
    // The size is a hint only: the file may grow or shrink while it is read.
    std::string text;
    text.resize(static_cast<std::size_t>(status.st_size) + 1);
    std::size_t filled = 0;
    for (;;) {
        if (filled == text.size()) {
            if (text.size() > kMaxTrapFileBytes) {
                return tooLarge();
            }
            text.resize(std::min(text.size() * 2, kMaxTrapFileBytes + 1));
        }
        const ssize_t got = ::read(file.get(), text.data() + filled, text.size() - filled);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Result::failure(std::strerror(errno));
        }
        if (got == 0) {
            break;
        }
        filled += static_cast<std::size_t>(got);
    }
    text.resize(filled);
    assign(std::move(text));
    return {};
}

void TrapFile::assign(std::string text) {
    clear();
    text_ = std::move(text);
    index();
    loaded_ = true;
}

void TrapFile::clear() {
    text_.clear();
    loaded_ = false;
    names_.clear();
    definitions_.clear();
    variables_.clear();
}

void TrapFile::index() {
    const std::string_view text = text_;
    bool listing = true;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        std::size_t next = end;
        if (end == std::string_view::npos) {
            end = text.size();
            next = end;
        } else {
            next = end + 1;
            if (text[end] == '\r' && next < text.size() && text[next] == '\n') {
                ++next;
            }
        }
        const std::string_view line = text.substr(start, end - start);
        start = next;
        if (line.size() < 2 || line[0] != '%') {
            continue;
        }
        const std::string_view afterTag = line.substr(2);
        std::string_view name;
        if (line[1] == 'T') {
            definitions_.push_back(afterTag);
            if (listing) {
                if (lineName(afterTag, name)) {
                    names_.emplace_back(name);
                } else {
                    listing = false;
                }
            }
        } else if (line[1] == 'V' && lineName(afterTag, name)) {
            variables_[name].push_back(afterTag);
        }
    }
}

bool TrapFile::definition(std::size_t position, TrapDefinition& trap) const {
    if (position >= definitions_.size()) {
        return false;
    }
    std::string_view rest = dropLeadingBlanks(definitions_[position]);
    std::string_view name;
    std::string_view enterprise;
    std::string_view generic;
    std::string_view specific;
    if (!takeCommaField(rest, name) || !takeCommaField(rest, enterprise) ||
        !takeCommaField(rest, generic) || !takeBlankField(rest, specific)) {
        return false;
    }
    trap.name.assign(trimBlanks(name));
    trap.enterprise.assign(trimBlanks(enterprise));
    trap.generic = readCode(trimBlanks(generic));
    trap.specific = readCode(specific);
    return true;
}

Result TrapFile::appendBindings(std::string_view name, const mibinfo::MibInfo* mib,
                                snmp::VarBindList& list) const {
    const auto found = variables_.find(name);
    if (found == variables_.end()) {
        return {};
    }
    for (const std::string_view line : found->second) {
        VariableFields fields;
        if (!splitVariable(line, fields)) {
            return Result::failure("");
        }
        if (Result made =
                makeVarBindFromText(mib, fields.identifier, fields.type, fields.value, &list);
            !made) {
            return made;
        }
    }
    return {};
}

}  // namespace korvimo::traps
