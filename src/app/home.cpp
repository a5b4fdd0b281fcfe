#include "app/home.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace korvimo::app {

namespace {

std::string format(const char* pattern, const std::string& a, const std::string& b = {}) {
    char text[1024];
    std::snprintf(text, sizeof text, pattern, a.c_str(), b.c_str());
    return text;
}

}  // namespace

bool enterHome(const std::string& home, std::string& failure) {
    std::string bin;
    if (!home.empty()) {
        bin = home + "/bin";
        // A new home gets the directories its programs write to: bin for korvan.ini, agent for
        // control files and logs, mibs for compiled MIBs.
        for (const char* directory : {"/bin", "/agent", "/mibs"}) {
            std::error_code error;
            std::filesystem::create_directories(home + directory, error);
            if (error) {
                failure = format(kHomeCreateFailed, home + directory, error.message());
                return false;
            }
        }
    } else {
        std::error_code error;
        std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
        if (error) {
            failure = format(kProgramDirUnknown, error.message());
            return false;
        }
        bin = self.parent_path().string();
    }
    if (::chdir(bin.c_str()) != 0) {
        failure = format(kHomeEnterFailed, bin, std::strerror(errno));
        return false;
    }
    return true;
}

}  // namespace korvimo::app
