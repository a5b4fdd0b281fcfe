// What an agent start needs for SNMPv3 beyond the agent itself: its users, from the users
// file and the command line, and its engine's identity, kept in the home so that it stays
// the same across restarts while its boots count every start (RFC 3414 2.2).
//
//   std::vector<snmp::UsmUser> users;
//   if (Result r = loadUsers(home, {std::nullopt, {"ops SHA-256 opspass1 AES privpass1"}},
//                            users); !r) ...
//   EngineIdentity engine;
//   if (Result r = startEngine(home, "127.0.0.1:1161", engine); !r) ...
//
// The engines file, <home>/bin/engines.conf, has a line for each agent endpoint that ever
// started with SNMPv3: "ENDPOINT ENGINEID BOOTS", the engine ID in hexadecimal. A start reads
// its line (or makes a new engine ID), counts one more boot and writes the file back, under
// a lock (engines.conf.lock), so that agents of one home starting at once each count theirs;
// the file is written anew and renamed over the old one.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "agent/v3_security.h"
#include "base/result.h"
#include "base/unique_fd.h"
#include "snmp/usm_user.h"

namespace korvimo::app {

inline constexpr const char* kUsersFileName = "/bin/users.conf";
inline constexpr const char* kEnginesFileName = "/bin/engines.conf";
inline constexpr const char* kEnginesLineUnreadFormat =
    "%s line %zu is no \"ENDPOINT ENGINEID BOOTS\" line; it is kept as it stands.";
inline constexpr const char* kEngineRenewedFormat =
    "The SNMPv3 engine at %s has counted its boots up: it starts anew with a new engine ID.";

// Where an agent's users come from beyond <home>/bin/users.conf.
struct UserSources {
    // Read instead of <home>/bin/users.conf.
    std::optional<std::string> usersFile;
    // One user each, in the users file's line form; a user named again replaces the file's.
    std::vector<std::string> userLines;
};

// The users: those of the users file (<home>/bin/users.conf when it exists and none is
// named; a file named must exist), then each line (userFromLine). Failures name the file and
// line, or the user of a line.
Result loadUsers(const std::string& home, const UserSources& sources,
                 std::vector<snmp::UsmUser>& users);

// The engines file held open and locked while engines start: many agents (a fleet) read and
// write it once.
//
//   EngineBook book;
//   if (Result r = book.open(home); !r) ...
//   EngineIdentity engine = book.start("127.0.0.1:1161");   // boots counted
//   ...
//   Result saved = book.save();                               // written, lock released
class EngineBook {
  public:
    Result open(const std::string& home);
    // The identity of the engine at endpoint: its stored ID with one more boot, or a new ID
    // at boot 1.
    EngineIdentity start(std::string_view endpoint);
    // What the user should know: lines that could not be read (kept as they stand) and
    // engines that had counted their boots up and start anew.
    std::vector<std::string> takeNotes();
    // Writes the file back (a new file renamed over the old) and releases it.
    Result save();

  private:
    struct Entry {
        std::string endpoint;
        EngineIdentity identity;
    };
    std::string path_;
    UniqueFd lock_;  // <home>/bin/engines.conf.lock, locked while the book is open
    std::vector<std::string> others_;  // lines that are no engine, kept as they stand
    std::vector<Entry> entries_;
    std::unordered_map<std::string, std::size_t> index_;
    std::vector<std::string> notes_;
};

// The engine identity of the agent at endpoint, its boots counted for this start; notes, when
// given, gets the book's notes.
Result startEngine(const std::string& home, std::string_view endpoint, EngineIdentity& engine,
                   std::vector<std::string>* notes = nullptr);

// A new engine ID: RFC 3411's form with the "octets" format and random octets.
std::vector<uint8_t> newEngineId();

// The user of a --v3-user line; a failure is "--v3-user of user [NAME]: reason", which names
// the line by its user and never shows it (it holds pass phrases).
Result userFromLine(std::string_view line, snmp::UsmUser& user);

// An engine ID in hexadecimal, "0x" allowed in front: 5 to 32 octets.
bool engineIdFromText(std::string_view text, std::vector<uint8_t>& engineId);

// Hexadecimal text of octets, as the engines file and status lines show engine IDs.
std::string hexText(const std::vector<uint8_t>& bytes);

// The status line of an agent that answers SNMPv3: its users and engine.
std::string v3StartedLine(const V3Security& security);

}  // namespace korvimo::app
