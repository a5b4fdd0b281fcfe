// The users of the User-based Security Model as the users file and the command line give
// them, one user a line:
//
//   NAME AUTH AUTHPASS [PRIV PRIVPASS] [rw]
//
//   # a comment, and blank lines, are passed over
//   monitor  SHA-256 "my auth phrase" AES-128 "my priv phrase"
//   admin    SHA     authpass1234  AES  privpass1234  rw
//   public3  none
//
// AUTH is one of none, MD5, SHA, SHA-224, SHA-256, SHA-384, SHA-512; PRIV one of DES, AES,
// AES-192, AES-256 (the words of authProtocolFromWord and privProtocolFromWord). A user of
// "none" has no pass phrase and is a noAuthNoPriv user; without PRIV it is authNoPriv, with
// it authPriv. "rw" (the last field) lets the user Set; without it the user reads only.
// Fields are separated by blanks; a field may be written in double quotes to hold blanks
// (a quote inside one is written \" and a backslash \\). A field that begins with "#"
// outside quotes ends the line. A user name has 1 to 32 octets (RFC 3414 SnmpAdminString).
//
// Pass phrases shorter than kMinPassPhrase characters are refused, as RFC 3414 11.2 advises.
// A line that cannot be read is refused with a text naming what is wrong.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "snmp/usm_crypto.h"

namespace korvimo::snmp {

inline constexpr std::size_t kMinPassPhrase = 8;
inline constexpr std::size_t kMaxUserName = 32;
// Lines of a users file read at most, and longest line: a users file is a short, hand-made
// list; a larger one is refused rather than read without bound.
inline constexpr std::size_t kMaxUsers = 10000;
inline constexpr std::size_t kMaxUserLine = 4096;

enum class SecurityLevel { NoAuthNoPriv, AuthNoPriv, AuthPriv };

// "noAuthNoPriv", "authNoPriv", "authPriv".
const char* securityLevelWord(SecurityLevel level);

struct UsmUser {
    std::string name;
    AuthProtocol auth = AuthProtocol::None;
    std::string authPass;
    PrivProtocol priv = PrivProtocol::None;
    std::string privPass;
    bool readWrite = false;

    SecurityLevel level() const {
        return auth == AuthProtocol::None ? SecurityLevel::NoAuthNoPriv
                                          : (priv == PrivProtocol::None ? SecurityLevel::AuthNoPriv
                                                                        : SecurityLevel::AuthPriv);
    }
};

// One line. A blank or comment line gives success with empty *isUser false; a user line
// fills user and sets *isUser. Failure texts (no line number; the file reader adds it):
//   "unknown authentication protocol [WORD]", "unknown privacy protocol in field N (...)",
//   "authentication pass phrase of user [NAME] is shorter than 8 characters" (or "privacy"),
//   "user name [NAME] is longer than 32 characters", "missing authentication pass phrase",
//   "missing privacy pass phrase", "unexpected field N (...)", "unfinished quoted field".
// Fields that may be pass phrases are named by their place, never shown.
Result parseUserLine(std::string_view line, UsmUser& user, bool* isUser);

// The users of a file; a line that cannot be read fails the whole file with
// "PATH line N: <reason>", as does a name given twice ("user [NAME] is given twice"). A file
// that cannot be opened fails with the system's reason.
Result readUsersFile(const std::string& path, std::vector<UsmUser>& users);

// Adds user to users, replacing one of the same name (a command-line user overrides the
// file's).
void addOrReplaceUser(std::vector<UsmUser>& users, UsmUser user);

}  // namespace korvimo::snmp
