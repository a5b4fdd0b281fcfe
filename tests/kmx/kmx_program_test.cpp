// Runs the built kmx program on real and made-up MIB modules in a scratch directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "zorlet/program_run.h"

namespace korvimo::testing {
namespace {

const std::string kKmx = KORVIMO_HOME_DIR "/bin/kmx";
const std::string kMibs = KORVIMO_MIB_SOURCE_DIR;

#define REQUIRE_PUBLIC_MIBS()                                                             \
    if (!std::filesystem::is_directory(kMibs)) {                                          \
        GTEST_SKIP() << "public MIB modules not found in " << kMibs                       \
                     << " (set KORVIMO_MIB_SOURCE_DIR to the directory that holds them)"; \
    }

bool hasLine(const std::string& text, const std::string& line) {
    return text.find(line + "\r\n") != std::string::npos;
}

const std::string kAcmeMib = R"(ACME-MIB DEFINITIONS ::= BEGIN
IMPORTS
    MODULE-IDENTITY, OBJECT-TYPE, NOTIFICATION-TYPE, enterprises, Integer32, Unsigned32
        FROM SNMPv2-SMI
    TEXTUAL-CONVENTION, RowStatus, DisplayString, MacAddress FROM SNMPv2-TC;

acme MODULE-IDENTITY
    LAST-UPDATED "202001010000Z" ORGANIZATION "acme" CONTACT-INFO "acme"
    DESCRIPTION "test module" ::= { enterprises 99999 }

Colour ::= TEXTUAL-CONVENTION
    DISPLAY-HINT "d" STATUS current DESCRIPTION "c"
    SYNTAX INTEGER { red(1), green(5), blue(3) }

Label ::= TEXTUAL-CONVENTION
    DISPLAY-HINT "255a" STATUS current DESCRIPTION "l"
    SYNTAX OCTET STRING (SIZE (0..32))

acmeObjects OBJECT IDENTIFIER ::= { acme 1 }

acmeLevel OBJECT-TYPE
    SYNTAX Integer32 (-5..-1 | 3..70) MAX-ACCESS read-write STATUS current
    DESCRIPTION "l" ::= { acmeObjects 1 }

acmeTable OBJECT-TYPE
    SYNTAX SEQUENCE OF AcmeEntry MAX-ACCESS not-accessible STATUS current
    DESCRIPTION "t" ::= { acmeObjects 2 }

acmeEntry OBJECT-TYPE
    SYNTAX AcmeEntry MAX-ACCESS not-accessible STATUS current
    DESCRIPTION "e" INDEX { acmeNumber, IMPLIED acmeName } ::= { acmeTable 1 }

AcmeEntry ::= SEQUENCE { acmeNumber Integer32, acmeName OCTET STRING, acmeColour Colour,
    acmeLabel Label, acmeMac MacAddress, acmeCount Unsigned32, acmeStatus RowStatus,
    acmeState INTEGER, acmeText DisplayString }

acmeNumber OBJECT-TYPE
    SYNTAX Integer32 (1..100) MAX-ACCESS not-accessible STATUS current
    DESCRIPTION "n" ::= { acmeEntry 1 }
acmeName OBJECT-TYPE
    SYNTAX OCTET STRING (SIZE (1..8 | 10..20)) MAX-ACCESS not-accessible STATUS current
    DESCRIPTION "n" ::= { acmeEntry 2 }
acmeColour OBJECT-TYPE
    SYNTAX Colour MAX-ACCESS read-create STATUS current DESCRIPTION "c" ::= { acmeEntry 3 }
acmeLabel OBJECT-TYPE
    SYNTAX Label MAX-ACCESS read-create STATUS current DESCRIPTION "l" ::= { acmeEntry 4 }
acmeMac OBJECT-TYPE
    SYNTAX MacAddress MAX-ACCESS read-only STATUS current DESCRIPTION "m" ::= { acmeEntry 5 }
acmeCount OBJECT-TYPE
    SYNTAX Unsigned32 (0..4294967295) MAX-ACCESS read-only STATUS current
    DESCRIPTION "c" ::= { acmeEntry 6 }
acmeStatus OBJECT-TYPE
    SYNTAX RowStatus MAX-ACCESS read-create STATUS current DESCRIPTION "s" ::= { acmeEntry 7 }
acmeState OBJECT-TYPE
    SYNTAX INTEGER { on(1), off(2) } MAX-ACCESS accessible-for-notify STATUS current
    DESCRIPTION "s" ::= { acmeEntry 8 }
acmeText OBJECT-TYPE
    SYNTAX DisplayString MAX-ACCESS read-only STATUS current DESCRIPTION "t" ::= { acmeEntry 9 }

acmeAlarm NOTIFICATION-TYPE
    OBJECTS { acmeLevel, acmeState } STATUS current DESCRIPTION "a" ::= { acme 0 1 }
END
)";

const std::string kAcmeTrapMib = R"(ACME-TRAP-MIB DEFINITIONS ::= BEGIN
IMPORTS enterprises FROM RFC1155-SMI
        OBJECT-TYPE FROM RFC-1212
        TRAP-TYPE FROM RFC-1215;
acmeV1 OBJECT IDENTIFIER ::= { enterprises 99998 }
snmp OBJECT IDENTIFIER ::= { 1 3 6 1 2 1 11 }
acmeV1Count OBJECT-TYPE SYNTAX INTEGER ACCESS read-only STATUS mandatory ::= { acmeV1 1 }
acmeV1Alarm TRAP-TYPE ENTERPRISE acmeV1 VARIABLES { acmeV1Count } ::= 7
acmeV1Down TRAP-TYPE ENTERPRISE snmp VARIABLES { acmeV1Count } ::= 2
END
)";

