#include "app/core/mibinfo_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "app/core/temp_dir.h"

namespace korvimo {
namespace {

using testing::TempDir;
using testing::writeFile;

class MibInfoFileTest : public ::testing::Test {
  protected:
    int open(const std::string& bytes) {
        writeFile(dir_.path("mibinfo.out"), bytes);
        fd_ = ::open(dir_.path("mibinfo.out").c_str(), O_RDONLY);
        return fd_;
    }
    ~MibInfoFileTest() override {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }

    TempDir dir_;
    int fd_ = -1;
};

constexpr const char* kSample =
    "-- a comment naming sysDescr as a second word: sysDescr\r\n"
    "1.3.6.1.2.1.1.1           sysDescr                OctetString  RO S (0,255) d\r\n"
    "%ev                 sysDescr         none 1\r\n"
    "\r\n"
    "   \t\r\n"
    "1.3.6.1.2.1.1.3           sysUpTime               TimeTicks    RO S\n"
    "%en          1.3.6.1.2.1.2                            interfaces             \r\n"
    "1.3.6.1.2.1.2.2.1.2       ifDescr                 OctetString  RO C\r\n"
    "1.3.6.1.4.1.9             ifDescr                 Integer      RO S";

TEST_F(MibInfoFileTest, LinesEndInCrLfOrLfAndTheLastNeedsNoEnd) {
    ASSERT_GE(open("one\r\ntwo\nthree"), 0);
    MibInfoLines lines(fd_);
    std::string line;
    std::vector<std::string> all;
    std::vector<uint64_t> offsets;
    while (lines.next(line)) {
        all.push_back(line);
        offsets.push_back(lines.lineOffset());
    }
    EXPECT_EQ(all, (std::vector<std::string>{"one", "two", "three"}));
    EXPECT_EQ(offsets, (std::vector<uint64_t>{0, 5, 9}));
}

TEST_F(MibInfoFileTest, ReadingResumesFromAnOffset) {
    ASSERT_GE(open("one\r\ntwo\r\n"), 0);
    MibInfoLines first(fd_);
    std::string line;
    ASSERT_TRUE(first.next(line));
    MibInfoLines again(fd_, first.offset());
    ASSERT_TRUE(again.next(line));
    EXPECT_EQ(line, "two");
    EXPECT_FALSE(again.next(line));
}

TEST_F(MibInfoFileTest, LongLinesAreCutAndTheirRestPassedOver) {
    ASSERT_GE(open(std::string(10000, 'a') + "\r\nnext\r\n"), 0);
    MibInfoLines lines(fd_, 0, 300);
    std::string line;
    ASSERT_TRUE(lines.next(line));
    EXPECT_EQ(line, std::string(300, 'a'));
    ASSERT_TRUE(lines.next(line));
    EXPECT_EQ(line, "next");
}

TEST_F(MibInfoFileTest, DescriptorLookupUsesTheFirstObjectLine) {
    ASSERT_GE(open(kSample), 0);
    std::string oid;
    ASSERT_TRUE(lookupDescriptor(fd_, "sysDescr", oid));
    EXPECT_EQ(oid, "1.3.6.1.2.1.1.1");
    ASSERT_TRUE(lookupDescriptor(fd_, "sysUpTime", oid));
    EXPECT_EQ(oid, "1.3.6.1.2.1.1.3");
    ASSERT_TRUE(lookupDescriptor(fd_, "ifDescr", oid));
    EXPECT_EQ(oid, "1.3.6.1.2.1.2.2.1.2");
}

TEST_F(MibInfoFileTest, NameLinesCommentsAndCaseDoNotMatch) {
    ASSERT_GE(open(kSample), 0);
    std::string oid;
    EXPECT_FALSE(lookupDescriptor(fd_, "interfaces", oid));  // only in the name section
    EXPECT_FALSE(lookupDescriptor(fd_, "a", oid));           // only in a comment
    EXPECT_FALSE(lookupDescriptor(fd_, "sysdescr", oid));
    EXPECT_FALSE(lookupDescriptor(fd_, "", oid));
}

TEST(MibInfoFile, ClosedFileKnowsNoDescriptor) {
    std::string oid = "x";
    EXPECT_FALSE(lookupDescriptor(-1, "sysDescr", oid));
    EXPECT_EQ(oid, "");
    MibInfoLines lines(-1);
    EXPECT_FALSE(lines.next(oid));
}

TEST(MibInfoFile, ObjectLinesAndWords) {
    EXPECT_TRUE(isMibInfoObjectLine("1.3 x Integer"));
    EXPECT_FALSE(isMibInfoObjectLine("-- c"));
    EXPECT_FALSE(isMibInfoObjectLine("%ei  1.3 \"x\""));
    EXPECT_FALSE(isMibInfoObjectLine(" \t "));
    EXPECT_FALSE(isMibInfoObjectLine(""));
    std::string_view word, rest;
    ASSERT_TRUE(takeWord("  \tone \t two three", word, rest));
    EXPECT_EQ(word, "one");
    EXPECT_EQ(rest, "two three");
    EXPECT_FALSE(takeWord(" \t", word, rest));
}

}  // namespace
}  // namespace korvimo
