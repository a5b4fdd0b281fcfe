#include "kmx/search_path.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kmx/ini_value.h"
#include "zorlet/program_run.h"

namespace korvimo::kmx {
namespace {

using korvimo::testing::ScratchDir;
using korvimo::testing::writeText;

TEST(IniValue, FindsKeyOfSectionIgnoringCaseAndLineEnds) {
    std::string value;
    EXPECT_TRUE(findIniValue("[OTHER]\nMIBDIRLIST=no\n[korvan]\r\nmibdirlist = a, b \r\n", "KORVAN",
                             "MIBDIRLIST", value));
    EXPECT_EQ(value, "a, b");
    EXPECT_FALSE(findIniValue("[OTHER]\nMIBDIRLIST=no\n", "KORVAN", "MIBDIRLIST", value));
}

TEST(IniValue, ReadsKeyWrittenRightAfterHeaderWithoutLineEnd) {
    std::string value;
    EXPECT_TRUE(findIniValue("[KORVAN]INSTALLDIR=/opt/k\r\n", "KORVAN", "INSTALLDIR", value));
    EXPECT_EQ(value, "/opt/k");
}

TEST(SearchPath, OrdersOverrideFileDirectoryCurrentHomeListSystemAndLibrary) {
    ScratchDir dir;
    std::string bin = dir.file("bin");
    std::filesystem::create_directories(bin);
    writeText(bin + "/korvan.ini", "[KORVAN]\r\nMIBDIRLIST=/abs/one,rel\\two,,\r\n");
    SearchInputs in;
    in.mibFile = "/data/x/IF-MIB.txt";
    in.homeBin = bin;
    in.overridePath = "/env/a::/env/b";
    in.mibDirsPath = "+/vendor:/env/b";
    in.systemDirectories = systemMibDirectories("/home/u");
    in.libraryPath = "/usr/share/mibs/ietf:/env/a:/smi";
    std::vector<std::string> expected = {"/env/a",
                                         "/env/b",
                                         "/data/x",
                                         ".",
                                         bin + "/../mibs",
                                         "/abs/one",
                                         bin + "/rel/two",
                                         "/vendor",
                                         "/home/u/.snmp/mibs",
                                         "/usr/share/snmp/mibs",
                                         "/usr/share/snmp/mibs/iana",
                                         "/usr/share/snmp/mibs/ietf",
                                         "/usr/share/mibs/site",
                                         "/usr/share/mibs/iana",
                                         "/usr/share/mibs/ietf",
                                         "/usr/share/mibs/netsnmp",
                                         "/smi"};
    EXPECT_EQ(searchDirectories(in), expected);
    EXPECT_EQ(joinSearchPath({"a", "b"}), "a:b");
}

TEST(SearchPath, InstallDirOfSettingsPlacesTheMibsDirectory) {
    ScratchDir dir;
    std::string bin = dir.file("bin");
    std::filesystem::create_directories(bin);
    writeText(bin + "/korvan.ini", "[KORVAN]\nINSTALLDIR=/srv/korvimo\n");
    SearchInputs in;
    in.mibFile = "IF-MIB.txt";
    in.homeBin = bin;
    std::vector<std::string> dirs = searchDirectories(in);
    ASSERT_EQ(dirs.size(), 2u);  // "." (file and current directory alike), then mibs
    EXPECT_EQ(dirs[0], ".");
    EXPECT_EQ(dirs[1], "/srv/korvimo/mibs");
}

}  // namespace
}  // namespace korvimo::kmx
