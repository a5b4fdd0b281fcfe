#include "kmx/type_facts.h"

#include <cstdint>
#include <optional>

namespace korvimo::kmx {

namespace {

struct BaseName {
    std::string_view smiName;
    std::string_view name;
};

// libsmi's built-in base types (module name empty).
constexpr BaseName kBuiltInBases[] = {
    {"Integer32", "Integer"},
    {"OctetString", "OctetString"},
    {"ObjectIdentifier", "ObjectID"},
    {"Unsigned32", "Unsigned32"},
    {"Unsigned64", "Counter64"},
    {"Integer64", "Counter64"},
    {"Enumeration", "Integer"},
    {"Bits", "Bits"},
    {"Float32", "Opaque"},
    {"Float64", "Opaque"},
    {"Float128", "Opaque"},
    {"Pointer", "ObjectID"},
};

// Application types that the SMI modules define; zorlet's base-type table knows their names.
constexpr std::string_view kApplicationTypes[] = {
    "Integer32", "Counter32",  "Counter64", "Gauge32", "TimeTicks",      "IpAddress",
    "Opaque",    "Unsigned32", "Counter",   "Gauge",   "NetworkAddress",
};

constexpr std::string_view kSmiModules[] = {"SNMPv2-SMI", "RFC1155-SMI", "RFC1065-SMI"};

std::optional<std::string_view> baseNameOf(SmiType* type) {
    if (type->name == nullptr) {
        return std::nullopt;
    }
    std::string_view name(type->name);
    std::string_view module = typeModuleName(type);
    if (module.empty()) {
        for (const BaseName& b : kBuiltInBases) {
            if (b.smiName == name) {
                return b.name;
            }
        }
        return std::nullopt;
    }
    for (std::string_view smi : kSmiModules) {
        if (module != smi) {
            continue;
        }
        for (std::string_view app : kApplicationTypes) {
            if (app == name) {
                return app == "Integer32" ? std::string_view("Integer") : app;
            }
        }
    }
    return std::nullopt;
}

// A range bound as a number of its own kind.
struct Bound {
    bool isSigned = true;
    std::int64_t s = 0;
    std::uint64_t u = 0;
};

Bound boundOf(const SmiValue& value) {
    Bound b;
    switch (value.basetype) {
        case SMI_BASETYPE_UNSIGNED32:
            b.isSigned = false;
            b.u = value.value.unsigned32;
            break;
        case SMI_BASETYPE_UNSIGNED64:
            b.isSigned = false;
            b.u = value.value.unsigned64;
            break;
        case SMI_BASETYPE_INTEGER64:
            b.s = value.value.integer64;
            break;
        default:
            b.s = value.value.integer32;
            break;
    }
    return b;
}

bool less(const Bound& a, const Bound& b) {
    if (a.isSigned && b.isSigned) {
        return a.s < b.s;
    }
    if (!a.isSigned && !b.isSigned) {
        return a.u < b.u;
    }
    if (a.isSigned) {
        return a.s < 0 || static_cast<std::uint64_t>(a.s) < b.u;
    }
    return b.s >= 0 && a.u < static_cast<std::uint64_t>(b.s);
}

std::string boundText(const Bound& b) {
    return b.isSigned ? std::to_string(b.s) : std::to_string(b.u);
}

// The outermost bounds of the values seen, written "(low,high)".
class Span {
  public:
    void take(const Bound& low, const Bound& high) {
        if (empty_ || less(low, low_)) {
            low_ = low;
        }
        if (empty_ || less(high_, high)) {
            high_ = high;
        }
        empty_ = false;
    }
    std::string text() const {
        return empty_ ? std::string() : "(" + boundText(low_) + "," + boundText(high_) + ")";
    }

  private:
    bool empty_ = true;
    Bound low_;
    Bound high_;
};

std::string rangeOf(SmiType* type) {
    Span span;
    for (SmiRange* range = smiGetFirstRange(type); range != nullptr;
         range = smiGetNextRange(range)) {
        span.take(boundOf(range->minValue), boundOf(range->maxValue));
    }
    return span.text();
}

std::string enumerationSpan(SmiType* type) {
    Span span;
    for (SmiNamedNumber* number = smiGetFirstNamedNumber(type); number != nullptr;
         number = smiGetNextNamedNumber(number)) {
        const Bound value = boundOf(number->value);
        span.take(value, value);
    }
    return span.text();
}

}  // namespace

std::string_view typeModuleName(SmiType* type) {
    SmiModule* module = smiGetTypeModule(type);
    return module != nullptr && module->name != nullptr ? std::string_view(module->name)
                                                        : std::string_view();
}

bool isBaseType(SmiType* type) {
    return baseNameOf(type).has_value();
}

TypeFacts describeType(SmiType* type) {
    TypeFacts facts;
    bool rowStatus = false;
    bool displayString = false;
    bool physAddress = false;
    bool rangeFound = false;
    // Parent chains are short, but a bound keeps a damaged chain from looping.
    constexpr int kMaxDepth = 64;
    int depth = 0;
    for (SmiType* t = type; t != nullptr && depth < kMaxDepth; t = smiGetParentType(t), ++depth) {
        if (std::optional<std::string_view> base = baseNameOf(t)) {
            facts.baseName = *base;
            break;
        }
        if (t->name != nullptr) {
            std::string_view name(t->name);
            if (facts.namedType == nullptr) {
                facts.namedType = t;
            }
            rowStatus = rowStatus || name == "RowStatus";
            displayString = displayString || name == "DisplayString";
            physAddress = physAddress || name == "PhysAddress" || name == "MacAddress";
        }
        if (t->format != nullptr && std::string_view(t->format) == "255a") {
            displayString = true;
        }
        if (!rangeFound) {
            facts.range = rangeOf(t);
            rangeFound = !facts.range.empty();
        }
        if (facts.enumerationType == nullptr && smiGetFirstNamedNumber(t) != nullptr &&
            t->basetype == SMI_BASETYPE_ENUM) {
            facts.enumerationType = t;
        }
    }
    if (facts.baseName.empty()) {
        // A type whose chain ends without a known base: judge by libsmi's base type.
        switch (type != nullptr ? type->basetype : SMI_BASETYPE_UNKNOWN) {
            case SMI_BASETYPE_OCTETSTRING:
                facts.baseName = "OctetString";
                break;
            case SMI_BASETYPE_OBJECTIDENTIFIER:
                facts.baseName = "ObjectID";
                break;
            case SMI_BASETYPE_UNSIGNED32:
                facts.baseName = "Unsigned32";
                break;
            case SMI_BASETYPE_UNSIGNED64:
                facts.baseName = "Counter64";
                break;
            case SMI_BASETYPE_BITS:
                facts.baseName = "Bits";
                break;
            default:
                facts.baseName = "Integer";
                break;
        }
    }
    if (facts.enumerationType != nullptr) {
        if (facts.range.empty()) {
            facts.range = enumerationSpan(facts.enumerationType);
        }
        facts.marker = rowStatus ? 'r' : 'e';
    } else if (displayString) {
        facts.marker = 'd';
    } else if (physAddress) {
        facts.marker = 'p';
    }
    return facts;
}

std::string rangeAndMarker(const TypeFacts& facts) {
    std::string text = facts.range;
    if (facts.marker != 0) {
        if (!text.empty()) {
            text.push_back(' ');
        }
        text.push_back(facts.marker);
    }
    return text;
}

}  // namespace korvimo::kmx