std::vector<std::pair<std::string, std::string>> publicMibPath() {
    return {{"KORVIMO_MIBPATH", kMibs}};
}

TEST(KmxProgram, CompilesIfMibIntoNamesObjectsIndexesAndNotifications) {
    REQUIRE_PUBLIC_MIBS();
    ScratchDir dir;
    ProgramRun run = runProgram(kKmx, {"-o", "t1", "-e", "e1", kMibs + "/IF-MIB.txt"}, dir.path());
    EXPECT_EQ(run.status, 0);
    std::string out = readText(dir.file("t1"));
    EXPECT_EQ(out.rfind("%MODULENAME IF-MIB\r\n", 0), 0u);
    EXPECT_TRUE(hasLine(out, "%en 1.3.6.1.2.1.2.2 ifTable"));
    EXPECT_TRUE(hasLine(out, "%en 1.3.6.1.2.1.31 ifMIB"));
    EXPECT_TRUE(hasLine(out, "%en 1.3.6.1.6.3.1.1.5.3 linkDown"));
    EXPECT_TRUE(hasLine(out, "ifEntry.1 ifIndex InterfaceIndex RO C1 (1,2147483647)"));
    EXPECT_TRUE(hasLine(out, "ifEntry.2 ifDescr DisplayString RO C (0,255) d"));
    EXPECT_TRUE(hasLine(out, "ifEntry.7 ifAdminStatus IF-MIB::ifAdminStatus RW C (1,3) e"));
    EXPECT_TRUE(hasLine(out, "%tc IF-MIB::ifAdminStatus Integer (1,3) e"));
    EXPECT_TRUE(hasLine(out, "%es IF-MIB::ifAdminStatus testing 3"));
    EXPECT_TRUE(hasLine(out, "%tc InterfaceIndex Integer (1,2147483647)"));
    EXPECT_TRUE(hasLine(out, "%ei ifEntry [ifIndex]"));
    EXPECT_TRUE(hasLine(out, "%ea ifXEntry ifEntry"));
    EXPECT_TRUE(hasLine(out, "%trap linkDown 1.3.6.1.6.3.1.1.5.3 7 3"));
    EXPECT_NE(out.find("%trap linkDown 1.3.6.1.6.3.1.1.5.3 7 3\r\n%tvar linkDown ifIndex\r\n"
                       "%tvar linkDown ifAdminStatus\r\n%tvar linkDown ifOperStatus\r\n"),
              std::string::npos);
    // Tables and entries are names only.
    EXPECT_EQ(out.find(" ifTable "), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(dir.file("e1")));
}

