// The MIB pipeline end to end: kmx on every public MIB module, the outputs concatenated in
// list order, zorlet on the result, and facts the simulator relies on read from mibinfo.out.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "zorlet/identifier_order.h"
#include "zorlet/program_run.h"

namespace korvimo::testing {
namespace {

const std::string kKmx = KORVIMO_HOME_DIR "/bin/kmx";
const std::string kZorlet = KORVIMO_HOME_DIR "/bin/zorlet";
const std::string kMibs = KORVIMO_MIB_SOURCE_DIR;

std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> result;
    std::string word;
    while (in >> word) {
        result.push_back(word);
    }
    return result;
}

class Pipeline : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (!std::filesystem::is_directory(kMibs)) {
            return;
        }
        scratch_ = new ScratchDir;
        std::vector<std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(kMibs)) {
            if (entry.is_regular_file()) {
                files.push_back(entry.path().string());
            }
        }
        std::sort(files.begin(), files.end());
        moduleFiles_ = files.size();
        std::string m1;
        std::string errors;
        for (std::size_t n = 1; n <= files.size(); ++n) {
            std::string t = "t" + std::to_string(n);
            std::string e = "e" + std::to_string(n);
            runProgram(kKmx, {"-o", t, "-e", e, files[n - 1]}, scratch_->path());
            m1 += readText(scratch_->file(t));
            errors += readText(scratch_->file(e));
        }
        writeText(scratch_->file("m1"), m1);
        runProgram(kZorlet, {"m1", "mibinfo.out", "merr"}, scratch_->path());
        mibinfo_ = new std::vector<std::string>(crlfLines(readText(scratch_->file("mibinfo.out"))));
        merr_ = new std::string(readText(scratch_->file("merr")));
    }
    static void TearDownTestSuite() {
        delete scratch_;
        delete mibinfo_;
        delete merr_;
        scratch_ = nullptr;
        mibinfo_ = nullptr;
        merr_ = nullptr;
    }
    void SetUp() override {
        if (mibinfo_ == nullptr) {
            GTEST_SKIP() << "public MIB modules not found in " << kMibs
                         << " (set KORVIMO_MIB_SOURCE_DIR to the directory that holds them)";
        }
    }

    // The index of the object line with this descriptor, or -1.
    static long objectLine(const std::string& descriptor) {
        for (std::size_t i = 0; i < mibinfo_->size(); ++i) {
            const std::string& line = (*mibinfo_)[i];
            if (line.empty() || line[0] == '%') {
                continue;
            }
            std::vector<std::string> w = words(line);
            if (w.size() >= 2 && w[1] == descriptor) {
                return static_cast<long>(i);
            }
        }
        return -1;
    }
    static bool hasLine(const std::string& line) {
        return std::find(mibinfo_->begin(), mibinfo_->end(), line) != mibinfo_->end();
    }

    static ScratchDir* scratch_;
    static std::vector<std::string>* mibinfo_;
    static std::string* merr_;
    static std::size_t moduleFiles_;
};

ScratchDir* Pipeline::scratch_ = nullptr;
std::vector<std::string>* Pipeline::mibinfo_ = nullptr;
std::string* Pipeline::merr_ = nullptr;
std::size_t Pipeline::moduleFiles_ = 0;

TEST_F(Pipeline, ZorletReportsNothingForThePublicModules) {
    EXPECT_GE(moduleFiles_, 78u);
    EXPECT_EQ(*merr_,
              "#######################################\r\n"
              "#zorlet: Processing compiler output(s)\r\n"
              "#######################################\r\n");
}

TEST_F(Pipeline, IfIndexIsAnIntegerColumnWithItsRange) {
    long i = objectLine("ifIndex");
    ASSERT_GE(i, 0);
    std::vector<std::string> w = words((*mibinfo_)[static_cast<std::size_t>(i)]);
    ASSERT_GE(w.size(), 6u);
    EXPECT_EQ(w[0], "1.3.6.1.2.1.2.2.1.1");
    EXPECT_EQ(w[2], "Integer");
    EXPECT_EQ(w[3], "RO");
    EXPECT_EQ(w[4], "C1");
    EXPECT_EQ(w[5], "(1,2147483647)");
}

