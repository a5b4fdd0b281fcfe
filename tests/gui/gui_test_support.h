// Helpers of the desktop program's tests: a temporary home with korvan.ini, the window on it
// with its logic, running Qt's loop until something happens, answering the modal boxes and
// choosers the window opens, and Net-SNMP managers run without blocking the loop (the agent
// answers them on this very thread).
//
//   DesktopHome home;                      // agent/small.ctl, korvan.ini on a free port
//   DesktopWindow desktop(home);           // window started and shown
//   ModalWatch<QMessageBox> watch([](QMessageBox* box) { box->accept(); });
//   desktop.window.about();                // returns once the watch closed the box
//   PeerRun get = runPeer("snmpget", {"-v2c", "-c", "public", home.agent(), kSysDescr});
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QThread>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "agent/udp_peer.h"
#include "app/core/clock.h"
#include "app/core/configuration.h"
#include "app/core/temp_dir.h"
#include "app/desktop_commands.h"
#include "app/main_window.h"
#include "gui/korvan_window.h"
#include "gui/qt_event_loop.h"

namespace korvimo::gui::testing {

using korvimo::testing::readFile;
using korvimo::testing::TempDir;
using korvimo::testing::UdpPeer;
using korvimo::testing::writeFile;

inline constexpr const char* kSysDescr = "1.3.6.1.2.1.1.1.0";
inline constexpr const char* kSmallControlFile =
    "1.3.6.1.2.1.1.1.0, OctetString, RO, fixed(Desktop test agent)\r\n"
    "1.3.6.1.2.1.1.3.0, TimeTicks, RO, clock(0)\r\n"
    "1.3.6.1.2.1.1.5.0, OctetString, RW, lastset(desk)\r\n";

// Runs Qt's loop until done() or the time limit; true when done.
inline bool spinUntil(const std::function<bool()>& done, int limitMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done()) {
        if (elapsed.elapsed() >= limitMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// A temporary home: bin/korvan.ini naming it as INSTALLDIR, agent/small.ctl, and the agent
// on 127.0.0.1 at a free port (AGENTIP, AGENTPORT).
struct DesktopHome {
    DesktopHome() {
        for (const char* sub : {"bin", "agent", "mibs", "docs", "docs/webhelp"}) {
            ::mkdir(dir.path(sub).c_str(), 0755);
        }
        writeFile(dir.path("agent/small.ctl"), kSmallControlFile);
        port = korvimo::testing::freeUdpPort(AF_INET);
        writeFile(dir.path("bin/korvan.ini"),
                  "[KORVAN]\r\nINSTALLDIR=" + dir.root() +
                      "\r\nINPUTFILE1=small.ctl\r\nINPUTFILE2=other.ctl\r\n"
                      "RCOMMUNITY1=public\r\nRCOMMUNITY2=old\r\nWCOMMUNITY1=private\r\n"
                      "AGENTIP=127.0.0.1\r\nAGENTPORT=" +
                      std::to_string(port) + "\r\nSNMPVER=SNMPv2C\r\nDEBUGMODE=NO\r\n");
    }
    std::string ini() const { return dir.path("bin/korvan.ini"); }
    std::string agent() const { return "127.0.0.1:" + std::to_string(port); }
    // The demo home's trap file and the mibinfo.out it is read with.
    void addDemoTrapFile() const {
        for (const char* file : {"agent/default.trp", "mibs/mibinfo.out"}) {
            std::filesystem::copy_file(std::string(KORVIMO_HOME_DIR) + "/" + file, dir.path(file),
                                       std::filesystem::copy_options::overwrite_existing);
        }
    }

    TempDir dir;
    uint16_t port = 0;
};

// The window on a home, started and shown. Commands the window starts are recorded instead
// of run, and the desktop offers the programs the test names.
struct DesktopWindow {
    explicit DesktopWindow(DesktopHome& home) : config(home.ini()) {
        app::DesktopEnvironment environment;
        environment.variable = [](const char*) { return std::optional<std::string>(); };
        environment.hasProgram = [this](const std::string& name) {
            for (const std::string& program : programs) {
                if (program == name) {
                    return true;
                }
            }
            return false;
        };
        commands = std::make_unique<app::DesktopCommands>(config, environment);
        window = std::make_unique<KorvanWindow>(logic, *commands);
        realLaunch = window->launch;
        window->launch = [this](const app::LaunchCommand& command) {
            launched.push_back(command.argv);
            return launchSucceeds;
        };
        window->windowStart();
        window->show();
    }

    std::vector<std::string> statusLines() const {
        std::vector<std::string> lines;
        for (int i = 0; i < window->statusWidget()->count(); ++i) {
            lines.push_back(window->statusWidget()->item(i)->text().toStdString());
        }
        return lines;
    }

    Configuration config;
    QtEventLoop loop{SystemClock::instance()};
    app::MainWindow logic{config, loop};
    std::vector<std::string> programs;
    std::unique_ptr<app::DesktopCommands> commands;
    std::unique_ptr<KorvanWindow> window;
    std::function<bool(const app::LaunchCommand&)> realLaunch;
    std::vector<std::vector<std::string>> launched;
    bool launchSucceeds = true;
};

// Waits for the window to open a modal widget of type T and hands it to act, once, from
// inside the widget's own event loop: a dialog shown by exec() may process events before its
// loop runs, and closing it then would leave exec() waiting for ever. A modal dialog still
// open when the limit has passed is closed with a test failure, so that a failing test ends
// instead of waiting forever inside exec().
template <typename T>
class ModalWatch {
  public:
    explicit ModalWatch(std::function<void(T*)> act, int limitMs = 15000)
        : act_(std::move(act)),
          limitMs_(limitMs),
          baseLevel_(QThread::currentThread()->loopLevel()) {
        elapsed_.start();
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this]() { poll(); });
        timer_.start();
    }
    bool seen() const { return seen_; }

  private:
    void poll() {
        QWidget* modal = QApplication::activeModalWidget();
        if (!seen_) {
            T* wanted = qobject_cast<T*>(modal);
            if (wanted != nullptr && QThread::currentThread()->loopLevel() > baseLevel_) {
                seen_ = true;
                act_(wanted);
                return;
            }
        }
        // A modal widget left open past the limit (never the wanted one, or one the act did
        // not close) is closed here, so that the test fails instead of hanging.
        if (modal != nullptr && elapsed_.elapsed() > limitMs_) {
            timer_.stop();
            ADD_FAILURE() << "a modal widget was left open: " << modal->metaObject()->className();
            if (auto* dialog = qobject_cast<QDialog*>(modal)) {
                dialog->reject();
            }
        }
    }

    std::function<void(T*)> act_;
    int limitMs_;
    int baseLevel_;
    QElapsedTimer elapsed_;
    QTimer timer_;
    bool seen_ = false;
};

// Chooses a file in a file chooser as a user typing its name and pressing OK does.
inline void chooseFile(QFileDialog* dialog, const std::string& path) {
    // selectFile() leaves the name field alone while it has the focus, so the name is typed.
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(name, nullptr);
    name->setText(QString::fromStdString(path));
    static_cast<QDialog*>(dialog)->accept();
}

struct PeerRun {
    bool finished = false;
    int status = -1;
    std::string output;
};

// A Net-SNMP manager with numeric names, no MIB loading and bounded waits, started now; the
// caller runs Qt's loop (a spin, or a modal box's own loop) until it finishes.
class Peer {
  public:
    Peer(const std::string& program, const std::vector<std::string>& args) {
        QStringList arguments = {"-m", "", "-On", "-t", "1", "-r", "1"};
        for (const std::string& arg : args) {
            arguments << QString::fromStdString(arg);
        }
        process_.setProcessChannelMode(QProcess::MergedChannels);
        QObject::connect(&process_, &QProcess::finished, [this](int code, QProcess::ExitStatus) {
            run_.finished = true;
            run_.status = code;
            run_.output = process_.readAll().toStdString();
            if (onFinished) {
                onFinished(run_);
            }
        });
        process_.start(QString::fromStdString(program), arguments);
    }
    ~Peer() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(2000);
        }
    }
    const PeerRun& run() const { return run_; }
    std::function<void(const PeerRun&)> onFinished;

  private:
    QProcess process_;
    PeerRun run_;
};

// Runs a manager to its end while Qt's loop (and so the agent) goes on.
inline PeerRun runPeer(const std::string& program, const std::vector<std::string>& args,
                       int limitMs = 20000) {
    Peer peer(program, args);
    spinUntil([&peer]() { return peer.run().finished; }, limitMs);
    return peer.run();
}

// The texts of a widget's labels, in creation order.
inline std::vector<std::string> labelTexts(const QWidget& widget) {
    std::vector<std::string> texts;
    for (const QLabel* label : widget.findChildren<QLabel*>()) {
        texts.push_back(label->text().toStdString());
    }
    return texts;
}

}  // namespace korvimo::gui::testing
