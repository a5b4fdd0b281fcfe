// Cross-check against an independent decoder: messages the codec encodes are written into a
// pcap file (Ethernet, IPv4, UDP to port 161 or 162), tshark dissects them, and the fields it
// reports must agree with what was encoded.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "snmp/message.h"

namespace korvimo::snmp {
namespace {

namespace fs = std::filesystem;

// --- pcap writing -----------------------------------------------------------------------------

void putLittle32(std::string* out, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out->push_back(static_cast<char>(v >> (8 * i)));
    }
}

void putBig16(std::string* out, uint32_t v) {
    out->push_back(static_cast<char>(v >> 8));
    out->push_back(static_cast<char>(v));
}

// One Ethernet frame carrying an IPv4/UDP datagram from 127.0.0.1:40000 to the given port.
std::string frame(const std::vector<uint8_t>& payload, uint16_t port) {
    std::string ip;
    const uint32_t udpLength = 8 + static_cast<uint32_t>(payload.size());
    ip += "\x45";
    ip.push_back('\0');
    putBig16(&ip, 20 + udpLength);
    putBig16(&ip, 1);       // identification
    putBig16(&ip, 0x4000);  // don't fragment
    ip += "\x40\x11";       // TTL 64, UDP
    putBig16(&ip, 0);       // checksum, filled below
    ip += std::string("\x7F\x00\x00\x01\x7F\x00\x00\x01", 8);
    uint32_t sum = 0;
    for (std::size_t i = 0; i < 20; i += 2) {
        sum += (static_cast<uint8_t>(ip[i]) << 8) | static_cast<uint8_t>(ip[i + 1]);
    }
    while (sum >> 16) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    ip[10] = static_cast<char>((~sum >> 8) & 0xFF);
    ip[11] = static_cast<char>(~sum & 0xFF);
    putBig16(&ip, 40000);
    putBig16(&ip, port);
    putBig16(&ip, udpLength);
    putBig16(&ip, 0);  // no UDP checksum, allowed over IPv4
    ip.append(payload.begin(), payload.end());

    std::string ethernet("\x02\x00\x00\x00\x00\x02\x02\x00\x00\x00\x00\x01\x08\x00", 14);
    return ethernet + ip;
}

void writePcap(const fs::path& path,
               const std::vector<std::pair<std::vector<uint8_t>, uint16_t>>& messages) {
    std::string file;
    putLittle32(&file, 0xA1B2C3D4);
    file += std::string("\x02\x00\x04\x00", 4);  // version 2.4
    putLittle32(&file, 0);                       // time zone
    putLittle32(&file, 0);                       // accuracy
    putLittle32(&file, 65535);                   // snapshot length
    putLittle32(&file, 1);                       // Ethernet
    uint32_t second = 1700000000;
    for (const auto& [payload, port] : messages) {
        const std::string bytes = frame(payload, port);
        putLittle32(&file, second++);
        putLittle32(&file, 0);
        putLittle32(&file, static_cast<uint32_t>(bytes.size()));
        putLittle32(&file, static_cast<uint32_t>(bytes.size()));
        file += bytes;
    }
    std::ofstream(path, std::ios::binary) << file;
}

// --- PDML reading -----------------------------------------------------------------------------

struct Field {
    std::string name;
    std::string show;
    std::string value;
};
using Packet = std::vector<Field>;

std::string unescape(const std::string& text) {
    static const std::pair<const char*, char> entities[] = {
        {"&quot;", '"'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&apos;", '\''}, {"&amp;", '&'}};
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        bool replaced = false;
        for (const auto& [entity, c] : entities) {
            if (text.compare(i, std::strlen(entity), entity) == 0) {
                out += c;
                i += std::strlen(entity);
                replaced = true;
                break;
            }
        }
        if (!replaced) {
            out += text[i++];
        }
    }
    return out;
}

std::string attribute(const std::string& element, const char* name) {
    const std::string key = std::string(" ") + name + "=\"";
    const std::size_t at = element.find(key);
    if (at == std::string::npos) {
        return {};
    }
    const std::size_t start = at + key.size();
    return unescape(element.substr(start, element.find('"', start) - start));
}

std::vector<Packet> parsePdml(const std::string& pdml) {
    std::vector<Packet> packets;
    std::size_t at = 0;
    while ((at = pdml.find('<', at)) != std::string::npos) {
        const std::size_t end = pdml.find('>', at);
        if (end == std::string::npos) {
            break;
        }
        const std::string element = pdml.substr(at, end - at + 1);
        if (element.rfind("<packet>", 0) == 0) {
            packets.emplace_back();
        } else if (element.rfind("<field ", 0) == 0 && !packets.empty()) {
            packets.back().push_back({attribute(element, "name"), attribute(element, "show"),
                                      attribute(element, "value")});
        }
        at = end + 1;
    }
    return packets;
}

bool haveTshark() {
    return std::system("tshark -v >/dev/null 2>&1") == 0;
}

std::string runTshark(const fs::path& pcap) {
    // tshark warns on stderr when run as root; only the dissection on stdout matters.
    const std::string command = "tshark -n -r '" + pcap.string() + "' -T pdml 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::string out;
    if (!pipe) {
        return out;
    }
    char buffer[65536];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0) {
        out.append(buffer, n);
    }
    return out;
}

// The SNMP fields of a packet, in order, with the framing layers and helper fields left out.
std::vector<Field> snmpFields(const Packet& packet) {
    std::vector<Field> fields;
    for (const Field& f : packet) {
        if (f.name.rfind("snmp.", 0) == 0 || f.name.rfind("_ws.", 0) == 0) {
            fields.push_back(f);
        }
    }
    return fields;
}

// --- what each message should look like ------------------------------------------------------

std::string hex(const std::vector<uint8_t>& bytes) {
    std::string text;
    char pair[3];
    for (uint8_t b : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", b);
        text += pair;
    }
    return text;
}

std::string dotted(const ObjectId& id) {
    char text[1500];
    return oidToText(id, sizeof text, text) > 0 ? text : "";
}

// tshark's field for each syntax, and whether its "show" or its raw "value" is compared.
struct Expectation {
    std::string field;
    std::string text;
    bool raw = false;
};

Expectation expectationFor(const SyntaxValue& v) {
    switch (v.syntax) {
        case kTagInteger:
            return {"snmp.value.int", std::to_string(v.integer())};
        case kTagOctetString:
            return {"snmp.value.octets", hex(v.octets.bytes), true};
        case kTagObjectId:
            return {"snmp.value.oid", dotted(v.oid)};
        case kTagIpAddress:
            return {"snmp.value.ipv4", hex(v.octets.bytes), true};
        case kTagCounter:
            return {"snmp.value.counter", std::to_string(v.number)};
        case kTagGauge:
            return {"snmp.value.g32", std::to_string(v.number)};
        case kTagTimeTicks:
            return {"snmp.value.timeticks", std::to_string(v.number)};
        case kTagOpaque:
            return {"snmp.value.opaque", hex(v.octets.bytes), true};
        case kTagCounter64:
            return {"snmp.value.counter", std::to_string(v.counter64)};
        case kTagNull:
            return {"snmp.value.null", ""};
        case kTagNoSuchObject:
            return {"snmp.noSuchObject", ""};
        case kTagNoSuchInstance:
            return {"snmp.noSuchInstance", ""};
        case kTagEndOfMibView:
            return {"snmp.endOfMibView", ""};
        default:
            return {"?", ""};
    }
}

const Field* find(const std::vector<Field>& fields, const std::string& name, std::size_t from = 0,
                  std::size_t* index = nullptr) {
    for (std::size_t i = from; i < fields.size(); ++i) {
        if (fields[i].name == name) {
            if (index != nullptr) {
                *index = i;
            }
            return &fields[i];
        }
    }
    return nullptr;
}

void expectField(const std::vector<Field>& fields, const std::string& name,
                 const std::string& show) {
    const Field* f = find(fields, name);
    ASSERT_NE(f, nullptr) << "tshark shows no " << name;
    EXPECT_EQ(f->show, show) << name;
}

void expectAgreement(const Pdu& pdu, const Packet& packet) {
    const std::vector<Field> fields = snmpFields(packet);
    // Notes (tshark remarks on every exception value) are fine; warnings and errors are not.
    constexpr long kExpertWarning = 0x600000;
    std::string expertMessage;
    for (const Field& f : fields) {
        EXPECT_NE(f.name, "_ws.malformed") << "tshark finds the message malformed";
        if (f.name == "_ws.expert.message") {
            expertMessage = f.show;
        }
        if (f.name == "_ws.expert.severity") {
            EXPECT_LT(std::atol(f.show.c_str()), kExpertWarning) << "tshark: " << expertMessage;
        }
    }
    expectField(fields, "snmp.version", std::to_string(pdu.version));
    expectField(fields, "snmp.community",
                std::string(pdu.community.bytes.begin(), pdu.community.bytes.end()));
    expectField(fields, "snmp.data", std::to_string(pdu.type - kPduGetRequest));
    if (pdu.type == kPduTrap) {
        expectField(fields, "snmp.enterprise", dotted(pdu.enterprise));
        char address[16];
        std::snprintf(address, sizeof address, "%u.%u.%u.%u", pdu.agentAddr[0], pdu.agentAddr[1],
                      pdu.agentAddr[2], pdu.agentAddr[3]);
        expectField(fields, "snmp.agent_addr", address);
        expectField(fields, "snmp.generic_trap", std::to_string(pdu.genericTrap));
        expectField(fields, "snmp.specific_trap", std::to_string(pdu.specificTrap));
        expectField(fields, "snmp.time_stamp", std::to_string(pdu.timeStamp));
    } else {
        expectField(fields, "snmp.request_id", std::to_string(pdu.requestId));
        expectField(fields, "snmp.error_status", std::to_string(pdu.errorStatus));
        expectField(fields, "snmp.error_index", std::to_string(pdu.errorIndex));
    }
    const Field* list = find(fields, "snmp.variable_bindings");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->show, std::to_string(pdu.varBinds.count()));

