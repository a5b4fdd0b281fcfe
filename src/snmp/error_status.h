// The error-status values of SNMP responses (RFC 1157 for SNMPv1, RFC 3416 for SNMPv2),
// defined once for the request handler, the variable store and the debug log.
#pragma once

#include <cstdint>

namespace korvimo::snmp {

enum ErrorStatus : int32_t {
    kNoError = 0,
    kTooBig = 1,
    kNoSuchName = 2,
    kBadValue = 3,
    kReadOnly = 4,
    kGenErr = 5,
    kNoAccess = 6,
    kWrongType = 7,
    kWrongLength = 8,
    kWrongEncoding = 9,
    kWrongValue = 10,
    kNoCreation = 11,
    kInconsistentValue = 12,
    kResourceUnavailable = 13,
    kCommitFailed = 14,
    kUndoFailed = 15,
    kAuthorizationError = 16,
    kNotWritable = 17,
    kInconsistentName = 18,
};

}  // namespace korvimo::snmp
