// The MIB compilation's files, without any window system: the search lists the Compile MIBs
// dialog builds from korvan.ini, the MIB list it shows, and the batch a compilation writes
// into the home's mibs directory: mibcom.sh (a POSIX sh script), miblist.lst and the pieces
// of split MIB files.
//
//   SearchLists lists = searchLists({mibsDir, binDir, MIBDIRLIST, MIBEXTENSION, MIBEXTLIST});
//   std::vector<std::string> list = mibList(lists);        // what the dialog lists
//   Batch batch = makeBatch(settings, lists, {list[0], list[3]});
//   if (Result written = writeBatch(batch, mibsDir); !written) ...   // its text is the line
//   // then: /bin/sh <mibsDir>/mibcom.sh, in the mibs directory
//
// The script runs the same steps, in the same order and with the same file names, as the
// compilation batch always has: for the n-th selected file, kmx writes t<n> (output) and
// e<n> (messages); the t files are concatenated into m1 and erased; zorlet turns m1 into
// mibinfo.out (merr: its messages); the e files and merr are concatenated into miberrs.out;
// e<n>, m1 and merr are erased. A file holding several modules (several lines that begin
// with the word END) is cut into pieces <name>_<n><k>, each compiled on its own into
// st<n>_<k> and se<n>_<k>, which are then concatenated into t<n> and e<n> as for an unsplit
// file. intermediateFiles names them all, for a run that ends before its own "rm" lines.
//
// Choices where the rules leave room:
//   - The script is sh, with LF line ends; miblist.lst keeps its CR LF lines (the variable
//     file creation reads it). Lines as the script writes them, for a.mib and b.mib of the
//     home /home/u/korvimo:
//         #!/bin/sh
//         cd "/home/u/korvimo/mibs" || exit 1
//         echo "Compiling a.mib..."
//         "/opt/korvimo/bin/kmx" --home "/home/u/korvimo" -o t1 -e e1 "a.mib"
//         echo "Compiling b.mib..."
//         "/opt/korvimo/bin/kmx" --home "/home/u/korvimo" -o t2 -e e2 "b.mib"
//         cat t1 t2 > m1
//         rm -f t1
//         rm -f t2
//         "/opt/korvimo/bin/zorlet" m1 mibinfo.out merr
//         cat e1 e2 merr > miberrs.out
//         rm -f e1
//         rm -f e2
//         rm -f m1
//         rm -f merr
//     Nothing stands for the console's "echo off", "echo on" and "pause": sh does not echo
//     its commands, and no console window waits to be closed.
//   - kmx is given the home (--home): it searches that home's mibs directory and MIBDIRLIST
//     for imported modules, and that home need not be the one above kmx's own directory.
//   - Every file name is one shell word (shellWord): in double quotes, or in single quotes
//     when it holds a character that double quotes leave special. An echo line whose text
//     holds a backslash is written with printf '%s\n', which prints it as it is.
//   - The outputs of split pieces are st<n>_<k> and se<n>_<k>: without the "_", piece 2 of
//     file 11 and piece 12 of file 1 would both write st112. A piece name that an earlier
//     piece of the same compilation already took (two files of one name from different
//     directories) becomes <name>_<n>_<k> for the same reason.
//   - A file is split only when it can be read whole (regular, at most kMaxSplitFileSize) and
//     no line of it is longer than kSplitLineLimit bytes; otherwise it is compiled unsplit
//     and no piece of it is written. A module ends at a line whose code (quoted strings and
//     "--" comments left out) begins with the word END ("ENDS" or "ENDPOINT" is none), unless
//     that END closes a macro definition; a line that begins inside a quoted string (a
//     DESCRIPTION's text) never ends one.
//   - Extensions match file names without regard to case (IF-MIB.MIB is found by "mib"), and
//     an extension already listed (again without regard to case) is not listed twice, so no
//     file appears twice. The list is sorted by name without regard to case.
//   - Relative MIBDIRLIST entries are taken from the bin directory, as the programs' working
//     directory is bin; the list then shows full paths, so the script (which works in the
//     mibs directory) finds every file.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace korvimo::mibcomp {

