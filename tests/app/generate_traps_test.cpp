// The Generate Traps logic against a plain UDP socket on 127.0.0.1: what goes out, in which
// order and shape, the refusals, stops, informs and the pacing of storms.
#include "app/generate_traps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "agent/message_sending.h"
#include "agent/udp_peer.h"
#include "agent/v3_security.h"
#include "app/core/clock.h"
#include "app/core/epoll_event_loop.h"
#include "app/core/temp_dir.h"

namespace korvimo::app {
namespace {

using testing::decode;
using testing::oid;
using testing::TempDir;
using testing::UdpPeer;

// Positions 0 to 6.
const char* const kTrapFile =
    "# test traps\r\n"
    "%T  coldStart, 1.3.6.1.4.1.99, 0, 0\r\n"
    "%T  trapSix, 1.3.6.1.4.1.99, 6, 17\r\n"
    "%V  trapSix, 1.3.6.1.2.1.1.5.0, OctetString, six\r\n"
    "%T  notifSeven, 1.3.6.1.4.1.99, 7, 17\r\n"
    "%V  notifSeven, 1.3.6.1.2.1.2.2.1.1.1, Integer, 7\r\n"
    "%V  notifSeven, 1.3.6.1.2.1.1.5.0, OctetString, seven\r\n"
    "%T  zeroSeven, 1.3.6.1.4.1.99.0, 7, 17\r\n"
    "%T  floatTrap, 1.3.6.1.4.1.99, 6, 3\r\n"
    "%V  floatTrap, 1.3.6.1.2.1.1.5.0, Float, 1.5\r\n"
    "%T  linkUp, 1.3.6.1.4.1.99, 3, 0\r\n"
    "%T  last, 1.3.6.1.4.1.99, 6, 6\r\n";

class GenerateTrapsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* sub : {"bin", "agent", "mibs"}) {
            std::filesystem::create_directory(dir.path(sub));
        }
        testing::writeFile(
            dir.path("mibs/mibinfo.out"),
            testing::readFile(std::string(KORVIMO_SOURCE_DIR) + "/home/mibs/mibinfo.out"));
        testing::writeFile(dir.path("agent/t.trp"), kTrapFile);
        config.ensureFile();
        config.writePlain(ConfigKey::INSTALLDIR, dir.root());
        traps.onFinished = [this] { ++finished; };
        traps.options().port = receiver.port();
        traps.dialogStart();
        traps.form().trapFile = "t.trp";
        traps.form().manager = "127.0.0.1";
        traps.form().community = "tcomm";
    }

    // Runs the loop in 5 ms steps of the clock until the transmission ends (at most steps).
    void runToEnd(int steps = 400) {
        for (int i = 0; i < steps && traps.sending(); ++i) {
            clock.advanceMs(kTrapTickMs);
            loop.runOnce(0);
        }
    }

    // The datagrams that arrived, decoded.
    std::vector<snmp::Pdu> received(std::size_t expected) {
        std::vector<snmp::Pdu> pdus;
        std::vector<uint8_t> bytes;
        while (pdus.size() < expected && receiver.receive(bytes, 5000)) {
            snmp::Pdu pdu;
            EXPECT_TRUE(decode(bytes, pdu));
            pdus.push_back(std::move(pdu));
        }
        return pdus;
    }
    bool nothingMore() {
        std::vector<uint8_t> bytes;
        return !receiver.receive(bytes, 50);
    }

    bool hasLine(const std::string& line) {
        for (const std::string& text : traps.status().lines()) {
            if (text == line) {
                return true;
            }
        }
        return false;
    }

    TempDir dir;
    Configuration config{dir.path("bin/korvan.ini")};
    ManualClock clock;
    EpollEventLoop loop{clock};
    RequestIdSequence ids;
    HomeMibInfo mibInfo;
    UdpPeer receiver{AF_INET};
    GenerateTraps traps{{config, loop, ids, mibInfo, nullptr}};
    int finished = 0;
};

