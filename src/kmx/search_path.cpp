#include "kmx/search_path.h"

#include <algorithm>
#include <string_view>

#include "kmx/ini_value.h"

namespace korvimo::kmx {

namespace {

constexpr std::string_view kIniName = "/korvan.ini";
constexpr std::string_view kSection = "KORVAN";
constexpr std::string_view kInstallDirKey = "INSTALLDIR";
constexpr std::string_view kMibDirListKey = "MIBDIRLIST";
constexpr std::string_view kDefaultInstallDir = "..";
constexpr const char* kSystemMibDirectories[] = {
    "/usr/share/snmp/mibs",      "/usr/share/snmp/mibs/iana", "/usr/share/snmp/mibs/ietf",
    "/usr/share/mibs/site",      "/usr/share/mibs/iana",      "/usr/share/mibs/ietf",
    "/usr/share/mibs/netsnmp",
};

std::vector<std::string> split(std::string_view text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(separator, start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view part = text.substr(start, end - start);
        while (!part.empty() && (part.front() == ' ' || part.front() == '\t')) {
            part.remove_prefix(1);
        }
        while (!part.empty() && (part.back() == ' ' || part.back() == '\t')) {
            part.remove_suffix(1);
        }
        if (!part.empty()) {
            parts.emplace_back(part);
        }
        start = end + 1;
    }
    return parts;
}

// The system's settings may write directories with "\"; they are "/" here.
std::string fromBin(const std::string& bin, std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    if (!path.empty() && path.front() == '/') {
        return path;
    }
    return bin + "/" + path;
}

}  // namespace

std::vector<std::string> searchDirectories(const SearchInputs& inputs) {
    std::vector<std::string> directories = split(inputs.overridePath, ':');
    std::size_t slash = inputs.mibFile.rfind('/');
    directories.push_back(slash == std::string::npos ? "." : inputs.mibFile.substr(0, slash + 1));
    directories.push_back(".");
    if (!inputs.homeBin.empty()) {
        std::string ini = inputs.homeBin + std::string(kIniName);
        std::string installDir;
        if (!readIniValue(ini, kSection, kInstallDirKey, installDir) || installDir.empty()) {
            installDir = kDefaultInstallDir;
        }
        directories.push_back(fromBin(inputs.homeBin, installDir) + "/mibs");
        std::string list;
        if (readIniValue(ini, kSection, kMibDirListKey, list)) {
            for (const std::string& entry : split(list, ',')) {
                directories.push_back(fromBin(inputs.homeBin, entry));
            }
        }
    }
    std::string_view mibDirs = inputs.mibDirsPath;
    if (!mibDirs.empty() && mibDirs.front() == '+') {
        mibDirs.remove_prefix(1);
    }
    for (const std::string& entry : split(mibDirs, ':')) {
        directories.push_back(entry);
    }
    directories.insert(directories.end(), inputs.systemDirectories.begin(),
                       inputs.systemDirectories.end());
    for (const std::string& entry : split(inputs.libraryPath, ':')) {
        directories.push_back(entry);
    }
    std::vector<std::string> unique;
    for (std::string& d : directories) {
        if (d.size() > 1 && d.back() == '/') {
            d.pop_back();
        }
        if (std::find(unique.begin(), unique.end(), d) == unique.end()) {
            unique.push_back(d);
        }
    }
    return unique;
}

std::vector<std::string> systemMibDirectories(const char* home) {
    std::vector<std::string> directories;
    if (home != nullptr && *home != '\0') {
        directories.push_back(std::string(home) + "/.snmp/mibs");
    }
    for (const char* directory : kSystemMibDirectories) {
        directories.emplace_back(directory);
    }
    return directories;
}

std::string joinSearchPath(const std::vector<std::string>& directories) {
    std::string path;
    for (const std::string& d : directories) {
        if (!path.empty()) {
            path.push_back(':');
        }
        path.append(d);
    }
    return path;
}

}  // namespace korvimo::kmx
