// AttributeInfo: what a lookup tells the request handler about one attribute or dynamic
// instance, and what the handler hands back to makeValue, checkSet and storeSet.
//
//   AttributeInfo found;
//   if (store.lookupAttribute(name, found) && found.access <= 2) store.makeValue(value, found);
#pragma once

#include <cstdint>
#include <string_view>

namespace korvimo::store {

struct AttributeInfo {
    uint8_t syntax = 0;  // syntax code: the BER tag the value is served with
    uint8_t access = 0;  // 1 read-only, 2 read-write or read-create, 3 write-only, 4 other
    uint32_t ordinal = 0;
    // The value expression. It stays valid until the store is released.
    std::string_view expression;
};

}  // namespace korvimo::store
