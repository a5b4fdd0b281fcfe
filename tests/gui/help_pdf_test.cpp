// The build tool that prints the HTML user guide into the PDF help document.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "app/core/temp_dir.h"

namespace {

using korvimo::testing::readFile;
using korvimo::testing::TempDir;
using korvimo::testing::writeFile;

int runTool(const std::string& args) {
    const std::string command = std::string(KORVIMO_HELP_PDF_TOOL) + " " + args + " 2>/dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(HelpPdf, PrintsTheUserGuideIntoAPdf) {
    TempDir dir;
    const std::string guide = std::string(KORVIMO_SOURCE_DIR) + "/home/docs/webhelp/korvan.htm";
    ASSERT_EQ(runTool(guide + " " + dir.path("Korvan7.0.pdf")), 0);
    const std::string pdf = readFile(dir.path("Korvan7.0.pdf"));
    EXPECT_EQ(pdf.substr(0, 5), "%PDF-");
    EXPECT_GT(pdf.size(), 20000u);  // many pages of text, not an empty page
    EXPECT_NE(pdf.find("%%EOF"), std::string::npos);
}

TEST(HelpPdf, RefusesMissingInputUnwritableOutputAndBadUsage) {
    TempDir dir;
    writeFile(dir.path("guide.htm"), "<html><body><p>x</p></body></html>");
    EXPECT_EQ(runTool(dir.path("missing.htm") + " " + dir.path("out.pdf")), 1);
    EXPECT_EQ(runTool(dir.path("guide.htm") + " " + dir.path("no/such/dir/out.pdf")), 1);
    EXPECT_EQ(runTool(dir.path("guide.htm")), 2);
}

}  // namespace
