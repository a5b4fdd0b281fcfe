// What the agent and learning benchmarks share: the control file they serve (10,000
// attributes: the system group, three scalars, and an interfaces-like table of ten columns
// and 999 rows with the usual behaviours), a file written whole, a free loopback port.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

namespace korvimo::bench {

inline constexpr const char* kBenchTableRoot = "1.3.6.1.2.1.2.2.1";

inline std::string tenThousandAttributes(const char* heading) {
    std::string text = std::string("# ") + heading + "\r\n";
    auto line = [&text](const std::string& name, const char* syntax, const char* access,
                        const std::string& value) {
        char buffer[512];
        std::snprintf(buffer, sizeof buffer, "%-30s, %-12s, %-3s, %s\r\n", name.c_str(), syntax,
                      access, value.c_str());
        text += buffer;
    };
    line("1.3.6.1.2.1.1.1.0", "OctetString", "RO", "fixed(Korvimo benchmark agent)");
    line("1.3.6.1.2.1.1.2.0", "ObjectID", "RO", "fixed(1.3.6.1.4.1.32473.1.1)");
    line("1.3.6.1.2.1.1.3.0", "TimeTicks", "RO", "clock(0)");
    line("1.3.6.1.2.1.1.4.0", "OctetString", "RW", "lastset(noc@example.net)");
    line("1.3.6.1.2.1.1.5.0", "OctetString", "RW", "lastset(bench-agent)");
    line("1.3.6.1.2.1.1.6.0", "OctetString", "RW", "lastset(Lab rack 3)");
    line("1.3.6.1.2.1.1.7.0", "Integer", "RO", "fixed(78)");
    line("1.3.6.1.2.1.2.1.0", "Integer", "RO", "fixed(999)");
    const char* columns[10][3] = {
        {"Integer", "RO", "rangeinst(11)"},   {"OctetString", "RO", "fixed(GigabitEthernet port)"},
        {"Integer", "RO", "fixed(6)"},        {"Integer", "RO", "fixed(1500)"},
        {"Gauge", "RO", "fixed(1000000000)"}, {"OctetString", "RO", "fixed(0x02005e000102)"},
        {"Integer", "RW", "lastset(1)"},      {"Integer", "RO", "fixed(1)"},
        {"TimeTicks", "RO", "fixed(0)"},      {"Counter", "RO", "randomup(0, 15000, 500)"},
    };
    for (int c = 0; c < 10; ++c) {
        line(std::string(kBenchTableRoot) + "." + std::to_string(c + 1) + ".[1-999]", columns[c][0],
             columns[c][1], columns[c][2]);
    }
    line("1.3.6.1.2.1.4.1.0", "Integer", "RW", "lastset(1)");
    line("1.3.6.1.2.1.4.2.0", "Integer", "RW", "lastset(64)");
    return text;
}

inline void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// A loopback UDP port that was free a moment ago.
inline uint16_t freeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

}  // namespace korvimo::bench