TEST_F(GenerateTrapsTest, SendsTheSelectionInFileOrderAsV1TrapsThenCompletes) {
    const auto before = config.historyValues(ConfigKey::TCOMMUNITY);
    ASSERT_TRUE(traps.load());
    EXPECT_EQ(traps.trapNames().size(), 7u);
    traps.form().selected = {5, 0, 2};
    ASSERT_TRUE(traps.send());
    runToEnd();

    const std::vector<snmp::Pdu> pdus = received(3);
    ASSERT_EQ(pdus.size(), 3u);
    EXPECT_TRUE(nothingMore());
    EXPECT_EQ(pdus[0].genericTrap, 0);  // coldStart
    EXPECT_EQ(pdus[1].genericTrap, 6);  // notifSeven: generic 7 goes as 6
    EXPECT_EQ(pdus[1].specificTrap, 17);
    EXPECT_EQ(pdus[1].enterprise.ids, oid("1.3.6.1.4.1.99").ids);
    EXPECT_EQ(pdus[2].genericTrap, 3);  // linkUp
    for (const snmp::Pdu& pdu : pdus) {
        EXPECT_EQ(pdu.version, snmp::kVersion1);
        EXPECT_EQ(pdu.type, snmp::kPduTrap);
        EXPECT_EQ(std::string(pdu.community.bytes.begin(), pdu.community.bytes.end()), "tcomm");
        // Never started: the uptime is the calendar time, in hundredths, kept to 32 bits.
        EXPECT_EQ(pdu.timeStamp, static_cast<uint32_t>(uint64_t{1800000000} * 100));
    }
    EXPECT_EQ(traps.status().lines(),
              (std::vector<std::string>{kTransmissionStartedText, "Processing coldStart",
                                        "Processing notifSeven", "Processing linkUp",
                                        kTransmissionCompletedText}));
    EXPECT_EQ(finished, 1);
    EXPECT_TRUE(traps.summary().completed);
    EXPECT_EQ(traps.summary().sent, 3u);

    // Histories: the file and the manager are remembered, the community is not.
    EXPECT_EQ(config.readHistoryHead(ConfigKey::TRAPFILE), "t.trp");
    EXPECT_EQ(config.readHistoryHead(ConfigKey::MGRIPADDRESS), "127.0.0.1");
    EXPECT_EQ(config.historyValues(ConfigKey::TCOMMUNITY), before);

    // A second Send after completion reads the file again.
    testing::writeFile(dir.path("agent/t.trp"), "%T  only, 1.3.6.1.4.1.7, 6, 1\r\n");
    traps.form().selected = {0};
    ASSERT_TRUE(traps.send());
    runToEnd();
    const std::vector<snmp::Pdu> again = received(1);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].enterprise.ids, oid("1.3.6.1.4.1.7").ids);
}

TEST_F(GenerateTrapsTest, NotificationsCarryUptimeAndTrapOidBeforeTheirBindings) {
    ASSERT_TRUE(traps.load());
    traps.kind() = traps::TrapKind::Notification;
    traps.form().selected = {0, 1, 2, 3};
    ASSERT_TRUE(traps.send());
    runToEnd();
    const std::vector<snmp::Pdu> pdus = received(4);
    ASSERT_EQ(pdus.size(), 4u);
    const char* const trapOids[] = {"1.3.6.1.6.3.1.1.5.1", "1.3.6.1.4.1.99.0.17",
                                    "1.3.6.1.4.1.99.17", "1.3.6.1.4.1.99.0.17"};
    for (std::size_t i = 0; i < pdus.size(); ++i) {
        EXPECT_EQ(pdus[i].version, snmp::kVersion2c);
        EXPECT_EQ(pdus[i].type, snmp::kPduSnmpV2Trap);
        ASSERT_GE(pdus[i].varBinds.count(), 2u);
        EXPECT_EQ(pdus[i].varBinds.items[0].name.ids, oid("1.3.6.1.2.1.1.3.0").ids);
        EXPECT_EQ(pdus[i].varBinds.items[0].value.number,
                  static_cast<uint32_t>(uint64_t{1800000000} * 100));
        EXPECT_EQ(pdus[i].varBinds.items[1].name.ids, oid("1.3.6.1.6.3.1.1.4.1.0").ids);
        EXPECT_EQ(pdus[i].varBinds.items[1].value.oid.ids, oid(trapOids[i]).ids) << i;
    }
    ASSERT_EQ(pdus[2].varBinds.count(), 4u);
    EXPECT_EQ(pdus[2].varBinds.items[2].name.ids, oid("1.3.6.1.2.1.2.2.1.1.1").ids);
    EXPECT_EQ(pdus[2].varBinds.items[3].name.ids, oid("1.3.6.1.2.1.1.5.0").ids);
}

