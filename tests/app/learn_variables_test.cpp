// The Learn SNMP Variables logic against a teacher on the same event loop (an Agent serving a
// small control file, or a raw UDP socket): whole walks in both versions and with GetBulk,
// bounds, the start refusals, time-out, Stop, and an answer out of order.
#include "app/learn_variables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "agent/agent.h"
#include "agent/udp_peer.h"
#include "app/core/clock.h"
#include "app/core/epoll_event_loop.h"
#include "app/core/temp_dir.h"
#include "app/paced_file_run.h"

namespace korvimo::app {
namespace {

using testing::decode;
using testing::freeUdpPort;
using testing::oid;
using testing::readFile;
using testing::TempDir;
using testing::UdpPeer;
using testing::writeFile;

const char* const kTeacherFile =
    "1.3.6.1.2.1.1.1.0, OctetString, RO, fixed(lab router)\r\n"
    "1.3.6.1.2.1.1.5.0, OctetString, RW, lastset(r1)\r\n"
    "1.3.6.1.2.1.2.1.0, Integer, RO, fixed(2)\r\n"
    "1.3.6.1.4.1.99999.1.0, Counter, RO, fixed(7)\r\n";

// The variable lines the walk of the whole teacher writes.
const std::vector<std::string> kLearnedLines = {
    "sysDescr.0                    , OctetString , RO , fixed(lab router)",
    "sysName.0                     , OctetString , RW , r_lastset(0, 255, r1)",
    "ifNumber.0                    , Integer     , RO , fixed(2)",
    "1.3.6.1.4.1.99999.1.0         , Counter     , RO , randomup(7, 100)",
};

class LearnVariablesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* sub : {"bin", "agent", "mibs"}) {
            std::filesystem::create_directory(dir.path(sub));
        }
        writeFile(dir.path("mibs/mibinfo.out"),
                  readFile(std::string(KORVIMO_SOURCE_DIR) + "/home/mibs/mibinfo.out"));
        writeFile(dir.path("teacher.ctl"), kTeacherFile);
        config.ensureFile();
        config.writePlain(ConfigKey::INSTALLDIR, dir.root());
        learn.onFinished = [this] { ++finished; };
        learn.options().receiveTraps = false;
    }

    // The teacher: an agent on the loop, on a free loopback port.
    uint16_t startTeacher() {
        teacher.settings().readCommunity = "public";
        EXPECT_TRUE(teacher.openControlFile(dir.path("teacher.ctl")));
        uint16_t port = 0;
        for (int attempt = 0; attempt < 20 && !teacher.endpoint().isOpen(); ++attempt) {
            port = freeUdpPort(AF_INET);
            (void)teacher.openEndpoint({std::to_string(port), "127.0.0.1", ""});
        }
        EXPECT_TRUE(teacher.endpoint().isOpen());
        EXPECT_TRUE(teacher.load(clock.calendarSeconds(), dir.path("tempfile")));
        teacher.serve();
        return port;
    }

    void fill(uint16_t port, const std::string& file = "t") {
        learn.dialogStart();
        learn.form().teacher = "127.0.0.1:" + std::to_string(port);
        learn.form().file = file;
        learn.form().community = "public";
        learn.form().timeout = "2";
        learn.form().retries = "3";
    }

    // Turns the loop (real time, the clock standing) until the run ends.
    void pumpToEnd() {
        for (int turn = 0; turn < 500 && learn.running(); ++turn) {
            loop.runOnce(10);
        }
    }

    // The variable lines of a learned file, without their line ends.
    std::vector<std::string> variableLines(const std::string& name = "t.ctl") {
        std::vector<std::string> lines;
        std::istringstream in(readFile(dir.path("agent/" + name)));
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            if (!line.empty() && line.front() != '#') {
                lines.push_back(line);
            }
        }
        return lines;
    }

    bool hasLine(const std::string& text) {
        const auto& lines = learn.status().lines();
        return std::find(lines.begin(), lines.end(), text) != lines.end();
    }

    TempDir dir;
    Configuration config{dir.path("bin/korvan.ini")};
    ManualClock clock;
    EpollEventLoop loop{clock};
    RequestIdSequence ids;
    HomeMibInfo mibInfo;
    Busy busy = Busy::Idle;
    StatusList teacherStatus;
    Agent teacher{{loop, teacherStatus}};
    LearnVariables learn{{config, loop, ids, mibInfo, busy}};
    int finished = 0;
};

