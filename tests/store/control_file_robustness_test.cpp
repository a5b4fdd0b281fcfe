// Control files are hand-edited: whatever bytes they hold, loading either succeeds or fails
// with a message, and a loaded store answers every lookup and Set without a fault. These
// tests load many mutations of a realistic file (bounded in count and time) and exercise
// what loads.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>

#include "store/store_fixture.h"

namespace korvimo::store {
namespace {

using testing::binding;
using testing::number;
using testing::octetValue;
using testing::StoreFixture;

constexpr const char* kMibInfo =
    "1.3.6.1.2.1.1.1           sysDescr                OctetString  RO S (0,255) d\r\n"
    "1.3.6.1.4.1.99.1.1.1      tIndex                  Integer      NA C1\r\n"
    "1.3.6.1.4.1.99.1.1.2      tName                   OctetString  RC C (0,32) d\r\n"
    "1.3.6.1.4.1.99.1.1.3      tStatus                 Integer      RC C (1,6) r\r\n"
    "1.3.6.1.4.1.99.2.1.1      sName                   OctetString  NA C1 (0,32)\r\n"
    "1.3.6.1.4.1.99.2.1.2      sValue                  ObjectID     RW C\r\n"
    "%ei   1.3.6.1.4.1.99.1.1   \"tIndex\"\r\n"
    "%ei   1.3.6.1.4.1.99.2.1   \"sName\"\r\n";

constexpr const char* kControl =
    "# seed\r\n"
    "%drow  tEntry  rowstatus\r\n"
    "%dcol  tIndex   NotReq Integer     NA  dfixed(0)\r\n"
    "%dcol  tName    Req    OctetString RC  r_lastset(0, 8, none)\r\n"
    "%dcol  tStatus  NotReq Integer     RC  rowstatus(1)\r\n"
    "%drow  sEntry  newinstance\r\n"
    "%dcol  sName    NotReq OctetString NA  dfixed()\r\n"
    "%dcol  sValue   Req    ObjectID    RW  lastset(1.3.6)\r\n"
    "%setaction tStatus Integer 2 deleterow()\r\n"
    "sysDescr.0, OctetString, RO, fixed(0x41424)\r\n"
    "1.3.6.1.2.1.1.3.0, TimeTicks, RO, clock(5)\r\n"
    "1.3.6.1.2.1.1.4.0, Opaque, RW, lastset(0x00ff)\r\n"
    "1.3.6.1.2.1.1.5.0, IpAddress, RW, r_lastset(4, 4, 10.0.0.1)\r\n"
    "1.3.6.1.2.1.1.6.0, Counter64, RO, randomup(1, 0, 0)\r\n"
    "1.3.6.1.2.1.1.7.[1-3], Integer, RW, rangeinst(9)\r\n"
    "1.3.6.1.2.1.1.8.0, Gauge, RO, seqtimeinc(1, 0, 5)\r\n"
    "1.3.6.1.2.1.1.9.0, Integer, RO, random(1, 3, 5)\r\n"
    "1.3.6.1.4.1.99.1.1.2.[1-2], OctetString, RC, lastset(row)\r\n"
    "1.3.6.1.4.1.99.1.1.3.[1-2], Integer, RC, rowstatus(1)\r\n";

std::string mutate(std::string text, std::mt19937& random) {
    static const char kBytes[] = "[]-.,()%#0123456789 \t\r\nrxDdfQ";
    const int edits = 1 + static_cast<int>(random() % 4);
    for (int e = 0; e < edits && !text.empty(); ++e) {
        const std::size_t at = random() % text.size();
        const char byte = static_cast<char>(
            random() % 5 == 0 ? random() % 256 : kBytes[random() % (sizeof kBytes - 1)]);
        switch (random() % 3) {
            case 0:
                text[at] = byte;
                break;
            case 1:
                text.insert(at, 1, byte);
                break;
            default:
                text.erase(at, 1 + random() % 3);
                break;
        }
    }
    return text;
}

// Asks the store everything a manager could: a full walk with values, Gets of what it
// walked and of neighbours, and Sets that create, change and destroy rows.
void exercise(StoreFixture& f) {
    std::string name = "0";
    for (int i = 0; i < 200; ++i) {
        snmp::SyntaxValue value;
        const std::string next = f.next(name, &value);
        if (next.empty()) {
            break;
        }
        f.getNumber(next);
        f.getText(next + ".1");
        name = next;
    }
    f.set({binding("1.3.6.1.4.1.99.1.1.3.7", number(2, 5))});
    f.set({binding("1.3.6.1.4.1.99.1.1.2.7", octetValue("abc"))});
    f.set({binding("1.3.6.1.4.1.99.1.1.3.7", number(2, 1))});
    f.set({binding("1.3.6.1.4.1.99.1.1.3.1", number(2, 2))});
    f.set({binding("1.3.6.1.4.1.99.2.1.2.2.97.98", number(6, 0))});
    f.set({binding("1.3.6.1.2.1.1.5.0", octetValue("abcd", 0x40))});
    f.set({binding("1.3.6.1.2.1.1.4.0", octetValue(std::string(300, 'x'), 0x44))});
    f.walk();
}

TEST(ControlFileRobustness, TheSeedFileLoadsAndServes) {
    StoreFixture f;
    f.mibInfo(kMibInfo);
    ASSERT_TRUE(f.load(kControl)) << (f.status.empty() ? "" : f.status[0]);
    exercise(f);
}

TEST(ControlFileRobustness, MutatedFilesLoadOrFailCleanly) {
    StoreFixture f;
    f.mibInfo(kMibInfo);
    std::mt19937 random(20240607);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int loaded = 0;
    int refused = 0;
    for (int round = 0; round < 1500 && std::chrono::steady_clock::now() < deadline; ++round) {
        const std::string text = mutate(kControl, random);
        if (f.load(text)) {
            ++loaded;
            exercise(f);
        } else {
            ++refused;
            EXPECT_EQ(f.store.attributeFile().descriptor(), -1);
            EXPECT_FALSE(f.store.loaded());
        }
    }
    EXPECT_GT(loaded, 0);
    EXPECT_GT(refused, 0);
}

TEST(ControlFileRobustness, ArbitraryBytesNeverFault) {
    StoreFixture f;
    f.mibInfo(kMibInfo);
    std::mt19937 random(99);
    for (int round = 0; round < 300; ++round) {
        std::string text(random() % 400, '\0');
        for (char& c : text) {
            c = static_cast<char>(random() % 256);
        }
        if (f.load(text)) {
            exercise(f);
        }
    }
}

}  // namespace
}  // namespace korvimo::store