TEST_F(GenerateTrapsTest, V1EnterpriseKeepsItsZeroOnlyWhenAskedAndTrapPortIsHonoured) {
    traps.options().port.reset();
    ASSERT_TRUE(traps.load());
    traps.form().selected = {3};
    // Only a whole port number is a port: nothing goes out for any other.
    for (const char* bad : {"70000", "0", "162x", "-1", "65536"}) {
        config.writePlain(ConfigKey::TRAPPORT, bad);
        EXPECT_FALSE(traps.send()) << bad;
        EXPECT_EQ(traps.status().lines(),
                  std::vector<std::string>{std::string("TRAPPORT [") + bad +
                                           "] is no port number (1 to 65535)."});
    }
    EXPECT_TRUE(nothingMore());
    config.writePlain(ConfigKey::TRAPPORT, " " + std::to_string(receiver.port()) + " ");
    ASSERT_TRUE(traps.send());
    runToEnd();
    std::vector<snmp::Pdu> pdus = received(1);
    ASSERT_EQ(pdus.size(), 1u);
    EXPECT_EQ(pdus[0].enterprise.ids, oid("1.3.6.1.4.1.99").ids);
    EXPECT_EQ(pdus[0].genericTrap, 6);

    config.writePlain(ConfigKey::SV2TOV1TRAPNOZERO, "NO");
    ASSERT_TRUE(traps.send());
    runToEnd();
    pdus = received(1);
    ASSERT_EQ(pdus.size(), 1u);
    EXPECT_EQ(pdus[0].enterprise.ids, oid("1.3.6.1.4.1.99.0").ids);
}

TEST_F(GenerateTrapsTest, RefusalsSendNothing) {
    ASSERT_TRUE(traps.load());
    traps.form().selected = {0};
    traps.form().manager = "::1";
    EXPECT_FALSE(traps.send());
    EXPECT_EQ(traps.status().lines(), std::vector<std::string>{kManagerVersionMismatchText});
    traps.form().manager = "";
    EXPECT_FALSE(traps.send());
    EXPECT_EQ(traps.status().lines(), std::vector<std::string>{kInvalidManagerText});
    EXPECT_TRUE(config.historyValues(ConfigKey::MGRIPADDRESS).empty());
    traps.form().manager = "127.0.0.1";
    traps.form().selected.clear();
    EXPECT_FALSE(traps.send());
    EXPECT_EQ(traps.status().lines(), std::vector<std::string>{kNoTrapsSelectedText});
    EXPECT_TRUE(nothingMore());

    traps.form().trapFile = "missing.trp";
    EXPECT_FALSE(traps.load());
    EXPECT_EQ(traps.status().lines(),
              std::vector<std::string>{"Cannot open Trap Information file [" + dir.root() +
                                       "/agent/missing.trp] for reading. Please create trap "
                                       "file. No such file or directory."});
    std::filesystem::remove(dir.path("mibs/mibinfo.out"));
    EXPECT_FALSE(traps.load());
    EXPECT_EQ(traps.status().lines(),
              std::vector<std::string>{"Cannot open [/mibs/mibinfo.out] file. Please run the "
                                       "mib compiler to create it."});
}

TEST_F(GenerateTrapsTest, AnUnmakeableTrapIsSkippedAndTheNextStillGoes) {
    ASSERT_TRUE(traps.load());
    traps.form().selected = {4, 5};
    ASSERT_TRUE(traps.send());
    runToEnd();
    const std::vector<snmp::Pdu> pdus = received(1);
    ASSERT_EQ(pdus.size(), 1u);
    EXPECT_EQ(pdus[0].genericTrap, 3);
    EXPECT_TRUE(hasLine(kAttributeTypeUnknownText));
    EXPECT_TRUE(hasLine("Processing linkUp"));
    EXPECT_EQ(traps.summary().skipped, 1u);
    EXPECT_EQ(traps.summary().sent, 1u);
}

