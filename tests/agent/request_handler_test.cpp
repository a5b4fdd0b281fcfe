#include "agent/request_handler.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "agent/agent.h"
#include "agent/debug_log.h"
#include "agent/endpoints.h"
#include "agent/udp_peer.h"
#include "app/core/configuration.h"
#include "app/core/epoll_event_loop.h"
#include "app/core/status_list.h"
#include "app/core/temp_dir.h"
#include "mibinfo/mib_info.h"
#include "snmp/ber.h"
#include "store/variable_store.h"

namespace korvimo {
namespace {

using testing::decode;
using testing::freeUdpPort;
using testing::loopback;
using testing::octets;
using testing::oid;
using testing::readFile;
using testing::TempDir;
using testing::UdpPeer;
using testing::writeFile;
using namespace snmp;  // the error statuses

constexpr const char* kControlFile =
    "# the variables of the request tests\r\n"
    "1.3.6.1.2.1.1.1.0, OctetString, RO, fixed(Simulated agent)\r\n"
    "1.3.6.1.2.1.1.3.0, TimeTicks, RO, clock(0)\r\n"
    "1.3.6.1.2.1.1.4.0, OctetString, RW, lastset(admin)\r\n"
    "1.3.6.1.2.1.1.5.0, OctetString, RW, r_lastset(0, 8, name)\r\n"
    "1.3.6.1.2.1.1.6.0, OctetString, WO, lastset(secret)\r\n"
    "1.3.6.1.2.1.1.7.0, Integer, RW, fixed(72)\r\n"
    "1.3.6.1.2.1.1.8.0, Integer, RW, r_lastset(1, 10, 5)\r\n"
    "1.3.6.1.2.1.2.2.1.2.[1-200], OctetString, RO, fixed(a rather long interface description)\r\n"
    "1.3.6.1.2.1.2.2.1.10.[1-2], Counter, RO, sequential(0, 0)\r\n"
    "1.3.6.1.2.1.2.2.1.99.1, ObjectID, WO, lastset(1.3.6.1.4)\r\n";

constexpr const char* kLastName = "1.3.6.1.2.1.2.2.1.10.2";

snmp::VarBind nullBinding(const char* name) {
    return snmp::VarBind{oid(name), {}};
}

snmp::VarBind octetBinding(const char* name, const std::string& text) {
    snmp::VarBind b{oid(name), {}};
    b.value.syntax = snmp::kTagOctetString;
    b.value.octets = octets(text);
    return b;
}

snmp::VarBind integerBinding(const char* name, int32_t n) {
    snmp::VarBind b{oid(name), {}};
    b.value.syntax = snmp::kTagInteger;
    b.value.number = static_cast<uint32_t>(n);
    return b;
}

std::string nameOf(const snmp::VarBind& b) {
    char text[1500];
    return snmp::oidToText(b.name, sizeof text, text) ? text : "?";
}

// The agent of the tests: a store loaded from kControlFile and the request handler in the
// Agent slot, on an agent endpoint on 127.0.0.1; a manager socket sends requests to it.
class AgentRequests : public ::testing::Test {
  protected:
    void SetUp() override {
        ::mkdir(dir.path("agent").c_str(), 0755);
        writeFile(dir.path("agent/test.ctl"), controlText);
        writeFile(dir.path("korvan.ini"), "[KORVAN]\r\n" + iniText);
        if (!mibInfoText.empty()) {
            writeFile(dir.path("mibinfo.out"), mibInfoText);
            agent.useMibInfo(mibinfo::MibInfo::load(dir.path("mibinfo.out")));
        }
        AgentSettings& settings = agent.settings();
        settings.readCommunity = "public";
        settings.writeCommunity = "private";
        settings.versionMode = VersionMode::Bilingual;
        ASSERT_TRUE(agent.openControlFile(dir.path("agent/test.ctl")));
        ASSERT_TRUE(agent.load(clock.calendarSeconds(), dir.path("agent/tempfile")));
        agent.serve();

        Result opened;
        for (int attempt = 0; attempt < 20 && !agent.endpoint().isOpen(); ++attempt) {
            port = freeUdpPort(AF_INET);
            opened = agent.openEndpoint({std::to_string(port), "127.0.0.1", ""});
        }
        ASSERT_TRUE(agent.endpoint().isOpen()) << opened.text();
    }

    std::vector<uint8_t> encode(uint32_t type, uint32_t version, const std::string& community,
                                const std::vector<snmp::VarBind>& bindings, int32_t field1 = 0,
                                int32_t field2 = 0) {
        auto list = snmp::SnmpCreateVbl();
        list->items = bindings;
        snmp::Octets text = octets(community);
        auto pdu = snmp::SnmpCreateBPdu(version, &text, type, ++requestId, field1, field2,
                                        std::move(list));
        std::vector<uint8_t> bytes(snmp::kMaxMessageSize);
        uint32_t size = static_cast<uint32_t>(bytes.size());
        EXPECT_TRUE(snmp::SnmpEncodeMsg(pdu.get(), bytes.data(), &size));
        bytes.resize(size);
        return bytes;
    }

