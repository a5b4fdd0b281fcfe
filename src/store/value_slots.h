// ValueSlots: the state of every attribute's value behaviour, one slot per attribute ordinal,
// with the ordinal bookkeeping of dynamic rows and the random generator the behaviours draw
// from.
//
//   ValueSlots slots;
//   slots.allocate(attributes + reserve);
//   slots.setTimeBase(&clock, clock.monotonicMs());
//   slots.setUp(0, "randomup(0, 100)", kTagCounter);
//   slots.seed(5);
//   SyntaxValue v;
//   slots.makeValue(v, kTagCounter, 0, "randomup(0, 100)");  // 55
//
// What a slot holds, by behaviour:
//   fixed                      nothing; the value is read from the expression at every Get
//   dfixed, lastset, r_lastset the current value: a number (Integer, Counter, Gauge,
//                              TimeTicks; four address octets for IpAddress; 64 bits for
//                              Counter64) or the octets (OctetString, Bits, Opaque) or the
//                              dotted text (ObjectID), whose length `number` then holds
//   random, randomup, clock,   the current number, starting at the first argument (randomup
//   sequential, rowstatus      of Counter64 keeps 64 bits)
//   seqinc, seqtimeinc         the first argument
//   rate                       the value's origin: START less what the rate had added by
//                              the time the slot was set up (or last Set), modulo 2^64
//
// Time: clock serves hundredths of a second, stepping every 10 ms; seqtimeinc steps each
// whole second; rate grows with the milliseconds since the start. Between freezeTime and
// thawTime (one request) every reading is taken at one instant.
//
// rate(START, PER_SECOND, JITTER_PERCENT) serves START + floor(g(t)), t the milliseconds since
// the start: g grows at PER_SECOND plus a jitter that is a sum of three piecewise linear
// curves (knots every 5, 60 and 300 seconds, at heights drawn from a hash of the slot and
// the knot), scaled so that the growth over any interval stays within PER_SECOND ×
// (1 ± JITTER_PERCENT/100) and never runs backwards. The value is thus a function of the time
// alone: reads at one instant agree, and the rate a poller computes does not depend on how
// often it polls. Counter wraps modulo 2^32, Counter64 modulo 2^64, and Gauge stays at
// 4294967295 once it gets there, as a Gauge does.
//
// Choices where a behaviour's arithmetic has no sound result:
//   - Numeric behaviours (random, randomup, clock, sequential, seqinc, seqtimeinc, rowstatus)
//     serve only Integer, Counter, Gauge, TimeTicks and NULL, and randomup also Counter64. The
//     loader refuses other combinations with a message naming the line; should one reach
//     makeValue anyway, nothing is served (the handler's prepared NULL goes out).
//   - random and randomup whose min_delta is max_delta + 1 (a range of no values) step by 0:
//     the value stays where it is. Ranges are computed in 64 bits, so no bound overflows.
//   - seqtimeinc with an increment of 0 serves its min; when the step count
//     (4294967295 - min) / increment is 0 the elapsed step is 0 as well.
//   - An expression that matches no keyword keeps no state and makeValue leaves the value
//     as the caller prepared it (the request handler prepares NULL).
//   - fixed values of Counter64 serve the text read as an unsigned 64-bit number.
//   - ObjectID text that does not parse into at least two sub-identifiers (the fewest an
//     identifier can be encoded with) serves 0.0; IpAddress text that is not a dotted quad
//     of 0..255 serves 0.0.0.0.
//   - Stored values are kept whole: a slot holds exactly the value last accepted by checkSet,
//     so no length rule can cut or overrun it.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "app/core/clock.h"
#include "snmp/error_status.h"
#include "snmp/message.h"
#include "store/value_expression.h"

namespace korvimo::store {

// The longest value lastset and r_lastset without bounds accept, in octets or characters.
inline constexpr std::size_t kMaxSetValue = 256;

struct ValueSlot {
    uint64_t number = 0;
    // Octets or dotted text of a stored value, followed by a zero octet; number holds the
    // length. Null when there is no stored text.
    std::unique_ptr<uint8_t[]> bytes;
};

class ValueSlots {
  public:
    // Room for `capacity` slots, all empty; fails when memory runs out. Only the first inUse
    // are made at once (the attributes and listed instances); the rest, the dynamic-instance
    // reserve, cost nothing until takeOrdinal hands them out.
    bool allocate(uint32_t capacity, uint32_t inUse = UINT32_MAX);
    void clear();
    // Takes the slots (stored text included), ordinals and capacity of initial, as loading
    // set them up; the clock and the generator stay this store's own. False when memory runs
    // out (the slots are then empty).
    bool copyFrom(const ValueSlots& initial);
    uint32_t capacity() const { return limit_; }
    // Whether the slot of an ordinal exists (was set up at loading or handed out).
    bool holds(uint32_t ordinal) const { return ordinal < slots_.size(); }
    ValueSlot& at(uint32_t ordinal) { return slots_[ordinal]; }
    const ValueSlot& at(uint32_t ordinal) const { return slots_[ordinal]; }