TEST_F(GenerateTrapsTest, CloseStopsAtOnceAndASecondSendIsRefused) {
    ASSERT_TRUE(traps.load());
    traps.selectAll();
    ASSERT_TRUE(traps.send());
    clock.advanceMs(kTrapTickMs);
    loop.runOnce(0);
    EXPECT_FALSE(traps.send());
    EXPECT_TRUE(hasLine(kAlreadySendingText));
    EXPECT_TRUE(traps.sending());
    traps.close();
    EXPECT_FALSE(traps.sending());
    EXPECT_EQ(finished, 1);
    EXPECT_FALSE(traps.summary().completed);
    EXPECT_EQ(traps.status().lines().back(), kTransmissionStoppedText);
    for (int i = 0; i < 20; ++i) {
        clock.advanceMs(kTrapTickMs);
        loop.runOnce(0);
    }
    EXPECT_EQ(received(1).size(), 1u);
    EXPECT_TRUE(nothingMore());

    // The dialog opened again has loaded nothing, and a load forgets the last Select All.
    traps.dialogStart();
    EXPECT_EQ(traps.form().trapFile, "");
    traps.form().trapFile = "t.trp";
    EXPECT_TRUE(traps.selectAll());
    ASSERT_TRUE(traps.load());
    EXPECT_FALSE(traps.allSelected());
    EXPECT_TRUE(traps.form().selected.empty());
}

TEST_F(GenerateTrapsTest, InformsCompleteOnceEachIsAnsweredOrTimedOut) {
    ASSERT_TRUE(traps.load());
    traps.kind() = traps::TrapKind::Inform;
    traps.options().timeoutMs = 100;
    traps.options().retries = 2;
    traps.form().selected = {0, 1};
    ASSERT_TRUE(traps.send());
    // Answer the first inform; leave the second unanswered.
    std::vector<uint8_t> bytes;
    SocketAddress from;
    for (int i = 0; i < 10 && !receiver.receive(bytes, 0, &from); ++i) {
        clock.advanceMs(kTrapTickMs);
        loop.runOnce(0);
    }
    snmp::Pdu inform;
    ASSERT_TRUE(decode(bytes, inform));
    EXPECT_EQ(inform.type, snmp::kPduInformRequest);
    ASSERT_TRUE(
        receiver.sendTo(from, testing::encodeMessage(snmp::kPduResponse, inform.requestId)));
    for (int i = 0; i < 200 && traps.sending(); ++i) {
        clock.advanceMs(kTrapTickMs);
        loop.runOnce(10);
    }
    EXPECT_FALSE(traps.sending());
    EXPECT_TRUE(hasLine("Inform coldStart acknowledged."));
    EXPECT_TRUE(hasLine("Inform trapSix unacknowledged after 2 transmission(s)."));
    const std::vector<std::string>& lines = traps.status().lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], kTransmissionCompletedText);
    EXPECT_EQ(lines.back(), "Informs acknowledged: 1, unacknowledged: 1.");
    EXPECT_EQ(traps.summary().acknowledged, 1u);
    EXPECT_EQ(traps.summary().unacknowledged, 1u);
}

