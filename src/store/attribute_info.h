// AttributeInfo: what a lookup tells the request handler about one attribute or dynamic
// instance, and what the handler hands back to makeValue, checkSet and storeSet.
//
//   AttributeInfo found;
//   if (store.lookupAttribute(name, found) && isReadable(found.access))
//       store.makeValue(value, found);
#pragma once

#include <cstdint>
#include <string_view>

namespace korvimo::store {

// The access of a variable, from the access word of its line ("RO", "RW" or "RC", "WO",
// anything else). Marker is no access at all: the marker line of a dynamic column in the
// attribute file.
enum class Access : uint8_t { Marker = 0, ReadOnly = 1, ReadWrite = 2, WriteOnly = 3, None = 4 };

// Get, GetNext and GetBulk see ReadOnly and ReadWrite; Set reaches ReadWrite and WriteOnly.
inline bool isReadable(Access access) {
    return access == Access::ReadOnly || access == Access::ReadWrite;
}
inline bool isWritable(Access access) {
    return access == Access::ReadWrite || access == Access::WriteOnly;
}

struct AttributeInfo {
    uint8_t syntax = 0;  // syntax code: the BER tag the value is served with
    Access access = Access::Marker;
    uint32_t ordinal = 0;
    // The value expression. It stays valid until the store is released.
    std::string_view expression;
};

}  // namespace korvimo::store
