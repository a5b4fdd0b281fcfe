#include "fleet/devices_file.h"

#include <arpa/inet.h>

#include <cstring>

#include "app/agent_start.h"
#include "app/command_line.h"
#include "base/regular_file.h"

namespace korvimo::fleet {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// The fields of a line up to a field that begins with "#".
std::vector<std::string_view> fieldsOf(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isBlank(line[i])) {
            ++i;
        }
        if (i == line.size() || line[i] == '#') {
            break;
        }
        const std::size_t start = i;
        while (i < line.size() && !isBlank(line[i])) {
            ++i;
        }
        fields.push_back(line.substr(start, i - start));
    }
    return fields;
}

std::optional<VersionMode> versionFromWord(std::string_view word) {
    if (word == "v1") {
        return VersionMode::SNMPv1;
    }
    if (word == "v2c") {
        return VersionMode::SNMPv2C;
    }
    if (word == "bilingual") {
        return VersionMode::Bilingual;
    }
    if (word == "v3") {
        return VersionMode::SNMPv3;
    }
    if (word == "all") {
        return VersionMode::All;
    }
    return std::nullopt;
}

// The text shown for a field: control bytes as "?", at most 80 characters.
std::string shown(std::string_view field) {
    std::string text(field.substr(0, 80));
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = '?';
        }
    }
    return field.size() > 80 ? text + "..." : text;
}

// One line's device; false with the reason.
bool readLine(const std::vector<std::string_view>& fields, DeviceSpec& device,
              std::string& reason) {
    if (fields.size() < 2) {
        reason = "needs an address:port and a control file";
        return false;
    }
    if (fields.size() > 5) {
        reason =
            "too many fields (at most: address:port, control file, read community, "
            "write community, versions)";
        return false;
    }
    if (!readDeviceAddress(std::string(fields[0]), device, reason)) {
        return false;
    }
    device.controlFile = std::string(fields[1]);
    for (std::size_t i = 2; i < fields.size() && i < 4; ++i) {
        if (Result fits = app::checkCommunity(fields[i]); !fits) {
            reason =
                std::string(i == 2 ? "read" : "write") + " community: " + std::string(fits.text());
            return false;
        }
        (i == 2 ? device.readCommunity : device.writeCommunity) = std::string(fields[i]);
    }
    if (fields.size() == 5) {
        device.version = versionFromWord(fields[4]);
        if (!device.version) {
            reason =
                "versions must be v1, v2c, bilingual, v3 or all, not '" + shown(fields[4]) + "'";
            return false;
        }
    }
    return true;
}

// Adds step to the address bytes as one big-endian number; false when it passes the last.
bool addToAddress(uint8_t* bytes, std::size_t size, uint64_t step) {
    for (std::size_t i = size; i > 0 && step > 0; --i) {
        const uint64_t sum = bytes[i - 1] + (step & 0xFF);
        bytes[i - 1] = static_cast<uint8_t>(sum);
        step = (step >> 8) + (sum >> 8);
    }
    return step == 0;
}

}  // namespace

std::string deviceName(const DeviceSpec& device) {
    return app::endpointName(device.address, device.transport, device.port);
}

bool readDeviceAddress(const std::string& text, DeviceSpec& device, std::string& reason) {
    std::string host;
    std::string portText;
    const app::HostPortSplit split = app::splitHostPort(text, host, portText);
    const bool bracketed = text.starts_with('[');
    unsigned long port = 0;
    uint8_t bytes[16];
    const bool numeric = bracketed ? ::inet_pton(AF_INET6, host.c_str(), bytes) == 1
                                   : ::inet_pton(AF_INET, host.c_str(), bytes) == 1;
    if (split != app::HostPortSplit::Ok || portText.empty() || !numeric ||
        !app::readOptionNumber(portText, 1, 65535, port)) {
        reason = "malformed address '" + shown(text) +
                 "' (a numeric address and a port from 1 to 65535: 127.0.0.1:1161, "
                 "[::1]:1161)";
        return false;
    }
    device.address = host;
    device.port = static_cast<uint16_t>(port);
    device.transport = bracketed ? IpVersion::IPv6 : IpVersion::IPv4;
    return true;
}

DevicesFile parseDevicesFile(std::string_view text) {
    DevicesFile file;
    std::size_t number = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++number;
        const std::vector<std::string_view> fields = fieldsOf(line);
        if (fields.empty()) {
            continue;
        }
        DeviceSpec device;
        device.line = number;
        std::string reason;
        if (file.devices.size() >= kMaxDevices) {
            file.problems.push_back(
                {number, "more than " + std::to_string(kMaxDevices) + " devices"});
            break;
        }
        if (readLine(fields, device, reason)) {
            file.devices.push_back(std::move(device));
        } else if (file.problems.size() < kMaxDevicesFileProblems) {
            file.problems.push_back({number, std::move(reason)});
        } else {
            ++file.unreportedProblems;
        }
    }
    return file;
}

Result readDevicesFile(const std::string& path, DevicesFile& file) {
    std::string text;
    if (Result read = readRegularFile(path, kMaxDevicesFileSize, text); !read) {
        return withReason(Result::failuref("Cannot read the devices file %s.", path.c_str()), read);
    }
    file = parseDevicesFile(text);
    return {};
}

Result cloneDevices(const std::string& controlFile, std::size_t count,
                    const std::optional<std::string>& firstAddress, const std::string& address,
                    uint16_t port, IpVersion transport, std::vector<DeviceSpec>& devices) {
    devices.clear();
    if (count == 0 || count > kMaxDevices) {
        return Result::failuref("A fleet holds from 1 to %zu devices.", kMaxDevices);
    }
    DeviceSpec device;
    device.controlFile = controlFile;
    device.transport = transport;
    device.port = port;
    if (!firstAddress) {
        if (port == 0 || static_cast<std::size_t>(port) + count - 1 > 65535) {
            return Result::failuref("%zu ports from %u pass 65535.", count,
                                    static_cast<unsigned>(port));
        }
        device.address = address;
        for (std::size_t i = 0; i < count; ++i) {
            devices.push_back(device);
            ++device.port;
        }
        return {};
    }

    const int family = transport == IpVersion::IPv6 ? AF_INET6 : AF_INET;
    const std::size_t size = family == AF_INET6 ? 16 : 4;
    uint8_t bytes[16] = {};
    if (::inet_pton(family, firstAddress->c_str(), bytes) != 1) {
        return Result::failuref("Invalid first address %s: a numeric %s address is needed.",
                                firstAddress->c_str(), family == AF_INET6 ? "IPv6" : "IPv4");
    }
    uint8_t last[16];
    std::memcpy(last, bytes, sizeof last);
    if (!addToAddress(last, size, count - 1)) {
        return Result::failuref("%zu addresses from %s run past the last address.", count,
                                firstAddress->c_str());
    }
    devices.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        char text[INET6_ADDRSTRLEN] = {};
        ::inet_ntop(family, bytes, text, sizeof text);
        device.address = text;
        devices.push_back(device);
        addToAddress(bytes, size, 1);
    }
    return {};
}

}  // namespace korvimo::fleet
