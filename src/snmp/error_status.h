// The error-status values of SNMP responses (RFC 1157 for SNMPv1, RFC 3416 for SNMPv2),
// defined once for the request handler, the variable store and the debug log.
#pragma once

#include <cstdint>

namespace korvimo::snmp {

inline constexpr int32_t kNoError = 0;
inline constexpr int32_t kTooBig = 1;
inline constexpr int32_t kNoSuchName = 2;
inline constexpr int32_t kBadValue = 3;
inline constexpr int32_t kReadOnly = 4;
inline constexpr int32_t kGenErr = 5;
inline constexpr int32_t kNoAccess = 6;
inline constexpr int32_t kWrongType = 7;
inline constexpr int32_t kWrongLength = 8;
inline constexpr int32_t kWrongEncoding = 9;
inline constexpr int32_t kWrongValue = 10;
inline constexpr int32_t kNoCreation = 11;
inline constexpr int32_t kInconsistentValue = 12;
inline constexpr int32_t kResourceUnavailable = 13;
inline constexpr int32_t kCommitFailed = 14;
inline constexpr int32_t kUndoFailed = 15;
inline constexpr int32_t kAuthorizationError = 16;
inline constexpr int32_t kNotWritable = 17;
inline constexpr int32_t kInconsistentName = 18;

// The name RFC 3416 gives an error status ("notWritable"); "genErr" for one it does not know.
inline const char* errorStatusName(int32_t status) {
    static constexpr const char* kNames[] = {"noError",
                                             "tooBig",
                                             "noSuchName",
                                             "badValue",
                                             "readOnly",
                                             "genErr",
                                             "noAccess",
                                             "wrongType",
                                             "wrongLength",
                                             "wrongEncoding",
                                             "wrongValue",
                                             "noCreation",
                                             "inconsistentValue",
                                             "resourceUnavailable",
                                             "commitFailed",
                                             "undoFailed",
                                             "authorizationError",
                                             "notWritable",
                                             "inconsistentName"};
    return status >= 0 && status <= kInconsistentName ? kNames[status] : "genErr";
}

}  // namespace korvimo::snmp
