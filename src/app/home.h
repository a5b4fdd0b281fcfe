// The installation home of a program (korvan, korvan-cli): programs run with the home's bin
// directory as their working directory, so that the configured installation directory ".."
// is the home itself and korvan.ini is found in bin.
//
//   std::string failure;
//   if (!enterHome(homeOption, failure)) { print(failure); return 1; }
//   std::string programs = programDirectory(failure);   // where kmx and zorlet are
#pragma once

#include <string>

namespace korvimo::app {

inline constexpr const char* kHomeCreateFailed = "Cannot create the directory [%s]: %s";
inline constexpr const char* kHomeEnterFailed = "Cannot change to the directory [%s]: %s";
inline constexpr const char* kProgramDirUnknown = "Cannot find the program's own directory: %s";

// With a home given, changes to <home>/bin, creating it, <home>/agent and <home>/mibs (and the
// home) when missing.
// Without one, changes to the directory that holds the running program.
bool enterHome(const std::string& home, std::string& failure);

// The directory that holds the running program (its bin directory, where the programs it
// runs are, kmx and zorlet among them), read from /proc/self/exe; empty with failure set
// when it cannot be read.
std::string programDirectory(std::string& failure);

}  // namespace korvimo::app
