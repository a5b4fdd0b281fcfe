#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/core/temp_dir.h"
#include "mibinfo/lines.h"
#include "mibinfo/mib_info.h"
#include "mibinfo/mib_info_library.h"

namespace korvimo::mibinfo {
namespace {

using testing::TempDir;
using testing::writeFile;

class MibInfoFileTest : public ::testing::Test {
  protected:
    // Writes the file and reads it as the simulator does; the text it holds, for Lines.
    std::string_view open(const std::string& bytes) {
        writeFile(dir_.path("mibinfo.out"), bytes);
        mib_ = MibInfo::load(dir_.path("mibinfo.out"));
        return mib_ != nullptr ? mib_->text() : std::string_view();
    }
    // The identifier of the descriptor's first object line, as lookupDescriptor gave it.
    bool lookupDescriptor(std::string_view descriptor, std::string& oid) const {
        const Record* object = mib_->firstObjectWithDescriptor(descriptor);
        oid = object != nullptr ? std::string(object->identifier) : std::string();
        return object != nullptr;
    }

    TempDir dir_;
    std::shared_ptr<const MibInfo> mib_;
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
    Lines lines(open("one\r\ntwo\nthree"));
    std::string_view line;
    std::vector<std::string> all;
    std::vector<uint64_t> offsets;
    while (lines.next(line)) {
        all.emplace_back(line);
        offsets.push_back(lines.lineOffset());
    }
    EXPECT_EQ(all, (std::vector<std::string>{"one", "two", "three"}));
    EXPECT_EQ(offsets, (std::vector<uint64_t>{0, 5, 9}));
}

TEST_F(MibInfoFileTest, ReadingResumesFromAnOffset) {
    const std::string_view text = open("one\r\ntwo\r\n");
    Lines first(text);
    std::string_view line;
    ASSERT_TRUE(first.next(line));
    Lines again(text, first.offset());
    ASSERT_TRUE(again.next(line));
    EXPECT_EQ(line, "two");
    EXPECT_FALSE(again.next(line));
}

TEST_F(MibInfoFileTest, LongLinesAreCutAndTheirRestPassedOver) {
    Lines lines(open(std::string(10000, 'a') + "\r\nnext\r\n"), 0, 300);
    std::string_view line;
    ASSERT_TRUE(lines.next(line));
    EXPECT_EQ(line, std::string(300, 'a'));
    ASSERT_TRUE(lines.next(line));
    EXPECT_EQ(line, "next");
}

TEST_F(MibInfoFileTest, DescriptorLookupUsesTheFirstObjectLine) {
    ASSERT_FALSE(open(kSample).empty());
    std::string oid;
    ASSERT_TRUE(lookupDescriptor("sysDescr", oid));
    EXPECT_EQ(oid, "1.3.6.1.2.1.1.1");
    ASSERT_TRUE(lookupDescriptor("sysUpTime", oid));
    EXPECT_EQ(oid, "1.3.6.1.2.1.1.3");
    ASSERT_TRUE(lookupDescriptor("ifDescr", oid));
    EXPECT_EQ(oid, "1.3.6.1.2.1.2.2.1.2");
}

TEST_F(MibInfoFileTest, NameLinesCommentsAndCaseDoNotMatch) {
    ASSERT_FALSE(open(kSample).empty());
    std::string oid;
    EXPECT_FALSE(lookupDescriptor("interfaces", oid));  // only in the name section
    EXPECT_FALSE(lookupDescriptor("a", oid));           // only in a comment
    EXPECT_FALSE(lookupDescriptor("sysdescr", oid));
    EXPECT_FALSE(lookupDescriptor("", oid));
}

TEST(MibInfoFile, ClosedFileKnowsNoDescriptor) {
    EXPECT_EQ(MibInfo::read(-1), nullptr);
    EXPECT_EQ(MibInfo::empty().firstObjectWithDescriptor("sysDescr"), nullptr);
}

TEST(MibInfoFile, ObjectLinesAndWords) {
    EXPECT_TRUE(isObjectLine("1.3 x Integer"));
    EXPECT_FALSE(isObjectLine("-- c"));
    EXPECT_FALSE(isObjectLine("%ei  1.3 \"x\""));
    EXPECT_FALSE(isObjectLine(" \t "));
    EXPECT_FALSE(isObjectLine(""));
    std::string_view word, rest;
    ASSERT_TRUE(takeWord("  \tone \t two three", word, rest));
    EXPECT_EQ(word, "one");
    EXPECT_EQ(rest, "two three");
    EXPECT_FALSE(takeWord(" \t", word, rest));
}

}  // namespace
}  // namespace korvimo::mibinfo
