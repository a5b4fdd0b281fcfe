#include "snmp/usm_user.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <unordered_set>
#include <utility>

#include "base/regular_file.h"
#include "base/text.h"
#include "base/unique_fd.h"

namespace korvimo::snmp {

namespace {

// The fields of a line: blank-separated, double-quoted ones unquoted with their escapes
// (backslash-quote, backslash-backslash) undone; a field that begins with "#" outside quotes
// ends the line. CR and LF at the end are not part of the line.
Result splitFields(std::string_view line, std::vector<std::string>& fields) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) {
        line.remove_suffix(1);
    }
    std::string field;
    for (;;) {
        line = trimBlanks(line);
        if (line.empty() || line.front() == '#') {
            return {};
        }
        if (takeField(line, field) == FieldRead::Unclosed) {
            return Result::failure("unfinished quoted field");
        }
        fields.push_back(field);
    }
}

// Characters of a UTF-8 text: the octets that do not continue a character.
std::size_t characterCount(std::string_view text) {
    std::size_t count = 0;
    for (char c : text) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
            ++count;
        }
    }
    return count;
}

Result checkPassPhrase(const std::string& name, const std::string& passPhrase, const char* kind) {
    if (characterCount(passPhrase) < kMinPassPhrase) {
        return Result::failuref("%s pass phrase of user [%s] is shorter than %zu characters", kind,
                                name.c_str(), kMinPassPhrase);
    }
    return {};
}

Result readFailure(const std::string& path, std::size_t lineNumber, std::string_view reason) {
    return Result::failuref("%s line %zu: %.*s", path.c_str(), lineNumber,
                            static_cast<int>(reason.size()), reason.data());
}

}  // namespace

const char* securityLevelWord(SecurityLevel level) {
    switch (level) {
        case SecurityLevel::AuthNoPriv:
            return "authNoPriv";
        case SecurityLevel::AuthPriv:
            return "authPriv";
        case SecurityLevel::NoAuthNoPriv:
            break;
    }
    return "noAuthNoPriv";
}

Result parseUserLine(std::string_view line, UsmUser& user, bool* isUser) {
    if (isUser != nullptr) {
        *isUser = false;
    }
    std::vector<std::string> fields;
    if (Result r = splitFields(line, fields); !r) {
        return r;
    }
    if (fields.empty()) {
        return {};
    }
    // "rw" counts only as the last field after the name and the protocol; a pass phrase of
    // two characters would be refused anyway.
    std::size_t count = fields.size();
    const bool readWrite = count > 2 && equalsIgnoringCase(fields[count - 1], "rw");
    if (readWrite) {
        --count;
    }

    UsmUser parsed;
    parsed.name = std::move(fields[0]);
    if (parsed.name.empty()) {
        return Result::failure("empty user name");
    }
    if (parsed.name.size() > kMaxUserName) {
        return Result::failuref("user name [%s] is longer than %zu characters", parsed.name.c_str(),
                                kMaxUserName);
    }
    if (count < 2) {
        return Result::failure("missing authentication protocol");
    }
    if (!authProtocolFromWord(fields[1], parsed.auth)) {
        return Result::failuref("unknown authentication protocol [%s]", fields[1].c_str());
    }
    std::size_t next = 2;
    if (parsed.auth != AuthProtocol::None) {
        if (next == count) {
            return Result::failure("missing authentication pass phrase");
        }
        parsed.authPass = std::move(fields[next++]);
        if (Result r = checkPassPhrase(parsed.name, parsed.authPass, "authentication"); !r) {
            return r;
        }
        if (next < count) {
            if (!privProtocolFromWord(fields[next], parsed.priv)) {
                // The field may be a pass phrase gone astray: it is named by its place only.
                return Result::failuref(
                    "unknown privacy protocol in field %zu (a pass phrase with blanks goes in "
                    "double quotes)",
                    next + 1);
            }
            ++next;
            if (parsed.priv != PrivProtocol::None) {
                if (next == count) {
                    return Result::failure("missing privacy pass phrase");
                }
                parsed.privPass = std::move(fields[next++]);
                if (Result r = checkPassPhrase(parsed.name, parsed.privPass, "privacy"); !r) {
                    return r;
                }
            }
        }
    }
    if (next < count) {
        return Result::failuref("unexpected field %zu (only rw may follow the pass phrases)",
                                next + 1);
    }
    parsed.readWrite = readWrite;
    user = std::move(parsed);
    if (isUser != nullptr) {
        *isUser = true;
    }
    return {};
}

Result readUsersFile(const std::string& path, std::vector<UsmUser>& users) {
    UniqueFd file;
    if (Result opened = openRegularFile(path, file); !opened) {
        return Result::failuref("Cannot open users file [%s]: %s", path.c_str(), opened.c_str());
    }
    std::vector<UsmUser> read;
    std::unordered_set<std::string> names;
    std::string line;
    std::size_t lineNumber = 1;
    // Each complete line (and the last, unended one) is read as a user.
    auto takeLine = [&]() -> Result {
        UsmUser user;
        bool isUser = false;
        if (Result r = parseUserLine(line, user, &isUser); !r) {
            return readFailure(path, lineNumber, r.text());
        }
        if (isUser) {
            if (!names.insert(user.name).second) {
                return readFailure(path, lineNumber,
                                   formatText("user [%s] is given twice", user.name.c_str()));
            }
            read.push_back(std::move(user));
        }
        line.clear();
        return {};
    };
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Result::failuref("Cannot read users file [%s]: %s", path.c_str(),
                                    std::strerror(errno));
        }
        if (got == 0) {
            break;
        }
        for (const char* at = buffer; at < buffer + got; ++at) {
            if (lineNumber > kMaxUsers) {
                return readFailure(path, lineNumber,
                                   formatText("more than %zu lines in a users file", kMaxUsers));
            }
            if (*at != '\n') {
                if (line.size() == kMaxUserLine) {
                    return readFailure(path, lineNumber,
                                       formatText("line longer than %zu characters", kMaxUserLine));
                }
                line += *at;
                continue;
            }
            if (Result r = takeLine(); !r) {
                return r;
            }
            ++lineNumber;
        }
    }
    if (!line.empty()) {
        if (Result r = takeLine(); !r) {
            return r;
        }
    }
    users = std::move(read);
    return {};
}

void addOrReplaceUser(std::vector<UsmUser>& users, UsmUser user) {
    for (UsmUser& known : users) {
        if (known.name == user.name) {
            known = std::move(user);
            return;
        }
    }
    users.push_back(std::move(user));
}

}  // namespace korvimo::snmp
