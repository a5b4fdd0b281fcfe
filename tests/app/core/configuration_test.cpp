#include "app/core/configuration.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include <string>
#include <vector>

#include "app/core/startup_settings.h"
#include "app/core/temp_dir.h"

namespace korvimo {
namespace {

using testing::readFile;
using testing::TempDir;
using testing::writeFile;

using Values = std::vector<std::string>;

TEST(ConfigurationFile, EnsureFileWritesHeaderThenExactlyTheDefaults) {
    TempDir dir;
    Configuration config(dir.path("korvan.ini"));
    ASSERT_TRUE(config.ensureFile());
    EXPECT_EQ(readFile(config.path()),
              "[KORVAN]\r\n"
              "RCOMMUNITY1=vintor\r\n"
              "WCOMMUNITY1=vintor\r\n"
              "TCOMMUNITY1=vintor\r\n"
              "STARTOID=1.0\r\n"
              "STOPOID=End Of All MIBs\r\n"
              "INPUTFILE1=../agent/learn.ctl\r\n"
              "TRAPFILE1=../agent/default.trp\r\n"
              "TIMEOUT1=1\r\n"
              "RETRIES1=3\r\n"
              "STSYSUPTIME1=0\r\n"
              "DEBUGMODE=NO\r\n"
              "SNMPVER=BILINGUAL\r\n"
              "ZORLETTYPE=MEMORY\r\n"
              "NUMROWS1=2\r\n"
              "USESTDTRAPS=YES\r\n"
              "INSTALLDIR=..\r\n"
              "CACHESIZE=30\r\n"
              "DYNINSTSIZE=100\r\n"
              "DYNTEMPLATE=NO\r\n"
              "SPLITMIBFILES=NO\r\n");
}

TEST(ConfigurationFile, EnsureFileNeverRewritesAnExistingFile) {
    TempDir dir;
    writeFile(dir.path("korvan.ini"), "[OTHER]\nX=1\n");
    Configuration config(dir.path("korvan.ini"));
    ASSERT_TRUE(config.ensureFile());
    EXPECT_EQ(readFile(config.path()), "[OTHER]\nX=1\n");
}

TEST(ConfigurationFile, MissingFileReadsAsAbsent) {
    TempDir dir;
    Configuration config(dir.path("korvan.ini"));
    std::string value = "stale";
    EXPECT_FALSE(config.readPlain(ConfigKey::CACHESIZE, value));
    EXPECT_EQ(value, "");
    EXPECT_EQ(config.readHistoryHead(ConfigKey::RCOMMUNITY), "");
    EXPECT_TRUE(config.historyValues(ConfigKey::INPUTFILE).empty());
}

TEST(ConfigurationFile, FirstWriteCreatesTheFileWithTheSection) {
    TempDir dir;
    Configuration config(dir.path("korvan.ini"));
    ASSERT_TRUE(config.writePlain(ConfigKey::DEBUGMODE, "YES"));
    EXPECT_EQ(readFile(config.path()), "[KORVAN]\r\nDEBUGMODE=YES\r\n");
}

TEST(ConfigurationFile, UnreadableFileReadsAsAbsentAndIsNotOverwritten) {
    TempDir dir;
    // A directory in the file's place cannot be read, whoever runs the test.
    ASSERT_EQ(::mkdir(dir.path("korvan.ini").c_str(), 0755), 0);
    Configuration config(dir.path("korvan.ini"));
    std::string value;
    EXPECT_FALSE(config.readPlain(ConfigKey::SNMPVER, value));
    EXPECT_FALSE(config.writePlain(ConfigKey::SNMPVER, "SNMPv1"));
    EXPECT_FALSE(config.pushHistory(ConfigKey::RCOMMUNITY, "public"));
}

TEST(ConfigurationFile, FileWithoutReadPermissionKeepsItsContent) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permissions do not bind the super-user";
    }
    TempDir dir;
    writeFile(dir.path("korvan.ini"), "[KORVAN]\r\nSNMPVER=SNMPv2C\r\n");
    ASSERT_EQ(::chmod(dir.path("korvan.ini").c_str(), 0200), 0);
    Configuration config(dir.path("korvan.ini"));
    std::string value;
    EXPECT_FALSE(config.readPlain(ConfigKey::SNMPVER, value));
    EXPECT_FALSE(config.writePlain(ConfigKey::DEBUGMODE, "YES"));
    ::chmod(dir.path("korvan.ini").c_str(), 0600);
    EXPECT_EQ(readFile(config.path()), "[KORVAN]\r\nSNMPVER=SNMPv2C\r\n");
}