    // Ordinals: the lowest never handed out, and the list of freed ones reused first.
    void setNextFresh(uint32_t ordinal) { nextFresh_ = ordinal; }
    uint32_t nextFresh() const { return nextFresh_; }
    uint32_t freshRemaining() const { return capacity() - nextFresh_; }
    std::size_t freeCount() const { return freeOrdinals_.size(); }
    bool takeOrdinal(uint32_t& ordinal);
    // Keeps a freed ordinal for reuse. Every freed ordinal is kept (not only the first
    // thousand): otherwise rows created and destroyed over and over would use up the
    // dynamic-instance reserve for good.
    void giveBack(uint32_t ordinal);

    // The clock the time-based behaviours (clock, seqtimeinc, rate) read and the agent's
    // start on its monotonic milliseconds. Without a clock no time passes.
    void setTimeBase(const Clock* clock, uint64_t startMs) {
        clock_ = clock;
        startMs_ = startMs;
    }
    // Within one request every time-based value is read at the first reading's instant.
    void freezeTime() {
        frozen_ = true;
        frozenRead_ = false;
    }
    void thawTime() { frozen_ = false; }

    // The generator s = s * 214013 + 2531011 giving (s >> 16) & 0x7FFF; the seed also keys
    // the jitter of rate values.
    void seed(uint32_t s) {
        random_ = s;
        jitterKey_ = s;
    }
    uint32_t draw();

    // The slot's initial content for an expression and syntax code.
    bool setUp(uint32_t ordinal, std::string_view expression, uint8_t syntax);
    // The current value; may advance the slot. Only the time-based behaviours read the
    // clock. False only for an ordinal outside the slots.
    bool makeValue(snmp::SyntaxValue& value, uint8_t syntax, uint32_t ordinal,
                   std::string_view expression);
    // Whether a Set value is acceptable (not for rowstatus expressions); on refusal status
    // holds the SNMPv2 error status.
    bool checkSet(const snmp::SyntaxValue& value, std::string_view expression, bool newInstance,
                  int32_t& status) const;
    // Stores a Set value (not for rowstatus expressions).
    void storeSet(const snmp::SyntaxValue& value, uint8_t syntax, uint32_t ordinal,
                  std::string_view expression);
    // Empties a slot.
    void release(uint32_t ordinal);

    // Stored text of a slot (its octets or dotted text).
    void setBytes(uint32_t ordinal, const uint8_t* bytes, std::size_t length);
    std::basic_string_view<uint8_t> bytes(uint32_t ordinal) const;

  private:
    void serveStored(snmp::SyntaxValue& value, uint8_t syntax, const ValueSlot& slot) const;
    int32_t randomStep(const ExpressionArguments& arguments);
    // Milliseconds since the agent started (0 without a clock).
    uint64_t elapsedMs();
    // What a rate has added t milliseconds after the start, modulo 2^64; past64 tells
    // whether it is 2^64 or more.
    uint64_t rateGrowth(uint32_t ordinal, const RateArguments& rate, uint64_t t,
                        bool* past64 = nullptr) const;

    std::vector<ValueSlot> slots_;
    std::vector<uint32_t> freeOrdinals_;
    uint32_t nextFresh_ = 0;
    uint32_t limit_ = 0;  // slots there may be: slots_ grows up to it as ordinals are taken
    uint32_t random_ = 5;
    uint32_t jitterKey_ = 5;
    const Clock* clock_ = nullptr;
    uint64_t startMs_ = 0;
    bool frozen_ = false;
    bool frozenRead_ = false;
    uint64_t frozenMs_ = 0;
};

// Reads fixed value text as a value of a syntax.
void convertFixedText(std::string_view text, uint8_t syntax, snmp::SyntaxValue& value);

// The initial value text of a stored behaviour (dfixed, lastset: the value text; r_lastset:
// its third argument).
std::string_view initialValueText(std::string_view expression, Behaviour behaviour);
// How long the initial value of a stored behaviour may be, in octets (OctetString, Bits,
// Opaque) or characters (ObjectID), for set-up to keep it: a longer one starts empty. The
// room of the buffer a stored value had (512 octets, 256 characters, or by the max of
// r_lastset); INT64_MAX for other syntaxes.
int64_t initialValueRoom(std::string_view expression, Behaviour behaviour, uint8_t syntax);

}  // namespace korvimo::store