TEST_F(LearnVariablesTest, WalksTheWholeTeacherInV1UntilNoSuchName) {
    fill(startTeacher());
    ASSERT_TRUE(learn.start());
    EXPECT_EQ(busy, Busy::Running);
    EXPECT_FALSE(learn.enabled(LearnVariablesControl::Start));
    EXPECT_TRUE(learn.enabled(LearnVariablesControl::Stop));
    pumpToEnd();

    EXPECT_EQ(learn.lastEnd(), LearnVariables::End::Completed);
    EXPECT_EQ(variableLines(), kLearnedLines);
    EXPECT_EQ(learn.learned(), 4u);
    EXPECT_EQ(learn.status().lines(),
              (std::vector<std::string>{create::kLearningStartedText, "Got 1.3.6.1.4.1.99999.1.0",
                                        create::kLearningCompletedText}));
    const std::string file = readFile(dir.path("agent/t.ctl"));
    EXPECT_NE(file.find("# Teaching Agent's IP Address:   127.0.0.1\r\n"), std::string::npos);
    // A run that ended by itself: another may start without Stop.
    EXPECT_EQ(busy, Busy::Idle);
    EXPECT_EQ(finished, 1);
    EXPECT_TRUE(learn.enabled(LearnVariablesControl::Start));
    EXPECT_FALSE(learn.enabled(LearnVariablesControl::Stop));
    EXPECT_TRUE(learn.enabled(LearnVariablesControl::View));
    EXPECT_EQ(config.readHistoryHead(ConfigKey::INPUTFILE), "t.ctl");
    EXPECT_EQ(config.readHistoryHead(ConfigKey::IPADDRESS), learn.form().teacher);

    // The next dialog start offers the end of the MIB and every descriptor of mibinfo.out.
    learn.dialogStart();
    EXPECT_EQ(learn.form().start, "1.0");
    EXPECT_EQ(learn.form().end, create::kEndOfAllMibs);
    EXPECT_EQ(learn.history(LearnVariablesList::End).at(1), "sysDescr");
}

TEST_F(LearnVariablesTest, V2cGetNextAndGetBulkWriteTheSameFileEndingAtEndOfMibView) {
    const uint16_t port = startTeacher();
    fill(port, "next");
    learn.form().v2c = true;
    ASSERT_TRUE(learn.start());
    pumpToEnd();
    EXPECT_EQ(learn.lastEnd(), LearnVariables::End::Completed);

    fill(port, "bulk");
    EXPECT_TRUE(learn.form().v2c);  // the version chosen last
    learn.options().bulk = 50;
    ASSERT_TRUE(learn.start());
    pumpToEnd();
    EXPECT_EQ(learn.lastEnd(), LearnVariables::End::Completed);
    EXPECT_EQ(learn.learned(), 4u);
    EXPECT_EQ(variableLines("next.ctl"), kLearnedLines);
    EXPECT_EQ(readFile(dir.path("agent/bulk.ctl")), readFile(dir.path("agent/next.ctl")));
}

TEST_F(LearnVariablesTest, WalksFromTheStartToBeforeTheEnd) {
    fill(startTeacher());
    learn.form().start = "sysDescr";
    learn.form().end = "1.3.6.1.2.1.2";
    ASSERT_TRUE(learn.start());
    pumpToEnd();
    EXPECT_EQ(learn.lastEnd(), LearnVariables::End::Completed);
    EXPECT_EQ(variableLines(), (std::vector<std::string>{kLearnedLines[0], kLearnedLines[1]}));
    EXPECT_EQ(config.historyValues(ConfigKey::IPADDRESS).size(), 1u);
    std::string value;
    config.readPlain(ConfigKey::STARTOID, value);
    EXPECT_EQ(value, "sysDescr");

    // Remembered: the next dialog offers them first.
    learn.dialogStart();
    EXPECT_EQ(learn.form().start, "sysDescr");
    EXPECT_EQ(learn.form().end, "1.3.6.1.2.1.2");
}

