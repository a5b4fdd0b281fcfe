// libFuzzer target for the message decoder, the surface that takes any bytes from the
// network. Every input is decoded; a message that decodes is encoded again, and what that
// encoding decodes to must encode to the very same bytes. Each binding's computed size must
// equal the size encodeVarBind really uses. A failing decode or encode must say why.
//
//   fuzz_decode_message -max_total_time=600 corpus/      (corpus: a copy of tests/fuzz/corpus)
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_require.h"
#include "snmp/message.h"

using namespace korvimo::snmp;
using korvimo::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Pdu pdu;
    if (const korvimo::Result decoded = decodeMessage(data, static_cast<uint32_t>(size), &pdu);
        !decoded) {
        require(!decoded.text().empty());
        require(pdu.varBinds.count() == 0 && pdu.community.length() == 0);
        return 0;
    }

    static uint8_t scratch[kMaxMessageSize];
    for (const VarBind& vb : pdu.varBinds.items) {
        int32_t remaining = kMaxMessageSize;
        uint8_t* end = scratch;
        const korvimo::Result encoded = encodeVarBind(end, &remaining, vb.name, vb.value);
        require(encoded.ok() || !encoded.text().empty());
        const uint32_t used = encoded ? static_cast<uint32_t>(end - scratch) : 0;
        require(encodedVarBindSize(vb.name, vb.value) == used);
    }

    static uint8_t first[kMaxMessageSize];
    uint32_t firstSize = sizeof first;
    if (const korvimo::Result encoded = SnmpEncodeMsg(&pdu, first, &firstSize); !encoded) {
        require(!encoded.text().empty());
        return 0;
    }
    require(firstSize <= kMaxMessageSize);
    Pdu again;
    require(decodeMessage(first, firstSize, &again).ok());
    static uint8_t second[kMaxMessageSize];
    uint32_t secondSize = sizeof second;
    require(SnmpEncodeMsg(&again, second, &secondSize).ok());
    require(secondSize == firstSize && std::memcmp(first, second, firstSize) == 0);
    return 0;
}
