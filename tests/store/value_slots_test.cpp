#include "store/value_slots.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/core/clock.h"
#include "snmp/ber.h"

namespace korvimo::store {
namespace {

using snmp::SyntaxValue;

class Slots : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(slots.allocate(8));
        slots.seed(5);
        slots.setTimeBase(&clock, clock.monotonicMs());
    }
    // Sets up slot 0 and serves it n times, `elapsed` seconds after the agent started.
    std::vector<uint32_t> serve(const char* expression, int n, uint8_t syntax = 0x02,
                                double elapsed = 0) {
        slots.setTimeBase(&clock, clock.monotonicMs() - static_cast<uint64_t>(elapsed * 1000));
        EXPECT_TRUE(slots.setUp(0, expression, syntax));
        std::vector<uint32_t> out;
        for (int i = 0; i < n; ++i) {
            SyntaxValue v;
            EXPECT_TRUE(slots.makeValue(v, syntax, 0, expression));
            EXPECT_EQ(v.syntax, syntax);
            out.push_back(v.number);
        }
        return out;
    }
    SyntaxValue value(const char* expression, uint8_t syntax, uint32_t ordinal = 0) {
        SyntaxValue v;
        EXPECT_TRUE(slots.makeValue(v, syntax, ordinal, expression));
        return v;
    }

    ManualClock clock;
    ValueSlots slots;
};

TEST_F(Slots, FixedSeedDrawsFiftyFourFirst) {
    EXPECT_EQ(slots.draw(), 54u);
    slots.seed(5);
    EXPECT_EQ(serve("randomup(0, 100)", 1, 0x41), (std::vector<uint32_t>{55}));
}

TEST_F(Slots, RandomupGrowsByOneToAHundredPerGet) {
    uint32_t before = 10;
    for (uint32_t now : serve("randomup(10)", 200, 0x41)) {
        EXPECT_GE(now - before, 1u);
        EXPECT_LE(now - before, 100u);
        before = now;
    }
}

TEST_F(Slots, RandomupOfCounter64CarriesIntoTheHighWord) {
    ASSERT_TRUE(slots.setUp(1, "randomup(4294967295, 1, 1)", 0x46));
    const SyntaxValue v = value("randomup(4294967295, 1, 1)", 0x46, 1);
    EXPECT_EQ(v.syntax, 0x46);
    EXPECT_EQ(v.counter64, 4294967296u);
}

TEST_F(Slots, RandomWithAnEvenStepFallsToZeroAndStays) {
    EXPECT_EQ(serve("random(50, 10, 10)", 7), (std::vector<uint32_t>{40, 30, 20, 10, 0, 0, 0}));
}

TEST_F(Slots, RandomWithAStepRangeOfNoValuesStaysPut) {
    EXPECT_EQ(serve("random(50, 10, 11)", 3), (std::vector<uint32_t>{50, 50, 50}));
    EXPECT_EQ(serve("randomup(7, 4, 5)", 2, 0x41), (std::vector<uint32_t>{7, 7}));
}

TEST_F(Slots, RandomBoundsAtTheEdgesOf32BitsDoNotOverflow) {
    // The range holds 2^32 steps, so each step is the draw (54, 28693, 12255) minus 2^31,
    // added modulo 2^32.
    EXPECT_EQ(serve("randomup(0, 2147483647, -2147483648)", 3, 0x41),
              (std::vector<uint32_t>{2147483702u, 28747u, 2147524650u}));
}

TEST_F(Slots, SequentialWrapsToItsMin) {
    EXPECT_EQ(serve("sequential(1, 3)", 6), (std::vector<uint32_t>{2, 3, 1, 2, 3, 1}));
    EXPECT_EQ(serve("sequential(5, 0)", 3), (std::vector<uint32_t>{6, 7, 8}));
}

TEST_F(Slots, SeqincStepsAndWraps) {
    EXPECT_EQ(serve("seqinc(0, 5, 12)", 6), (std::vector<uint32_t>{5, 10, 0, 5, 10, 0}));
}

TEST_F(Slots, ClockCountsHundredthsFromItsStart) {
    EXPECT_EQ(serve("clock(0)", 1, 0x43, 7), (std::vector<uint32_t>{700}));
    EXPECT_EQ(serve("clock(50)", 1, 0x43, 2), (std::vector<uint32_t>{250}));
    EXPECT_EQ(serve("clock(0)", 1, 0x43, 1.239), (std::vector<uint32_t>{123}));  // 10 ms steps
}

