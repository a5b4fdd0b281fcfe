// The directories where kmx looks for the modules that a MIB file imports, in this order:
//
//   1. the entries of KORVIMO_MIBPATH (colon-separated), which override everything else;
//   2. the directory of the MIB file;
//   3. the current directory (the mibs directory when the compilation batch runs kmx);
//   4. the home's mibs directory: <INSTALLDIR>/mibs, with INSTALLDIR from the home's
//      bin/korvan.ini (default ".."), relative paths taken from the home's bin directory;
//   5. the entries of MIBDIRLIST from bin/korvan.ini (separated by ","; relative ones taken
//      from the bin directory), the MIB directories the compilation dialog lists;
//   6. the entries of $MIBDIRS (colon-separated; a leading "+" is dropped), the variable
//      the system's SNMP command-line tools read;
//   7. the directories where those tools find MIB modules by default on Debian and its
//      kin (systemMibDirectories): ~/.snmp/mibs, /usr/share/snmp/mibs with its iana and
//      ietf folders, which the standard-MIB download package fills, and /usr/share/mibs;
//   8. libsmi's own path (SMIPATH and its configuration files).
//
// So a vendor MIB that imports IF-MIB compiles where the standard modules are installed,
// without copying them into the home.
//
// Within a directory a module is found by its name with no extension or one of libsmi's
// (.txt, .mib, .my and others). Repeated directories are kept once.
//
//   SearchInputs in{.mibFile = "../mibs/IF-MIB.txt", .homeBin = "/opt/korvimo/bin"};
//   in.overridePath = getenv("KORVIMO_MIBPATH");
//   in.mibDirsPath = getenv("MIBDIRS");
//   in.systemDirectories = systemMibDirectories(getenv("HOME"));
//   std::string path = joinSearchPath(searchDirectories(in));   // for smiSetPath
#pragma once

#include <string>
#include <vector>

namespace korvimo::kmx {

struct SearchInputs {
    std::string mibFile;
    // The home's bin directory (where korvan.ini lives).
    std::string homeBin;
    std::string overridePath;
    std::string mibDirsPath;
    std::vector<std::string> systemDirectories;
    std::string libraryPath;
};

// The default MIB directories of the system's SNMP tools; the user's own first when home
// (the HOME directory) is given.
std::vector<std::string> systemMibDirectories(const char* home);

std::vector<std::string> searchDirectories(const SearchInputs& inputs);

// Colon-joined, as libsmi takes it.
std::string joinSearchPath(const std::vector<std::string>& directories);

}  // namespace korvimo::kmx