TEST_F(GenerateTrapsTest, AV3InformDiscoversTheEngineAndIsSentAgainOutsideItsTimeWindow) {
    // The receiver's engine: the agent side's USM engine answers the discovery, then, started
    // again (boots 2) after it, reports the inform outside the time window.
    const snmp::UsmUser alice{"alice", snmp::AuthProtocol::Sha256, "alicepass1",
                              snmp::PrivProtocol::Aes128, "alicepriv1"};
    auto users = std::make_shared<PreparedUsers>();
    ASSERT_TRUE(prepareUsers({alice}, *users));
    const std::vector<uint8_t> engineId = {0x80, 0, 0, 0, 5, 1, 2, 3, 4, 5, 6, 7, 8};
    V3Security first({engineId, 1}, users, "", clock, snmp::kMaxDatagramSize);
    V3Security restarted({engineId, 2}, users, "", clock, snmp::kMaxDatagramSize);
    ASSERT_TRUE(first.start());
    ASSERT_TRUE(restarted.start());

    ASSERT_TRUE(traps.load());
    traps.kind() = traps::TrapKind::V3Inform;
    traps.form().user = "alice SHA-256 alicepass1 AES alicepriv1";
    traps.options().timeoutMs = 60000;  // nothing is retransmitted by time here
    traps.form().selected = {0};
    ASSERT_TRUE(traps.send());
    std::vector<uint8_t> bytes;
    SocketAddress from;
    const auto next = [&] {
        for (int i = 0; i < 100; ++i) {
            clock.advanceMs(kTrapTickMs);
            loop.runOnce(0);
            if (receiver.receive(bytes, 10, &from)) {
                return true;
            }
        }
        return false;
    };
    const V3Security::Send back = [&](const uint8_t* out, std::size_t length) {
        return receiver.sendTo(from, std::vector<uint8_t>(out, out + length));
    };
    V3Security::Request request;
    ASSERT_TRUE(next());
    EXPECT_EQ(first.receive(bytes.data(), bytes.size(), request, back),
              V3Security::Outcome::Reported);
    EXPECT_EQ(first.counters().usmStats[static_cast<int>(snmp::UsmReport::UnknownEngineIds)], 1u);
    ASSERT_TRUE(next());
    EXPECT_EQ(restarted.receive(bytes.data(), bytes.size(), request, back),
              V3Security::Outcome::Reported);
    EXPECT_EQ(restarted.counters().usmStats[static_cast<int>(snmp::UsmReport::NotInTimeWindows)],
              1u);

    // Sent again at once with boots 2: in the window, and answered.
    ASSERT_TRUE(next());
    EXPECT_EQ(restarted.receive(bytes.data(), bytes.size(), request, back),
              V3Security::Outcome::Dropped);  // no request: the inform is ours to answer
    EXPECT_EQ(request.reason, "Not a request");
    traps::V3Notifier answering;
    ASSERT_TRUE(answering.setUser(alice));
    ASSERT_TRUE(answering.setEngine(engineId, 2, restarted.engineTime(), clock.monotonicMs()));
    traps::V3Answer inform;
    ASSERT_TRUE(answering.open(bytes.data(), static_cast<uint32_t>(bytes.size()), inform));
    EXPECT_EQ(inform.level, snmp::SecurityLevel::AuthPriv);
    EXPECT_EQ(inform.pdu.type, snmp::kPduInformRequest);
    snmp::Pdu response = inform.pdu;
    response.type = snmp::kPduResponse;
    uint8_t out[snmp::kMaxMessageSize];
    uint32_t size = sizeof out;
    ASSERT_TRUE(answering.encode(response, inform.message.header.msgId, false, clock.monotonicMs(),
                                 out, &size));
    ASSERT_TRUE(back(out, size));
    for (int i = 0; i < 100 && traps.sending(); ++i) {
        clock.advanceMs(kTrapTickMs);
        loop.runOnce(10);
    }
    EXPECT_FALSE(traps.sending());
    EXPECT_TRUE(
        hasLine("SNMPv3 engine ID 80000000050102030405060708 of the manager (boots 1, "
                "time 0)."));
    EXPECT_TRUE(hasLine("Inform coldStart acknowledged."));
    EXPECT_EQ(traps.summary().acknowledged, 1u);
    EXPECT_TRUE(nothingMore());
}

