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
        // A binding's line starts with its numeric name; a string that holds a line end (a
        // process's arguments in the host resources table) goes on over further lines.
        std::size_t bindings = 0;
        for (std::size_t at = 0; at < text.size(); at = text.find('\n', at) + 1) {
            bindings += text.compare(at, 3, ".1.") == 0 ? 1 : 0;
            if (text.find('\n', at) == std::string::npos) {
                break;
            }
        }
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
