#include "app/home.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "base/text.h"

namespace korvimo::app {

std::string programDirectory(std::string& failure) {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        failure = formatText(kProgramDirUnknown, error.message().c_str());
        return {};
    }
    return self.parent_path().string();
}

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
                failure = formatText(kHomeCreateFailed, (home + directory).c_str(), error.message().c_str());
                return false;
            }
        }
    } else {
        bin = programDirectory(failure);
        if (bin.empty()) {
            return false;
        }
    }
    if (::chdir(bin.c_str()) != 0) {
        failure = formatText(kHomeEnterFailed, bin.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

}  // namespace korvimo::app