TEST_F(GenerateTrapsTest, AnInformStormWaitsForRoomAndStillCompletes) {
    ASSERT_TRUE(traps.load());
    traps.kind() = traps::TrapKind::Inform;
    traps.options().timeoutMs = 50;
    traps.options().retries = 1;
    traps.options().rate = 0;
    traps.options().repeat = 1500;  // 3,000 informs nobody answers
    traps.form().selected = {0, 1};
    ASSERT_TRUE(traps.send());
    uint64_t mostPending = 0;
    for (int i = 0; i < 2000 && traps.sending(); ++i) {
        clock.advanceMs(kTrapTickMs);
        loop.runOnce(0);
        const GenerateTraps::Summary& summary = traps.summary();
        mostPending =
            std::max(mostPending, summary.sent - summary.acknowledged - summary.unacknowledged);
        ASSERT_LE(traps.client().pendingRequests().size(), kMaxPendingInforms);
    }
    EXPECT_FALSE(traps.sending());
    EXPECT_TRUE(traps.summary().completed);
    EXPECT_EQ(mostPending, kMaxPendingInforms);
    EXPECT_EQ(traps.summary().sent, 3000u);
    EXPECT_EQ(traps.summary().skipped, 0u);
    EXPECT_EQ(traps.summary().unacknowledged, 3000u);
}

TEST_F(GenerateTrapsTest, JunkAtTheClientEndpointGivesFewLinesAndLeavesInformsAlone) {
    ASSERT_TRUE(traps.load());
    traps.kind() = traps::TrapKind::Inform;
    traps.options().timeoutMs = 500;
    traps.options().retries = 1;
    traps.form().selected = {0, 1};
    ASSERT_TRUE(traps.send());
    const SocketAddress endpoint =
        testing::loopback(AF_INET, testing::boundPort(traps.client().socket()));
    UdpPeer stranger(AF_INET);
    constexpr std::size_t kJunk = 20;
    for (std::size_t i = 0; i < kJunk; ++i) {
        ASSERT_TRUE(stranger.sendTo(endpoint, std::vector<uint8_t>{0x30, 0x01}));
    }
    for (int i = 0; i < 400 && traps.sending(); ++i) {
        clock.advanceMs(kTrapTickMs);
        loop.runOnce(10);
    }
    EXPECT_FALSE(traps.sending());
    EXPECT_TRUE(traps.summary().completed);
    EXPECT_EQ(traps.summary().sent, 2u);
    EXPECT_EQ(traps.summary().acknowledged, 0u);
    EXPECT_EQ(traps.summary().unacknowledged, 2u);

    // The junk's lines: the first few of the second, then their count.
    const std::vector<std::string>& lines = traps.status().lines();
    const auto first = std::find_if(lines.begin() + 1, lines.end(), [](const std::string& line) {
        return !line.starts_with("Processing ");
    });
    ASSERT_NE(first, lines.end());
    const std::string junk = *first;
    EXPECT_EQ(std::count(lines.begin(), lines.end(), junk), kSimilarLinesPerWindow) << junk;
    EXPECT_TRUE(hasLine("(" + std::to_string(kJunk - kSimilarLinesPerWindow) +
                        " similar lines suppressed)"));
    EXPECT_EQ(lines[lines.size() - 2], kTransmissionCompletedText);
}

TEST_F(GenerateTrapsTest, StormsArePacedAtTheirRateOrSentAtOnce) {
    ASSERT_TRUE(traps.load());
    traps.kind() = traps::TrapKind::Notification;
    traps.form().selected = {0, 1};
    traps.options().repeat = 5;  // ten traps
    traps.options().rate = 20;   // one each 50 ms
    ASSERT_TRUE(traps.send());
    for (int i = 0; i < 20; ++i) {  // 100 ms
        clock.advanceMs(kTrapTickMs);
        loop.runOnce(0);
    }
    EXPECT_EQ(traps.summary().sent, 3u);  // at 0, 50 and 100 ms
    runToEnd();
    EXPECT_EQ(traps.summary().sent, 10u);
    EXPECT_EQ(received(10).size(), 10u);
    EXPECT_FALSE(hasLine("Processing coldStart"));  // a storm has no line per trap

    traps.options().rate = 0;
    traps.options().repeat = 100;
    ASSERT_TRUE(traps.send());
    for (int i = 0; i < 50 && traps.sending(); ++i) {
        loop.runOnce(0);  // no time passes: the batches need no timer
    }
    EXPECT_FALSE(traps.sending());
    EXPECT_EQ(traps.summary().sent, 200u);
    EXPECT_TRUE(traps.summary().completed);
}

}  // namespace
}  // namespace korvimo::app
