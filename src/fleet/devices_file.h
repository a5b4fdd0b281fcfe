// The devices of a fleet: the lines of a devices file, or clones of one control file on
// consecutive addresses or ports.
//
// A devices file is plain text, one device a line, its fields separated by blanks:
//
//   # address:port   control file   read community   write community   versions
//   127.0.0.1:1161   demo.ctl
//   127.0.0.2:1161   edge.ctl       edge             edge-rw           v2c
//   [::1]:1162       /srv/core.ctl  public
//
// ADDRESS:PORT (an IPv6 address in brackets) and the control file are needed; the
// communities and the versions (v1, v2c, bilingual, v3 or all) may be left out from the right, and
// the fleet's defaults fill them in. A line whose first field begins with "#" is a comment, and a
// field that begins with "#" ends the line. A line that cannot be read is a problem naming
// its line; the others still give their devices.
//
//   DevicesFile file;
//   if (Result read = readDevicesFile(path, file); !read) ...   // cannot be read
//   for (const DevicesFileProblem& p : file.problems) ...      // lines skipped
//   for (const DeviceSpec& d : file.devices) ...
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/agent_start.h"
#include "app/core/startup_settings.h"
#include "base/result.h"

namespace korvimo::fleet {

// Devices a fleet serves at most, and the longest devices file read.
inline constexpr std::size_t kMaxDevices = 100000;
inline constexpr std::size_t kMaxDevicesFileSize = std::size_t{64} << 20;

struct DeviceSpec {
    std::size_t line = 0;  // of the devices file, from 1; 0 for a clone
    std::string address;   // numeric; empty: every address of the transport
    uint16_t port = 0;
    IpVersion transport = IpVersion::IPv4;
    std::string controlFile;  // as `agent --file` takes it
    std::optional<std::string> readCommunity;
    std::optional<std::string> writeCommunity;
    std::optional<VersionMode> version;
};

using app::shownAddress;

// How a device is named in what the fleet prints, in its debug log's name and in the engines
// file (app::endpointName): "127.0.0.1:1161", "[::1]:1161", "0.0.0.0:1161" for every address.
std::string deviceName(const DeviceSpec& device);

struct DevicesFileProblem {
    std::size_t line = 0;
    std::string text;  // e.g. "malformed address '300.1.1.1:1161'"
};

// Problems a devices file keeps at most; the lines past them are only counted.
inline constexpr std::size_t kMaxDevicesFileProblems = 100;

struct DevicesFile {
    std::vector<DeviceSpec> devices;
    std::vector<DevicesFileProblem> problems;
    std::size_t unreportedProblems = 0;  // past kMaxDevicesFileProblems
};

DevicesFile parseDevicesFile(std::string_view text);
// The devices file at path; fails with the system's reason when it cannot be read.
Result readDevicesFile(const std::string& path, DevicesFile& file);

// Reads "ADDRESS:PORT" ("[IPv6]:PORT") into a device; false with the reason.
bool readDeviceAddress(const std::string& text, DeviceSpec& device, std::string& reason);

// count devices of one control file. With a first address: on that address and the ones
// after it (the last number counted up), all on port. Without: on consecutive ports from port,
// on address (empty: every address) of the transport. Fails when the addresses or ports run
// out, or an address is not numeric.
Result cloneDevices(const std::string& controlFile, std::size_t count,
                    const std::optional<std::string>& firstAddress, const std::string& address,
                    uint16_t port, IpVersion transport, std::vector<DeviceSpec>& devices);

}  // namespace korvimo::fleet