    // Sends a datagram to the agent and turns the loop until an answer arrives (or a short
    // while has passed: nothing came).
    std::optional<snmp::Pdu> exchange(const std::vector<uint8_t>& bytes, int waitMs = 300) {
        manager.sendTo(loopback(AF_INET, port), bytes);
        const uint64_t start = SystemClock::instance().monotonicMs();
        std::vector<uint8_t> answer;
        while (SystemClock::instance().monotonicMs() - start < static_cast<uint64_t>(waitMs)) {
            loop.runOnce(5);
            if (manager.receive(answer, 0)) {
                lastAnswerSize = answer.size();
                snmp::Pdu pdu;
                EXPECT_TRUE(decode(answer, pdu));
                return pdu;
            }
        }
        return std::nullopt;
    }

    std::optional<snmp::Pdu> ask(uint32_t type, uint32_t version,
                                 const std::vector<snmp::VarBind>& bindings,
                                 const std::string& community = "", int32_t field1 = 0,
                                 int32_t field2 = 0) {
        const std::string used =
            community.empty() ? (type == snmp::kPduSetRequest ? "private" : "public") : community;
        return exchange(encode(type, version, used, bindings, field1, field2));
    }

    void openDebugLog() {
        agent.settings().debugMode = true;
        ASSERT_TRUE(agent.openDebugLog(dir.path("agent/debug.out"), "/agent/debug.out"));
    }

    const AgentStatistics& statistics() const { return agent.statistics(); }

    // What the agent loads; a fixture of its own sets them before SetUp.
    std::string controlText = kControlFile;
    std::string iniText;      // korvan.ini lines after [KORVAN]
    std::string mibInfoText;  // empty: no mibinfo.out

    TempDir dir;
    Configuration config{dir.path("korvan.ini")};
    ManualClock clock;
    EpollEventLoop loop{clock};
    StatusList status;
    Agent agent{{loop, status, &config, nullptr}};
    UdpPeer manager{AF_INET};
    uint16_t port = 0;
    int32_t requestId = 100;
    std::size_t lastAnswerSize = 0;
};

// --- Admission ----------------------------------------------------------------------------

TEST_F(AgentRequests, AnswerCarriesTheRequestsVersionCommunityAndRequestId) {
    for (uint32_t version : {snmp::kVersion1, snmp::kVersion2c}) {
        auto answer = ask(snmp::kPduGetRequest, version, {nullBinding("1.3.6.1.2.1.1.1.0")});
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->type, snmp::kPduResponse);
        EXPECT_EQ(answer->version, version);
        EXPECT_EQ(answer->community, octets("public"));
        EXPECT_EQ(answer->requestId, requestId);
        ASSERT_EQ(answer->varBinds.count(), 1u);
        EXPECT_EQ(answer->varBinds.items[0].value.octets, octets("Simulated agent"));
    }
    EXPECT_EQ(statistics().InPkts, 2u);
    EXPECT_EQ(statistics().OutPkts, 2u);
    EXPECT_EQ(statistics().Responses, 2u);
    EXPECT_EQ(statistics().GetRequests, 2u);
}

TEST_F(AgentRequests, VersionModesRefuseTheOtherVersionAndLogIt) {
    openDebugLog();
    agent.settings().versionMode = VersionMode::SNMPv1;
    EXPECT_FALSE(ask(snmp::kPduGetRequest, snmp::kVersion2c, {nullBinding("1.3.6.1.2.1.1.1.0")}));
    EXPECT_EQ(statistics().InPkts, 1u);
    EXPECT_EQ(statistics().GetRequests, 0u);
    EXPECT_TRUE(ask(snmp::kPduGetRequest, snmp::kVersion1, {nullBinding("1.3.6.1.2.1.1.1.0")}));
    const std::string log = readFile(dir.path("agent/debug.out"));
    EXPECT_EQ(log.rfind("Invalid SNMP Version:1.  Request ignored.Get Request : Request Id = ", 0),
              0u)
        << log;

    agent.settings().versionMode = VersionMode::SNMPv2C;
    EXPECT_FALSE(ask(snmp::kPduGetRequest, snmp::kVersion1, {nullBinding("1.3.6.1.2.1.1.1.0")}));
    agent.settings().versionMode = VersionMode::Bilingual;
    EXPECT_FALSE(ask(snmp::kPduGetRequest, 3, {nullBinding("1.3.6.1.2.1.1.1.0")}));
    EXPECT_EQ(statistics().InPkts, 4u);
    EXPECT_EQ(statistics().OutPkts, 1u);
    EXPECT_EQ(statistics().InBadVersions, 3u);
    EXPECT_EQ(statistics().InBadCommunityNames, 0u);
}

TEST_F(AgentRequests, CommunitiesAreComparedAsWholeTexts) {
    const std::vector<snmp::VarBind> get = {nullBinding("1.3.6.1.2.1.1.1.0")};
    EXPECT_TRUE(ask(snmp::kPduGetRequest, snmp::kVersion2c, get, "public"));
    EXPECT_TRUE(ask(snmp::kPduGetRequest, snmp::kVersion2c, get, "private"));
    EXPECT_FALSE(ask(snmp::kPduGetRequest, snmp::kVersion2c, get, "pub"));
    EXPECT_FALSE(ask(snmp::kPduGetRequest, snmp::kVersion2c, get, "publicity"));
    EXPECT_FALSE(exchange(encode(snmp::kPduGetRequest, snmp::kVersion2c, "", get)));
    EXPECT_FALSE(
        exchange(encode(snmp::kPduGetRequest, snmp::kVersion2c, std::string("public\0", 7), get)));

    const std::vector<snmp::VarBind> set = {octetBinding("1.3.6.1.2.1.1.4.0", "x")};
    EXPECT_FALSE(ask(snmp::kPduSetRequest, snmp::kVersion2c, set, "public"));
    EXPECT_FALSE(ask(snmp::kPduSetRequest, snmp::kVersion2c, set, "priv"));
    EXPECT_TRUE(ask(snmp::kPduSetRequest, snmp::kVersion2c, set, "private"));
    EXPECT_EQ(statistics().InBadCommunityNames, 6u);
    EXPECT_EQ(statistics().InBadVersions, 0u);
}

TEST_F(AgentRequests, RefusedCommunityIsLoggedAsText) {
    openDebugLog();
    EXPECT_FALSE(ask(snmp::kPduGetRequest, snmp::kVersion1, {nullBinding("1.3.6.1")}, "guess"));
    EXPECT_EQ(readFile(dir.path("agent/debug.out")),
              "Invalid Community Name:guess.  Request ignored.");
}

TEST_F(AgentRequests, NothingIsServedWhileTheAgentIsIdle) {
    agent.stop();
    EXPECT_FALSE(ask(snmp::kPduGetRequest, snmp::kVersion2c, {nullBinding("1.3.6.1.2.1.1.1.0")}));
    EXPECT_EQ(statistics().InPkts, 0u);
}

// --- Get and GetNext ----------------------------------------------------------------------

TEST_F(AgentRequests, V1GetWithAnUnknownNameFailsWithNoSuchNameAndTheBindingsAsSent) {
    auto answer = ask(snmp::kPduGetRequest, snmp::kVersion1,
                      {nullBinding("1.3.6.1.2.1.1.1.0"), nullBinding("1.3.6.1.2.1.1.99.0"),
                       octetBinding("1.3.6.1.2.1.1.4.0", "as sent")});
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->errorStatus, kNoSuchName);
    EXPECT_EQ(answer->errorIndex, 2);
    ASSERT_EQ(answer->varBinds.count(), 3u);
    EXPECT_EQ(answer->varBinds.items[0].value.syntax, snmp::kTagNull);
    EXPECT_EQ(answer->varBinds.items[2].value.octets, octets("as sent"));
}