TEST(ConfigurationFile, ReadsLfOnlyFilesAndKeepsTheirLineEnds) {
    TempDir dir;
    writeFile(dir.path("korvan.ini"), "[KORVAN]\nSNMPVER=SNMPv1\nRCOMMUNITY1=public\n");
    Configuration config(dir.path("korvan.ini"));
    std::string value;
    ASSERT_TRUE(config.readPlain(ConfigKey::SNMPVER, value));
    EXPECT_EQ(value, "SNMPv1");
    EXPECT_EQ(config.readHistoryHead(ConfigKey::RCOMMUNITY), "public");
    ASSERT_TRUE(config.writePlain(ConfigKey::DEBUGMODE, "YES"));
    EXPECT_EQ(readFile(config.path()),
              "[KORVAN]\nSNMPVER=SNMPv1\nRCOMMUNITY1=public\nDEBUGMODE=YES\n");
}

TEST(ConfigurationFile, ForeignKeysSectionsAndCommentsSurviveWrites) {
    TempDir dir;
    const std::string before =
        "; written by hand\r\n"
        "[TOOLS]\r\n"
        "SNMPVER=keep me\r\n"
        "\r\n"
        "[KORVAN]\r\n"
        "MYOWNKEY=42\r\n"
        "SNMPVER=SNMPv1\r\n"
        "\r\n"
        "[LATER]\r\n"
        "A=b\r\n";
    writeFile(dir.path("korvan.ini"), before);
    Configuration config(dir.path("korvan.ini"));
    ASSERT_TRUE(config.writePlain(ConfigKey::SNMPVER, "SNMPv2C"));
    ASSERT_TRUE(config.writePlain(ConfigKey::EDITOR, "vi"));
    EXPECT_EQ(readFile(config.path()),
              "; written by hand\r\n"
              "[TOOLS]\r\n"
              "SNMPVER=keep me\r\n"
              "\r\n"
              "[KORVAN]\r\n"
              "MYOWNKEY=42\r\n"
              "SNMPVER=SNMPv2C\r\n"
              "EDITOR=vi\r\n"
              "\r\n"
              "[LATER]\r\n"
              "A=b\r\n");
}

TEST(ConfigurationFile, KeysAndSectionAreFoundWhateverTheirCaseAndSpacing) {
    TempDir dir;
    writeFile(dir.path("korvan.ini"),
              "[korvan]\r\n  snmpver =  SNMPv1  \r\nEDITOR=\"gvim -f\"\r\n");
    Configuration config(dir.path("korvan.ini"));
    std::string value;
    ASSERT_TRUE(config.readPlain(ConfigKey::SNMPVER, value));
    EXPECT_EQ(value, "SNMPv1");
    ASSERT_TRUE(config.readPlain(ConfigKey::EDITOR, value));
    EXPECT_EQ(value, "gvim -f");
}

TEST(ConfigurationFile, PresentEmptyValueDiffersFromAbsentKey) {
    TempDir dir;
    writeFile(dir.path("korvan.ini"), "[KORVAN]\r\nAGENTIP=\r\n");
    Configuration config(dir.path("korvan.ini"));
    std::string value;
    EXPECT_TRUE(config.readPlain(ConfigKey::AGENTIP, value));
    EXPECT_FALSE(config.readPlain(ConfigKey::AGENTIPXADDR, value));
}

TEST(ConfigurationFile, PlainReadReturnsAtMost99CharactersAndListRead499) {
    TempDir dir;
    const std::string longText(700, 'x');
    writeFile(dir.path("korvan.ini"),
              "[KORVAN]\r\nEDITOR=" + longText + "\r\nINPUTFILE1=" + longText + "\r\n");
    Configuration config(dir.path("korvan.ini"));
    std::string value;
    ASSERT_TRUE(config.readPlain(ConfigKey::EDITOR, value));
    EXPECT_EQ(value.size(), 99u);
    EXPECT_EQ(config.readHistoryHead(ConfigKey::INPUTFILE).size(), 99u);
    ASSERT_EQ(config.historyValues(ConfigKey::INPUTFILE).size(), 1u);
    EXPECT_EQ(config.historyValues(ConfigKey::INPUTFILE)[0].size(), 499u);
}

