#include "gui/program_options.h"

#include <gtest/gtest.h>

namespace korvimo::gui {
namespace {

using Args = std::vector<std::string>;

TEST(ProgramOptions, ReadsEveryOptionInBothForms) {
    ProgramOptions options;
    std::string error;
    ASSERT_TRUE(
        parseProgramOptions(Args{"--home", "h", "--port=1161", "--address", "::1", "--start",
                                 "--screenshot=shot.png", "--screenshot-delay", "0"},
                            options, error))
        << error;
    EXPECT_EQ(options.home, "h");
    EXPECT_EQ(options.port, 1161);
    EXPECT_EQ(options.address, "::1");
    EXPECT_TRUE(options.start);
    EXPECT_EQ(options.screenshot, "shot.png");
    EXPECT_EQ(options.screenshotDelayMs, 0u);
    EXPECT_FALSE(options.help);
}

TEST(ProgramOptions, DefaultsLeaveKorvanIniInCharge) {
    ProgramOptions options;
    std::string error;
    ASSERT_TRUE(parseProgramOptions({}, options, error));
    EXPECT_TRUE(options.home.empty());
    EXPECT_FALSE(options.port);
    EXPECT_FALSE(options.address);
    EXPECT_FALSE(options.start);
    EXPECT_EQ(options.screenshotDelayMs, kDefaultScreenshotDelayMs);
}

TEST(ProgramOptions, RefusesBadValuesWithAReason) {
    const std::pair<Args, const char*> cases[] = {
        {{"--port", "0"}, "--port takes a UDP port from 1 to 65535, not '0'"},
        {{"--port=65536"}, "--port takes a UDP port from 1 to 65535, not '65536'"},
        {{"--port", "-5"}, "--port takes a UDP port from 1 to 65535, not '-5'"},
        {{"--home"}, "--home needs a value"},
        {{"--home="}, "--home needs a directory"},
        {{"--address="}, "--address needs a numeric IP address"},
        {{"--screenshot-delay", "99999999999"},
         "--screenshot-delay takes milliseconds from 0 to 600000, not '99999999999'"},
        {{"--verbose"}, "unknown option '--verbose'"},
        {{"stray"}, "unexpected argument 'stray'"},
    };
    for (const auto& [args, reason] : cases) {
        ProgramOptions options;
        std::string error;
        EXPECT_FALSE(parseProgramOptions(args, options, error)) << args.front();
        EXPECT_EQ(error, reason);
    }
}

}  // namespace
}  // namespace korvimo::gui