TEST_F(AgentRequests, V2cGetGivesNoSuchInstanceInPlace) {
    auto answer = ask(snmp::kPduGetRequest, snmp::kVersion2c,
                      {nullBinding("1.3.6.1.2.1.1.1.0"), nullBinding("1.3.6.1.2.1.1.99.0"),
                       nullBinding("1.3.6.1.2.1.1.6.0")});
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->errorStatus, kNoError);
    ASSERT_EQ(answer->varBinds.count(), 3u);
    EXPECT_EQ(answer->varBinds.items[0].value.octets, octets("Simulated agent"));
    EXPECT_EQ(answer->varBinds.items[1].value.syntax, snmp::kTagNoSuchInstance);
    EXPECT_EQ(nameOf(answer->varBinds.items[1]), "1.3.6.1.2.1.1.99.0");
    // write-only is served like an unknown name
    EXPECT_EQ(answer->varBinds.items[2].value.syntax, snmp::kTagNoSuchInstance);

    auto v1 = ask(snmp::kPduGetRequest, snmp::kVersion1, {nullBinding("1.3.6.1.2.1.1.6.0")});
    ASSERT_TRUE(v1);
    EXPECT_EQ(v1->errorStatus, kNoSuchName);
    EXPECT_EQ(v1->errorIndex, 1);
}

TEST_F(AgentRequests, GetNextWalksAndSkipsWriteOnlyAttributes) {
    auto answer = ask(snmp::kPduGetNextRequest, snmp::kVersion2c,
                      {nullBinding("1.3.6.1.2.1.1.5.0"), nullBinding("0.0")});
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->varBinds.count(), 2u);
    EXPECT_EQ(nameOf(answer->varBinds.items[0]), "1.3.6.1.2.1.1.7.0");
    EXPECT_EQ(answer->varBinds.items[0].value.number, 72u);
    EXPECT_EQ(nameOf(answer->varBinds.items[1]), "1.3.6.1.2.1.1.1.0");
    EXPECT_EQ(statistics().GetNextRequests, 1u);
}

TEST_F(AgentRequests, GetNextPastTheEnd) {
    auto v2 = ask(snmp::kPduGetNextRequest, snmp::kVersion2c, {nullBinding(kLastName)});
    ASSERT_TRUE(v2);
    EXPECT_EQ(v2->errorStatus, kNoError);
    EXPECT_EQ(nameOf(v2->varBinds.items[0]), kLastName);
    EXPECT_EQ(v2->varBinds.items[0].value.syntax, snmp::kTagEndOfMibView);

    auto v1 = ask(snmp::kPduGetNextRequest, snmp::kVersion1,
                  {nullBinding("1.3.6.1.2.1.1.1.0"), nullBinding(kLastName)});
    ASSERT_TRUE(v1);
    EXPECT_EQ(v1->errorStatus, kNoSuchName);
    EXPECT_EQ(v1->errorIndex, 2);
    EXPECT_EQ(nameOf(v1->varBinds.items[1]), kLastName);
}

