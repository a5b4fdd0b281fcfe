// The engines file of a home: an endpoint keeps its engine ID and counts its boots, a damaged
// line is kept and said, an engine whose boots ran up starts anew; and a bad --v3-user line
// is named by its user, never shown.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "app/core/temp_dir.h"
#include "app/snmpv3_setup.h"

namespace korvimo::app {
namespace {

using testing::TempDir;
using testing::writeFile;

std::string readAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(EngineBook, KeepsIdsCountsBootsAndSaysWhatItCouldNotRead) {
    TempDir dir;
    ASSERT_EQ(::mkdir(dir.path("bin").c_str(), 0755), 0);
    const std::string engines = dir.path("bin/engines.conf");
    writeFile(engines,
              "127.0.0.1:1161 8000000005aabbccdd 7\n"
              "127.0.0.1:1162 8000000005aabbccee 2147483646\n"
              "127.0.0.1:1163 8000000005aabbccff -5\n");
    EngineBook book;
    ASSERT_TRUE(book.open(dir.root()).ok());
    const EngineIdentity kept = book.start("127.0.0.1:1161");
    EXPECT_EQ(kept.engineId, (std::vector<uint8_t>{0x80, 0, 0, 0, 5, 0xaa, 0xbb, 0xcc, 0xdd}));
    EXPECT_EQ(kept.boots, 8u);
    // At the largest boots no authenticated message is taken: a new engine instead.
    const EngineIdentity renewed = book.start("127.0.0.1:1162");
    EXPECT_EQ(renewed.boots, 1u);
    EXPECT_EQ(renewed.engineId.size(), 17u);
    const EngineIdentity fresh = book.start("[::1]:1161");
    EXPECT_EQ(fresh.boots, 1u);
    EXPECT_NE(fresh.engineId, renewed.engineId);
    const std::vector<std::string> notes = book.takeNotes();
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0], engines +
                            " line 3 is no \"ENDPOINT ENGINEID BOOTS\" line; it is kept as "
                            "it stands.");
    EXPECT_EQ(notes[1],
              "The SNMPv3 engine at 127.0.0.1:1162 has counted its boots up: it starts "
              "anew with a new engine ID.");
    ASSERT_TRUE(book.save().ok());
    EXPECT_EQ(readAll(engines),
              "127.0.0.1:1163 8000000005aabbccff -5\n"
              "127.0.0.1:1161 8000000005aabbccdd 8\n"
              "127.0.0.1:1162 " +
                  hexText(renewed.engineId) + " 1\n" + "[::1]:1161 " + hexText(fresh.engineId) +
                  " 1\n");

    EngineIdentity again;
    ASSERT_TRUE(startEngine(dir.root(), "127.0.0.1:1161", again).ok());
    EXPECT_EQ(again.boots, 9u);
}

TEST(Users, ABadCommandLineUserIsNamedNotShown) {
    TempDir dir;
    std::vector<snmp::UsmUser> users;
    const Result r =
        loadUsers(dir.root(), {std::nullopt, {"ops SHA secret-phrase 3DES other"}}, users);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.text().find("secret-phrase"), std::string::npos);
    EXPECT_EQ(r.text().rfind("--v3-user of user [ops]: unknown privacy protocol in field 4", 0), 0u)
        << r.text();
}

}  // namespace
}  // namespace korvimo::app
