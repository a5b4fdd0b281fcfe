// Per-request costs of the codec: decoding a request, encoding a response, and sizing a
// binding before it is added to a response.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "snmp/message.h"

using namespace korvimo::snmp;

namespace {

ObjectId oid(const std::string& text) {
    ObjectId id;
    SnmpStrToOid(text.c_str(), &id);
    return id;
}

// A request or response with n bindings under the interfaces table.
Pdu message(uint32_t type, int n, bool withValues) {
    Pdu pdu;
    pdu.version = kVersion2c;
    pdu.community.bytes = {'p', 'u', 'b', 'l', 'i', 'c'};
    pdu.type = type;
    pdu.requestId = 0x12345678;
    for (int i = 0; i < n; ++i) {
        VarBind vb;
        vb.name = oid("1.3.6.1.2.1.2.2.1." + std::to_string(2 + i % 20) + "." + std::to_string(i));
        if (withValues && i % 3 == 0) {
            vb.value.syntax = kTagOctetString;
            vb.value.octets.bytes.assign(24, 'e');
        } else if (withValues && i % 3 == 1) {
            vb.value.syntax = kTagCounter;
            vb.value.number = 3000000000u + static_cast<uint32_t>(i);
        } else if (withValues) {
            vb.value.syntax = kTagObjectId;
            vb.value.oid = oid("1.3.6.1.4.1.8072.3.2.10");
        }
        pdu.varBinds.items.push_back(vb);
    }
    return pdu;
}

std::vector<uint8_t> encoded(const Pdu& pdu) {
    std::vector<uint8_t> out(kMaxMessageSize);
    uint32_t size = kMaxMessageSize;
    if (!SnmpEncodeMsg(&pdu, out.data(), &size)) {
        size = 0;
    }
    out.resize(size);
    return out;
}

void DecodeRequest(benchmark::State& state) {
    const std::vector<uint8_t> bytes =
        encoded(message(kPduGetNextRequest, static_cast<int>(state.range(0)), false));
    for (auto _ : state) {
        Pdu pdu;
        benchmark::DoNotOptimize(
            decodeMessage(bytes.data(), static_cast<uint32_t>(bytes.size()), &pdu));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(DecodeRequest)->Arg(1)->Arg(10)->Arg(40);

void EncodeResponse(benchmark::State& state) {
    const Pdu pdu = message(kPduResponse, static_cast<int>(state.range(0)), true);
    uint8_t out[kMaxMessageSize];
    for (auto _ : state) {
        uint32_t size = sizeof out;
        benchmark::DoNotOptimize(SnmpEncodeMsg(&pdu, out, &size));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(EncodeResponse)->Arg(1)->Arg(10)->Arg(30);

void SizeBinding(benchmark::State& state) {
    const Pdu pdu = message(kPduResponse, 30, true);
    for (auto _ : state) {
        uint32_t total = 0;
        for (const VarBind& vb : pdu.varBinds.items) {
            total += encodedVarBindSize(vb.name, vb.value);
        }
        benchmark::DoNotOptimize(total);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * 30));
}
BENCHMARK(SizeBinding);

void CompareNames(benchmark::State& state) {
    const ObjectId a = oid("1.3.6.1.2.1.2.2.1.10.1234");
    const ObjectId b = oid("1.3.6.1.2.1.2.2.1.10.1235");
    for (auto _ : state) {
        benchmark::DoNotOptimize(compareOid(a, b));
    }
}
BENCHMARK(CompareNames);

}  // namespace
