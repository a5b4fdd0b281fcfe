// TempDir: a private directory for one test, removed with everything in it at the end.
//
//   TempDir dir;
//   writeFile(dir.path("korvan.ini"), "[KORVAN]\r\n");
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace korvimo::testing {

class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/korvimo-test-XXXXXX";
        // Without a directory of its own the test must fail on its files, never work in (and
        // then remove) a shared directory.
        const char* made = ::mkdtemp(pattern);
        root_ = made ? made : "";
    }
    ~TempDir() {
        if (root_.empty()) {
            return;
        }
        std::error_code ignored;
        std::filesystem::permissions(root_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(root_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& root() const { return root_; }
    std::string path(const std::string& name) const { return root_ + "/" + name; }

  private:
    std::string root_;
};

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace korvimo::testing