TEST_F(Slots, SeqtimeincRisesPerSecondAndStopsAtItsMax) {
    const char* e = "seqtimeinc(100, 10, 150)";
    EXPECT_EQ(serve(e, 1, 0x02, 0), (std::vector<uint32_t>{100}));
    EXPECT_EQ(serve(e, 1, 0x02, 3.999), (std::vector<uint32_t>{130}));
    EXPECT_EQ(serve(e, 1, 0x02, 5), (std::vector<uint32_t>{150}));
    EXPECT_EQ(serve(e, 1, 0x02, 60), (std::vector<uint32_t>{150}));
}

TEST_F(Slots, SeqtimeincWithoutIncrementServesItsMin) {
    EXPECT_EQ(serve("seqtimeinc(100, 0, 150)", 1, 0x02, 9), (std::vector<uint32_t>{100}));
    EXPECT_EQ(serve("seqtimeinc(-1, 5)", 1, 0x02, 9), (std::vector<uint32_t>{0xFFFFFFFFu}));
}

TEST_F(Slots, RowstatusServesTheSlot) {
    EXPECT_EQ(serve("rowstatus(5)", 2), (std::vector<uint32_t>{5, 5}));
}

TEST_F(Slots, FixedReadsItsTextByTheSyntax) {
    EXPECT_EQ(value("fixed(-3)", 0x02).integer(), -3);
    EXPECT_EQ(value("fixed(4294967295)", 0x42).number, 4294967295u);
    const SyntaxValue s = value("fixed(a, (b))", 0x04);
    EXPECT_EQ(std::string(s.octets.bytes.begin(), s.octets.bytes.end()), "a, (b)");
    const SyntaxValue o = value("fixed(0x4100)", 0x44);
    EXPECT_EQ(o.syntax, 0x44);
    EXPECT_EQ(o.octets.bytes, (std::vector<uint8_t>{0x41, 0x00}));
    EXPECT_EQ(value("fixed(1.3.6.1.4)", 0x06).oid.ids, (std::vector<uint32_t>{1, 3, 6, 1, 4}));
    EXPECT_EQ(value("fixed(not an oid)", 0x06).oid.ids, (std::vector<uint32_t>{0, 0}));
    EXPECT_EQ(value("fixed(10.1.2.3)", 0x40).octets.bytes, (std::vector<uint8_t>{10, 1, 2, 3}));
    EXPECT_EQ(value("fixed(10.1.2)", 0x40).octets.bytes, (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_EQ(value("fixed(18446744073709551615)", 0x46).counter64, UINT64_MAX);
    EXPECT_EQ(value("fixed(NULL)", 0x05).syntax, 0x05);
}

TEST_F(Slots, AnUnknownExpressionLeavesThePreparedValue) {
    SyntaxValue v;
    v.syntax = 0x05;
    ASSERT_TRUE(slots.setUp(0, "someday(1)", 0x02));
    EXPECT_TRUE(slots.makeValue(v, 0x02, 0, "someday(1)"));
    EXPECT_EQ(v.syntax, 0x05);
}

TEST_F(Slots, ANumericBehaviourOnOctetsServesNothing) {
    SyntaxValue v;
    v.syntax = 0x05;
    ASSERT_TRUE(slots.setUp(0, "clock(5)", 0x04));
    clock.advanceMs(3000);
    EXPECT_TRUE(slots.makeValue(v, 0x04, 0, "clock(5)"));
    EXPECT_EQ(v.syntax, 0x05);
}

TEST_F(Slots, MakeValueRefusesAnOrdinalBeyondTheSlots) {
    SyntaxValue v;
    EXPECT_FALSE(slots.makeValue(v, 0x02, 8, "fixed(1)"));
}

TEST_F(Slots, LastsetKeepsItsInitialValueBySyntax) {
    ASSERT_TRUE(slots.setUp(0, "lastset(0x616263)", 0x04));
    EXPECT_EQ(value("lastset(0x616263)", 0x04).octets.bytes, (std::vector<uint8_t>{'a', 'b', 'c'}));
    ASSERT_TRUE(slots.setUp(1, "lastset(1.3.6.1)", 0x06));
    EXPECT_EQ(value("lastset(1.3.6.1)", 0x06, 1).oid.ids, (std::vector<uint32_t>{1, 3, 6, 1}));
    ASSERT_TRUE(slots.setUp(2, "dfixed(192.0.2.1)", 0x40));
    EXPECT_EQ(value("dfixed(192.0.2.1)", 0x40, 2).octets.bytes,
              (std::vector<uint8_t>{192, 0, 2, 1}));
    ASSERT_TRUE(slots.setUp(3, "lastset(12345678901)", 0x46));
    EXPECT_EQ(value("lastset(12345678901)", 0x46, 3).counter64, 12345678901u);
    ASSERT_TRUE(slots.setUp(4, "r_lastset(1, 10, 5)", 0x02));
    EXPECT_EQ(value("r_lastset(1, 10, 5)", 0x02, 4).number, 5u);
}

TEST_F(Slots, AnInitialValueLongerThanItsBufferIsEmpty) {
    const std::string big = "lastset(" + std::string(513, 'x') + ")";
    ASSERT_TRUE(slots.setUp(0, big, 0x04));
    EXPECT_TRUE(value(big.c_str(), 0x04).octets.bytes.empty());
    const std::string fits = "lastset(" + std::string(512, 'x') + ")";
    ASSERT_TRUE(slots.setUp(0, fits, 0x04));
    EXPECT_EQ(value(fits.c_str(), 0x04).octets.bytes.size(), 512u);
    ASSERT_TRUE(slots.setUp(1, "r_lastset(0, 2, abcdefgh)", 0x04));
    EXPECT_TRUE(value("r_lastset(0, 2, abcdefgh)", 0x04, 1).octets.bytes.empty());
    ASSERT_TRUE(slots.setUp(1, "r_lastset(0, 2, abcdefg)", 0x04));
    EXPECT_EQ(value("r_lastset(0, 2, abcdefg)", 0x04, 1).octets.bytes.size(), 7u);
}

TEST_F(Slots, OpaqueIsServedUpToItsFirstZeroOctet) {
    const char* e = "lastset(ab)";
    ASSERT_TRUE(slots.setUp(0, e, 0x44));
    int32_t status = 0;
    const SyntaxValue set = [] {
        SyntaxValue v;
        v.syntax = 0x44;
        v.octets.bytes = {'x', 0, 'y'};
        return v;
    }();
    ASSERT_TRUE(slots.checkSet(set, e, false, status));
    slots.storeSet(set, 0x44, 0, e);
    const SyntaxValue v = value(e, 0x44);
    EXPECT_EQ(v.syntax, 0x44);
    EXPECT_EQ(v.octets.bytes, (std::vector<uint8_t>{'x'}));
}

SyntaxValue octetsOfLength(std::size_t n, uint8_t syntax = 0x04) {
    SyntaxValue v;
    v.syntax = syntax;
    v.octets.bytes.assign(n, 'z');
    return v;
}

SyntaxValue integer(int32_t n, uint8_t syntax = 0x02) {
    SyntaxValue v;
    v.syntax = syntax;
    v.number = static_cast<uint32_t>(n);
    return v;
}

TEST_F(Slots, OnlyLastsetBehavioursTakeSetsOutsideRowCreation) {
    int32_t status = 0;
    EXPECT_FALSE(slots.checkSet(integer(1), "fixed(1)", false, status));
    EXPECT_EQ(status, snmp::kNotWritable);
    EXPECT_FALSE(slots.checkSet(integer(1), "dfixed(1)", false, status));
    EXPECT_EQ(status, snmp::kNotWritable);
    EXPECT_FALSE(slots.checkSet(integer(1), "clock(1)", false, status));
    EXPECT_TRUE(slots.checkSet(integer(1), "dfixed(1)", true, status));
    EXPECT_TRUE(slots.checkSet(integer(1), "lastset(1)", false, status));
    EXPECT_EQ(status, 0);
}

TEST_F(Slots, LastsetTakesUpTo256Octets) {
    int32_t status = 0;
    EXPECT_TRUE(slots.checkSet(octetsOfLength(256), "lastset(abc)", false, status));
    EXPECT_FALSE(slots.checkSet(octetsOfLength(300), "lastset(abc)", false, status));
    EXPECT_EQ(status, snmp::kWrongLength);
    EXPECT_FALSE(slots.checkSet(octetsOfLength(3, 0x40), "lastset(1.2.3.4)", false, status));
    EXPECT_EQ(status, snmp::kWrongLength);
    SyntaxValue longOid;
    longOid.syntax = 0x06;
    longOid.oid.ids.assign(100, 1234);  // 499 characters of dotted text
    EXPECT_FALSE(slots.checkSet(longOid, "lastset(1.3)", false, status));
    EXPECT_EQ(status, snmp::kWrongLength);

    ASSERT_TRUE(slots.setUp(0, "lastset(abc)", 0x04));
    slots.storeSet(octetsOfLength(256), 0x04, 0, "lastset(abc)");
    EXPECT_EQ(value("lastset(abc)", 0x04).octets.bytes.size(), 256u);
}

TEST_F(Slots, RangedLastsetChecksItsBoundsByTheValueType) {
    int32_t status = 0;
    const char* e = "r_lastset(1, 10, 5)";
    EXPECT_TRUE(slots.checkSet(integer(1), e, false, status));
    EXPECT_TRUE(slots.checkSet(integer(10), e, false, status));
    EXPECT_FALSE(slots.checkSet(integer(0), e, false, status));
    EXPECT_EQ(status, snmp::kWrongValue);
    EXPECT_FALSE(slots.checkSet(integer(11), e, false, status));
    EXPECT_EQ(status, snmp::kWrongValue);
    EXPECT_FALSE(slots.checkSet(integer(-1, 0x42), "r_lastset(0, 100, 5)", false, status));
    // Counter, Gauge and TimeTicks compare without sign; Integer with it.
    EXPECT_TRUE(
        slots.checkSet(integer(-1294967296, 0x42), "r_lastset(0, 3000000000, 5)", false, status));
    EXPECT_FALSE(slots.checkSet(integer(5), "r_lastset(0, 3000000000, 5)", false, status));
    EXPECT_FALSE(slots.checkSet(octetsOfLength(9), "r_lastset(0, 8, abc)", false, status));
    EXPECT_EQ(status, snmp::kWrongLength);
    EXPECT_TRUE(slots.checkSet(octetsOfLength(8), "r_lastset(0, 8, abc)", false, status));
    // Without bounds the plain lastset rules apply.
    EXPECT_TRUE(slots.checkSet(integer(99), "r_lastset(,,5)", false, status));
    EXPECT_FALSE(slots.checkSet(octetsOfLength(257), "r_lastset(,,5)", false, status));
}

TEST_F(Slots, StoreSetReplacesTheValueByTheSyntax) {
    ASSERT_TRUE(slots.setUp(0, "lastset(1)", 0x02));
    slots.storeSet(integer(-9), 0x02, 0, "lastset(1)");
    EXPECT_EQ(value("lastset(1)", 0x02).integer(), -9);

    ASSERT_TRUE(slots.setUp(1, "lastset(1.3)", 0x06));
    SyntaxValue o;
    o.syntax = 0x06;
    o.oid.ids = {1, 3, 6, 1, 4294967295u};
    slots.storeSet(o, 0x06, 1, "lastset(1.3)");
    EXPECT_EQ(value("lastset(1.3)", 0x06, 1).oid.ids, o.oid.ids);

    ASSERT_TRUE(slots.setUp(2, "lastset(0)", 0x46));
    SyntaxValue c;
    c.syntax = 0x46;
    c.counter64 = 1ull << 40;
    slots.storeSet(c, 0x46, 2, "lastset(0)");
    EXPECT_EQ(value("lastset(0)", 0x46, 2).counter64, 1ull << 40);

    // A new row's random column takes the Set as its starting state.
    ASSERT_TRUE(slots.setUp(3, "random(5, 1, 1)", 0x02));
    slots.storeSet(integer(1000), 0x02, 3, "random(5, 1, 1)");
    const uint32_t moved = value("random(5, 1, 1)", 0x02, 3).number;
    EXPECT_TRUE(moved == 999 || moved == 1001);

    // Behaviours without a stored value keep no octets.
    ASSERT_TRUE(slots.setUp(4, "fixed(abc)", 0x04));
    slots.storeSet(octetsOfLength(3), 0x04, 4, "fixed(abc)");
    EXPECT_TRUE(slots.bytes(4).empty());
}

TEST_F(Slots, ReleaseEmptiesTheSlot) {
    ASSERT_TRUE(slots.setUp(0, "lastset(abc)", 0x04));
    slots.release(0);
    EXPECT_EQ(slots.at(0).number, 0u);
    EXPECT_EQ(slots.at(0).bytes, nullptr);
}

TEST_F(Slots, OrdinalsComeFromTheFreeListFirst) {
    slots.setNextFresh(6);
    EXPECT_EQ(slots.freshRemaining(), 2u);
    uint32_t o = 0;
    slots.giveBack(3);
    ASSERT_TRUE(slots.takeOrdinal(o));
    EXPECT_EQ(o, 3u);
    ASSERT_TRUE(slots.takeOrdinal(o));
    EXPECT_EQ(o, 6u);
    ASSERT_TRUE(slots.takeOrdinal(o));
    EXPECT_EQ(o, 7u);
    EXPECT_FALSE(slots.takeOrdinal(o));
    for (uint32_t i = 0; i < 8; ++i) {
        slots.giveBack(i);
    }
    EXPECT_EQ(slots.freeCount(), 8u);
    EXPECT_EQ(slots.freshRemaining(), 0u);
}

// Rate counters are a function of the time since the start: reads do not move them, and
// PER_SECOND (thousandths kept) is what a poller computes over any interval.
TEST_F(Slots, RateGrowsWithTimeAndNotWithReads) {
    const char* steady = "rate(1000, 1200000)";
    ASSERT_TRUE(slots.setUp(0, steady, 0x41));
    ASSERT_TRUE(slots.setUp(1, "rate(0, 0.5)", 0x42));
    EXPECT_EQ(value(steady, 0x41).number, 1000u);
    EXPECT_EQ(value(steady, 0x41).number, 1000u);
    clock.advanceMs(2500);
    EXPECT_EQ(value(steady, 0x41).number, 1000u + 3000000u);
    EXPECT_EQ(value("rate(0, 0.5)", 0x42, 1).number, 1u);
    EXPECT_EQ(value("rate(0, 0.5)", 0x42, 1).syntax, 0x42);
}

TEST_F(Slots, RateJitterStaysWithinItsBoundsAndNeverRunsBackwards) {
    for (const char* e : {"rate(0, 1000000, 10)", "rate(0, 1000000, 100)"}) {
        const double jitter = std::string(e).find("100)") != std::string::npos ? 1.0 : 0.1;
        ASSERT_TRUE(slots.setUp(2, e, 0x46));
        uint64_t before = value(e, 0x46, 2).counter64;
        double lowest = 2;
        double highest = 0;
        uint32_t s = 7;
        for (int i = 0; i < 3000; ++i) {
            s = s * 1103515245u + 12345u;
            const uint64_t ms = 1 + (s >> 8) % 20000;  // 1 ms to 20 s, over some 8 hours
            clock.advanceMs(ms);
            const uint64_t now = value(e, 0x46, 2).counter64;
            ASSERT_GE(now, before);
            const double expected = 1000.0 * static_cast<double>(ms);
            ASSERT_GE(static_cast<double>(now - before), expected * (1 - jitter) - 1) << e;
            ASSERT_LE(static_cast<double>(now - before), expected * (1 + jitter) + 1) << e;
            if (ms >= 1000) {
                lowest = std::min(lowest, static_cast<double>(now - before) / expected);
                highest = std::max(highest, static_cast<double>(now - before) / expected);
            }
            before = now;
        }
        EXPECT_LT(lowest, 1 - jitter / 4) << e;  // the jitter does move it
        EXPECT_GT(highest, 1 + jitter / 4) << e;
    }
}

TEST_F(Slots, RateWrapsAsItsTypeWraps) {
    ASSERT_TRUE(slots.setUp(0, "rate(4294967000, 1000)", 0x41));
    ASSERT_TRUE(slots.setUp(1, "rate(18446744073709551000, 1000)", 0x46));
    ASSERT_TRUE(slots.setUp(2, "rate(4294967000, 1000)", 0x42));
    ASSERT_TRUE(slots.setUp(3, "rate(18446744073709551615, 1)", 0x42));
    clock.advanceMs(1000);
    EXPECT_EQ(value("rate(4294967000, 1000)", 0x41, 0).number, 704u);
    EXPECT_EQ(value("rate(18446744073709551000, 1000)", 0x46, 1).counter64, 384u);
    // A Gauge stays at its maximum, whatever START it was given.
    EXPECT_EQ(value("rate(4294967000, 1000)", 0x42, 2).number, 4294967295u);
    EXPECT_EQ(value("rate(18446744073709551615, 1)", 0x42, 3).number, 4294967295u);
}

TEST_F(Slots, ReadsOfOneRequestShareOneInstant) {
    ASSERT_TRUE(slots.setUp(0, "rate(0, 1000, 50)", 0x41));
    ASSERT_TRUE(slots.setUp(1, "clock(0)", 0x43));
    slots.freezeTime();
    const uint32_t rate = value("rate(0, 1000, 50)", 0x41, 0).number;
    const uint32_t ticks = value("clock(0)", 0x43, 1).number;
    clock.advanceMs(1500);
    EXPECT_EQ(value("rate(0, 1000, 50)", 0x41, 0).number, rate);
    EXPECT_EQ(value("clock(0)", 0x43, 1).number, ticks);
    slots.thawTime();
    EXPECT_EQ(value("clock(0)", 0x43, 1).number, ticks + 150);
    EXPECT_GT(value("rate(0, 1000, 50)", 0x41, 0).number, rate);
}

}  // namespace
}  // namespace korvimo::store
