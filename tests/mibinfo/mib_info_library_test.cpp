#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/core/temp_dir.h"
#include "base/unique_fd.h"
#include "mibinfo/mib_info_library.h"

namespace korvimo::mibinfo {
namespace {

using testing::TempDir;
using testing::writeFile;

constexpr const char* kFirst = "1.3.6.1.2.1.1.1  sysDescr  OctetString  RO S\r\n";
// As long as kFirst: a rewrite that keeps the size.
constexpr const char* kSecond = "1.3.6.1.2.1.1.2  sysDescr  OctetString  RO S\r\n";

// Rewrites the file and gives it back its modification time, as file systems with coarse
// time stamps do when the rewrite comes soon enough.
void rewriteKeepingTime(const std::string& path, const std::string& bytes) {
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    writeFile(path, bytes);
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

std::string_view sysDescr(const std::shared_ptr<const MibInfo>& mib) {
    const Record* object = mib->firstObjectWithDescriptor("sysDescr");
    return object != nullptr ? object->identifier : std::string_view();
}

TEST(MibInfoLibrary, SharesOneCopyUntilTheFileChanges) {
    TempDir dir;
    const std::string path = dir.path("mibinfo.out");
    MibInfoLibrary library(path);
    Result why;
    EXPECT_EQ(library.current(&why), nullptr);
    EXPECT_FALSE(why.ok());

    writeFile(path, kFirst);
    const auto first = library.current();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(library.current(), first);

    rewriteKeepingTime(path, kSecond);
    const auto second = library.current();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(sysDescr(second), "1.3.6.1.2.1.1.2");
    EXPECT_EQ(sysDescr(first), "1.3.6.1.2.1.1.1");  // still whole for whoever holds it
    EXPECT_EQ(library.current(), second);

    std::remove(path.c_str());
    EXPECT_EQ(library.current(), nullptr);
}

}  // namespace
}  // namespace korvimo::mibinfo
