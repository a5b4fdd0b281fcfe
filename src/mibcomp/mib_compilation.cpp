#include "mibcomp/mib_compilation.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <set>

#include "base/regular_file.h"
#include "base/text.h"
#include "base/unique_fd.h"

namespace korvimo::mibcomp {

namespace {

// Without regard to case first; names that differ in case alone keep byte order, so that the
// order never depends on the order the directories were read in.
bool listedBefore(const std::string& a, const std::string& b) {
    const auto lowered = [](char x, char y) {
        return static_cast<unsigned char>(lowerAscii(x)) <
               static_cast<unsigned char>(lowerAscii(y));
    };
    if (std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), lowered)) {
        return true;
    }
    if (std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(), lowered)) {
        return false;
    }
    return a < b;
}

// The entries of a ","-separated list, blanks around them trimmed, empty ones skipped.
std::vector<std::string_view> commaEntries(std::string_view text) {
    std::vector<std::string_view> entries;
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t comma = text.find(',', at);
        if (comma == std::string_view::npos) {
            comma = text.size();
        }
        const std::string_view entry = trimBlanks(text.substr(at, comma - at));
        if (!entry.empty()) {
            entries.push_back(entry);
        }
        at = comma + 1;
    }
    return entries;
}

// A MIBDIRLIST entry as a full path: "\" written as "/" (the file was often written for
// another system), a trailing "/" dropped, a relative entry taken from the bin directory.
std::string directoryOf(std::string_view entry, const std::string& binDirectory) {
    std::string path(entry);
    std::replace(path.begin(), path.end(), '\\', '/');
    if (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    if (path.front() != '/') {
        path.insert(0, binDirectory + "/");
    }
    return path;
}

// Whether name is "<something>.<extension>" for one of the extensions.
bool hasExtension(const std::string& name, const std::vector<std::string>& extensions) {
    return std::any_of(extensions.begin(), extensions.end(), [&name](const std::string& ext) {
        if (name.size() < ext.size() + 2) {
            return false;
        }
        const std::size_t dot = name.size() - ext.size() - 1;
        return name[dot] == '.' && equalsIgnoringCase(std::string_view(name).substr(dot + 1), ext);
    });
}

bool isRegularFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The part of a line that is ASN.1 code: quoted strings blanked out, the comment after "--"
// dropped. inString says whether the line begins inside a string, and then whether the next
// one does: a DESCRIPTION runs over many lines.
std::string codeOf(std::string_view line, bool& inString) {
    std::string code;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"') {
            inString = !inString;
            code.push_back(' ');
        } else if (inString) {
            continue;
        } else if (line.substr(i).starts_with("--")) {
            break;
        } else {
            code.push_back(line[i]);
        }
    }
    return code;
}

// Where code holds word with no letter, digit, "-" or "_" on either side; npos when nowhere.
std::size_t findWord(std::string_view code, std::string_view word) {
    const auto isWordChar = [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_';
    };
    for (std::size_t at = code.find(word); at != std::string_view::npos;
         at = code.find(word, at + 1)) {
        const std::size_t after = at + word.size();
        if ((at == 0 || !isWordChar(code[at - 1])) &&
            (after == code.size() || !isWordChar(code[after]))) {
            return at;
        }
    }
    return std::string_view::npos;
}

