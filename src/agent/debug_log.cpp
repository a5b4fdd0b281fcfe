#include "agent/debug_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "app/core/configuration.h"
#include "base/regular_file.h"
#include "snmp/ber.h"

namespace korvimo {

namespace {

constexpr const char* kErrorStatusNames[] = {
    "No Error",
    "Too Big",
    "No Such Name",
    "Bad Value",
    "Read Only",
    "Gen Error",
    "No Access",
    "Wrong Type",
    "Wrong Length",
    "Wrong Encoding",
    "Wrong Value",
    "No Creation",
    "Inconsistent Value",
    "No Resources",
    "Commit Failed",
    "Undo Failed",
    "Authorization Error",
    "Not Writable",
    "Inconsistent Name",
};

constexpr const char* kGenericTrapNames[] = {
    "coldStart",       "warmStart",          "linkDown", "linkUp", "authenticationFailure",
    "egpNeighborLoss", "enterpriseSpecific",
};

constexpr const char* kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Longest dotted text any decoded or built name can need (128 sub-identifiers of up to ten
// digits and a dot each).
constexpr uint32_t kFullOidText = snmp::kMaxOidLength * 11 + 1;

void appendFormat(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));

void appendFormat(std::string& out, const char* format, ...) {
    char line[2048];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n > 0) {
        out.append(line, static_cast<std::size_t>(n) < sizeof line ? static_cast<std::size_t>(n)
                                                                   : sizeof line - 1);
    }
}

// Copies text into out, cut to capacity less one.
void copyCut(char* out, std::size_t capacity, std::string_view text) {
    if (out == nullptr || capacity == 0) {
        return;
    }
    const std::size_t n = text.size() < capacity - 1 ? text.size() : capacity - 1;
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

// Dotted decimal of an identifier, cut to limit less one characters.
std::string dottedText(const snmp::ObjectId& oid, uint32_t limit) {
    char text[kFullOidText];
    if (snmp::oidToText(oid, sizeof text, text) == 0) {
        text[0] = '\0';
    }
    std::string dotted(text);
    if (limit > 0 && dotted.size() > limit - 1) {
        dotted.resize(limit - 1);
    }
    return dotted;
}

// The header line of a record, without its line end for status lists.
void headerLine(std::string& out, const snmp::Pdu& pdu, bool forStatusList) {
    const char* label = pduLabel(pdu.type, forStatusList);
    if (pdu.type == snmp::kPduGetBulkRequest) {
        appendFormat(out, forStatusList ? kListBulkHeaderFormat : kDebugBulkHeaderFormat, label,
                     pdu.requestId, pdu.errorStatus & 0xFFFF, pdu.errorIndex & 0xFFFF);
    } else if (forStatusList) {
        appendFormat(out, kListHeaderFormat, label,
                     static_cast<unsigned long>(static_cast<uint32_t>(pdu.requestId)),
                     errorStatusName(pdu.errorStatus), pdu.errorIndex & 0xFFFF);
    } else {
        appendFormat(out, kDebugHeaderFormat, label, pdu.requestId,
                     errorStatusName(pdu.errorStatus), pdu.errorIndex & 0xFFFF);
    }
}

void bindingLine(std::string& out, const snmp::VarBind& binding, int number,
                 const mibinfo::MibInfo* mibInfo, bool forStatusList) {
    char oidText[kLogOidCapacity];
    char typeName[kLogTypeCapacity];
    char valueText[kLogValueCapacity];
    valueToText(binding, oidText, sizeof oidText, typeName, sizeof typeName, valueText,
                sizeof valueText);
    std::string name;
    oidTextToName(name, oidText, mibInfo);
    if (name.size() > kLogOidCapacity - 1) {
        name.resize(kLogOidCapacity - 1);
    }
    appendFormat(out, forStatusList ? kListBindingFormat : kDebugBindingFormat, number,
                 name.c_str(), typeName, valueText);
}

}  // namespace

const char* genericTrapName(int32_t genericTrap) {
    return genericTrap >= 0 && genericTrap < 7 ? kGenericTrapNames[genericTrap] : nullptr;
}

std::string trapIgnoredText(const snmp::Pdu& trap) {
    char line[512];
    if (trap.type == snmp::kPduSnmpV2Trap) {
        // The second binding of a notification is snmpTrapOID.0 with the trap's identity.
        std::string identity = "unknown";
        if (trap.varBinds.count() >= 2 &&
            trap.varBinds.items[1].value.syntax == snmp::kTagObjectId) {
            char text[kLogValueCapacity];
            if (snmp::oidToText(trap.varBinds.items[1].value.oid, sizeof text, text) != 0) {
                identity = text;
            }
        }
        std::snprintf(line, sizeof line, kV2TrapIgnoredReport, identity.c_str());
    } else {
        const char* name = genericTrapName(trap.genericTrap);
        const std::string number = std::to_string(trap.genericTrap);
        std::snprintf(line, sizeof line, kTrapIgnoredReport,
                      name != nullptr ? name : number.c_str(), trap.specificTrap);
    }
    return line;
}

const char* pduLabel(uint32_t type, bool forStatusList) {
    switch (type) {
        case snmp::kPduGetRequest:
            return forStatusList ? "Get Request" : "Get Request :";
        case snmp::kPduGetNextRequest:
            return forStatusList ? "GetNext Request" : "GetNext Request :";
        case snmp::kPduResponse:
            return forStatusList ? "Response" : "Response :";
        case snmp::kPduSetRequest:
            return forStatusList ? "Set Request" : "Set Request :";
        case snmp::kPduGetBulkRequest:
            return "GetBulk Request :";
        case snmp::kPduSnmpV2Trap:
            return "SNMPv2 Trap :";
        default:
            return forStatusList ? "Junk PDU Type" : "Junk PDU Type :";
    }
}

const char* errorStatusName(int32_t status) {
    const uint32_t low = static_cast<uint32_t>(status) & 0xFFFFu;
    return low < std::size(kErrorStatusNames) ? kErrorStatusNames[low] : "";
}

void valueToText(const snmp::VarBind& binding, char* oidText, std::size_t oidCapacity,
                 char* typeName, std::size_t typeCapacity, char* valueText,
                 std::size_t valueCapacity) {
    copyCut(oidText, oidCapacity, dottedText(binding.name, kNameTextLimit));

    const snmp::SyntaxValue& value = binding.value;
    const char* type = "unknown";
    char text[kOidValueTextLimit + 64] = "";
    switch (value.syntax) {
        case snmp::kTagInteger:
            type = "Integer";
            std::snprintf(text, sizeof text, "%ld", static_cast<long>(value.integer()));
            break;
        case snmp::kTagOctetString:
        case snmp::kTagOpaque:
            type = value.syntax == snmp::kTagOctetString ? "OctetString" : "Opaque";
            if (valueText != nullptr && valueCapacity > 0) {
                copyCut(typeName, typeCapacity, type);
                octetsToText(valueText, valueCapacity, value.octets.bytes.data(),
                             value.octets.bytes.size());
                return;
            }
            break;
        case snmp::kTagNull:
            type = "NULL";
            std::strcpy(text, "NULL");
            break;
        case snmp::kTagObjectId:
            type = "ObjectID";
            copyCut(text, sizeof text, dottedText(value.oid, kOidValueTextLimit));
            break;
        case snmp::kTagIpAddress: {
            type = "IpAddress";
            uint8_t address[4] = {0, 0, 0, 0};
            for (std::size_t i = 0; i < 4 && i < value.octets.bytes.size(); ++i) {
                address[i] = value.octets.bytes[i];
            }
            std::snprintf(text, sizeof text, "%u.%u.%u.%u", address[0], address[1], address[2],
                          address[3]);
            break;
        }
        case snmp::kTagCounter:
        case snmp::kTagGauge:
            // Shown through the signed format, so 4294967295 reads -1.
            type = value.syntax == snmp::kTagCounter ? "Counter" : "Gauge";
            std::snprintf(text, sizeof text, "%ld", static_cast<long>(value.integer()));
            break;
        case snmp::kTagTimeTicks:
            type = "TimeTicks";
            upTimeText(value.number, text, sizeof text);
            break;
        case snmp::kTagCounter64:
            type = "Counter64";
            std::snprintf(text, sizeof text, "%" PRIu64, value.counter64);
            break;
        case snmp::kTagNoSuchObject:
            type = "NoSuchObject";
            std::strcpy(text, "NULL");
            break;
        case snmp::kTagNoSuchInstance:
            type = "NoSuchInstance";
            std::strcpy(text, "NULL");
            break;
        case snmp::kTagEndOfMibView:
            type = "EndOfMibView";
            std::strcpy(text, "NULL");
            break;
        default:
            break;
    }
    copyCut(typeName, typeCapacity, type);
    copyCut(valueText, valueCapacity, text);
}

void octetsToText(char* out, std::size_t capacity, const uint8_t* bytes, std::size_t length) {
    if (out == nullptr || capacity == 0) {
        return;
    }
    out[0] = '\0';
    if (length == 0 || bytes == nullptr) {
        return;
    }
    bool printable = true;
    for (std::size_t i = 0; i < length && printable; ++i) {
        const uint8_t c = bytes[i];
        const bool lastZero = c == 0 && i + 1 == length;
        printable = (c >= 32 && c <= 126) || c == '\t' || lastZero;
    }
    if (printable) {
        std::size_t n = 0;
        while (n < length && n < capacity - 1 && bytes[n] != 0) {
            out[n] = static_cast<char>(bytes[n]);
            ++n;
        }
        out[n] = '\0';
        return;
    }
    octetsToHexText(out, capacity, bytes, length);
}

void octetsToHexText(char* out, std::size_t capacity, const uint8_t* bytes, std::size_t length) {
    if (out == nullptr || capacity < 3) {
        if (out != nullptr && capacity > 0) {
            out[0] = '\0';
        }
        return;
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::size_t n = 0;
    out[n++] = '0';
    out[n++] = 'x';
    for (std::size_t i = 0; i < length && n + 2 < capacity; ++i) {
        out[n++] = kHex[bytes[i] >> 4];
        out[n++] = kHex[bytes[i] & 0x0F];
    }
    out[n] = '\0';
}

void upTimeText(uint32_t ticks, char* out, std::size_t capacity) {
    if (out == nullptr || capacity == 0) {
        return;
    }
    std::snprintf(out, capacity, kUpTimeFormat, static_cast<unsigned long>(ticks / 360000u),
                  static_cast<unsigned long>(ticks / 6000u % 60u),
                  static_cast<int>(ticks / 100u % 60u));
}

bool oidTextToName(std::string& out, std::string_view numericText,
                   const mibinfo::MibInfo* mibInfo) {
    if (mibInfo == nullptr) {
        out.assign(numericText);
        return false;
    }
    return mibInfo->nameOf(numericText, out);
}

std::string timeStampText(int64_t calendarSeconds) {
    const std::time_t t = static_cast<std::time_t>(calendarSeconds);
    std::tm local{};
    if (::localtime_r(&t, &local) == nullptr) {
        return std::string(24, ' ');
    }
    char text[64];
    std::snprintf(text, sizeof text, "%s %s %2d %02d:%02d:%02d %04d",
                  kWeekdays[(local.tm_wday % 7 + 7) % 7], kMonths[(local.tm_mon % 12 + 12) % 12],
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, local.tm_year + 1900);
    return text;
}

uint64_t debugMaxSizeFromText(std::string_view text) {
    const long number = readSettingNumber(text);
    uint64_t megabytes = number < 1 ? kDefaultDebugMaxMegabytes : static_cast<uint64_t>(number);
    if (megabytes > kLargestDebugMaxMegabytes) {
        megabytes = kLargestDebugMaxMegabytes;
    }
    return megabytes * 1024u * 1024u;
}

Result DebugLog::create(const std::string& path) {
    // Opened without waiting: a FIFO in the log's place would otherwise hold the start until
    // something reads it. A FIFO or a socket is refused; a device (/dev/null) is taken.
    UniqueFd file(::open(path.c_str(),
                         O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644));
    if (!file) {
        // ENXIO: a FIFO that nothing reads.
        return Result::failure(errno == ENXIO ? kNotRegularFileText : std::strerror(errno));
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) {
        return Result::failure(std::strerror(errno));
    }
    if (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) {
        return Result::failure(kNotRegularFileText);
    }
    const int flags = ::fcntl(file.get(), F_GETFL);
    if (flags >= 0) {
        (void)::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK);
    }
    rotatable_ = S_ISREG(info.st_mode);
    file_ = std::move(file);
    path_ = path;
    failing_ = false;
    return {};
}

void DebugLog::write(std::string_view text) {
    // Every write goes to the end, whose offset is the file's size: the limit costs nothing
    // more than the seek every record takes anyway.
    const off_t end = ::lseek(file_.get(), 0, SEEK_END);
    if (sizeLimit_ > 0 && rotatable_ && end > 0 &&
        static_cast<uint64_t>(end) + text.size() > sizeLimit_) {
        rotate();
        ::lseek(file_.get(), 0, SEEK_END);
    }
    const int error = writeAll(file_.get(), text);
    if (error != 0) {
        writeFailed(error);
    } else if (failing_) {
        failing_ = false;
        report(kDebugWriteResumedText);
    }
}

void DebugLog::rotate() {
    // The new generation is made first, under a name of its own, so that a failure at any
    // step leaves the current file where it was, under its own name; only that file is
    // then emptied to keep the limit.
    const std::string older = path_ + ".1";
    const std::string next = path_ + ".next";
    UniqueFd fresh(
        ::open(next.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644));
    int error = fresh ? 0 : errno;
    if (fresh && ::rename(path_.c_str(), older.c_str()) != 0) {
        error = errno;
    } else if (fresh && ::rename(next.c_str(), path_.c_str()) != 0) {
        error = errno;
        (void)::rename(older.c_str(), path_.c_str());  // the current file back in its place
    } else if (fresh) {
        file_ = std::move(fresh);
        return;
    }
    if (fresh) {
        (void)::unlink(next.c_str());
    }
    writeFailed(error);
    if (::ftruncate(file_.get(), 0) != 0) {
        // The next write reports it.
    }
}

void DebugLog::writeFailed(int error) {
    if (failing_) {
        return;
    }
    failing_ = true;
    report(kDebugWriteFailedText, std::strerror(error));
}

void DebugLog::report(const char* format, const char* reason) const {
    if (report_) {
        char line[512];
        std::snprintf(line, sizeof line, format, shownName_.c_str(), reason);
        report_(line);
    }
}

void DebugLog::dumpPdu(const snmp::Pdu& pdu) {
    if (!file_) {
        return;
    }
    std::string record;
    if (timestamp_) {
        const int64_t now = clock_ != nullptr ? clock_->calendarSeconds()
                                              : SystemClock::instance().calendarSeconds();
        appendFormat(record, kDebugTimeStampFormat, timeStampText(now).c_str());
    }
    headerLine(record, pdu, false);
    int number = 1;
    for (const snmp::VarBind& binding : pdu.varBinds.items) {
        bindingLine(record, binding, number++, mibInfo_.get(), false);
    }
    write(record);
}

void DebugLog::append(std::string_view text) {
    if (!file_) {
        return;
    }
    write(text);
}

void dumpPduToList(const snmp::Pdu& pdu, const mibinfo::MibInfo* mibInfo,
                   const std::function<void(const char* line)>& report) {
    if (!report) {
        return;
    }
    std::string line;
    headerLine(line, pdu, true);
    report(line.c_str());
    int number = 1;
    for (const snmp::VarBind& binding : pdu.varBinds.items) {
        line.clear();
        bindingLine(line, binding, number++, mibInfo, true);
        report(line.c_str());
    }
}

}  // namespace korvimo