inline constexpr std::size_t kMaxMibDirectories = 32;
inline constexpr std::size_t kMaxMibExtensions = 32;
inline constexpr const char* kDefaultMibExtension = "mib";
// A line longer than this keeps its file from being split.
inline constexpr std::size_t kSplitLineLimit = 1500;
// The largest file that is split; a bigger one is compiled whole.
inline constexpr std::size_t kMaxSplitFileSize = 64 * 1024 * 1024;

// Files of the mibs directory.
inline constexpr const char* kMibListFile = "miblist.lst";
inline constexpr const char* kBatchFile = "mibcom.sh";
inline constexpr const char* kMibInfoFile = "mibinfo.out";
inline constexpr const char* kMibErrorsFile = "miberrs.out";
// Programs the batch runs, from the programs' directory.
inline constexpr const char* kCompilerProgram = "kmx";
inline constexpr const char* kZorletProgram = "zorlet";

inline constexpr const char* kMibListHeading = "List of Mib files currently compiled are: \r\n";
// The failure of a file that cannot be created, with "/mibs/miblist.lst" or
// "/mibs/mibcom.sh".
inline constexpr const char* kCannotCreateFormat =
    "Cannot open [%s] for writing. Check permissions.";

struct SearchSettings {
    std::string mibsDirectory;  // <installDir>/mibs, a full path
    std::string binDirectory;   // the bin directory, a full path; relative entries start here
    std::string mibDirList;     // MIBDIRLIST: directories separated by ","
    std::string mibExtension;   // MIBEXTENSION: empty for "mib"
    std::string mibExtList;     // MIBEXTLIST: extensions separated by ","
};

struct SearchLists {
    // The mibs directory first, then the MIBDIRLIST entries (empty ones skipped), as full
    // paths; kMaxMibDirectories at most.
    std::vector<std::string> directories;
    // MIBEXTENSION (or "mib"), then the MIBEXTLIST entries that are neither "mib" nor one
    // listed before (compared without regard to case); kMaxMibExtensions at most.
    std::vector<std::string> extensions;
};

SearchLists searchLists(const SearchSettings& settings);

// The MIB list: every file (not directory) of every directory whose name ends in "." and
// one of the extensions; the name alone when there is one directory, the full path
// otherwise. Sorted, each file once.
std::vector<std::string> mibList(const SearchLists& lists);

// The file an entry of the list names: <mibs directory>/<entry> when the list has one
// directory and the entry is a name alone, else the entry itself.
std::string entryPath(const SearchLists& lists, const std::string& entry);

// The entry's name without directory and extension, as its pieces are named.
std::string entryBaseName(const std::string& entry);

// One shell word for text, as the script writes file names.
std::string shellWord(std::string_view text);

struct BatchSettings {
    std::string mibsDirectory;      // full path; the script works there
    std::string programsDirectory;  // full path of the directory holding kmx and zorlet
    std::string homeDirectory;      // full path of the home (installation directory), for kmx
    bool split = true;              // SPLITMIBFILES is not exactly "NO"
    bool erasePieces = true;        // ERASESPLITMIBS is missing, empty or "YES"
};

struct SplitPiece {
    std::string name;   // in the mibs directory
    std::string bytes;  // the piece, byte for byte
};

struct Batch {
    std::string script;   // mibcom.sh
    std::string mibList;  // miblist.lst
    std::vector<SplitPiece> pieces;
    std::size_t files = 0;               // selected entries
    std::vector<std::size_t> splitInto;  // pieces of the n-th entry; 0 when compiled whole
    bool erasePieces = true;             // the script erases the pieces
};

// The batch for the selected entries, in the order given (the list's order). Files to be
// split are read here. With nothing selected the script and list hold their first lines only.
Batch makeBatch(const BatchSettings& settings, const SearchLists& lists,
                const std::vector<std::string>& selected);

// The files the script makes and erases again, by name in the mibs directory: t<n>, e<n>,
// m1, merr, st<n>_<k>, se<n>_<k>, and the pieces when the script erases them.
std::vector<std::string> intermediateFiles(const Batch& batch);

// Writes miblist.lst with text (emptied first); fails as writeBatch does.
Result writeMibList(std::string_view text, const std::string& mibsDirectory);

// Writes miblist.lst, then the pieces, then mibcom.sh (executable) into the mibs directory,
// each file emptied first. Fails with kCannotCreateFormat filled with "/mibs/<file>" when
// one cannot be created or written.
Result writeBatch(const Batch& batch, const std::string& mibsDirectory);

}  // namespace korvimo::mibcomp
