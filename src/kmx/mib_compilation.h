// Compiles one MIB file with libsmi into kmx's line format (module_writer.h): every module
// that the file holds, in file order. Imports are looked up along the search directories
// (search_path.h); libsmi's messages are collected as text lines.
//
// libsmi keeps global state, so one process compiles one file; kmx runs the compilation in a
// child process so that nothing a broken file does to the parser can take kmx down.
//
//   CompileResult r = compileMibFile("IF-MIB.txt", inputs);
//   write(outputFile, r.output); write(errorFile, r.messages);
#pragma once

#include <string>

#include "kmx/search_path.h"

namespace korvimo::kmx {

struct CompileResult {
    // Lines for zorlet, CR LF ended.
    std::string output;
    // Messages for the error file, CR LF ended.
    std::string messages;
    int modules = 0;
};

CompileResult compileMibFile(const std::string& mibFile, const SearchInputs& inputs);

}  // namespace korvimo::kmx