TEST_F(AgentRequests, BehavioursMoveAtEachRead) {
    clock.advanceMs(7000);
    auto answer = ask(snmp::kPduGetRequest, snmp::kVersion2c,
                      {nullBinding("1.3.6.1.2.1.1.3.0"), nullBinding("1.3.6.1.2.1.2.2.1.10.1")});
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->varBinds.items[0].value.syntax, snmp::kTagTimeTicks);
    EXPECT_EQ(answer->varBinds.items[0].value.number, 700u);
    EXPECT_EQ(answer->varBinds.items[1].value.number, 1u);
    answer = ask(snmp::kPduGetRequest, snmp::kVersion2c, {nullBinding("1.3.6.1.2.1.2.2.1.10.1")});
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->varBinds.items[0].value.number, 2u);
}

// --- GetBulk ------------------------------------------------------------------------------

TEST_F(AgentRequests, GetBulkNonRepeatersThenRepetitionsOfEachRepeater) {
    auto answer =
        ask(snmp::kPduGetBulkRequest, snmp::kVersion2c,
            {nullBinding("1.3.6.1.2.1.1.1.0"), nullBinding("1.3.6.1.2.1.2.2.1.2.4")}, "", 1, 3);
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->varBinds.count(), 4u);
    EXPECT_EQ(nameOf(answer->varBinds.items[0]), "1.3.6.1.2.1.1.3.0");
    EXPECT_EQ(nameOf(answer->varBinds.items[1]), "1.3.6.1.2.1.2.2.1.2.5");
    EXPECT_EQ(nameOf(answer->varBinds.items[2]), "1.3.6.1.2.1.2.2.1.2.6");
    EXPECT_EQ(nameOf(answer->varBinds.items[3]), "1.3.6.1.2.1.2.2.1.2.7");
    EXPECT_EQ(statistics().GetBulkRequests, 1u);
}

TEST_F(AgentRequests, GetBulkRepeatsSeveralRepeatersSideBySide) {
    auto answer =
        ask(snmp::kPduGetBulkRequest, snmp::kVersion2c,
            {nullBinding("1.3.6.1.2.1.2.2.1.2.198"), nullBinding("1.3.6.1.2.1.1.7.0")}, "", 0, 4);
    ASSERT_TRUE(answer);
    std::vector<std::string> names;
    for (const auto& b : answer->varBinds.items) {
        names.push_back(nameOf(b));
    }
    const std::vector<std::string> expected = {"1.3.6.1.2.1.2.2.1.2.199", "1.3.6.1.2.1.1.8.0",
                                               "1.3.6.1.2.1.2.2.1.2.200", "1.3.6.1.2.1.2.2.1.2.1",
                                               "1.3.6.1.2.1.2.2.1.10.1",  "1.3.6.1.2.1.2.2.1.2.2",
                                               "1.3.6.1.2.1.2.2.1.10.2",  "1.3.6.1.2.1.2.2.1.2.3"};
    EXPECT_EQ(names, expected);
}

TEST_F(AgentRequests, GetBulkWithoutRepetitionsOrWithNegativeFields) {
    auto onlyNonRepeaters =
        ask(snmp::kPduGetBulkRequest, snmp::kVersion1,
            {nullBinding("1.3.6.1.2.1.1.1.0"), nullBinding("1.3.6.1.2.1.1.3.0")}, "", 1, 0);
    ASSERT_TRUE(onlyNonRepeaters);  // served the same way in SNMPv1
    ASSERT_EQ(onlyNonRepeaters->varBinds.count(), 1u);
    EXPECT_EQ(nameOf(onlyNonRepeaters->varBinds.items[0]), "1.3.6.1.2.1.1.3.0");

    auto negative = ask(snmp::kPduGetBulkRequest, snmp::kVersion2c,
                        {nullBinding("1.3.6.1.2.1.1.1.0")}, "", -1, 2);
    ASSERT_TRUE(negative);
    ASSERT_EQ(negative->varBinds.count(), 2u);  // no non-repeater: two repetitions
    EXPECT_EQ(nameOf(negative->varBinds.items[1]), "1.3.6.1.2.1.1.4.0");

    auto nothing = ask(snmp::kPduGetBulkRequest, snmp::kVersion2c,
                       {nullBinding("1.3.6.1.2.1.1.1.0")}, "", 0, -5);
    ASSERT_TRUE(nothing);
    EXPECT_EQ(nothing->varBinds.count(), 0u);
}

TEST_F(AgentRequests, GetBulkStopsShortOfFifteenHundredBytesAndNeverTooBig) {
    auto answer = ask(snmp::kPduGetBulkRequest, snmp::kVersion2c, {nullBinding("1.3.6.1.2.1.2")},
                      "", 0, 2147483647);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->errorStatus, kNoError);
    EXPECT_LT(lastAnswerSize, 1500u);
    EXPECT_GT(answer->varBinds.count(), 20u);
    // One more binding would have passed the estimate.
    uint32_t estimate = 6 + kBulkHeaderEstimate;
    for (const auto& b : answer->varBinds.items) {
        estimate += snmp::encodedVarBindSize(b.name, b.value);
    }
    EXPECT_LT(estimate, kDefaultMaxMessageSize);
    EXPECT_GE(estimate + snmp::encodedVarBindSize(answer->varBinds.items.back().name,
                                                  answer->varBinds.items.back().value),
              kDefaultMaxMessageSize);
}

