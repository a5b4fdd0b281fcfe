// Trap file creation over the mibinfo.out of every public MIB module, compiled once for the
// whole test binary with kmx and zorlet: the file reads back and every trap in it can be
// sent as an SNMPv1 Trap and as an SNMPv2c notification.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/core/clock.h"
#include "app/core/epoll_event_loop.h"
#include "app/create_traps.h"
#include "traps/trap_file.h"
#include "traps/trap_message.h"
#include "zorlet/program_run.h"

namespace korvimo::testing {
namespace {

const std::string kKmx = KORVIMO_HOME_DIR "/bin/kmx";
const std::string kZorlet = KORVIMO_HOME_DIR "/bin/zorlet";
const std::string kMibs = KORVIMO_MIB_SOURCE_DIR;

class CreateFromMibs : public ::testing::Test {
  protected:
    // A home whose mibs/ holds the compiled modules and the list of their files.
    static void SetUpTestSuite() {
        if (!std::filesystem::is_directory(kMibs)) {
            return;
        }
        home_ = new ScratchDir;
        for (const char* sub : {"bin", "agent", "mibs"}) {
            std::filesystem::create_directory(home_->file(sub));
        }
        std::vector<std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(kMibs)) {
            if (entry.is_regular_file()) {
                files.push_back(entry.path().string());
            }
        }
        std::sort(files.begin(), files.end());
        const std::string work = home_->file("mibs");
        std::string m1;
        std::string list = "MIB files compiled:\r\n";
        for (std::size_t n = 0; n < files.size(); ++n) {
            const std::string out = "t" + std::to_string(n);
            runProgram(kKmx, {"-o", out, "-e", "e" + std::to_string(n), files[n]}, work);
            m1 += readText(work + "/" + out);
            list += files[n] + "\r\n";
        }
        writeText(work + "/m1", m1);
        writeText(work + "/miblist.lst", list);
        runProgram(kZorlet, {"m1", "mibinfo.out", "merr"}, work);
        Configuration config(home_->file("bin/korvan.ini"));
        config.ensureFile();
        config.writePlain(ConfigKey::INSTALLDIR, home_->path());
    }
    static void TearDownTestSuite() {
        delete home_;
        home_ = nullptr;
    }
    void SetUp() override {
        if (home_ == nullptr) {
            GTEST_SKIP() << "public MIB modules not found in " << kMibs;
        }
    }

    static ScratchDir* home_;
};

ScratchDir* CreateFromMibs::home_ = nullptr;

TEST_F(CreateFromMibs, EveryCreatedTrapIsSendable) {
    Configuration config(home_->file("bin/korvan.ini"));
    ManualClock clock;
    EpollEventLoop loop(clock);
    app::HomeMibInfo mibInfo;
    Busy busy = Busy::Idle;
    app::CreateTraps create({config, loop, mibInfo, busy});
    create.dialogStart();
    create.form().trapFile = "all";
    create.form().includeStandardTraps = true;
    create.form().enterprise.clear();
    ASSERT_TRUE(create.start());
    create.runToEnd();
    ASSERT_TRUE(create.completed()) << create.status().lines().back();
    for (const std::string& line : create.status().lines()) {
        EXPECT_EQ(line.find("Cannot map"), std::string::npos) << line;
    }

    const std::shared_ptr<const mibinfo::MibInfo> mib = mibInfo.current(config);
    ASSERT_TRUE(mib);
    std::size_t trapRecords = 0;
    for (const mibinfo::Record& record : mib->records()) {
        trapRecords += record.kind == mibinfo::RecordKind::Trap ? 1 : 0;
    }
    ASSERT_GT(trapRecords, 20u);

    traps::TrapFile file;
    ASSERT_TRUE(file.read(home_->file("agent/all.trp")).ok());
    EXPECT_EQ(file.names().size(), 6 + trapRecords);
    const uint8_t agentAddr[4] = {127, 0, 0, 1};
    for (std::size_t position = 0; position < file.names().size(); ++position) {
        for (const traps::TrapKind kind :
             {traps::TrapKind::V1Trap, traps::TrapKind::Notification}) {
            traps::PreparedTrap trap;
            const Result prepared = traps::prepareTrap(file, position, mib.get(), kind, false, trap);
            ASSERT_TRUE(prepared.ok()) << file.names()[position] << ": " << prepared.text();
            std::unique_ptr<snmp::Pdu> pdu;
            const Result built = traps::buildTrapPdu(trap, kind, "public", agentAddr, 100, 0, pdu);
            EXPECT_TRUE(built.ok()) << file.names()[position] << ": " << built.text();
        }
    }
}

}  // namespace
}  // namespace korvimo::testing
