#include "store/value_slots.h"

#include <cstring>
#include <new>
#include <string>

#include "snmp/ber.h"
#include "store/attribute_file.h"

namespace korvimo::store {

namespace {

using snmp::kTagCounter64;
using snmp::kTagInteger;
using snmp::kTagIpAddress;
using snmp::kTagNull;
using snmp::kTagObjectId;
using snmp::kTagOctetString;
using snmp::kTagOpaque;

// Buffer sizes of stored values, which decide whether an initial value fits.
constexpr int64_t kOctetBuffer = 512;
constexpr int64_t kObjectIdBuffer = 256;
// Fixed identifier text up to this length is parsed without an allocation.
constexpr std::size_t kShortObjectIdText = 3000;

uint64_t packAddress(const uint8_t address[4]) {
    return (static_cast<uint64_t>(address[0]) << 24) | (static_cast<uint64_t>(address[1]) << 16) |
           (static_cast<uint64_t>(address[2]) << 8) | address[3];
}

void serveAddress(snmp::SyntaxValue& value, uint64_t packed) {
    value.syntax = kTagIpAddress;
    value.octets.bytes.resize(4);
    for (int i = 0; i < 4; ++i) {
        value.octets.bytes[i] = static_cast<uint8_t>(packed >> (24 - 8 * i));
    }
}

// Parses dotted text held in memory that ends in a zero octet; 0.0 when it does not parse
// into the two sub-identifiers every encodable identifier has.
void serveObjectId(snmp::SyntaxValue& value, const char* text) {
    value.syntax = kTagObjectId;
    if (snmp::SnmpStrToOid(text, &value.oid) < 2) {
        value.oid.ids.assign({0, 0});
    }
}

// Characters of an identifier's dotted text.
std::size_t dottedLength(const snmp::ObjectId& oid) {
    std::size_t length = oid.ids.empty() ? 0 : oid.ids.size() - 1;
    for (uint32_t id : oid.ids) {
        do {
            ++length;
            id /= 10;
        } while (id != 0);
    }
    return length;
}

// Rate values are worked out in 128-bit fixed point, with shifts and no division: the rate
// per millisecond with 32 fractional bits (at most 10^12 · 2^32, below 2^72) times the
// milliseconds (at most kMaxRateMs) stays below 2^112.
__extension__ using Int128 = __int128;
__extension__ using UInt128 = unsigned __int128;
constexpr uint64_t kMaxRateMs = uint64_t{1} << 40;  // some 34 years
constexpr int kRateFraction = 32;

// PER_SECOND (in thousandths) as units per millisecond with kRateFraction fractional bits,
// rounded up so that whole numbers come out whole.
UInt128 ratePerMs(uint64_t perThousandSeconds) {
    const uint64_t whole = perThousandSeconds / 1000000;
    const uint64_t part = perThousandSeconds % 1000000;
    return (UInt128{whole} << kRateFraction) + ((part << kRateFraction) + 999999) / 1000000;
}

// The jitter: three piecewise linear curves with knots every kJitterSpacingMs, their heights
// within ±kKnotHeight. Their slopes sum to at most 3 · 2 · kKnotHeight < 2^kCurveBits per
// millisecond of height, so scaled by 2^-kCurveBits and by the percentage (as 1024ths,
// rounded down) they move the rate by at most JITTER_PERCENT.
constexpr uint64_t kJitterSpacingMs[3] = {5000, 60000, 300000};
constexpr int64_t kKnotHeight = 43690;
constexpr int kCurveBits = 18;

// The height of a curve's knot; the first knot of every curve is at 0, so the jitter adds
// nothing at the start.
int64_t knotHeight(uint64_t key, uint64_t index) {
    if (index == 0) {
        return 0;
    }
    uint64_t z = key + index * 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 31)) * 0xBF58476D1CE4E5B9ull;
    z ^= z >> 29;
    return static_cast<int64_t>(static_cast<int16_t>(z >> 48)) * 4 / 3;  // ±kKnotHeight
}