TEST_F(AgentRequests, GetBulkPastTheEndRepeatsEndOfMibView) {
    auto answer = ask(snmp::kPduGetBulkRequest, snmp::kVersion2c,
                      {nullBinding("1.3.6.1.2.1.2.2.1.10.1")}, "", 0, 3);
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->varBinds.count(), 3u);
    EXPECT_EQ(nameOf(answer->varBinds.items[0]), kLastName);
    for (int i = 1; i < 3; ++i) {
        EXPECT_EQ(nameOf(answer->varBinds.items[i]), kLastName);
        EXPECT_EQ(answer->varBinds.items[i].value.syntax, snmp::kTagEndOfMibView);
    }
}

// --- Set ----------------------------------------------------------------------------------

TEST_F(AgentRequests, AcceptedSetEchoesTheBindingsAndStoresTheValues) {
    auto answer =
        ask(snmp::kPduSetRequest, snmp::kVersion2c,
            {octetBinding("1.3.6.1.2.1.1.4.0", "noc"), integerBinding("1.3.6.1.2.1.1.8.0", 10)});
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->errorStatus, kNoError);
    ASSERT_EQ(answer->varBinds.count(), 2u);
    EXPECT_EQ(answer->varBinds.items[0].value.octets, octets("noc"));
    auto read = ask(snmp::kPduGetRequest, snmp::kVersion2c,
                    {nullBinding("1.3.6.1.2.1.1.4.0"), nullBinding("1.3.6.1.2.1.1.8.0")});
    ASSERT_TRUE(read);
    EXPECT_EQ(read->varBinds.items[0].value.octets, octets("noc"));
    EXPECT_EQ(read->varBinds.items[1].value.number, 10u);
    EXPECT_EQ(statistics().SetRequests, 1u);
}

TEST_F(AgentRequests, V2cWrongTypeStopsBeforeAnythingIsSet) {
    auto answer =
        ask(snmp::kPduSetRequest, snmp::kVersion2c,
            {octetBinding("1.3.6.1.2.1.1.4.0", "changed"), integerBinding("1.3.6.1.2.1.1.5.0", 3)});
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->errorStatus, kWrongType);
    EXPECT_EQ(answer->errorIndex, 2);
    EXPECT_EQ(answer->varBinds.items[0].value.octets, octets("changed"));  // as sent
    auto read = ask(snmp::kPduGetRequest, snmp::kVersion2c, {nullBinding("1.3.6.1.2.1.1.4.0")});
    ASSERT_TRUE(read);
    EXPECT_EQ(read->varBinds.items[0].value.octets, octets("admin"));
}

struct SetCase {
    const char* what;
    snmp::VarBind binding;
    int32_t v1Status;
    int32_t v2Status;
};

TEST_F(AgentRequests, SetRefusalsByVersion) {
    const std::vector<SetCase> cases = {
        {"unknown name", octetBinding("1.3.6.1.2.1.1.99.0", "x"), kNoSuchName, kNoAccess},
        {"read-only access", octetBinding("1.3.6.1.2.1.1.1.0", "x"), kNoSuchName, kNotWritable},
        {"wrong type", integerBinding("1.3.6.1.2.1.1.4.0", 1), kBadValue, kWrongType},
        {"fixed value", integerBinding("1.3.6.1.2.1.1.7.0", 1), kBadValue, kNotWritable},
        {"too long", octetBinding("1.3.6.1.2.1.1.5.0", "nine char"), kBadValue, 8},
        {"out of range", integerBinding("1.3.6.1.2.1.1.8.0", 11), kBadValue, 10},
    };
    for (const SetCase& c : cases) {
        for (uint32_t version : {snmp::kVersion1, snmp::kVersion2c}) {
            auto answer = ask(snmp::kPduSetRequest, version,
                              {octetBinding("1.3.6.1.2.1.1.4.0", "ok"), c.binding});
            ASSERT_TRUE(answer) << c.what;
            EXPECT_EQ(answer->errorStatus, version == snmp::kVersion1 ? c.v1Status : c.v2Status)
                << c.what << " v" << version;
            EXPECT_EQ(answer->errorIndex, 2) << c.what;
            EXPECT_EQ(answer->varBinds.count(), 2u);
        }
    }
    auto writeOnly = ask(snmp::kPduSetRequest, snmp::kVersion2c,
                         {octetBinding("1.3.6.1.2.1.1.6.0", "new secret")});
    ASSERT_TRUE(writeOnly);
    EXPECT_EQ(writeOnly->errorStatus, kNoError);
}

// A BER element of a short-form length.
std::vector<uint8_t> tlv(uint8_t tag, const std::vector<uint8_t>& content) {
    const std::size_t n = content.size();
    std::vector<uint8_t> out(n < 128 ? 2 : 4);
    out[0] = tag;
    if (n < 128) {
        out[1] = static_cast<uint8_t>(n);
    } else {
        out[1] = 0x82;
        out[2] = static_cast<uint8_t>(n >> 8);
        out[3] = static_cast<uint8_t>(n);
    }
    for (uint8_t octet : content) {
        out.push_back(octet);
    }
    return out;
}

std::vector<uint8_t> joined(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& part : parts) {
        for (uint8_t octet : part) {
            out.push_back(octet);
        }
    }
    return out;
}