TEST(KmxProgram, WritesTypesRangesMarkersAccessAndKindCodes) {
    REQUIRE_PUBLIC_MIBS();
    ScratchDir dir;
    writeText(dir.file("ACME-MIB.mib"), kAcmeMib);
    ProgramRun run =
        runProgram(kKmx, {"-o", "t1", "-e", "e1", "ACME-MIB.mib"}, dir.path(), publicMibPath());
    EXPECT_EQ(run.status, 0) << readText(dir.file("e1"));
    std::string out = readText(dir.file("t1"));
    EXPECT_TRUE(hasLine(out, "%tc Colour Integer (1,5) e"));
    EXPECT_TRUE(hasLine(out, "%es Colour red 1"));
    EXPECT_TRUE(hasLine(out, "%es Colour blue 3"));
    EXPECT_TRUE(hasLine(out, "%tc Label OctetString (0,32) d"));
    EXPECT_TRUE(hasLine(out, "%en 1.3.6.1.4.1.99999 acme"));
    EXPECT_TRUE(hasLine(out, "%en 1.3.6.1.4.1.99999.1.2.1 acmeEntry"));
    EXPECT_TRUE(hasLine(out, "acmeObjects.1 acmeLevel Integer RW S (-5,70)"));
    EXPECT_TRUE(hasLine(out, "acmeEntry.1 acmeNumber Integer NA C1 (1,100)"));
    EXPECT_TRUE(hasLine(out, "acmeEntry.2 acmeName OctetString NA C (1,20)"));
    EXPECT_TRUE(hasLine(out, "acmeEntry.3 acmeColour Colour RC C (1,5) e"));
    EXPECT_TRUE(hasLine(out, "acmeEntry.4 acmeLabel Label RC C (0,32) d"));
    EXPECT_TRUE(hasLine(out, "acmeEntry.5 acmeMac MacAddress RO C (6,6) p"));
    EXPECT_TRUE(hasLine(out, "acmeEntry.6 acmeCount Unsigned32 RO C (0,4294967295)"));
    EXPECT_TRUE(hasLine(out, "acmeEntry.7 acmeStatus ACME-MIB::RowStatus RC C (1,6) r"));
    EXPECT_TRUE(hasLine(out, "%es ACME-MIB::RowStatus createAndWait 5"));
    EXPECT_TRUE(hasLine(out, "acmeEntry.8 acmeState ACME-MIB::acmeState NA C (1,2) e"));
    EXPECT_TRUE(hasLine(out, "acmeEntry.9 acmeText DisplayString RO C (0,255) d"));
    EXPECT_TRUE(hasLine(out, "%tc DisplayString OctetString (0,255) d"));
    EXPECT_TRUE(hasLine(out, "%ei acmeEntry [acmeNumber *acmeName]"));
    EXPECT_TRUE(hasLine(out, "%trap acmeAlarm 1.3.6.1.4.1.99999.0.1 7 1"));
    EXPECT_TRUE(hasLine(out, "%tvar acmeAlarm acmeState"));
    // A parent of another module gets a name line so that the module resolves alone.
    EXPECT_TRUE(hasLine(out, "%en 1.3.6.1.4.1.99999.1 acmeObjects"));
}

