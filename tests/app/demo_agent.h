// DemoAgent: the demo device served by a MainWindow on a thread of its own, from a private
// copy of the demo home, on a loopback port that was free; and `netSnmp`, which runs one
// Net-SNMP command and gives its output.
//
//   DemoAgent agent(TransportChoice::IPv4, "127.0.0.1");
//   ASSERT_TRUE(agent.running());
//   CommandRun walk = netSnmp("snmpwalk -v2c -c vintor " + agent.target() + " 1.3.6.1");
//
// The agent's objects are used only on its thread while it runs; the test thread waits for
// the start and then only talks to the agent over UDP.
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "agent/udp_peer.h"
#include "app/core/configuration.h"
#include "app/core/poll_event_loop.h"
#include "app/core/temp_dir.h"
#include "app/main_window.h"

namespace korvimo::testing {

struct CommandRun {
    int status = -1;
    std::string output;
};

// Runs a shell command with standard error joined to its output.
inline CommandRun runCommand(const std::string& command) {
    CommandRun run;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        run.output.append(buffer, n);
    }
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// A Net-SNMP command line with numeric names, no MIB loading and bounded waits; args follow
// the program name ("snmpget -v2c -c vintor 127.0.0.1:1161 1.3.6.1.2.1.1.1.0").
inline CommandRun netSnmp(const std::string& program, const std::string& args) {
    return runCommand(program + " -m '' -On -t 1 -r 1 " + args);
}

// Copies the demo home's agent/demo.ctl, mibs/mibinfo.out and bin/korvan.ini into root,
// with INSTALLDIR naming root so that nothing depends on the working directory.
inline void copyDemoHome(const std::string& root) {
    for (const char* sub : {"bin", "agent", "mibs"}) {
        ::mkdir((root + "/" + sub).c_str(), 0755);
    }
    const std::string source = std::string(KORVIMO_SOURCE_DIR) + "/home/";
    for (const char* file : {"agent/demo.ctl", "mibs/mibinfo.out", "bin/korvan.ini"}) {
        writeFile(root + "/" + file, readFile(source + file));
    }
    Configuration config(root + "/bin/korvan.ini");
    config.writePlain(ConfigKey::INSTALLDIR, root);
}

class DemoAgent {
  public:
    DemoAgent(app::TransportChoice transport, const std::string& address, bool debugMode = false)
        : transport_(transport), address_(address), debugMode_(debugMode) {
        copyDemoHome(dir_.root());
        for (int attempt = 0; attempt < 10 && !running_; ++attempt) {
            port_ = freeUdpPort(transport == app::TransportChoice::IPv6 ? AF_INET6 : AF_INET);
            std::promise<bool> started;
            std::future<bool> result = started.get_future();
            stop_ = false;
            thread_ = std::thread([this, &started] { serve(started); });
            running_ = result.get();
            if (!running_) {
                thread_.join();
            }
        }
    }
    ~DemoAgent() { stop(); }
    DemoAgent(const DemoAgent&) = delete;
    DemoAgent& operator=(const DemoAgent&) = delete;

    bool running() const { return running_; }
    uint16_t port() const { return port_; }
    const std::string& home() const { return dir_.root(); }
    const std::string& startFailure() const { return failure_; }
    // The Net-SNMP agent address, "127.0.0.1:PORT" or "udp6:[::1]:PORT".
    std::string target() const {
        return transport_ == app::TransportChoice::IPv6
                   ? "udp6:[" + address_ + "]:" + std::to_string(port_)
                   : address_ + ":" + std::to_string(port_);
    }
    // Stops the agent as "Stop" does and waits for its thread.
    void stop() {
        if (running_) {
            stop_ = true;
            thread_.join();
            running_ = false;
        }
    }
    // The status lines when the agent stopped (after stop()).
    const std::vector<std::string>& finalStatus() const { return finalStatus_; }

  private:
    void serve(std::promise<bool>& started) {
        Configuration config(dir_.path("bin/korvan.ini"));
        PollEventLoop loop(SystemClock::instance());
        app::MainWindow window(config, loop);
        window.windowStart();
        window.chooseTransport(transport_);
        window.form().debugMode = debugMode_;
        window.setEndpointOverride(port_, address_);
        if (!window.start()) {
            failure_ = window.status().lines().empty() ? "" : window.status().lines().back();
            window.exit();
            started.set_value(false);
            return;
        }
        started.set_value(true);
        while (!stop_) {
            loop.runOnce(20);
        }
        window.stop();
        finalStatus_ = window.status().lines();
        window.exit();
    }

    TempDir dir_;
    app::TransportChoice transport_;
    std::string address_;
    bool debugMode_;
    uint16_t port_ = 0;
    bool running_ = false;
    std::string failure_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::vector<std::string> finalStatus_;
};

}  // namespace korvimo::testing
