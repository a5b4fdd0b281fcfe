// korvan: Korvimo's desktop program, the main window on Qt Widgets.
//
//   korvan [--home DIR] [--address ADDR] [--port N] [--start] [--screenshot FILE]
//
// The program runs with its home's bin directory as its working directory (app/home.h),
// reads korvan.ini there, and shows the main window; the agent's endpoints and timers run
// on Qt's event loop (QtEventLoop). SIGINT, SIGTERM and SIGQUIT (Ctrl-C or Ctrl-\ in the
// terminal that started it, a session's end) end it as Exit does, so the agent is stopped and
// its files closed. SIGPIPE does nothing: a write to a closed pipe fails instead.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QPixmap>
#include <QSocketNotifier>
#include <QTimer>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
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

// A signal only writes a byte into this pipe; the window reads it in Qt's loop, where it may
// do anything. Handlers, unlike a blocked signal mask, are not inherited by the editors the
// window starts.
int signalPipe[2] = {-1, -1};

void onBrokenPipe(int) {}

void onSignal(int) {
    const char byte = 1;
    const ssize_t written = ::write(signalPipe[1], &byte, 1);
    (void)written;
}

bool catchSignals() {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    // A handler that does nothing rather than SIG_IGN, which the programs the window starts
    // would inherit.
    struct sigaction brokenPipe {};
    brokenPipe.sa_handler = onBrokenPipe;
    sigemptyset(&brokenPipe.sa_mask);
    brokenPipe.sa_flags = SA_RESTART;
    return ::sigaction(SIGINT, &action, nullptr) == 0 &&
           ::sigaction(SIGTERM, &action, nullptr) == 0 &&
           ::sigaction(SIGQUIT, &action, nullptr) == 0 &&
           ::sigaction(SIGPIPE, &brokenPipe, nullptr) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace korvimo;

    // Help and the version need no display, so they are answered before Qt looks for one.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            gui::printProgramUsage(std::cout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::cout << "korvan (Korvimo) " KORVIMO_VERSION "\n";
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

    std::unique_ptr<QSocketNotifier> signals;
    if (catchSignals()) {
        signals = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
        QObject::connect(signals.get(), &QSocketNotifier::activated, &window, [&window]() {
            char bytes[16];
            while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
            }
            window.exitProgram();
        });
    }
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
