// DemoAgent: the demo device served by a MainWindow on a thread of its own, from a private
// copy of the demo home, on a loopback port that was free.
//
//   DemoAgent agent(IpVersion::IPv4, "127.0.0.1");
//   ASSERT_TRUE(agent.running());
//   CommandRun walk = netSnmp("snmpwalk", "-v2c -c vintor " + agent.target() + " 1.3.6.1");
//
// The agent's objects are used only on its thread while it runs; the test thread waits for
// the start and then only talks to the agent over UDP.
#pragma once

#include <atomic>
#include <future>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "agent/udp_peer.h"
#include "app/core/configuration.h"
#include "app/core/epoll_event_loop.h"
#include "app/core/temp_dir.h"
#include "app/demo_home.h"
#include "app/main_window.h"

namespace korvimo::testing {

class DemoAgent {
  public:
    // settings are written to the copy's korvan.ini before the start.
    DemoAgent(IpVersion transport, const std::string& address, bool debugMode = false,
              const std::vector<std::pair<ConfigKey, std::string>>& settings = {})
        : transport_(transport), address_(address), debugMode_(debugMode) {
        copyDemoHome(dir_.root());
        Configuration config(dir_.path("bin/korvan.ini"));
        for (const auto& [key, value] : settings) {
            config.writePlain(key, value);
        }
        for (int attempt = 0; attempt < 10 && !running_; ++attempt) {
            port_ = freeUdpPort(transport == IpVersion::IPv6 ? AF_INET6 : AF_INET);
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
        return transport_ == IpVersion::IPv6 ? "udp6:[" + address_ + "]:" + std::to_string(port_)
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
        EpollEventLoop loop(SystemClock::instance());
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
    IpVersion transport_;
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