// Where each module of the text ends: just after the line end of each line whose code begins
// with the word END. The END that closes a macro definition (SNMPv2-SMI and its kin define
// several, "OBJECT-TYPE MACRO ::=" with the "::=" on that line or the next) ends the macro,
// not the module: cut there, the module would no longer compile. Lines that begin inside a
// quoted string are text, whatever they hold. Empty when a line is longer than
// kSplitLineLimit.
std::vector<std::size_t> moduleEnds(std::string_view text) {
    std::vector<std::size_t> ends;
    bool inMacro = false;
    bool macroNamed = false;  // the last code line ended with MACRO; "::=" may follow
    bool inString = false;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t newline = text.find('\n', at);
        const std::size_t next = newline == std::string_view::npos ? text.size() : newline + 1;
        std::size_t lineEnd = newline == std::string_view::npos ? text.size() : newline;
        if (lineEnd > at && newline != std::string_view::npos && text[lineEnd - 1] == '\r') {
            --lineEnd;
        }
        if (lineEnd - at > kSplitLineLimit) {
            return {};
        }
        const bool textLine = inString;
        const std::string code = codeOf(text.substr(at, lineEnd - at), inString);
        const std::string_view line = trimBlanks(code);
        at = next;
        if (textLine || line.empty()) {
            continue;
        }
        if (findWord(line, "END") == 0) {
            if (!inMacro) {
                ends.push_back(next);
            }
            inMacro = false;
            macroNamed = false;
            continue;
        }
        const std::size_t macro = findWord(line, "MACRO");
        if (macro != std::string_view::npos) {
            const std::string_view rest = trimBlanks(line.substr(macro + 5));
            inMacro = inMacro || rest.starts_with("::=");
            macroNamed = rest.empty();
        } else {
            inMacro = inMacro || (macroNamed && line.starts_with("::="));
            macroNamed = false;
        }
    }
    return ends;
}

// The file's modules, byte for byte; empty when it is to be compiled whole.
std::vector<std::string> modulesOf(const std::string& path) {
    std::string text;
    if (!readRegularFile(path, kMaxSplitFileSize, text).ok()) {
        return {};
    }
    const std::vector<std::size_t> ends = moduleEnds(text);
    if (ends.size() < 2) {
        return {};
    }
    std::vector<std::string> modules;
    std::size_t from = 0;
    for (std::size_t k = 0; k + 1 < ends.size(); ++k) {
        modules.push_back(text.substr(from, ends[k] - from));
        from = ends[k];
    }
    modules.push_back(text.substr(from));  // text after the last END goes with the last module
    return modules;
}

// A file name as a command's argument: one that begins with "-" would be read as an option.
std::string argumentWord(const std::string& name) {
    return shellWord(name.starts_with('-') ? "./" + name : name);
}

void addEcho(std::string& script, const std::string& text) {
    script.append(text.find('\\') == std::string::npos ? "echo " : "printf '%s\\n' ");
    script.append(shellWord(text)).append("\n");
}

// "<command> <prefix>1 ... <prefix>count<suffix>" as a line.
void addNumbered(std::string& script, std::string_view command, std::string_view prefix,
                 std::size_t count, std::string_view suffix) {
    script.append(command);
    for (std::size_t i = 1; i <= count; ++i) {
        script.append(" ").append(prefix).append(std::to_string(i));
    }
    script.append(suffix).append("\n");
}

// The piece name for piece k of file n: <base>_<n><k>, or <base>_<n>_<k> when an earlier
// piece took that name already.
std::string pieceName(const std::string& base, std::size_t n, std::size_t k,
                      std::set<std::string>& taken) {
    std::string name = base + "_" + std::to_string(n) + std::to_string(k);
    if (taken.count(name) != 0) {
        name = base + "_" + std::to_string(n) + "_" + std::to_string(k);
        // Only names built to clash reach here; a number more makes them distinct.
        for (std::size_t more = 2; taken.count(name) != 0; ++more) {
            name = base + "_" + std::to_string(n) + "_" + std::to_string(k) + "_" +
                   std::to_string(more);
        }
    }
    taken.insert(name);
    return name;
}