// A SetRequest of sysContact.0 = "ok" followed by `name` with the value element as given.
std::vector<uint8_t> setWithRawValue(uint32_t version, const std::vector<uint8_t>& name,
                                     const std::vector<uint8_t>& value) {
    const std::vector<uint8_t> contact = {0x2B, 6, 1, 2, 1, 1, 4, 0};
    const auto bindings = tlv(0x30, joined({tlv(0x30, joined({tlv(0x06, contact),
                                                              tlv(0x04, {'o', 'k'})})),
                                            tlv(0x30, joined({tlv(0x06, name), value}))}));
    const auto pdu = tlv(0xA3, joined({tlv(0x02, {7}), tlv(0x02, {0}), tlv(0x02, {0}), bindings}));
    return tlv(0x30, joined({tlv(0x02, {static_cast<uint8_t>(version)}),
                             tlv(0x04, {'p', 'r', 'i', 'v', 'a', 't', 'e'}), pdu}));
}

TEST_F(AgentRequests, SetOfAValueThatDidNotDecodeIsRefusedAndNothingIsSet) {
    const std::vector<uint8_t> integerName = {0x2B, 6, 1, 2, 1, 1, 8, 0};  // r_lastset(1, 10, 5)
    const std::vector<uint8_t> oidName = {0x2B, 6, 1, 2, 1, 2, 2, 1, 99, 1};  // write-only
    std::vector<uint8_t> longOid = {0x2B};  // 1.3 and 127 more: 129 sub-identifiers
    longOid.resize(128, 1);
    const struct {
        const char* what;
        std::vector<uint8_t> name;
        std::vector<uint8_t> value;
    } cases[] = {
        {"2^31", integerName, tlv(0x02, {0x00, 0x80, 0, 0, 0})},
        {"2^32+7", integerName, tlv(0x02, {0x01, 0, 0, 0, 7})},
        {"-2^31-1", integerName, tlv(0x02, {0xFF, 0x7F, 0xFF, 0xFF, 0xFF})},
        {"2^63", integerName, tlv(0x02, {0x00, 0x80, 0, 0, 0, 0, 0, 0, 0})},
        {"5 in five octets", integerName, tlv(0x02, {0, 0, 0, 0, 5})},
        {"5 in two octets", integerName, tlv(0x02, {0, 5})},
        {"-1 in two octets", integerName, tlv(0x02, {0xFF, 0xFF})},
        {"no content", integerName, tlv(0x02, {})},
        {"129 sub-identifiers", oidName, tlv(0x06, longOid)},
    };
    for (const auto& c : cases) {
        for (uint32_t version : {snmp::kVersion1, snmp::kVersion2c}) {
            auto answer = exchange(setWithRawValue(version, c.name, c.value));
            ASSERT_TRUE(answer) << c.what;
            EXPECT_EQ(answer->errorStatus, version == snmp::kVersion1 ? kBadValue : kWrongEncoding)
                << c.what << " v" << version;
            EXPECT_EQ(answer->errorIndex, 2) << c.what;
        }
    }
    auto read = ask(snmp::kPduGetRequest, snmp::kVersion2c,
                    {nullBinding("1.3.6.1.2.1.1.4.0"), nullBinding("1.3.6.1.2.1.1.8.0")});
    ASSERT_TRUE(read);
    EXPECT_EQ(read->varBinds.items[0].value.octets, octets("admin"));
    EXPECT_EQ(read->varBinds.items[1].value.number, 5u);
    store::AttributeInfo found;
    snmp::SyntaxValue stored;
    ASSERT_TRUE(agent.store().lookupAttribute(oid("1.3.6.1.2.1.2.2.1.99.1"), found));
    ASSERT_TRUE(agent.store().makeValue(stored, found));
    EXPECT_EQ(stored.oid, oid("1.3.6.1.4"));
    // The sound encodings of the same values are taken.
    auto five = exchange(setWithRawValue(snmp::kVersion2c, integerName, tlv(0x02, {5})));
    ASSERT_TRUE(five);
    EXPECT_EQ(five->errorStatus, kNoError);
}

// An agent with a table of RowStatus rows (under 1.3.6.1.4.1.99.1.1) and a dynamic-instance
// reserve of two rows and the twenty instances kept to spare.
class AgentRows : public AgentRequests {
  protected:
    AgentRows() {
        mibInfoText =
            "1.3.6.1.4.1.99.1.1.1  tIndex   Integer      NA C1\r\n"
            "1.3.6.1.4.1.99.1.1.2  tName    OctetString  RC C (0,32) d\r\n"
            "1.3.6.1.4.1.99.1.1.3  tValue   Integer      RC C\r\n"
            "1.3.6.1.4.1.99.1.1.4  tStatus  Integer      RC C (1,6) r\r\n"
            "%en  1.3.6.1.4.1.99  acme\r\n"
            "%ei  1.3.6.1.4.1.99.1.1  \"tIndex\"\r\n";
        controlText =
            "%drow  tEntry  rowstatus\r\n"
            "%dcol  tIndex   NotReq Integer     NA  dfixed(0)\r\n"
            "%dcol  tName    Req    OctetString RC  lastset(none)\r\n"
            "%dcol  tValue   Req    Integer     RC  lastset(0)\r\n"
            "%dcol  tStatus  NotReq Integer     RC  rowstatus(1)\r\n"
            "1.3.6.1.2.1.1.4.0, OctetString, RW, lastset(admin)\r\n";
        iniText = "DYNINSTSIZE=28\r\n";
    }
};