    std::size_t at = 0;
    for (const VarBind& vb : pdu.varBinds.items) {
        const Field* name = find(fields, "snmp.name", at, &at);
        ASSERT_NE(name, nullptr) << "binding " << dotted(vb.name) << " missing";
        EXPECT_EQ(name->show, dotted(vb.name));
        const Expectation expected = expectationFor(vb.value);
        std::size_t valueAt = 0;
        const Field* value = find(fields, expected.field, at + 1, &valueAt);
        std::size_t nextName = fields.size();
        find(fields, "snmp.name", at + 1, &nextName);
        ASSERT_TRUE(value != nullptr && valueAt < nextName)
            << dotted(vb.name) << ": no " << expected.field;
        EXPECT_EQ(expected.raw ? value->value : value->show, expected.text) << dotted(vb.name);
        at = at + 1;
    }
}

// --- the messages -----------------------------------------------------------------------------

ObjectId oid(const char* text) {
    ObjectId id;
    SnmpStrToOid(text, &id);
    return id;
}

SyntaxValue value(uint16_t syntax) {
    SyntaxValue v;
    v.syntax = syntax;
    return v;
}

std::unique_ptr<VarBindList> bindingsOfEverySyntax() {
    auto list = SnmpCreateVbl();
    std::vector<SyntaxValue> values;
    values.push_back(value(kTagInteger));
    values.back().number = static_cast<uint32_t>(-123456);
    values.push_back(value(kTagOctetString));
    values.back().octets.bytes = {'L', 'i', 'n', 'u', 'x', ' ', 0x00, 0xFF};
    values.push_back(value(kTagObjectId));
    values.back().oid = oid("1.3.6.1.4.1.8072.3.2.10");
    values.push_back(value(kTagObjectId));
    values.back().oid = oid("2.999.1");  // first arc 2 with a second arc beyond 47
    values.push_back(value(kTagIpAddress));
    values.back().octets.bytes = {192, 168, 17, 254};
    values.push_back(value(kTagCounter));
    values.back().number = 0xFFFFFFFEu;
    values.push_back(value(kTagGauge));
    values.back().number = 0x80000000u;
    values.push_back(value(kTagTimeTicks));
    values.back().number = 8640000;
    values.push_back(value(kTagOpaque));
    values.back().octets.bytes = {0x01, 0x02, 0x03};
    values.push_back(value(kTagCounter64));
    values.back().counter64 = 0xFEDCBA9876543210ull;
    values.push_back(value(kTagCounter64));
    values.back().counter64 = 5;
    values.push_back(value(kTagNull));
    values.push_back(value(kTagNoSuchObject));
    values.push_back(value(kTagNoSuchInstance));
    values.push_back(value(kTagEndOfMibView));
    uint32_t leaf = 1;
    for (const SyntaxValue& v : values) {
        const ObjectId name = oid(("1.3.6.1.4.1.99999.7." + std::to_string(leaf++) + ".0").c_str());
        SnmpAddVb(list.get(), &name, &v);
    }
    const ObjectId large = oid("1.3.6.1.4.1.99999.4294967295.128.127.0");
    const SyntaxValue zero = value(kTagInteger);
    SnmpAddVb(list.get(), &large, &zero);
    return list;
}

