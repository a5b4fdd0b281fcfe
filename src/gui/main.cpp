// korvan: Korvimo's desktop program, the main window on Qt Widgets.
//
//   korvan [--home DIR] [--address ADDR] [--port N] [--start] [--screenshot FILE]
//
// The program runs with its home's bin directory as its working directory (app/home.h),
// reads korvan.ini there, and shows the main window; the agent's endpoints and timers run
// on Qt's event loop (QtEventLoop).

#include <QApplication>
#include <QPixmap>
#include <QTimer>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "app/core/clock.h"
#include "app/core/configuration.h"
#include "app/desktop_commands.h"
#include "app/home.h"
#include "app/main_window.h"
#include "gui/korvan_window.h"
#include "gui/program_options.h"
#include "gui/qt_event_loop.h"

namespace {

constexpr const char* kScreenshotFailedText = "korvan: cannot save the window image to ";

}  // namespace

int main(int argc, char** argv) {
    using namespace korvimo;

    // Help needs no display, so it is answered before Qt looks for one.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            gui::printProgramUsage(std::cout);
            return 0;
        }
    }

    // QApplication takes its own options (-platform, -display, ...) out of argv.
    QApplication application(argc, argv);
    std::vector<std::string> args(argv + 1, argv + argc);
    gui::ProgramOptions options;
    std::string error;
    if (!gui::parseProgramOptions(args, options, error)) {
        std::cerr << "korvan: " << error << "\nTry 'korvan --help' for more information.\n";
        return 2;
    }
    // Paths given on the command line are taken from where the program was started.
    if (!options.screenshot.empty()) {
        std::error_code ignored;
        options.screenshot = std::filesystem::absolute(options.screenshot, ignored).string();
    }
    if (!app::enterHome(options.home, error)) {
        std::cerr << "korvan: " << error << "\n";
        return 1;
    }

    Configuration config(kConfigFileName);
    gui::QtEventLoop loop(SystemClock::instance());
    app::MainWindow logic(config, loop);
    app::DesktopCommands commands(config);
    if (options.port || options.address) {
        logic.setEndpointOverride(options.port, options.address);
    }

    gui::KorvanWindow window(logic, commands);
    window.windowStart();
    window.show();
    if (options.start) {
        QTimer::singleShot(0, &window, [&window]() { window.startAgent(); });
    }
    int status = 0;
    if (!options.screenshot.empty()) {
        QTimer::singleShot(static_cast<int>(options.screenshotDelayMs), &window, [&]() {
            if (!window.grab().save(QString::fromStdString(options.screenshot))) {
                std::cerr << kScreenshotFailedText << options.screenshot << "\n";
                status = 1;
            }
            window.exitProgram();
        });
    }
    const int loopStatus = application.exec();
    return status != 0 ? status : loopStatus;
}