TEST(KmxProgram, MapsSnmpV1TrapTypesToEnterpriseGenericAndSpecific) {
    REQUIRE_PUBLIC_MIBS();
    ScratchDir dir;
    writeText(dir.file("acme-trap.txt"), kAcmeTrapMib);
    ProgramRun run =
        runProgram(kKmx, {"-o", "t1", "-e", "e1", "acme-trap.txt"}, dir.path(), publicMibPath());
    std::string out = readText(dir.file("t1"));
    EXPECT_TRUE(hasLine(out, "%trap acmeV1Alarm 1.3.6.1.4.1.99998 6 7")) << out;
    EXPECT_TRUE(hasLine(out, "%tvar acmeV1Alarm acmeV1Count"));
    EXPECT_TRUE(hasLine(out, "%trap acmeV1Down 1.3.6.1.2.1.11 2 0"));
}

TEST(KmxProgram, FindsImportsByModuleNameBesideTheMibFile) {
    REQUIRE_PUBLIC_MIBS();
    ScratchDir dir;
    std::filesystem::create_directories(dir.file("lib"));
    writeText(dir.file("lib/ACME-MIB.my"), kAcmeMib);
    writeText(dir.file("lib/USER-MIB"), R"(USER-MIB DEFINITIONS ::= BEGIN
IMPORTS OBJECT-TYPE FROM SNMPv2-SMI Colour, acmeObjects FROM ACME-MIB;
userColour OBJECT-TYPE SYNTAX Colour MAX-ACCESS read-only STATUS current
    DESCRIPTION "u" ::= { acmeObjects 9 }
END
)");
    ProgramRun run =
        runProgram(kKmx, {"-o", "t1", "-e", "e1", "lib/USER-MIB"}, dir.path(), publicMibPath());
    EXPECT_EQ(run.status, 0);
    std::string out = readText(dir.file("t1"));
    EXPECT_TRUE(hasLine(out, "acmeObjects.9 userColour USER-MIB::Colour RO S (1,5) e")) << out;
    EXPECT_TRUE(hasLine(out, "%es USER-MIB::Colour green 5"));
    EXPECT_TRUE(hasLine(out, "%en 1.3.6.1.4.1.99999.1 acmeObjects"));
    EXPECT_EQ(readText(dir.file("e1")).find("failed to locate"), std::string::npos);
}

TEST(KmxProgram, SearchesMibDirListOfTheHomeSettingsAndMibDirs) {
    REQUIRE_PUBLIC_MIBS();
    ScratchDir dir;
    std::filesystem::create_directories(dir.file("home/bin"));
    std::filesystem::create_directories(dir.file("extra"));
    std::filesystem::create_directories(dir.file("work"));
    writeText(dir.file("extra/ACME-MIB.txt"), kAcmeMib);
    writeText(dir.file("home/bin/korvan.ini"),
              "[KORVAN]\r\nMIBDIRLIST=" + kMibs + "," + dir.file("extra") + "\r\n");
    const std::string user = R"(USER-MIB DEFINITIONS ::= BEGIN
IMPORTS OBJECT-TYPE FROM SNMPv2-SMI acmeObjects FROM ACME-MIB;
userThing OBJECT-TYPE SYNTAX INTEGER MAX-ACCESS read-only STATUS current
    DESCRIPTION "u" ::= { acmeObjects 8 }
END
)";
    writeText(dir.file("work/USER-MIB.txt"), user);
    ProgramRun with =
        runProgram(kKmx, {"--home", dir.file("home"), "-o", "t1", "-e", "e1", "USER-MIB.txt"},
                   dir.file("work"));
    EXPECT_EQ(with.status, 0) << readText(dir.file("work/e1"));
    EXPECT_TRUE(hasLine(readText(dir.file("work/t1")), "acmeObjects.8 userThing Integer RO S"));

    ProgramRun without =
        runProgram(kKmx, {"--home", dir.file("nohome"), "-o", "t2", "-e", "e2", "USER-MIB.txt"},
                   dir.file("work"));
    EXPECT_NE(readText(dir.file("work/e2")).find("failed to locate MIB module `ACME-MIB'"),
              std::string::npos);

    // The directories of $MIBDIRS, as the system's SNMP tools take them.
    ProgramRun mibDirs =
        runProgram(kKmx, {"--home", dir.file("nohome"), "-o", "t3", "-e", "e3", "USER-MIB.txt"},
                   dir.file("work"), {{"MIBDIRS", "+" + dir.file("extra") + ":" + kMibs}});
    EXPECT_EQ(mibDirs.status, 0) << readText(dir.file("work/e3"));
    EXPECT_TRUE(hasLine(readText(dir.file("work/t3")), "acmeObjects.8 userThing Integer RO S"));
}