TEST_F(LearnVariablesTest, RefusesStartsWithTheirTexts) {
    const uint16_t port = startTeacher();
    struct Case {
        std::string teacher, start, end, text;
    };
    const std::string at = "127.0.0.1:" + std::to_string(port);
    const std::vector<Case> cases = {
        {at, "sysDescr", "sysDescr", create::kEndNotAfterStartText},
        {at, "1.3.6.1.2.1.2", "1.3.6.1.2.1.1", create::kEndNotAfterStartText},
        {at, "1.0", "noSuchObject", create::kEndUnknownText},
        {at, "noSuchObject.0", create::kEndOfAllMibs, create::kStartUnknownText},
        {"127.0.0.1:0", "1.0", create::kEndOfAllMibs, "IP address is invalid. Try again"},
        {"[::1", "1.0", create::kEndOfAllMibs, "IP address is invalid. Try again"},
        {"[::1]:" + std::to_string(port), "1.0", create::kEndOfAllMibs,
         "Agent address type does not match currently selected IP version. Try again"},
    };
    writeFile(dir.path("agent/t.ctl"), "an earlier capture\r\n");
    for (const Case& c : cases) {
        fill(port);
        learn.form().teacher = c.teacher;
        learn.form().start = c.start;
        learn.form().end = c.end;
        EXPECT_FALSE(learn.start()) << c.text;
        EXPECT_EQ(learn.status().lines(), std::vector<std::string>{c.text});
        EXPECT_FALSE(learn.running());
        EXPECT_EQ(busy, Busy::Idle);
    }
    // A refused start leaves the file it would have written as it was.
    EXPECT_EQ(readFile(dir.path("agent/t.ctl")), "an earlier capture\r\n");

    // Another operation holds the window.
    busy = Busy::Running;
    fill(port);
    EXPECT_FALSE(learn.start());
    EXPECT_EQ(learn.status().lines().back(), kOperationInProgressText);
    EXPECT_EQ(finished, 0);
}

TEST_F(LearnVariablesTest, ASilentTeacherEndsTheRunAfterItsRetries) {
    UdpPeer silent(AF_INET);
    fill(silent.port());
    ASSERT_TRUE(learn.start());
    for (int halfSeconds = 1; halfSeconds <= 11; ++halfSeconds) {
        clock.advanceMs(500);
        loop.runOnce(0);
    }
    EXPECT_TRUE(learn.running());  // 5.5 s: the third transmission still waits
    clock.advanceMs(500);
    loop.runOnce(0);
    EXPECT_FALSE(learn.running());

    EXPECT_EQ(learn.lastEnd(), LearnVariables::End::TimedOut);
    EXPECT_TRUE(hasLine(create::kTimeoutText));
    EXPECT_EQ(learn.status().lines().back(), create::kLearningStoppedText);
    const std::string file = readFile(dir.path("agent/t.ctl"));
    EXPECT_TRUE(file.ends_with(create::kStoppedByTimeoutLine));
    int transmissions = 0;
    std::vector<uint8_t> bytes;
    while (transmissions < 5 && silent.receive(bytes, 0)) {
        ++transmissions;
    }
    EXPECT_EQ(transmissions, 3);
}

TEST_F(LearnVariablesTest, StopEndsTheRunAtTheNextResponseWithoutWritingIt) {
    fill(startTeacher());
    ASSERT_TRUE(learn.start());
    for (int turn = 0; turn < 200 && learn.learned() == 0; ++turn) {
        loop.runOnce(10);
    }
    ASSERT_GE(learn.learned(), 1u);
    const std::size_t learned = learn.learned();
    learn.stop();
    EXPECT_EQ(busy, Busy::Idle);  // given back at once
    EXPECT_TRUE(learn.running());
    pumpToEnd();

    EXPECT_EQ(learn.lastEnd(), LearnVariables::End::Stopped);
    EXPECT_EQ(learn.learned(), learned);
    EXPECT_EQ(variableLines().size(), learned);
    EXPECT_TRUE(readFile(dir.path("agent/t.ctl")).ends_with(create::kStoppedByUserLine));
    EXPECT_EQ(learn.status().lines().back(), create::kLearningStoppedText);
    EXPECT_EQ(finished, 1);
}

