// Configuration: the settings file korvan.ini (section KORVAN) in the installation's bin
// directory, with its plain keys and its ten-entry history keys.
//
// The file is read anew at every access and written at once on every change; nothing is
// cached but the start-up settings a program reads at its start (startup_settings.h). The
// reader keeps what another program (a user's editor) put into the file: unknown keys and
// other sections survive every write, and LF or CR LF line ends are both read.
//
//   Configuration config("../bin/korvan.ini");
//   config.ensureFile();                                   // defaults when missing
//   std::string size;
//   if (config.readPlain(ConfigKey::CACHESIZE, size)) ...
//   config.pushHistory(ConfigKey::INPUTFILE, "demo.ctl");  // most recent first, ten at most
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/result.h"

namespace korvimo {

// Every key of the file. History keys are stored as NAME1 ... NAME10, number 1 the most recent.
enum class ConfigKey {
    // History keys.
    IPADDRESS,
    RCOMMUNITY,
    WCOMMUNITY,
    TCOMMUNITY,
    MGRIPADDRESS,
    INPUTFILE,
    TRAPFILE,
    TIMEOUT,
    RETRIES,
    STSYSUPTIME,
    NUMROWS,
    TRAPENTID,
    // Managers of the agent's scheduled events' traps: "ADDRESS[:PORT] VERSION [COMMUNITY]"
    // (see app/agent_events.h). Not among the defaults of a new file.
    TRAPDEST,
    // Plain keys.
    STARTOID,
    STOPOID,
    TIMESTAMP,
    SKIPINST,
    DEBUGMODE,
    INSTALLDIR,
    SKIPWALKTYPE,
    ZORLETTYPE,
    EDITOR,
    USESTDTRAPS,
    CACHESIZE,
    DYNINSTSIZE,
    DYNTEMPLATE,
    RANDOMSEED,
    OVERRIDEDEF,
    SPLITMIBFILES,
    MIBEXTENSION,
    ERASESPLITMIBS,
    AGENTIP,
    AGENTPORT,
    SNMPVER,
    SV2TOV1TRAPNOZERO,
    AGENTIPXADDR,
    MIBDIRLIST,
    MIBEXTLIST,
    IPV6SUPPORT,
    TRAPPORT,
    MAXMSGSIZE,
    DEBUGMAXSIZE,
};

inline constexpr const char* kConfigFileName = "korvan.ini";  // in the bin directory
inline constexpr const char* kConfigSection = "KORVAN";
inline constexpr std::size_t kConfigValueCapacity = 99;  // a plain read returns at most this
inline constexpr std::size_t kConfigListCapacity = 499;  // a history list read returns at most this
inline constexpr int kHistoryLength = 10;
// The largest file read: a settings file is a few kilobytes, and a name that leads to
// something far larger (a disk image, a log) is no settings file.
inline constexpr std::size_t kMaxConfigFileSize = 1024 * 1024;
// The lines of a file that exists but cannot be read, and of a change that cannot be
// written; %s is the path, then the reason.
inline constexpr const char* kCannotReadConfigFormat = "Cannot read %s: %s";
inline constexpr const char* kCannotWriteConfigFormat = "Cannot write %s: %s";

class Configuration {
  public:
    explicit Configuration(std::string path) : path_(std::move(path)) {}

    const std::string& path() const { return path_; }

    static const char* keyName(ConfigKey key);
    static bool isHistoryKey(ConfigKey key);

    // Plain keys. readPlain gives false (and an empty value) when the file cannot be opened
    // or the key is absent; the value is cut to kConfigValueCapacity. Given a history key,
    // both act on its number 1. writePlain refuses (false) to rewrite a file it cannot read,
    // and stores a value only up to its first line break.
    bool readPlain(ConfigKey key, std::string& value) const;
    bool writePlain(ConfigKey key, std::string_view value);

    // History keys.
    // Number 1, cut to kConfigValueCapacity; empty when absent.
    std::string readHistoryHead(ConfigKey key) const;
    // Numbers 1, 2, ... up to the first absent one, at most ten, each cut to
    // kConfigListCapacity.
    std::vector<std::string> historyValues(ConfigKey key) const;
    // The value becomes number 1; an existing equal value moves to the front, the oldest of
    // ten falls off. Values move whole (uncut) from number to number.
    bool pushHistory(ConfigKey key, std::string_view value);
    // The values become numbers 1, 2, ... in their order (at most ten), and no other number
    // is left: a list that is all in use at once (the managers of TRAPDEST).
    bool replaceHistory(ConfigKey key, const std::vector<std::string>& values);

    // Creates the file with its defaults when it does not exist; an existing file is kept.
    bool ensureFile();

    // Whether the file can be read: success when it is read or missing; otherwise the line
    // kCannotReadConfigFormat says why (not a regular file, larger than kMaxConfigFileSize,
    // no permission). Reads of such a file report every key absent.
    Result check() const;

    // Every write replaces the file with a copy written beside it (a link's target, for a
    // link), never rewriting it in place: a write that fails (false) leaves the file as it
    // was. The first such failure since the last call is kept as its line
    // (kCannotWriteConfigFormat), for the caller that reports it once; empty when none.
    std::string takeWriteFailure();

  private:
    bool saved(const Result& written);

    std::string path_;
    std::string writeFailure_;
};

// Reads the first nine characters of a text as a decimal number (readDecimal: leading white
// space, optional sign, digits up to the first non-digit; 0 when there are none), as every
// numeric setting is read.
long readSettingNumber(std::string_view text);

// The installation directory: INSTALLDIR when it holds a value, else "..".
std::string installDirectory(const Configuration& config);

}  // namespace korvimo