// One curve at t: S·h(i) + (h(i+1) − h(i))·r, where t = i·S + r.
template <uint64_t Spacing>
int64_t jitterCurve(uint64_t key, uint64_t t) {
    const uint64_t index = t / Spacing;
    const int64_t low = knotHeight(key, index);
    const int64_t high = knotHeight(key, index + 1);
    return low * static_cast<int64_t>(Spacing) + (high - low) * static_cast<int64_t>(t % Spacing);
}

// The curves summed at t (below 2^37 in magnitude); each curve has a key of its own.
int64_t jitterCurves(uint64_t key, uint64_t t) {
    return jitterCurve<kJitterSpacingMs[0]>(key, t) +
           jitterCurve<kJitterSpacingMs[1]>(key ^ 0x5851F42D4C957F2Dull, t) +
           jitterCurve<kJitterSpacingMs[2]>(key ^ 0x14057B7EF767814Full, t);
}

static_assert(3 * 2 * kKnotHeight < (int64_t{1} << kCurveBits));

void clearValue(snmp::SyntaxValue& value, uint8_t syntax) {
    value.syntax = syntax;
    value.number = 0;
    value.counter64 = 0;
    value.octets.bytes.clear();
    value.oid.ids.clear();
}

}  // namespace

std::string_view initialValueText(std::string_view expression, Behaviour behaviour) {
    return behaviour == Behaviour::RLastset ? readRangedArguments(expression).value
                                            : valueText(expression);
}

int64_t initialValueRoom(std::string_view expression, Behaviour behaviour, uint8_t syntax) {
    int64_t octetBuffer = kOctetBuffer;
    int64_t opaqueBuffer = kOctetBuffer;
    int64_t objectIdBuffer = kObjectIdBuffer;
    if (behaviour == Behaviour::RLastset) {
        const RangedArguments ranged = readRangedArguments(expression);
        if (ranged.max != -1) {
            octetBuffer = static_cast<int64_t>(ranged.max) + 5;
            opaqueBuffer = static_cast<int64_t>(ranged.max) + 1;
            objectIdBuffer = static_cast<int64_t>(ranged.max) * 8;
        }
    }
    switch (syntax) {
        case kTagOctetString:
            return octetBuffer;
        case kTagOpaque:
            return opaqueBuffer - 1;  // the buffer also holds the zero octet that ends the value
        case kTagObjectId:
            return objectIdBuffer - 1;  // and the zero that ends the text
        default:
            return INT64_MAX;
    }
}

bool ValueSlots::allocate(uint32_t capacity, uint32_t inUse) {
    clear();
    try {
        slots_.resize(inUse < capacity ? inUse : capacity);
        limit_ = capacity;
    } catch (const std::bad_alloc&) {
        clear();
        return false;
    }
    return true;
}

void ValueSlots::clear() {
    std::vector<ValueSlot>().swap(slots_);
    std::vector<uint32_t>().swap(freeOrdinals_);
    nextFresh_ = 0;
    limit_ = 0;
}

bool ValueSlots::copyFrom(const ValueSlots& initial) {
    clear();
    try {
        slots_.resize(initial.slots_.size());
        for (std::size_t i = 0; i < slots_.size(); ++i) {
            const ValueSlot& from = initial.slots_[i];
            slots_[i].number = from.number;
            if (from.bytes) {
                setBytes(static_cast<uint32_t>(i), from.bytes.get(),
                         static_cast<std::size_t>(from.number));
            }
        }
        freeOrdinals_ = initial.freeOrdinals_;
    } catch (const std::bad_alloc&) {
        clear();
        return false;
    }
    nextFresh_ = initial.nextFresh_;
    limit_ = initial.limit_;
    return true;
}