TEST_F(AgentRows, ARowTheReserveHasNoRoomForIsRefusedTheWayOfEachVersion) {
    constexpr int32_t kCreateAndWait = 5;
    for (const char* row : {"1", "2", "3"}) {
        const std::string rowStatus = std::string("1.3.6.1.4.1.99.1.1.4.") + row;
        auto made = ask(snmp::kPduSetRequest, snmp::kVersion2c,
                        {integerBinding(rowStatus.c_str(), kCreateAndWait)});
        ASSERT_TRUE(made) << row;
        ASSERT_EQ(made->errorStatus, kNoError) << row;
    }
    for (uint32_t version : {snmp::kVersion1, snmp::kVersion2c}) {
        auto refused = ask(snmp::kPduSetRequest, version,
                           {octetBinding("1.3.6.1.2.1.1.4.0", "changed"),
                            integerBinding("1.3.6.1.4.1.99.1.1.4.4", kCreateAndWait)});
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->errorStatus,
                  version == snmp::kVersion1 ? kNoSuchName : kResourceUnavailable)
            << "v" << version;
        EXPECT_EQ(refused->errorIndex, 2);
    }
    // Refused before anything was set.
    auto read = ask(snmp::kPduGetRequest, snmp::kVersion2c,
                    {nullBinding("1.3.6.1.2.1.1.4.0"), nullBinding("1.3.6.1.4.1.99.1.1.4.4")});
    ASSERT_TRUE(read);
    EXPECT_EQ(read->varBinds.items[0].value.octets, octets("admin"));
    EXPECT_EQ(read->varBinds.items[1].value.syntax, snmp::kTagNoSuchInstance);
}

// --- Statistics, debug log, reports ---------------------------------------------------------

TEST_F(AgentRequests, StatisticsLinesAreRedrawnAtMostEveryIntervalYetStayCurrent) {
    status.append("Agent has been started.");
    ASSERT_TRUE(ask(snmp::kPduGetRequest, snmp::kVersion2c, {nullBinding("1.3.6.1.2.1.1.1.0")}));
    ASSERT_EQ(status.size(), 4u);
    EXPECT_EQ(status.lines()[1], "GetRequests:\t1         \t\tGetBulkRequests:\t0         ");
    EXPECT_EQ(agent.statisticsRefresh().shownCount(), 1u);

    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(
            ask(snmp::kPduGetNextRequest, snmp::kVersion2c, {nullBinding("1.3.6.1.2.1.1.1.0")}));
    }
    EXPECT_EQ(agent.statisticsRefresh().shownCount(), 1u);  // within the interval: pending
    EXPECT_TRUE(agent.statisticsRefresh().pending());
    EXPECT_EQ(status.lines()[2], "GetNextRequests:\t0         \t\tInPkts:\t\t1         ");

    clock.advanceMs(kStatisticsIntervalMs);
    loop.runOnce(0);
    EXPECT_FALSE(agent.statisticsRefresh().pending());
    EXPECT_EQ(status.lines()[2], "GetNextRequests:\t3         \t\tInPkts:\t\t4         ");
    EXPECT_EQ(agent.statisticsRefresh().shownCount(), 2u);
    EXPECT_EQ(loop.timerCount(), 0u);
}

TEST_F(AgentRequests, DebugLogHoldsRequestResponseAndAnEmptyLine) {
    openDebugLog();
    agent.settings().debugMode = false;  // the log open, but debug mode off: nothing written
    ASSERT_TRUE(ask(snmp::kPduGetRequest, snmp::kVersion2c, {nullBinding("1.3.6.1.2.1.1.7.0")}));
    EXPECT_EQ(readFile(dir.path("agent/debug.out")), "");
    agent.settings().debugMode = true;
    auto answer = ask(snmp::kPduGetRequest, snmp::kVersion2c, {nullBinding("1.3.6.1.2.1.1.7.0")});
    ASSERT_TRUE(answer);
    const std::string id = std::to_string(requestId);
    EXPECT_EQ(readFile(dir.path("agent/debug.out")),
              "Get Request : Request Id = " + id +
                  ", Error Status = No Error , Error Index = 0\r\n"
                  "Oid1 = 1.3.6.1.2.1.1.7.0 , Type = NULL, Value = NULL\r\n"
                  "Response : Request Id = " +
                  id +
                  ", Error Status = No Error , Error Index = 0\r\n"
                  "Oid1 = 1.3.6.1.2.1.1.7.0 , Type = Integer, Value = 72\r\n"
                  "\r\n");
}

TEST(IgnoredTraps, AreReportedWithTheirIdentity) {
    StatusList status;
    snmp::Pdu trap;
    trap.type = snmp::kPduTrap;
    trap.genericTrap = 4;
    trap.specificTrap = 0;
    status.append(trapIgnoredText(trap));
    trap.genericTrap = 9;
    trap.specificTrap = 12;
    status.append(trapIgnoredText(trap));
    snmp::Pdu v2;
    v2.type = snmp::kPduSnmpV2Trap;
    v2.varBinds.items.push_back(nullBinding("1.3.6.1.2.1.1.3.0"));
    snmp::VarBind trapOid = nullBinding("1.3.6.1.6.3.1.1.4.1.0");
    trapOid.value.syntax = snmp::kTagObjectId;
    trapOid.value.oid = oid("1.3.6.1.6.3.1.1.5.3");
    v2.varBinds.items.push_back(trapOid);
    status.append(trapIgnoredText(v2));
    const std::vector<std::string> expected = {
        "Got Trap(generic = authenticationFailure, specific = 0). Ignored.",
        "Got Trap(generic = 9, specific = 12). Ignored.",
        "Got SNMPv2 Trap(1.3.6.1.6.3.1.1.5.3). Ignored.",
    };
    EXPECT_EQ(status.lines(), expected);
}