TEST(KmxProgram, CompilesEveryModuleOfAFileAndPiecesWithoutExtension) {
    REQUIRE_PUBLIC_MIBS();
    ScratchDir dir;
    writeText(dir.file("both.mib"), kAcmeMib + "\n" + kAcmeTrapMib);
    runProgram(kKmx, {"-o", "t1", "-e", "e1", "both.mib"}, dir.path(), publicMibPath());
    std::string out = readText(dir.file("t1"));
    std::size_t first = out.find("%MODULENAME ACME-MIB\r\n");
    std::size_t second = out.find("%MODULENAME ACME-TRAP-MIB\r\n");
    EXPECT_NE(first, std::string::npos);
    EXPECT_NE(second, std::string::npos);
    EXPECT_LT(first, second);

    writeText(dir.file("both_12"), kAcmeTrapMib);
    ProgramRun piece =
        runProgram(kKmx, {"-o", "st12", "-e", "se12", "both_12"}, dir.path(), publicMibPath());
    EXPECT_EQ(piece.status, 0);
    EXPECT_EQ(readText(dir.file("st12")).rfind("%MODULENAME ACME-TRAP-MIB\r\n", 0), 0u);
}

TEST(KmxProgram, MissingOrBrokenMibFileGivesMessagesAndNoCrash) {
    ScratchDir dir;
    ProgramRun missing = runProgram(kKmx, {"-o", "t1", "-e", "e1", "absent.mib"}, dir.path());
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(readText(dir.file("t1")), "");
    EXPECT_NE(readText(dir.file("e1")).find("kmx: cannot open MIB file [absent.mib]\r\n"),
              std::string::npos);

    std::string binary;
    for (int i = 0; i < 8192; ++i) {
        binary.push_back(static_cast<char>((i * 2654435761u >> 13) & 0xff));
    }
    writeText(dir.file("binary.mib"), binary);
    ProgramRun bin = runProgram(kKmx, {"-o", "t2", "-e", "e2", "binary.mib"}, dir.path());
    EXPECT_EQ(bin.status, 1);
    EXPECT_NE(readText(dir.file("e2")).find("kmx: no MIB module could be compiled from"),
              std::string::npos);

    writeText(dir.file("cut.mib"), kAcmeMib.substr(0, kAcmeMib.size() / 2));
    ProgramRun cut = runProgram(kKmx, {"-o", "t3", "-e", "e3", "cut.mib"}, dir.path());
    EXPECT_TRUE(cut.status == 0 || cut.status == 1);
    EXPECT_NE(readText(dir.file("e3")).find("error"), std::string::npos);
}

TEST(KmxProgram, RejectsIncompleteCommandLineWithUsage) {
    ScratchDir dir;
    ProgramRun run = runProgram(kKmx, {"-o", "t1", "x.mib"}, dir.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("usage: kmx [--home DIR] -o OUTFILE -e ERRFILE MIBFILE"),
              std::string::npos);
    ProgramRun help = runProgram(kKmx, {"--help"}, dir.path());
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("KORVIMO_MIBPATH"), std::string::npos);
}

}  // namespace
}  // namespace korvimo::testing