bool ValueSlots::takeOrdinal(uint32_t& ordinal) {
    if (!freeOrdinals_.empty()) {
        ordinal = freeOrdinals_.back();
        freeOrdinals_.pop_back();
        return true;
    }
    if (nextFresh_ >= capacity()) {
        return false;
    }
    if (slots_.size() <= nextFresh_) {
        try {
            slots_.resize(nextFresh_ + 1);
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    ordinal = nextFresh_++;
    return true;
}

void ValueSlots::giveBack(uint32_t ordinal) {
    try {
        freeOrdinals_.push_back(ordinal);
    } catch (const std::bad_alloc&) {
        // The ordinal stays unused; fresh ones still serve.
    }
}

uint32_t ValueSlots::draw() {
    random_ = random_ * 214013u + 2531011u;
    return (random_ >> 16) & 0x7FFFu;
}

void ValueSlots::setBytes(uint32_t ordinal, const uint8_t* bytes, std::size_t length) {
    ValueSlot& slot = slots_[ordinal];
    auto copy = std::make_unique<uint8_t[]>(length + 1);
    if (length > 0) {
        std::memcpy(copy.get(), bytes, length);
    }
    copy[length] = 0;
    slot.bytes = std::move(copy);
    slot.number = length;
}

std::basic_string_view<uint8_t> ValueSlots::bytes(uint32_t ordinal) const {
    const ValueSlot& slot = slots_[ordinal];
    if (!slot.bytes) {
        return {};
    }
    return {slot.bytes.get(), static_cast<std::size_t>(slot.number)};
}

bool ValueSlots::setUp(uint32_t ordinal, std::string_view expression, uint8_t syntax) {
    if (!holds(ordinal)) {
        return false;
    }
    release(ordinal);
    ValueSlot& slot = slots_[ordinal];
    const Behaviour behaviour = recogniseForSetUp(expression);
    try {
        if (isStoredBehaviour(behaviour)) {
            const std::string_view text = initialValueText(expression, behaviour);
            const int64_t room = initialValueRoom(expression, behaviour, syntax);
            if (isNumberSyntax(syntax)) {
                slot.number = static_cast<uint32_t>(readNumber(text));
            } else if (syntax == kTagOctetString || syntax == kTagOpaque) {
                std::vector<uint8_t> octets;
                readOctets(text, octets);
                const std::size_t length =
                    static_cast<int64_t>(octets.size()) > room ? 0 : octets.size();
                setBytes(ordinal, octets.data(), length);
            } else if (syntax == kTagObjectId) {
                const std::size_t length =
                    static_cast<int64_t>(text.size()) > room ? 0 : text.size();
                setBytes(ordinal, reinterpret_cast<const uint8_t*>(text.data()), length);
            } else if (syntax == kTagIpAddress) {
                uint8_t address[4] = {0, 0, 0, 0};
                slot.number = readDottedQuad(text, address) ? packAddress(address) : 0;
            } else if (syntax == kTagCounter64) {
                slot.number = readUnsigned64(text);
            }
            return true;
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    switch (behaviour) {
        case Behaviour::Randomup:
        case Behaviour::Random:
        case Behaviour::Clock:
        case Behaviour::Sequential:
        case Behaviour::Rowstatus:
        case Behaviour::Seqinc:
        case Behaviour::Seqtimeinc:
            slot.number = static_cast<uint32_t>(readArguments(expression).value[0]);
            break;
        case Behaviour::Rate: {
            // A row made while the agent runs starts at START from now on.
            const RateArguments rate = readRateArguments(expression);
            const uint64_t start =
                syntax == snmp::kTagGauge && rate.start > UINT32_MAX ? UINT32_MAX : rate.start;
            slot.number = start - rateGrowth(ordinal, rate, elapsedMs());
            break;
        }
        default:
            break;
    }
    return true;
}

uint64_t ValueSlots::elapsedMs() {
    if (clock_ == nullptr) {
        return 0;
    }
    uint64_t now = 0;
    if (!frozen_) {
        now = clock_->monotonicMs();
    } else {
        if (!frozenRead_) {
            frozenMs_ = clock_->monotonicMs();
            frozenRead_ = true;
        }
        now = frozenMs_;
    }
    return now > startMs_ ? now - startMs_ : 0;
}

uint64_t ValueSlots::rateGrowth(uint32_t ordinal, const RateArguments& rate, uint64_t t,
                                bool* past64) const {
    t = t < kMaxRateMs ? t : kMaxRateMs;
    const UInt128 perMs = ratePerMs(rate.perThousandSeconds);
    const UInt128 grown = perMs * t;  // units with kRateFraction fractional bits
    if (rate.jitterPercent == 0 || perMs == 0) {
        if (past64 != nullptr) {
            *past64 = (grown >> kRateFraction) > UINT64_MAX;
        }
        return static_cast<uint64_t>(grown >> kRateFraction);  // a Counter64 wraps
    }
    const uint64_t key =
        ((static_cast<uint64_t>(jitterKey_) << 32) | ordinal) * 0xD6E8FEB86659FD93ull;
    const int64_t share = static_cast<int64_t>(rate.jitterPercent * 1024 / 100);
    // floor((grown · 2^c + share · perMs · curves) / 2^(f + c + 10)), f the fraction bits and
    // c kCurveBits, split so that nothing overflows: whole units of grown, then the rest.
    constexpr int kShift = kRateFraction + kCurveBits + 10;
    const Int128 rest =
        static_cast<Int128>((grown & ((UInt128{1} << kRateFraction) - 1)) << (kCurveBits + 10)) +
        static_cast<Int128>(perMs) * (share * jitterCurves(key, t));
    // The slope never goes below 0, so neither does the sum.
    const Int128 sum = static_cast<Int128>(grown >> kRateFraction) + (rest >> kShift);
    if (past64 != nullptr) {
        *past64 = sum > static_cast<Int128>(UINT64_MAX);
    }
    return static_cast<uint64_t>(sum);
}

int32_t ValueSlots::randomStep(const ExpressionArguments& arguments) {
    const int64_t max = arguments.value[1] == 0 ? 100 : arguments.value[1];
    const int64_t min = arguments.value[2] == 0 ? 1 : arguments.value[2];
    const int64_t width = max - min + 1;
    const int64_t drawn = draw();
    if (width == 0) {
        return 0;
    }
    return static_cast<int32_t>(static_cast<uint32_t>(drawn % width + min));
}

void ValueSlots::serveStored(snmp::SyntaxValue& value, uint8_t syntax,
                             const ValueSlot& slot) const {
    if (isNumberSyntax(syntax)) {
        value.number = static_cast<uint32_t>(slot.number);
        return;
    }
    const uint8_t* bytes = slot.bytes.get();
    const std::size_t length = bytes != nullptr ? static_cast<std::size_t>(slot.number) : 0;
    switch (syntax) {
        case kTagOctetString:
            value.octets.bytes.assign(bytes, bytes + length);
            break;
        case kTagOpaque: {
            const void* zero = length > 0 ? std::memchr(bytes, 0, length) : nullptr;
            const std::size_t served =
                zero != nullptr
                    ? static_cast<std::size_t>(static_cast<const uint8_t*>(zero) - bytes)
                    : length;
            value.octets.bytes.assign(bytes, bytes + served);
            break;
        }
        case kTagObjectId:
            serveObjectId(value, bytes != nullptr ? reinterpret_cast<const char*>(bytes) : "");
            break;
        case kTagIpAddress:
            serveAddress(value, slot.number);
            break;
        case kTagCounter64:
            value.counter64 = slot.number;
            break;
        default:
            value.syntax = kTagNull;
            break;
    }
}

bool ValueSlots::makeValue(snmp::SyntaxValue& value, uint8_t syntax, uint32_t ordinal,
                           std::string_view expression) {
    if (!holds(ordinal)) {
        return false;
    }
    const Behaviour behaviour = recogniseForValue(expression);
    if (behaviour == Behaviour::None || !behaviourFitsSyntax(behaviour, syntax)) {
        return true;
    }
    if (behaviour == Behaviour::Fixed) {
        convertFixedText(valueText(expression), syntax, value);  // clears the value itself
        return true;
    }
    clearValue(value, syntax);
    ValueSlot& slot = slots_[ordinal];
    const uint32_t x = static_cast<uint32_t>(slot.number);
    switch (behaviour) {
        case Behaviour::Dfixed:
        case Behaviour::Lastset:
        case Behaviour::RLastset:
            serveStored(value, syntax, slot);
            return true;
        case Behaviour::Rate: {
            bool past64 = false;
            const uint64_t growth =
                rateGrowth(ordinal, readRateArguments(expression), elapsedMs(), &past64);
            if (syntax == snmp::kTagGauge) {
                // The origin of a Gauge is START (at most 2^32 - 1) less what had grown by its
                // set-up, so it reads as a signed number; the Gauge stays at its maximum.
                const Int128 sum = Int128{static_cast<int64_t>(slot.number)} + growth;
                value.number = past64 || sum > UINT32_MAX ? UINT32_MAX
                               : sum < 0                  ? 0
                                                          : static_cast<uint32_t>(sum);
            } else if (syntax == kTagCounter64) {
                value.counter64 = slot.number + growth;  // wraps as a Counter64 does
            } else {
                value.number = static_cast<uint32_t>(slot.number + growth);
            }
            return true;
        }
        case Behaviour::Low32:
            return true;  // the store serves it: it reads another attribute
        default:
            break;
    }
    const ExpressionArguments arguments = readArguments(expression);
    const uint32_t a1 = static_cast<uint32_t>(arguments.value[0]);
    const uint32_t a2 = static_cast<uint32_t>(arguments.value[1]);
    const int32_t a3 = arguments.value[2];
    uint32_t served = x;
    switch (behaviour) {
        case Behaviour::Randomup: {
            const uint32_t step = static_cast<uint32_t>(randomStep(arguments));
            if (syntax == kTagCounter64) {
                slot.number += step;
                value.counter64 = slot.number;
                return true;
            }
            served = x + step;
            slot.number = served;
            break;
        }
        case Behaviour::Random: {
            const uint32_t step = static_cast<uint32_t>(randomStep(arguments));
            served = (step & 1u) != 0 ? x + step : x - step;
            if (static_cast<int32_t>(served) < 0) {
                served = 0;
            }
            slot.number = served;
            break;
        }
        case Behaviour::Clock:
            served = x + static_cast<uint32_t>(elapsedMs() / 10);
            break;
        case Behaviour::Sequential:
            served = x + 1u;
            if (a2 != 0 && served > a2) {
                served = a1;
            }
            slot.number = served;
            break;
        case Behaviour::Seqinc:
            served = x + a2;
            if (a3 != 0 && static_cast<int32_t>(served) > a3) {
                served = a1;
            }
            slot.number = served;
            break;
        case Behaviour::Seqtimeinc: {
            uint32_t step = 0;
            if (a2 != 0) {
                const uint32_t steps = (0xFFFFFFFFu - a1) / a2;
                step = steps != 0 ? static_cast<uint32_t>(elapsedMs() / 1000) % steps : 0;
            }
            served = a1 + a2 * step;
            if (a3 != 0 && static_cast<int32_t>(served) > a3) {
                served = static_cast<uint32_t>(a3);
            }
            break;
        }
        default:  // rowstatus
            break;
    }
    if (syntax == kTagCounter64) {
        value.counter64 = served;
    } else {
        value.number = served;
    }
    return true;
}

bool ValueSlots::checkSet(const snmp::SyntaxValue& value, std::string_view expression,
                          bool newInstance, int32_t& status) const {
    status = 0;
    const Behaviour behaviour = recogniseForSetUp(expression);
    if (!newInstance && behaviour != Behaviour::Lastset && behaviour != Behaviour::RLastset) {
        status = snmp::kNotWritable;
        return false;
    }
    const std::size_t length = value.octets.bytes.size();
    if (behaviour == Behaviour::RLastset) {
        const RangedArguments ranged = readRangedArguments(expression);
        if (ranged.max != -1) {
            const int64_t min = ranged.min;
            const int64_t max = ranged.max;
            bool fits = true;
            switch (value.syntax) {
                case kTagInteger:
                    fits = min <= value.integer() && value.integer() <= max;
                    status = snmp::kWrongValue;
                    break;
                case snmp::kTagCounter:
                case snmp::kTagGauge:
                case snmp::kTagTimeTicks:
                    fits = static_cast<uint32_t>(ranged.min) <= value.number &&
                           value.number <= static_cast<uint32_t>(ranged.max);
                    status = snmp::kWrongValue;
                    break;
                case kTagOctetString:
                case kTagOpaque:
                    fits =
                        min <= static_cast<int64_t>(length) && static_cast<int64_t>(length) <= max;
                    status = snmp::kWrongLength;
                    break;
                case kTagObjectId:
                    fits = min <= static_cast<int64_t>(value.oid.count()) &&
                           static_cast<int64_t>(value.oid.count()) <= max;
                    status = snmp::kWrongLength;
                    break;
                case kTagIpAddress:
                    fits = length == 4;
                    status = snmp::kWrongLength;
                    break;
                default:
                    break;
            }
            if (fits) {
                status = 0;
            }
            return fits;
        }
    }
    bool fits = true;
    switch (value.syntax) {
        case kTagOctetString:
        case kTagOpaque:
            fits = length <= kMaxSetValue;
            break;
        case kTagObjectId:
            fits = dottedLength(value.oid) <= kMaxSetValue;
            break;
        case kTagIpAddress:
            fits = length == 4;
            break;
        default:
            break;
    }
    if (!fits) {
        status = snmp::kWrongLength;
    }
    return fits;
}

void ValueSlots::storeSet(const snmp::SyntaxValue& value, uint8_t syntax, uint32_t ordinal,
                          std::string_view expression) {
    if (!holds(ordinal)) {
        return;
    }
    ValueSlot& slot = slots_[ordinal];
    const Behaviour behaviour = recogniseForSetUp(expression);
    const bool buffered = isStoredBehaviour(behaviour);
    if (behaviour == Behaviour::Rate) {
        // The new row's counter starts at the value set, from now on.
        const uint64_t start = syntax == kTagCounter64 ? value.counter64 : value.number;
        slot.number = start - rateGrowth(ordinal, readRateArguments(expression), elapsedMs());
        return;
    }
    if (isNumberSyntax(syntax)) {
        slot.number = value.number;
        return;
    }
    switch (syntax) {
        case kTagIpAddress: {
            uint8_t address[4] = {0, 0, 0, 0};
            for (std::size_t i = 0; i < 4 && i < value.octets.bytes.size(); ++i) {
                address[i] = value.octets.bytes[i];
            }
            slot.number = packAddress(address);
            break;
        }
        case kTagOctetString:
        case kTagOpaque:
            if (buffered) {
                setBytes(ordinal, value.octets.bytes.data(), value.octets.bytes.size());
            }
            break;
        case kTagObjectId:
            if (buffered) {
                const std::string text = identifierText(value.oid.ids);
                setBytes(ordinal, reinterpret_cast<const uint8_t*>(text.data()), text.size());
            }
            break;
        case kTagCounter64:
            if (buffered) {
                slot.number = value.counter64;
            }
            break;
        default:
            break;
    }
}

void ValueSlots::release(uint32_t ordinal) {
    if (holds(ordinal)) {
        slots_[ordinal].number = 0;
        slots_[ordinal].bytes.reset();
    }
}

void convertFixedText(std::string_view text, uint8_t syntax, snmp::SyntaxValue& value) {
    clearValue(value, syntax);
    if (isNumberSyntax(syntax)) {
        value.number = static_cast<uint32_t>(readNumber(text));
        return;
    }
    switch (syntax) {
        case kTagOctetString:
        case kTagOpaque:
            readOctets(text, value.octets.bytes);
            break;
        case kTagObjectId: {
            // The text is parsed from a terminated copy; on the stack unless it is long.
            char copy[kShortObjectIdText + 1];
            if (text.size() <= kShortObjectIdText) {
                if (!text.empty()) {  // an empty view may have no data at all
                    std::memcpy(copy, text.data(), text.size());
                }
                copy[text.size()] = '\0';
                serveObjectId(value, copy);
            } else {
                serveObjectId(value, std::string(text).c_str());
            }
            break;
        }
        case kTagIpAddress: {
            uint8_t address[4] = {0, 0, 0, 0};
            serveAddress(value, readDottedQuad(text, address) ? packAddress(address) : 0);
            break;
        }
        case kTagCounter64:
            value.counter64 = readUnsigned64(text);
            break;
        default:
            value.syntax = kTagNull;
            break;
    }
}

}  // namespace korvimo::store
