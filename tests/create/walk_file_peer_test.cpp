// Walks of a real agent: Net-SNMP's snmpd on a free loopback port, walked with snmpwalk
// (numeric names, with and without -Oe), read back with parseWalk.
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "app/core/temp_dir.h"
#include "create/walk_file.h"
#include "support/command_run.h"
#include "support/snmpd.h"

namespace korvimo::create {
namespace {

using korvimo::testing::runCommand;
using korvimo::testing::Snmpd;
using korvimo::testing::TempDir;

TEST(WalkFilePeer, ReadsWhatSnmpwalkPrints) {
    if (::access("/usr/sbin/snmpd", X_OK) != 0 || runCommand("command -v snmpwalk").status != 0) {
        GTEST_SKIP() << "snmpd or snmpwalk is not installed (Debian packages snmpd and snmp)";
    }
    TempDir dir;
    Snmpd snmpd(dir);
    ASSERT_TRUE(snmpd.start());
    for (const char* options : {"-On", "-On -Oe"}) {
        const std::string text = snmpd.walk(options);
        const std::size_t bindings = static_cast<std::size_t>(
            std::count(text.begin(), text.end(), '\n'));  // one line each: no string spans two
        ASSERT_GT(bindings, 100u) << options;
        const WalkContents walk = parseWalk(text);
        for (const WalkProblem& problem : walk.problems) {
            ADD_FAILURE() << options << ": line " << problem.line << ": " << problem.text;
        }
        EXPECT_EQ(walk.records.size(), bindings) << options;
    }
}

}  // namespace
}  // namespace korvimo::create
