// Byte helpers shared by the codec tests: hexadecimal literals and exact-size copies.
//
//   auto bytes = hexBytes("30 82 00 05");
//   EXPECT_EQ(hexText(out, size), "02 01 00");
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace korvimo::snmp::testing {

// "30 82 00 05" (spaces optional) to bytes.
inline std::vector<uint8_t> hexBytes(const std::string& text) {
    std::vector<uint8_t> bytes;
    int high = -1;
    for (char c : text) {
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        }
        if (digit < 0) {
            continue;
        }
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<uint8_t>(high * 16 + digit));
            high = -1;
        }
    }
    return bytes;
}

// Bytes as upper-case hexadecimal pairs separated by single spaces.
inline std::string hexText(const uint8_t* bytes, std::size_t size) {
    std::string text;
    char pair[4];
    for (std::size_t i = 0; i < size; ++i) {
        std::snprintf(pair, sizeof pair, "%02X", bytes[i]);
        if (i > 0) {
            text += ' ';
        }
        text += pair;
    }
    return text;
}

inline std::string hexText(const std::vector<uint8_t>& bytes) {
    return hexText(bytes.data(), bytes.size());
}

}  // namespace korvimo::snmp::testing