TEST_F(AgentRequests, AnswerThatDoesNotFitGoesOutAsTooBigTheWayOfEachVersion) {
    std::vector<snmp::VarBind> many;
    for (int i = 1; i <= 60; ++i) {
        many.push_back(nullBinding(("1.3.6.1.2.1.2.2.1.2." + std::to_string(i)).c_str()));
    }
    auto v2 = ask(snmp::kPduGetRequest, snmp::kVersion2c, many);
    ASSERT_TRUE(v2);
    EXPECT_EQ(v2->errorStatus, kTooBig);
    EXPECT_EQ(v2->errorIndex, 0);
    EXPECT_EQ(v2->varBinds.count(), 0u);
    auto v1 = ask(snmp::kPduGetNextRequest, snmp::kVersion1, many);
    ASSERT_TRUE(v1);
    EXPECT_EQ(v1->errorStatus, kTooBig);
    EXPECT_EQ(v1->errorIndex, 0);
    ASSERT_EQ(v1->varBinds.count(), 60u);  // the request's own bindings
    EXPECT_EQ(nameOf(v1->varBinds.items[59]), "1.3.6.1.2.1.2.2.1.2.60");
    EXPECT_EQ(v1->varBinds.items[59].value.syntax, snmp::kTagNull);
    for (const std::string& line : status.lines()) {
        EXPECT_NE(line, kSendResponseFailedReport);
    }
    EXPECT_EQ(statistics().OutPkts, 2u);

    // A larger maxMessageSize lets the answer through, and a GetBulk answer grows to it.
    agent.settings().maxMessageSize = 4000;
    auto whole = ask(snmp::kPduGetRequest, snmp::kVersion2c, many);
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->errorStatus, kNoError);
    EXPECT_EQ(whole->varBinds.count(), 60u);
    EXPECT_GT(lastAnswerSize, 1500u);
    auto bulk = ask(snmp::kPduGetBulkRequest, snmp::kVersion2c, {nullBinding("1.3.6.1.2.1.2")}, "",
                    0, 1000);
    ASSERT_TRUE(bulk);
    EXPECT_GT(lastAnswerSize, 3900u);
    EXPECT_LT(lastAnswerSize, 4000u);

    // A Set whose answer cannot go sets nothing; in SNMPv1 even the request's bindings are too
    // many, so its tooBig carries none.
    agent.settings().maxMessageSize = kLeastMaxMessageSize;
    for (uint32_t version : {snmp::kVersion1, snmp::kVersion2c}) {
        auto set = ask(snmp::kPduSetRequest, version,
                       {octetBinding("1.3.6.1.2.1.1.4.0", std::string(600, 'n'))});
        ASSERT_TRUE(set);
        EXPECT_EQ(set->errorStatus, kTooBig);
        EXPECT_EQ(set->varBinds.count(), 0u);
    }
    auto read = ask(snmp::kPduGetRequest, snmp::kVersion2c, {nullBinding("1.3.6.1.2.1.1.4.0")});
    ASSERT_TRUE(read);
    EXPECT_EQ(read->varBinds.items[0].value.octets, octets("admin"));
}

TEST_F(AgentRequests, WaitingRequestsAreServedInBatchesPastAFaultyDatagram) {
    status.append("Agent has been started.");
    const SocketAddress agentAddress = loopback(AF_INET, port);
    for (int i = 0; i < 40; ++i) {
        if (i == 5) {
            manager.sendTo(agentAddress, {});  // an empty datagram
        }
        manager.sendTo(agentAddress, encode(snmp::kPduGetRequest, snmp::kVersion2c, "public",
                                            {nullBinding("1.3.6.1.2.1.1.7.0")}));
    }
    ::usleep(20000);  // all of them waiting on the endpoint
    loop.runOnce(0);
    EXPECT_EQ(statistics().OutPkts, 31u);  // one batch: the empty one and 31 requests
    ASSERT_EQ(status.lines().size(), 5u);  // start line, statistics, the failure
    EXPECT_EQ(status.lines()[4], "Error in receiving UDP Packet (0)");
    loop.runOnce(0);
    EXPECT_EQ(statistics().OutPkts, 40u);
    std::vector<uint8_t> answer;
    int answers = 0;
    while (manager.receive(answer, 100)) {
        ++answers;
    }
    EXPECT_EQ(answers, 40);
}

TEST_F(AgentRequests, GarbageDatagramsLeaveTheAgentServing) {
    std::vector<uint8_t> junk(200);
    uint32_t seed = 12345;
    for (int round = 0; round < 200; ++round) {
        for (auto& b : junk) {
            seed = seed * 1103515245u + 12345u;
            b = static_cast<uint8_t>(seed >> 16);
        }
        junk[0] = 0x30;  // mostly a SEQUENCE, so that decoding gets somewhere
        manager.sendTo(loopback(AF_INET, port),
                       std::vector<uint8_t>(junk.begin(), junk.begin() + round % 200));
    }
    auto answer = ask(snmp::kPduGetRequest, snmp::kVersion2c, {nullBinding("1.3.6.1.2.1.1.1.0")});
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->varBinds.items[0].value.octets, octets("Simulated agent"));
}

}  // namespace
}  // namespace korvimo