TEST(CodecAgainstTshark, IndependentDecoderReadsWhatTheCodecEncodes) {
    if (!haveTshark()) {
        GTEST_SKIP() << "tshark is not installed; ./dev installs it (Debian package tshark)";
    }
    const Octets publicCommunity{{'p', 'u', 'b', 'l', 'i', 'c'}};
    const Octets otherCommunity{{'n', 'o', 'c', '-', '7'}};
    std::vector<std::unique_ptr<Pdu>> pdus;
    pdus.push_back(
        SnmpCreateBPdu(0, &publicCommunity, kPduResponse, 1, 0, 0, bindingsOfEverySyntax()));
    pdus.push_back(SnmpCreateBPdu(1, &otherCommunity, kPduResponse, -2147483647 - 1, 17, 3,
                                  bindingsOfEverySyntax()));
    auto next = SnmpCreateVbl();
    const ObjectId walkFrom = oid("1.3.6.1.2.1.2.2.1");
    SnmpAddVb(next.get(), &walkFrom, nullptr);
    pdus.push_back(
        SnmpCreateBPdu(1, &publicCommunity, kPduGetNextRequest, 424242, 0, 0, std::move(next)));
    const ObjectId enterprise = oid("1.3.6.1.4.1.8072.2.3");
    const uint8_t agent[4] = {10, 20, 30, 40};
    pdus.push_back(SnmpCreateTPdu(0, &publicCommunity, &enterprise, agent, 6, 17, 4000000000u,
                                  bindingsOfEverySyntax()));
    pdus.push_back(SnmpCreateTPdu(0, &publicCommunity, &enterprise, agent, 0, 0, 0, nullptr));
    pdus.push_back(
        SnmpCreateBPdu(1, &publicCommunity, kPduSnmpV2Trap, 77, 0, 0, bindingsOfEverySyntax()));

    std::vector<std::pair<std::vector<uint8_t>, uint16_t>> messages;
    for (const auto& pdu : pdus) {
        ASSERT_NE(pdu, nullptr);
        std::vector<uint8_t> out(kMaxMessageSize);
        uint32_t size = kMaxMessageSize;
        const Result encoded = SnmpEncodeMsg(pdu.get(), out.data(), &size);
        ASSERT_TRUE(encoded) << encoded.text();
        out.resize(size);
        const bool trap = pdu->type == kPduTrap || pdu->type == kPduSnmpV2Trap;
        messages.emplace_back(out, trap ? 162 : 161);
    }

    const fs::path dir = fs::temp_directory_path() / ("korvimo-tshark-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path pcap = dir / "codec.pcap";
    writePcap(pcap, messages);
    const std::vector<Packet> packets = parsePdml(runTshark(pcap));
    if (std::getenv("KORVIMO_KEEP_PCAP") == nullptr) {
        fs::remove_all(dir);
    }

    ASSERT_EQ(packets.size(), pdus.size()) << "tshark did not read every frame";
    for (std::size_t i = 0; i < pdus.size(); ++i) {
        SCOPED_TRACE("message " + std::to_string(i));
        expectAgreement(*pdus[i], packets[i]);
    }
}

}  // namespace
}  // namespace korvimo::snmp