TEST(ConfigurationFile, AValueNeverAddsLinesOfItsOwn) {
    TempDir dir;
    Configuration config(dir.path("korvan.ini"));
    ASSERT_TRUE(config.writePlain(ConfigKey::EDITOR, "vi\r\nINSTALLDIR=/etc"));
    std::string value;
    EXPECT_FALSE(config.readPlain(ConfigKey::INSTALLDIR, value));
    ASSERT_TRUE(config.readPlain(ConfigKey::EDITOR, value));
    EXPECT_EQ(value, "vi");
}

TEST(ConfigurationFile, LinkedFileStaysALink) {
    TempDir dir;
    writeFile(dir.path("shared.ini"), "[KORVAN]\r\n");
    ASSERT_EQ(::symlink(dir.path("shared.ini").c_str(), dir.path("korvan.ini").c_str()), 0);
    Configuration config(dir.path("korvan.ini"));
    ASSERT_TRUE(config.writePlain(ConfigKey::EDITOR, "vi"));
    struct stat info {};
    ASSERT_EQ(::lstat(config.path().c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(readFile(dir.path("shared.ini")), "[KORVAN]\r\nEDITOR=vi\r\n");
}

TEST(ConfigurationFile, FailedCopyLeavesTheFileAsItWasAndSaysWhy) {
    TempDir dir;
    const std::string text = "[KORVAN]\r\nSNMPVER=SNMPv2C\r\n";
    writeFile(dir.path("korvan.ini"), text);
    // A directory in the copy's place: its open fails, whoever runs the test.
    const std::string copy = dir.path("korvan.ini.new-") + std::to_string(::getpid());
    ASSERT_EQ(::mkdir(copy.c_str(), 0755), 0);
    Configuration config(dir.path("korvan.ini"));
    EXPECT_FALSE(config.writePlain(ConfigKey::DEBUGMODE, "YES"));
    EXPECT_FALSE(config.pushHistory(ConfigKey::RCOMMUNITY, "public"));
    EXPECT_EQ(readFile(config.path()), text);
    EXPECT_EQ(config.takeWriteFailure(), "Cannot write " + config.path() + ": Is a directory");
    EXPECT_EQ(config.takeWriteFailure(), "");  // said once
}

TEST(ConfigurationFile, DeviceOrFifoIsRefusedAtOnceAndNamed) {
    TempDir dir;
    ASSERT_EQ(::symlink("/dev/zero", dir.path("korvan.ini").c_str()), 0);
    ASSERT_EQ(::mkfifo(dir.path("fifo.ini").c_str(), 0600), 0);
    writeFile(dir.path("large.ini"), "[KORVAN]\r\n" + std::string(kMaxConfigFileSize, ';'));
    for (const char* name : {"korvan.ini", "fifo.ini", "large.ini"}) {
        Configuration config(dir.path(name));
        std::string value;
        EXPECT_FALSE(config.readPlain(ConfigKey::SNMPVER, value)) << name;
        const Result readable = config.check();
        EXPECT_EQ(std::string(readable.text()).rfind("Cannot read " + config.path() + ": ", 0), 0u)
            << readable.text();
        EXPECT_FALSE(config.writePlain(ConfigKey::SNMPVER, "SNMPv1")) << name;
    }
    struct stat info {};
    ASSERT_EQ(::lstat(dir.path("korvan.ini").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(Configuration(dir.path("korvan.ini")).check().text(),
              "Cannot read " + dir.path("korvan.ini") + ": Not a regular file");
}

TEST(ConfigurationHistory, ReenteredValueMovesToTheFrontWithoutDuplicate) {
    TempDir dir;
    writeFile(dir.path("korvan.ini"),
              "[KORVAN]\r\nRCOMMUNITY1=a\r\nRCOMMUNITY2=b\r\nRCOMMUNITY3=c\r\n");
    Configuration config(dir.path("korvan.ini"));
    ASSERT_TRUE(config.pushHistory(ConfigKey::RCOMMUNITY, "b"));
    EXPECT_EQ(config.historyValues(ConfigKey::RCOMMUNITY), (Values{"b", "a", "c"}));
}

TEST(ConfigurationHistory, NewValueGoesFirstAndTheOthersMoveUp) {
    TempDir dir;
    Configuration config(dir.path("korvan.ini"));
    ASSERT_TRUE(config.pushHistory(ConfigKey::INPUTFILE, "one.ctl"));
    ASSERT_TRUE(config.pushHistory(ConfigKey::INPUTFILE, "two.ctl"));
    EXPECT_EQ(config.historyValues(ConfigKey::INPUTFILE), (Values{"two.ctl", "one.ctl"}));
    EXPECT_EQ(config.readHistoryHead(ConfigKey::INPUTFILE), "two.ctl");
}

TEST(ConfigurationHistory, EleventhDistinctValueDropsTheOldest) {
    TempDir dir;
    Configuration config(dir.path("korvan.ini"));
    for (int i = 1; i <= 11; ++i) {
        ASSERT_TRUE(config.pushHistory(ConfigKey::MGRIPADDRESS, "10.0.0." + std::to_string(i)));
    }
    Values values = config.historyValues(ConfigKey::MGRIPADDRESS);
    ASSERT_EQ(values.size(), 10u);
    EXPECT_EQ(values.front(), "10.0.0.11");
    EXPECT_EQ(values.back(), "10.0.0.2");
}

TEST(ConfigurationHistory, ListStopsAtTheFirstMissingNumber) {
    TempDir dir;
    writeFile(dir.path("korvan.ini"), "[KORVAN]\r\nTRAPFILE1=a\r\nTRAPFILE2=b\r\nTRAPFILE4=d\r\n");
    Configuration config(dir.path("korvan.ini"));
    EXPECT_EQ(config.historyValues(ConfigKey::TRAPFILE), (Values{"a", "b"}));
}

TEST(ConfigurationHistory, PushOverAGapMovesOnlyTheNumbersThatExist) {
    TempDir dir;
    writeFile(dir.path("korvan.ini"), "[KORVAN]\r\nTRAPFILE1=a\r\nTRAPFILE2=b\r\nTRAPFILE4=d\r\n");
    Configuration config(dir.path("korvan.ini"));
    // "d" lies beyond the gap, so it is not found: 4 moves to 5, 2 to 3, 1 to 2.
    ASSERT_TRUE(config.pushHistory(ConfigKey::TRAPFILE, "d"));
    EXPECT_EQ(config.historyValues(ConfigKey::TRAPFILE), (Values{"d", "a", "b", "d", "d"}));
}

TEST(ConfigurationHistory, ValuesMoveWhole) {
    TempDir dir;
    Configuration config(dir.path("korvan.ini"));
    const std::string longName(300, 'n');
    ASSERT_TRUE(config.pushHistory(ConfigKey::INPUTFILE, longName));
    ASSERT_TRUE(config.pushHistory(ConfigKey::INPUTFILE, "short.ctl"));
    EXPECT_EQ(config.historyValues(ConfigKey::INPUTFILE), (Values{"short.ctl", longName}));
}

// Programs of one home start together and each writes its own values: none may be lost,
// and nothing the user put into the file either.
TEST(ConfigurationHistory, ProcessesWritingAtOnceLoseNothing) {
    TempDir dir;
    writeFile(dir.path("korvan.ini"), "[KORVAN]\r\nEDITOR=my-editor\r\nAGENTPORT=1161\r\n");
    constexpr int kWriters = 10;  // one history holds ten values
    int gate[2];
    ASSERT_EQ(::pipe(gate), 0);
    std::vector<pid_t> writers;
    for (int i = 0; i < kWriters; ++i) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(gate[1]);
            char go;
            (void)::read(gate[0], &go, 1);  // all start when the gate closes
            Configuration config(dir.path("korvan.ini"));
            const std::string mine = "writer" + std::to_string(i);
            bool written = true;
            for (ConfigKey key : {ConfigKey::INPUTFILE, ConfigKey::RCOMMUNITY, ConfigKey::WCOMMUNITY}) {
                written = config.pushHistory(key, mine) && written;
            }
            written = config.writePlain(ConfigKey::DEBUGMODE, "NO") && written;
            ::_exit(written ? 0 : 1);
        }
        writers.push_back(pid);
    }
    ::close(gate[0]);
    ::close(gate[1]);
    for (pid_t pid : writers) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    Configuration config(dir.path("korvan.ini"));
    for (ConfigKey key : {ConfigKey::INPUTFILE, ConfigKey::RCOMMUNITY, ConfigKey::WCOMMUNITY}) {
        Values values = config.historyValues(key);
        std::sort(values.begin(), values.end());
        Values expected;
        for (int i = 0; i < kWriters; ++i) {
            expected.push_back("writer" + std::to_string(i));
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(values, expected) << Configuration::keyName(key);
    }
    std::string value;
    EXPECT_TRUE(config.readPlain(ConfigKey::EDITOR, value) && value == "my-editor");
    EXPECT_TRUE(config.readPlain(ConfigKey::AGENTPORT, value) && value == "1161");
    // No temporary copy is left behind.
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path(""))) {
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

TEST(SettingNumber, ReadsSignAndDigitsOfTheFirstNineCharacters) {
    EXPECT_EQ(readSettingNumber("3"), 3);
    EXPECT_EQ(readSettingNumber("-12x"), -12);
    EXPECT_EQ(readSettingNumber("abc"), 0);
    EXPECT_EQ(readSettingNumber(""), 0);
    EXPECT_EQ(readSettingNumber("1234567890123"), 123456789);
}

TEST(StartupSettings, DefaultsOfANewFile) {
    TempDir dir;
    Configuration config(dir.path("korvan.ini"));
    const StartupSettings settings = readStartupSettings(config);
    EXPECT_EQ(settings.installDir, "..");
    EXPECT_EQ(settings.timeoutMs, 1000u);
    EXPECT_EQ(settings.retries, 3);
    EXPECT_EQ(settings.readCommunity, "vintor");
    EXPECT_EQ(settings.writeCommunity, "vintor");
    EXPECT_FALSE(settings.timestamp);
    EXPECT_FALSE(settings.skipInstance);
    EXPECT_FALSE(settings.debugMode);
    EXPECT_EQ(settings.ipVersion, IpVersion::IPv4);
    EXPECT_EQ(settings.walkType, 1);
    EXPECT_EQ(settings.versionMode, VersionMode::Bilingual);
    EXPECT_FALSE(readFile(config.path()).empty());  // the file was made
}

TEST(StartupSettings, ValuesFromAnExistingFile) {
    TempDir dir;
    const std::string longCommunity(60, 'c');
    writeFile(dir.path("korvan.ini"),
              "[KORVAN]\n"
              "INSTALLDIR=/opt/korvimo\n"
              "TIMEOUT1=2\n"
              "RETRIES1=5\n"
              "RCOMMUNITY1=" +
                  longCommunity +
                  "\n"
                  "WCOMMUNITY1=private\n"
                  "TIMESTAMP=YES\n"
                  "SKIPINST=YES\n"
                  "DEBUGMODE=YES\n"
                  "IPV6SUPPORT=YES\n"
                  "SKIPWALKTYPE=NEXTOID\n"
                  "SNMPVER=SNMPv2C\n");
    Configuration config(dir.path("korvan.ini"));
    const StartupSettings settings = readStartupSettings(config);
    EXPECT_EQ(settings.installDir, "/opt/korvimo");
    EXPECT_EQ(settings.timeoutMs, 2000u);
    EXPECT_EQ(settings.retries, 5);
    EXPECT_TRUE(settings.readCommunity.empty());  // never its 49-character prefix
    EXPECT_EQ(settings.writeCommunity, "private");
    EXPECT_TRUE(settings.timestamp);
    EXPECT_TRUE(settings.skipInstance);
    EXPECT_TRUE(settings.debugMode);
    EXPECT_EQ(settings.ipVersion, IpVersion::IPv6);
    EXPECT_EQ(settings.walkType, 2);
    EXPECT_EQ(settings.versionMode, VersionMode::SNMPv2C);
}

TEST(StartupSettings, VersionAndFlagsAreMatchedExactly) {
    TempDir dir;
    writeFile(dir.path("korvan.ini"),
              "[KORVAN]\r\nSNMPVER=snmpv1\r\nDEBUGMODE=yes\r\nINSTALLDIR=\r\nTIMEOUT1=-4\r\n");
    Configuration config(dir.path("korvan.ini"));
    StartupSettings settings = readStartupSettings(config);
    EXPECT_EQ(settings.versionMode, VersionMode::Bilingual);
    EXPECT_FALSE(settings.debugMode);
    EXPECT_EQ(settings.installDir, "..");
    EXPECT_EQ(settings.timeoutMs, 0u);

    writeFile(dir.path("korvan.ini"), "[KORVAN]\r\nSNMPVER=SNMPv1\r\n");
    settings = readStartupSettings(config);
    EXPECT_EQ(settings.versionMode, VersionMode::SNMPv1);
}

}  // namespace
}  // namespace korvimo