// The lines that compile the n-th file in pieces into t<n> and e<n>.
void addSplitFile(Batch& batch, const BatchSettings& settings, const std::string& kmx,
                  const std::string& entry, std::size_t n, std::vector<std::string> modules,
                  std::set<std::string>& taken) {
    const std::string base = entryBaseName(entry);
    const std::string number = std::to_string(n);
    std::vector<std::string> names;
    for (std::size_t k = 1; k <= modules.size(); ++k) {
        const std::string name = pieceName(base, n, k, taken);
        const std::string suffix = number + "_" + std::to_string(k);
        addEcho(batch.script, "Compiling " + name + ", broken up from " + entry + "...");
        batch.script.append(kmx).append(" -o st" + suffix + " -e se" + suffix + " ");
        batch.script.append(argumentWord(name)).append("\n");
        batch.pieces.push_back({name, std::move(modules[k - 1])});
        names.push_back(name);
    }
    batch.splitInto[n - 1] = names.size();
    addNumbered(batch.script, "cat", "st" + number + "_", names.size(), " > t" + number);
    addNumbered(batch.script, "cat", "se" + number + "_", names.size(), " > e" + number);
    if (settings.erasePieces) {
        for (const std::string& name : names) {
            batch.script.append("rm -f ").append(argumentWord(name)).append("\n");
        }
    }
    for (const char* prefix : {"st", "se"}) {
        for (std::size_t k = 1; k <= names.size(); ++k) {
            batch.script.append("rm -f ").append(prefix).append(number + "_" + std::to_string(k) +
                                                                "\n");
        }
    }
}

// Creates (or empties) the file and writes bytes into it whole.
Result writeFile(const std::string& directory, const std::string& name, std::string_view bytes,
                 mode_t mode) {
    const std::string path = directory + "/" + name;
    const auto failed = [&name] {
        return Result::failure(formatText(kCannotCreateFormat, ("/mibs/" + name).c_str()));
    };
    UniqueFd file;
    do {
        file.reset(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode));
    } while (!file && errno == EINTR);
    if (!file) {
        return failed();
    }
    if (writeAll(file.get(), bytes) != 0) {
        return failed();
    }
    // A late write error (a full disk on a network file system) shows at close.
    if (::close(file.release()) != 0 && errno != EINTR) {
        return failed();
    }
    return {};
}

}  // namespace

SearchLists searchLists(const SearchSettings& settings) {
    SearchLists lists;
    lists.directories.push_back(settings.mibsDirectory);
    for (const std::string_view entry : commaEntries(settings.mibDirList)) {
        if (lists.directories.size() == kMaxMibDirectories) {
            break;
        }
        lists.directories.push_back(directoryOf(entry, settings.binDirectory));
    }
    const std::string_view first = trimBlanks(settings.mibExtension);
    lists.extensions.emplace_back(first.empty() ? std::string_view(kDefaultMibExtension) : first);
    for (const std::string_view entry : commaEntries(settings.mibExtList)) {
        if (lists.extensions.size() == kMaxMibExtensions) {
            break;
        }
        const bool listed = equalsIgnoringCase(entry, kDefaultMibExtension) ||
                            std::any_of(lists.extensions.begin(), lists.extensions.end(),
                                        [entry](const std::string& known) {
                                            return equalsIgnoringCase(entry, known);
                                        });
        if (!listed) {
            lists.extensions.emplace_back(entry);
        }
    }
    return lists;
}

std::vector<std::string> mibList(const SearchLists& lists) {
    const bool namesAlone = lists.directories.size() == 1;
    std::set<std::string> found;  // full paths: a directory listed twice adds nothing
    std::vector<std::string> list;
    for (const std::string& directory : lists.directories) {
        for (const std::string& name : listDirectory(directory)) {
            const std::string path = directory + "/" + name;
            if (!hasExtension(name, lists.extensions) || found.count(path) != 0 ||
                !isRegularFile(path)) {
                continue;
            }
            found.insert(path);
            list.push_back(namesAlone ? name : path);
        }
    }
    std::sort(list.begin(), list.end(), listedBefore);
    return list;
}

std::string entryPath(const SearchLists& lists, const std::string& entry) {
    if (lists.directories.size() == 1 && entry.find('/') == std::string::npos) {
        return lists.directories.front() + "/" + entry;
    }
    return entry;
}

std::string entryBaseName(const std::string& entry) {
    const std::size_t slash = entry.rfind('/');
    std::string name = slash == std::string::npos ? entry : entry.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos) {
        name.erase(dot);
    }
    return name;
}

