#include "mibcomp/mib_compilation.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/core/temp_dir.h"
#include "support/command_run.h"

namespace korvimo::mibcomp {
namespace {

using testing::readFile;
using testing::TempDir;
using testing::writeFile;
using Names = std::vector<std::string>;

// A MIB file of the given modules, CR LF lines, each module ended by an END line.
std::string modules(int count, const std::string& after = "") {
    std::string text;
    for (int i = 1; i <= count; ++i) {
        text += "M" + std::to_string(i) + " DEFINITIONS ::= BEGIN\r\n  END\r\n";
    }
    return text + after;
}

struct Home {
    TempDir dir;
    std::string mibs = dir.path("mibs");
    std::string bin = dir.path("bin");
    Home() {
        std::filesystem::create_directories(mibs);
        std::filesystem::create_directories(bin);
    }
    SearchLists lists(const std::string& dirList = "") const {
        return searchLists({mibs, bin, dirList, "", ""});
    }
    BatchSettings settings(bool erase = true) const { return {mibs, "/p", "/h", true, erase}; }
};

TEST(MibCompilation, TwoFilesGiveTheWholeScriptAndList) {
    Home home;
    writeFile(home.mibs + "/b.mib", modules(1));
    writeFile(home.mibs + "/a.mib", modules(1));
    writeFile(home.mibs + "/notes.txt", "x");
    std::filesystem::create_directories(home.mibs + "/dir.mib");
    const SearchLists lists = home.lists();
    const Names list = mibList(lists);
    ASSERT_EQ(list, (Names{"a.mib", "b.mib"}));

    const Batch batch =
        makeBatch({"/home/u/korvimo/mibs", "/opt/korvimo/bin", "/home/u/korvimo"}, lists, list);
    EXPECT_EQ(batch.script,
              "#!/bin/sh\n"
              "cd \"/home/u/korvimo/mibs\" || exit 1\n"
              "echo \"Compiling a.mib...\"\n"
              "\"/opt/korvimo/bin/kmx\" --home \"/home/u/korvimo\" -o t1 -e e1 \"a.mib\"\n"
              "echo \"Compiling b.mib...\"\n"
              "\"/opt/korvimo/bin/kmx\" --home \"/home/u/korvimo\" -o t2 -e e2 \"b.mib\"\n"
              "cat t1 t2 > m1\nrm -f t1\nrm -f t2\n"
              "\"/opt/korvimo/bin/zorlet\" m1 mibinfo.out merr\n"
              "cat e1 e2 merr > miberrs.out\nrm -f e1\nrm -f e2\nrm -f m1\nrm -f merr\n");
    EXPECT_EQ(batch.mibList,
              "List of Mib files currently compiled are: \r\n    a.mib\r\n    b.mib\r\n");
    EXPECT_TRUE(batch.pieces.empty());
    EXPECT_EQ(batch.files, 2u);
}

TEST(MibCompilation, ThreeModulesAreCompiledInPiecesByteForByte) {
    Home home;
    writeFile(home.mibs + "/x.mib", modules(3, "-- trailer\r\n"));
    const Batch batch = makeBatch(home.settings(false), home.lists(), {"x.mib"});
    ASSERT_EQ(batch.pieces.size(), 3u);
    EXPECT_EQ(batch.pieces[0].name, "x_11");
    EXPECT_EQ(batch.pieces[0].bytes, "M1 DEFINITIONS ::= BEGIN\r\n  END\r\n");
    EXPECT_EQ(batch.pieces[1].name, "x_12");
    EXPECT_EQ(batch.pieces[1].bytes, "M2 DEFINITIONS ::= BEGIN\r\n  END\r\n");
    EXPECT_EQ(batch.pieces[2].name, "x_13");
    EXPECT_EQ(batch.pieces[2].bytes, "M3 DEFINITIONS ::= BEGIN\r\n  END\r\n-- trailer\r\n");
    const std::string head = "#!/bin/sh\ncd \"" + home.mibs + "\" || exit 1\n";
    EXPECT_EQ(batch.script, head +
                                "echo \"Compiling x_11, broken up from x.mib...\"\n"
                                "\"/p/kmx\" --home \"/h\" -o st1_1 -e se1_1 \"x_11\"\n"
                                "echo \"Compiling x_12, broken up from x.mib...\"\n"
                                "\"/p/kmx\" --home \"/h\" -o st1_2 -e se1_2 \"x_12\"\n"
                                "echo \"Compiling x_13, broken up from x.mib...\"\n"
                                "\"/p/kmx\" --home \"/h\" -o st1_3 -e se1_3 \"x_13\"\n"
                                "cat st1_1 st1_2 st1_3 > t1\ncat se1_1 se1_2 se1_3 > e1\n"
                                "rm -f st1_1\nrm -f st1_2\nrm -f st1_3\n"
                                "rm -f se1_1\nrm -f se1_2\nrm -f se1_3\n"
                                "cat t1 > m1\nrm -f t1\n\"/p/zorlet\" m1 mibinfo.out merr\n"
                                "cat e1 merr > miberrs.out\nrm -f e1\nrm -f m1\nrm -f merr\n");
    EXPECT_EQ(intermediateFiles(batch), (Names{"t1", "e1", "m1", "merr", "st1_1", "st1_2", "st1_3",
                                               "se1_1", "se1_2", "se1_3"}));
    const Batch erasing = makeBatch(home.settings(true), home.lists(), {"x.mib"});
    EXPECT_EQ(intermediateFiles(erasing).back(), "x_13");
}

TEST(MibCompilation, FilesThatCannotBeCutAreCompiledWhole) {
    Home home;
    writeFile(home.mibs + "/one.mib", modules(1, "text after\n"));
    writeFile(home.mibs + "/long.mib", modules(2) + std::string(kSplitLineLimit + 1, 'x'));
    // A quote in a comment opens no string.
    writeFile(home.mibs + "/fits.mib",
              "-- \"\r\n" + modules(2) + std::string(kSplitLineLimit, 'x') + "\r\n");
    // The END of a macro definition ends the macro, not the module.
    writeFile(home.mibs + "/smi.mib",
              "SMI DEFINITIONS ::= BEGIN\nOBJECT-TYPE MACRO ::=\nBEGIN\n  TYPE NOTATION ::= x\n"
              "END\n-- TRAP MACRO ::= in a comment\nTRAP-TYPE MACRO\n  ::= BEGIN\nEND\nEND\n");
    // Words that begin with END, and an END inside a description's text, end nothing.
    writeFile(home.mibs + "/text.mib",
              "T DEFINITIONS ::= BEGIN\nx OBJECT-TYPE\n DESCRIPTION \"The ring\nENDS with words\n"
              "END of the text -- not a comment\" -- \"a comment\nENDPOINT ::= { x 1 }\n"
              "END -- of T\n");
    const Batch batch = makeBatch(home.settings(), home.lists(),
                                  {"one.mib", "long.mib", "fits.mib", "smi.mib", "text.mib"});
    for (const char* whole : {"t1 -e e1 \"one.mib\"", "t2 -e e2 \"long.mib\"",
                              "t4 -e e4 \"smi.mib\"", "t5 -e e5 \"text.mib\""}) {
        EXPECT_NE(batch.script.find(std::string("-o ") + whole + "\n"), std::string::npos) << whole;
    }
    ASSERT_EQ(batch.pieces.size(), 2u);  // fits.mib alone: a line of the limit is taken
    EXPECT_EQ(batch.pieces[0].name, "fits_31");
    EXPECT_NE(batch.script.find("rm -f \"fits_32\"\n"), std::string::npos);
}

TEST(MibCompilation, SecondDirectoryGivesFullPathsAndPiecesGoToTheMibsDirectory) {
    Home home;
    const std::string extra = home.bin + "/extra";
    std::filesystem::create_directories(extra);
    writeFile(extra + "/y.mib", modules(2));
    writeFile(home.mibs + "/a.mib", modules(1));
    const SearchLists lists = home.lists(" extra\\ , ,/nowhere");
    EXPECT_EQ(lists.directories, (Names{home.mibs, extra, "/nowhere"}));
    const Names list = mibList(lists);
    ASSERT_EQ(list, (Names{extra + "/y.mib", home.mibs + "/a.mib"}));

    const Batch batch = makeBatch(home.settings(), lists, list);
    EXPECT_NE(batch.script.find("-o st1_2 -e se1_2 \"y_12\"\n"), std::string::npos);
    EXPECT_NE(batch.script.find("-o t2 -e e2 \"" + home.mibs + "/a.mib\"\n"), std::string::npos);
    EXPECT_NE(batch.mibList.find("    " + extra + "/y.mib\r\n"), std::string::npos);
    ASSERT_TRUE(writeBatch(batch, home.mibs));
    EXPECT_EQ(readFile(home.mibs + "/y_11"), modules(1));
    EXPECT_EQ(readFile(home.mibs + "/miblist.lst"), batch.mibList);
    EXPECT_EQ(readFile(home.mibs + "/mibcom.sh"), batch.script);
    EXPECT_FALSE(std::filesystem::exists(extra + "/y_11"));
}

TEST(MibCompilation, ExtensionsAreMatchedAndListedWithoutRegardToCase) {
    Home home;
    EXPECT_EQ(home.lists().extensions, (Names{"mib"}));
    const SearchLists lists = searchLists({home.mibs, home.bin, "", " txt ", "MIB, my,,TXT"});
    EXPECT_EQ(lists.extensions, (Names{"txt", "my"}));
    for (const char* name : {"IF-MIB.TXT", "b.my", "c.mib", ".txt", "dtxt"}) {
        writeFile(home.mibs + "/" + name, "x");
    }
    EXPECT_EQ(mibList(lists), (Names{"b.my", "IF-MIB.TXT"}));
}

TEST(MibCompilation, NothingSelectedGivesTheHeadingsAlone) {
    Home home;
    const Batch batch = makeBatch(home.settings(), home.lists(), {});
    EXPECT_EQ(batch.script, "#!/bin/sh\ncd \"" + home.mibs + "\" || exit 1\n");
    EXPECT_EQ(batch.mibList, kMibListHeading);
    EXPECT_EQ(batch.files, 0u);
    const Result written = writeBatch(batch, home.mibs + "/gone");
    EXPECT_EQ(written.text(), "Cannot open [/mibs/miblist.lst] for writing. Check permissions.");
}

// Piece 12 of file 1 and piece 2 of file 11 share neither outputs nor piece names.
TEST(MibCompilation, PiecesOfFile1AndFile11DoNotClash) {
    Home home;
    writeFile(home.mibs + "/x.mib", modules(12));
    writeFile(home.mibs + "/x.my", modules(2));
    Names selected{"x.mib"};
    for (int n = 2; n <= 10; ++n) {
        selected.push_back("missing" + std::to_string(n) + ".mib");
    }
    selected.push_back("x.my");
    const Batch batch = makeBatch(home.settings(), home.lists(), selected);
    ASSERT_EQ(batch.pieces.size(), 14u);
    EXPECT_EQ(batch.pieces[11].name, "x_112");
    EXPECT_EQ(batch.pieces[13].name, "x_11_2");
    EXPECT_NE(batch.script.find("-o st1_12 -e se1_12 \"x_112\"\n"), std::string::npos);
    EXPECT_NE(batch.script.find("-o st11_2 -e se11_2 \"x_11_2\"\n"), std::string::npos);
}

TEST(MibCompilation, NamesAreSingleShellWords) {
    EXPECT_EQ(shellWord("my mibs"), "\"my mibs\"");
    EXPECT_EQ(shellWord("a$b"), "'a$b'");
    EXPECT_EQ(shellWord("it's $5"), "'it'\\''s $5'");
    EXPECT_EQ(shellWord("it's"), "\"it's\"");
    EXPECT_EQ(entryBaseName("/d/a.b.mib"), "a.b");
    EXPECT_EQ(entryBaseName("plain"), "plain");
    const Batch batch =
        makeBatch({"/m", "/p", "/h", false, true}, {{"/m"}, {"mib"}}, {"a\\b.mib", "-x.mib"});
    EXPECT_NE(batch.script.find("printf '%s\\n' 'Compiling a\\b.mib...'\n"), std::string::npos);
    EXPECT_NE(batch.script.find("-o t2 -e e2 \"./-x.mib\"\n"), std::string::npos);
}

TEST(MibCompilation, WrittenScriptRunsWithStubPrograms) {
    TempDir dir;
    const std::string mibs = dir.path("my mibs");
    const std::string programs = dir.path("pro$grams");
    std::filesystem::create_directories(mibs);
    std::filesystem::create_directories(programs);
    // kmx --home <home> -o <out> -e <messages> <file>; zorlet <in> <out> <messages>.
    writeFile(programs + "/kmx",
              "#!/bin/sh\necho \"compiled $7\" > \"$4\"\necho \"e $7\" > \"$6\"\n");
    writeFile(programs + "/zorlet", "#!/bin/sh\ncat \"$1\" > \"$2\"\necho zorlet > \"$3\"\n");
    ::chmod((programs + "/kmx").c_str(), 0755);
    ::chmod((programs + "/zorlet").c_str(), 0755);
    writeFile(mibs + "/a.mib", modules(2));
    writeFile(mibs + "/b.mib", modules(1));

    const SearchLists lists = searchLists({mibs, dir.path("bin"), "", "", ""});
    const Batch batch = makeBatch({mibs, programs, dir.root(), true, true}, lists, mibList(lists));
    ASSERT_TRUE(writeBatch(batch, mibs));
    const testing::CommandRun run = testing::runCommand("sh " + shellWord(mibs + "/mibcom.sh"));
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("Compiling b.mib..."), std::string::npos) << run.output;
    EXPECT_EQ(readFile(mibs + "/mibinfo.out"), "compiled a_11\ncompiled a_12\ncompiled b.mib\n");
    EXPECT_EQ(readFile(mibs + "/miberrs.out"), "e a_11\ne a_12\ne b.mib\nzorlet\n");
    Names left;
    for (const auto& entry : std::filesystem::directory_iterator(mibs)) {
        left.push_back(entry.path().filename().string());
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left,
              (Names{"a.mib", "b.mib", "mibcom.sh", "miberrs.out", "mibinfo.out", "miblist.lst"}));
}

}  // namespace
}  // namespace korvimo::mibcomp
