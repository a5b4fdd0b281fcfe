#include "snmp/usm_user.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace korvimo::snmp {
namespace {

TEST(UsmUser, AcceptedLines) {
    const struct {
        const char* line;
        const char* name;
        AuthProtocol auth;
        const char* authPass;
        PrivProtocol priv;
        const char* privPass;
        bool readWrite;
        const char* level;
    } kCases[] = {
        {"monitor  SHA-256 \"my auth phrase\" AES-128 \"my priv phrase\"", "monitor",
         AuthProtocol::Sha256, "my auth phrase", PrivProtocol::Aes128, "my priv phrase", false,
         "authPriv"},
        {"\tadmin SHA authpass1234  aes-256 privpass1234 rw\r", "admin", AuthProtocol::Sha1,
         "authpass1234", PrivProtocol::Aes256, "privpass1234", true, "authPriv"},
        {"\"odd \\\"name\\\"\" md5 \"back\\\\slash\\n\" # a comment", "odd \"name\"",
         AuthProtocol::Md5, "back\\slash\\n", PrivProtocol::None, "", false, "authNoPriv"},
        {"hash SHA-512 pass#word none rw", "hash", AuthProtocol::Sha512, "pass#word",
         PrivProtocol::None, "", true, "authNoPriv"},
        {"public3 none", "public3", AuthProtocol::None, "", PrivProtocol::None, "", false,
         "noAuthNoPriv"},
        {"writer none rw", "writer", AuthProtocol::None, "", PrivProtocol::None, "", true,
         "noAuthNoPriv"},
        {"rw none", "rw", AuthProtocol::None, "", PrivProtocol::None, "", false, "noAuthNoPriv"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.line);
        UsmUser user;
        bool isUser = false;
        ASSERT_TRUE(parseUserLine(c.line, user, &isUser));
        EXPECT_TRUE(isUser);
        EXPECT_EQ(user.name, c.name);
        EXPECT_EQ(user.auth, c.auth);
        EXPECT_EQ(user.authPass, c.authPass);
        EXPECT_EQ(user.priv, c.priv);
        EXPECT_EQ(user.privPass, c.privPass);
        EXPECT_EQ(user.readWrite, c.readWrite);
        EXPECT_STREQ(securityLevelWord(user.level()), c.level);
    }
    for (const char* line : {"", "  \t\r", "# users", "   #monitor SHA x"}) {
        UsmUser user;
        bool isUser = true;
        EXPECT_TRUE(parseUserLine(line, user, &isUser)) << line;
        EXPECT_FALSE(isUser) << line;
    }
}

TEST(UsmUser, RefusedLines) {
    const struct {
        const char* line;
        const char* text;
    } kCases[] = {
        {"u", "missing authentication protocol"},
        {"u SHA256 authpass1234", "unknown authentication protocol [SHA256]"},
        {"u SHA authpass1234 3DES privpass1234",
         "unknown privacy protocol in field 4 (a pass phrase with blanks goes in double quotes)"},
        {"u SHA", "missing authentication pass phrase"},
        {"u SHA rw", "missing authentication pass phrase"},
        {"u SHA authpass1234 AES", "missing privacy pass phrase"},
        {"u SHA short", "authentication pass phrase of user [u] is shorter than 8 characters"},
        {"u SHA authpass1234 AES short",
         "privacy pass phrase of user [u] is shorter than 8 characters"},
        // Seven characters in fourteen octets.
        {"u SHA \xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9",
         "authentication pass phrase of user [u] is shorter than 8 characters"},
        {"abcdefghijklmnopqrstuvwxyz0123456 none",
         "user name [abcdefghijklmnopqrstuvwxyz0123456] is longer than 32 characters"},
        {"u none something", "unexpected field 3 (only rw may follow the pass phrases)"},
        {"u none rw rw", "unexpected field 3 (only rw may follow the pass phrases)"},
        {"u SHA authpass1234 AES privpass1234 extra",
         "unexpected field 6 (only rw may follow the pass phrases)"},
        {"u SHA \"authpass1234\\\"", "unfinished quoted field"},
    };
    for (const auto& c : kCases) {
        UsmUser user;
        bool isUser = true;
        const Result result = parseUserLine(c.line, user, &isUser);
        EXPECT_EQ(result.text(), c.text) << c.line;
        EXPECT_FALSE(result) << c.line;
        EXPECT_FALSE(isUser) << c.line;
    }
}

TEST(UsmUser, ReadUsersFile) {
    char pattern[] = "/tmp/korvimo_usm_user_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    auto write = [&dir](const std::string& name, const std::string& text) {
        std::ofstream(dir + "/" + name, std::ios::binary) << text;
        return dir + "/" + name;
    };
    std::vector<UsmUser> users;

    const std::string good =
        write("good", "# users\r\nmonitor SHA-256 authpass1234 AES privpass1234\r\n\nguest none");
    ASSERT_TRUE(readUsersFile(good, users));
    ASSERT_EQ(users.size(), 2u);
    EXPECT_EQ(users[0].name, "monitor");
    EXPECT_EQ(users[0].privPass, "privpass1234");
    EXPECT_EQ(users[1].name, "guest");

    // A command-line user replaces the file's of the same name, or comes after them.
    UsmUser guest;
    guest.name = "guest";
    guest.readWrite = true;
    addOrReplaceUser(users, guest);
    guest.name = "extra";
    addOrReplaceUser(users, guest);
    ASSERT_EQ(users.size(), 3u);
    EXPECT_TRUE(users[1].readWrite);
    EXPECT_EQ(users[2].name, "extra");

    const std::string bad = write("bad", "a none\n\nb SHA x\n");
    EXPECT_EQ(readUsersFile(bad, users).text(),
              bad + " line 3: authentication pass phrase of user [b] is shorter than 8 characters");
    const std::string twice = write("twice", "a none\n# again\na none rw\n");
    EXPECT_EQ(readUsersFile(twice, users).text(), twice + " line 3: user [a] is given twice");
    const std::string missing = dir + "/missing";
    EXPECT_EQ(readUsersFile(missing, users).text(),
              "Cannot open users file [" + missing + "]: No such file or directory");

    const std::string longLine =
        write("long", "a none\n# " + std::string(kMaxUserLine, 'x') + "\n");
    EXPECT_EQ(readUsersFile(longLine, users).text(),
              longLine + " line 2: line longer than 4096 characters");
    const std::string manyLines = write("many", std::string(kMaxUsers, '\n') + "a none\n");
    EXPECT_EQ(readUsersFile(manyLines, users).text(),
              manyLines + " line 10001: more than 10000 lines in a users file");

    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace korvimo::snmp
