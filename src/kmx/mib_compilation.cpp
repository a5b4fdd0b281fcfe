#include "kmx/mib_compilation.h"

#include <sys/stat.h>

#include <cstdio>
#include <string_view>
#include <vector>

#include "kmx/module_writer.h"
#include "kmx/smi_api.h"

namespace korvimo::kmx {

namespace {

constexpr const char kCannotOpenMib[] = "kmx: cannot open MIB file [%s]";
constexpr const char kNoModule[] = "kmx: no MIB module could be compiled from [%s]";
constexpr const char kParserMessage[] = "kmx: %s:%d: %s: %s";
constexpr const char kErrorWord[] = "error";
constexpr const char kWarningWord[] = "warning";
// libsmi's severities up to 2 are errors that lose definitions; 3 marks lesser faults.
constexpr int kLastErrorSeverity = 2;
// Messages about imported modules are kept only when they are this grave (a module that
// cannot be found or read); their lesser faults are reported when they are compiled.
constexpr int kLastImportedSeverity = 1;
constexpr const char kLibraryTag[] = "kmx";
// Messages up to this severity reach the error file: libsmi's errors, down to the lesser
// faults of kLastErrorSeverity + 1 that are written as warnings; its own warnings and style
// notes above that are left out.
constexpr int kErrorLevel = 3;

std::string* collectedMessages = nullptr;
const std::string* compiledPath = nullptr;

void appendLine(std::string& text, const std::string& line) {
    text.append(line);
    text.append("\r\n");
}

std::string format(const char* pattern, const std::string& subject) {
    std::vector<char> text(subject.size() + 256);
    std::snprintf(text.data(), text.size(), pattern, subject.c_str());
    return text.data();
}

void collectParserMessage(char* path, int line, int severity, char* message, char* /*tag*/) {
    if (collectedMessages == nullptr) {
        return;
    }
    std::string_view where = path != nullptr           ? std::string_view(path)
                             : compiledPath != nullptr ? std::string_view(*compiledPath)
                                                       : std::string_view("?");
    bool own = compiledPath != nullptr && where == *compiledPath;
    if (!own && severity > kLastImportedSeverity) {
        return;
    }
    std::string_view what = message != nullptr ? message : "";
    std::vector<char> text(where.size() + what.size() + 64);
    std::snprintf(text.data(), text.size(), kParserMessage, std::string(where).c_str(), line,
                  severity <= kLastErrorSeverity ? kErrorWord : kWarningWord,
                  std::string(what).c_str());
    appendLine(*collectedMessages, text.data());
}

}  // namespace

CompileResult compileMibFile(const std::string& mibFile, const SearchInputs& inputs) {
    CompileResult result;
    struct stat info {};
    if (::stat(mibFile.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        appendLine(result.messages, format(kCannotOpenMib, mibFile));
        return result;
    }
    smiInit(kLibraryTag);
    collectedMessages = &result.messages;
    smiSetErrorHandler(collectParserMessage);
    smiSetErrorLevel(kErrorLevel);
    smiSetFlags(smiGetFlags() | SMI_FLAG_NODESCR | SMI_FLAG_ERRORS);

    SearchInputs withLibrary = inputs;
    char* libraryPath = smiGetPath();
    if (libraryPath != nullptr) {
        withLibrary.libraryPath = libraryPath;
        smiFree(libraryPath);
    }
    smiSetPath(joinSearchPath(searchDirectories(withLibrary)).c_str());

    // A name without a slash would be taken as a module name to search for, not as a file.
    std::string path = mibFile.find('/') == std::string::npos ? "./" + mibFile : mibFile;
    compiledPath = &path;
    smiLoadModule(path.c_str());
    for (SmiModule* module = smiGetFirstModule(); module != nullptr;
         module = smiGetNextModule(module)) {
        if (module->path == nullptr || path != module->path || module->name == nullptr) {
            continue;
        }
        std::vector<std::string> problems;
        ModuleWriter(module).write(result.output, problems);
        for (const std::string& problem : problems) {
            appendLine(result.messages, problem);
        }
        ++result.modules;
    }
    if (result.modules == 0) {
        appendLine(result.messages, format(kNoModule, mibFile));
    }
    collectedMessages = nullptr;
    compiledPath = nullptr;
    smiExit();
    return result;
}

}  // namespace korvimo::kmx