std::string shellWord(std::string_view text) {
    if (text.find_first_of("\"$`\\") == std::string_view::npos) {
        std::string word = "\"";
        return word.append(text).append("\"");
    }
    std::string word = "'";
    for (const char c : text) {
        if (c == '\'') {
            word.append("'\\''");
        } else {
            word.push_back(c);
        }
    }
    return word.append("'");
}

Batch makeBatch(const BatchSettings& settings, const SearchLists& lists,
                const std::vector<std::string>& selected) {
    Batch batch;
    batch.files = selected.size();
    batch.splitInto.assign(selected.size(), 0);
    batch.erasePieces = settings.erasePieces;
    batch.script = "#!/bin/sh\ncd " + shellWord(settings.mibsDirectory) + " || exit 1\n";
    batch.mibList = kMibListHeading;
    // kmx searches the home the batch compiles for, not the one above its own directory.
    const std::string kmx = shellWord(settings.programsDirectory + "/" + kCompilerProgram) +
                            " --home " + shellWord(settings.homeDirectory);
    std::set<std::string> taken;
    for (std::size_t n = 1; n <= selected.size(); ++n) {
        const std::string& entry = selected[n - 1];
        batch.mibList.append("    ").append(entry).append("\r\n");
        std::vector<std::string> modules;
        if (settings.split) {
            modules = modulesOf(entryPath(lists, entry));
        }
        if (!modules.empty()) {
            addSplitFile(batch, settings, kmx, entry, n, std::move(modules), taken);
            continue;
        }
        const std::string number = std::to_string(n);
        addEcho(batch.script, "Compiling " + entry + "...");
        batch.script.append(kmx).append(" -o t" + number + " -e e" + number + " ");
        batch.script.append(argumentWord(entry)).append("\n");
    }
    if (selected.empty()) {
        return batch;
    }
    const std::size_t count = selected.size();
    addNumbered(batch.script, "cat", "t", count, " > m1");
    for (std::size_t n = 1; n <= count; ++n) {
        batch.script.append("rm -f t" + std::to_string(n) + "\n");
    }
    batch.script.append(shellWord(settings.programsDirectory + "/" + kZorletProgram))
        .append(" m1 ")
        .append(kMibInfoFile)
        .append(" merr\n");
    addNumbered(batch.script, "cat", "e", count, std::string(" merr > ") + kMibErrorsFile);
    for (std::size_t n = 1; n <= count; ++n) {
        batch.script.append("rm -f e" + std::to_string(n) + "\n");
    }
    batch.script.append("rm -f m1\nrm -f merr\n");
    return batch;
}

std::vector<std::string> intermediateFiles(const Batch& batch) {
    std::vector<std::string> names;
    for (const char* prefix : {"t", "e"}) {
        for (std::size_t n = 1; n <= batch.files; ++n) {
            names.push_back(prefix + std::to_string(n));
        }
    }
    names.emplace_back("m1");
    names.emplace_back("merr");
    for (std::size_t n = 1; n <= batch.splitInto.size(); ++n) {
        for (const char* prefix : {"st", "se"}) {
            for (std::size_t k = 1; k <= batch.splitInto[n - 1]; ++k) {
                names.push_back(prefix + std::to_string(n) + "_" + std::to_string(k));
            }
        }
    }
    if (batch.erasePieces) {
        for (const SplitPiece& piece : batch.pieces) {
            names.push_back(piece.name);
        }
    }
    return names;
}

Result writeMibList(std::string_view text, const std::string& mibsDirectory) {
    return writeFile(mibsDirectory, kMibListFile, text, 0666);
}

Result writeBatch(const Batch& batch, const std::string& mibsDirectory) {
    if (Result written = writeMibList(batch.mibList, mibsDirectory); !written) {
        return written;
    }
    for (const SplitPiece& piece : batch.pieces) {
        if (Result written = writeFile(mibsDirectory, piece.name, piece.bytes, 0666); !written) {
            return written;
        }
    }
    // Last, so that a script is there only when everything it compiles is.
    return writeFile(mibsDirectory, kBatchFile, batch.script, 0777);
}

}  // namespace korvimo::mibcomp