TEST_F(Pipeline, IfDescrIsADisplayString) {
    long i = objectLine("ifDescr");
    ASSERT_GE(i, 0);
    std::vector<std::string> w = words((*mibinfo_)[static_cast<std::size_t>(i)]);
    EXPECT_EQ(w[0], "1.3.6.1.2.1.2.2.1.2");
    EXPECT_EQ(w[2], "OctetString");
    EXPECT_EQ(w.back(), "d");
    EXPECT_NE(std::find(w.begin(), w.end(), "(0,255)"), w.end());
}

TEST_F(Pipeline, IfAdminStatusCarriesItsEnumeration) {
    long i = objectLine("ifAdminStatus");
    ASSERT_GE(i, 0);
    std::size_t at = static_cast<std::size_t>(i);
    std::vector<std::string> w = words((*mibinfo_)[at]);
    EXPECT_EQ(w[0], "1.3.6.1.2.1.2.2.1.7");
    EXPECT_EQ(w[2], "Integer");
    EXPECT_EQ(w[3], "RW");
    EXPECT_EQ(w.back(), "e");
    ASSERT_LT(at + 3, mibinfo_->size());
    EXPECT_EQ(words((*mibinfo_)[at + 1]),
              (std::vector<std::string>{"%ev", "ifAdminStatus", "up", "1"}));
    EXPECT_EQ(words((*mibinfo_)[at + 2]),
              (std::vector<std::string>{"%ev", "ifAdminStatus", "down", "2"}));
    EXPECT_EQ(words((*mibinfo_)[at + 3]),
              (std::vector<std::string>{"%ev", "ifAdminStatus", "testing", "3"}));
}

TEST_F(Pipeline, IfEntryAndIfXEntryShareTheIndexClause) {
    EXPECT_TRUE(hasLine("%ei   1.3.6.1.2.1.2.2.1 [ifIndex]"));
    EXPECT_TRUE(hasLine("%ei   1.3.6.1.2.1.31.1.1.1 [ifIndex]"));
}

TEST_F(Pipeline, LinkDownIsATrapWithItsVariables) {
    auto trap = std::find(mibinfo_->begin(), mibinfo_->end(),
                          "%trap       linkDown         1.3.6.1.6.3.1.1.5.3  7 3");
    ASSERT_NE(trap, mibinfo_->end());
    ASSERT_LT(trap + 3, mibinfo_->end());
    EXPECT_EQ(*(trap + 1), "%tvar linkDown ifIndex");
    EXPECT_EQ(*(trap + 2), "%tvar linkDown ifAdminStatus");
    EXPECT_EQ(*(trap + 3), "%tvar linkDown ifOperStatus");
}

TEST_F(Pipeline, SysUpTimeResolvesToItsFixedIdentifier) {
    long i = objectLine("sysUpTime");
    ASSERT_GE(i, 0);
    std::vector<std::string> w = words((*mibinfo_)[static_cast<std::size_t>(i)]);
    EXPECT_EQ(w[0], "1.3.6.1.2.1.1.3");
    EXPECT_EQ(w[2], "TimeTicks");
    EXPECT_EQ(w[4], "S");
}

TEST_F(Pipeline, ObjectsAreSortedWithBaseTypesAndTheNameSectionFollows) {
    const std::set<std::string> bases = {"Integer",   "OctetString",    "Opaque",  "ObjectID",
                                         "IpAddress", "NetworkAddress", "Counter", "Counter64",
                                         "Gauge",     "TimeTicks",      "Bits"};
    std::string last = "0.0";
    std::size_t objects = 0;
    std::size_t i = 0;
    for (; i < mibinfo_->size(); ++i) {
        const std::string& line = (*mibinfo_)[i];
        if (line.rfind("%ev", 0) == 0) {
            continue;
        }
        if (line.rfind("%en", 0) == 0) {
            break;
        }
        std::vector<std::string> w = words(line);
        ASSERT_GE(w.size(), 5u) << line;
        EXPECT_GT(zorlet::compareIdentifiers(w[0], last), 0) << line;
        EXPECT_TRUE(bases.count(w[2])) << line;
        last = w[0];
        ++objects;
    }
    EXPECT_GT(objects, 1500u);
    std::size_t names = 0;
    for (; i < mibinfo_->size() && (*mibinfo_)[i].rfind("%en", 0) == 0; ++i) {
        ++names;
    }
    EXPECT_GT(names, objects);
    EXPECT_TRUE(
        hasLine("%en          1.3.6.1.2.1.2.2                          ifTable                "));
}

}  // namespace
}  // namespace korvimo::testing