TEST_F(LearnVariablesTest, AnAnswerOutOfOrderIsRecordedAndTheWalkGoesOnFromIt) {
    UdpPeer peer(AF_INET);
    fill(peer.port());
    learn.form().start = "sysName.0";
    ASSERT_TRUE(learn.start());

    // Answers one request (from `sender`, else the teacher's own port); the name of the
    // binding asked after.
    auto answer = [&](const char* name, int32_t errorStatus, UdpPeer* sender = nullptr) {
        std::vector<uint8_t> bytes;
        SocketAddress from;
        for (int turn = 0; turn < 100 && !peer.receive(bytes, 0, &from); ++turn) {
            loop.runOnce(10);
        }
        snmp::Pdu request;
        EXPECT_TRUE(decode(bytes, request));
        auto encoded = [&](const char* answered) {
            auto list = snmp::SnmpCreateVbl();
            snmp::ObjectId id = oid(answered);
            snmp::SyntaxValue value;
            value.syntax = snmp::kTagOctetString;
            value.octets = testing::octets("x");
            snmp::SnmpAddVb(list.get(), &id, &value);
            auto response = snmp::SnmpCreateBPdu(request.version, &request.community,
                                                 snmp::kPduResponse, request.requestId, errorStatus,
                                                 errorStatus != 0 ? 1 : 0, std::move(list));
            std::vector<uint8_t> out(snmp::kMaxMessageSize);
            uint32_t size = static_cast<uint32_t>(out.size());
            EXPECT_TRUE(snmp::SnmpEncodeMsg(response.get(), out.data(), &size).ok());
            out.resize(size);
            return out;
        };
        if (sender != nullptr) {
            // Somebody else answers first, with the right request-id: no answer.
            sender->sendTo(from, encoded("1.3.6.1.2.1.1.9.0"));
            for (int turn = 0; turn < 5; ++turn) {
                loop.runOnce(10);
            }
            // The request still waits for its answer: it is sent again.
            clock.advanceMs(2000);
            loop.runOnce(0);
            std::vector<uint8_t> again;
            EXPECT_TRUE(peer.receive(again, 0));
        }
        peer.sendTo(from, encoded(name));
        return request.varBinds.items.empty() ? snmp::ObjectId{} : request.varBinds.items[0].name;
    };
    UdpPeer stranger(AF_INET);
    EXPECT_EQ(answer("1.3.6.1.2.1.1.1.0", 0, &stranger), oid("1.3.6.1.2.1.1.5.0"));
    EXPECT_EQ(answer("1.3.6.1.2.1.1.1.0", 2), oid("1.3.6.1.2.1.1.1.0"));  // goes on from it
    pumpToEnd();

    EXPECT_EQ(learn.lastEnd(), LearnVariables::End::Completed);
    EXPECT_TRUE(hasLine(create::kWrongOrderText));
    EXPECT_NE(readFile(dir.path("agent/t.ctl"))
                  .find("#GetNext error: Wrong lexicographical ordering: 1.3.6.1.2.1.1.1.0\r\n"),
              std::string::npos);
    EXPECT_TRUE(variableLines().empty());
}

TEST_F(LearnVariablesTest, TemplatesComeFirstOneTablePerTickThenTheWalk) {
    fill(startTeacher());
    learn.form().templates = true;
    ASSERT_TRUE(learn.start());
    EXPECT_EQ(learn.status().lines().front(), create::kCreatingTemplatesText);
    for (int turn = 0; turn < 2000 && learn.running(); ++turn) {
        clock.advanceMs(kCreateTickMs);
        loop.runOnce(1);
    }
    EXPECT_EQ(learn.lastEnd(), LearnVariables::End::Completed);
    EXPECT_TRUE(hasLine(create::kLearningStartedText));
    std::string value;
    config.readPlain(ConfigKey::DYNTEMPLATE, value);
    EXPECT_EQ(value, "YES");
    const std::string file = readFile(dir.path("agent/t.ctl"));
    const std::size_t firstTemplate = file.find("#%drow");
    ASSERT_NE(firstTemplate, std::string::npos);
    EXPECT_LT(firstTemplate, file.find("sysDescr.0"));
    EXPECT_EQ(variableLines(), kLearnedLines);
}

}  // namespace
}  // namespace korvimo::app
