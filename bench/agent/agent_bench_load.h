// What the agent benchmarks share beyond the control file: the agent on a thread of its own
// (started by the main window's logic), Net-SNMP's snmpd as a child process, and the load
// generator that drives either one: a window of requests outstanding over a few UDP sockets,
// each answer sending the next request.
//
//   bench::AgentThread agent(home, [](app::MainWindowForm& form) { ... });
//   bench::Snmpd snmpd(dir, bench::freeLoopbackPort(), "rocommunity bench 127.0.0.1\n");
//   bench::Generator toAgent(agent.port());
//   MyLoad load;                                  // builds the requests, judges the answers
//   bench::Tally tally;
//   const double perSecond = toAgent.rate(load, seconds, &tally);
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "agent/agent_bench_setup.h"
#include "app/core/configuration.h"
#include "app/core/epoll_event_loop.h"
#include "app/main_window.h"
#include "snmp/ber.h"
#include "snmp/message.h"

namespace korvimo::bench {

using SteadyClock = std::chrono::steady_clock;

inline constexpr const char* kBenchCommunity = "bench";
inline constexpr int kWindow = 32;  // requests outstanding
inline constexpr int kSockets = 2;  // the window is spread over these

inline double secondsSince(SteadyClock::time_point start) {
    return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

// A folder of its own under /tmp, removed with what it holds when the object goes: declared
// before the agent and snmpd, it outlives them (snmpd writes its persistent file as it stops).
class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/korvimo-bench-XXXXXX";
        if (const char* made = ::mkdtemp(pattern)) {
            path_ = made;
        }
    }
    ~TempDir() {
        if (!path_.empty()) {
            std::system(("rm -rf '" + path_ + "'").c_str());
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Empty when no folder could be made.
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// Makes dir a home for AgentThread: its folders, agent/bench.ctl holding controlFile, and a
// korvan.ini naming dir. False, said on standard error as program, when there is no folder.
inline bool makeBenchHome(const TempDir& temp, const std::string& controlFile,
                          const char* program) {
    const std::string& dir = temp.path();
    if (dir.empty()) {
        std::fprintf(stderr, "%s: no folder under /tmp\n", program);
        return false;
    }
    for (const char* sub : {"/bin", "/agent", "/mibs"}) {
        ::mkdir((dir + sub).c_str(), 0755);
    }
    writeText(dir + "/agent/bench.ctl", controlFile);
    writeText(dir + "/bin/korvan.ini", "[KORVAN]\r\nINSTALLDIR=" + dir + "\r\n");
    return true;
}

// --- The agent on a thread -------------------------------------------------------------------

// The agent of <home>/bin/korvan.ini serving <home>/agent/bench.ctl with the community
// kBenchCommunity on a free loopback port. configure changes the form before the start;
// serving (on the agent's thread) is told true once the agent serves and false before it
// stops.
class AgentThread {
  public:
    AgentThread(const std::string& home, std::function<void(app::MainWindowForm&)> configure = {},
                std::function<void(bool)> serving = {})
        : home_(home), configure_(std::move(configure)), serving_(std::move(serving)) {
        for (int attempt = 0; attempt < 10 && !running_; ++attempt) {
            port_ = freeLoopbackPort();
            std::promise<bool> started;
            auto result = started.get_future();
            stop_ = false;
            thread_ = std::thread([this, &started] { serve(started); });
            running_ = result.get();
            if (!running_) {
                thread_.join();
            }
        }
    }
    ~AgentThread() {
        if (running_) {
            stop_ = true;
            thread_.join();
        }
    }
    AgentThread(const AgentThread&) = delete;
    AgentThread& operator=(const AgentThread&) = delete;

    bool running() const { return running_; }
    uint16_t port() const { return port_; }
    // CPU time the agent's thread has used so far, in seconds: unlike answers per second, it
    // does not depend on how the machine shares its cores between the agent and the load.
    double cpuSeconds() {
        clockid_t clock;
        timespec used{};
        if (!running_ || ::pthread_getcpuclockid(thread_.native_handle(), &clock) != 0 ||
            ::clock_gettime(clock, &used) != 0) {
            return 0;
        }
        return static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) / 1e9;
    }
    const std::string& failure() const { return failure_; }

  private:
    void serve(std::promise<bool>& started) {
        Configuration config(home_ + "/bin/korvan.ini");
        EpollEventLoop loop(SystemClock::instance());
        app::MainWindow window(config, loop);
        window.windowStart();
        window.form().controlFile = "bench.ctl";
        window.form().readCommunity = kBenchCommunity;
        window.form().writeCommunity = kBenchCommunity;
        window.form().debugMode = false;
        if (configure_) {
            configure_(window.form());
        }
        window.setEndpointOverride(port_, std::string("127.0.0.1"));
        if (!window.start()) {
            failure_ = window.status().lines().empty() ? "?" : window.status().lines().back();
            window.exit();
            started.set_value(false);
            return;
        }
        started.set_value(true);
        if (serving_) {
            serving_(true);
        }
        while (!stop_) {
            loop.runOnce(20);
        }
        if (serving_) {
            serving_(false);
        }
        window.stop();
        window.exit();
    }

    std::string home_;
    std::function<void(app::MainWindowForm&)> configure_;
    std::function<void(bool)> serving_;
    uint16_t port_ = 0;
    bool running_ = false;
    std::string failure_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// --- snmpd ---------------------------------------------------------------------------------

// snmpd in the foreground on 127.0.0.1:port with <dir>/snmpd.conf holding config alone, and
// its persistent data in <dir>/snmpd-persistent (snmpd names that file snmpd.conf too).
class Snmpd {
  public:
    Snmpd(const std::string& dir, uint16_t port, const std::string& config) : port_(port) {
        const std::string conf = dir + "/snmpd.conf";
        writeText(conf, config + "dontLogTCPWrappersConnects yes\n");
        const std::string persistent = dir + "/snmpd-persistent";
        ::mkdir(persistent.c_str(), 0700);
        pid_ = ::fork();
        if (pid_ == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::setenv("SNMP_PERSISTENT_DIR", persistent.c_str(), 1);
            ::setenv("MIBS", "", 1);
            const std::string address = "udp:127.0.0.1:" + std::to_string(port);
            ::execlp("snmpd", "snmpd", "-f", "-Lo", "-C", "-c", conf.c_str(), address.c_str(),
                     static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~Snmpd() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Snmpd(const Snmpd&) = delete;
    Snmpd& operator=(const Snmpd&) = delete;

    uint16_t port() const { return port_; }
    // CPU time the process has used so far (user and system), in seconds, at the kernel's
    // tick; 0 when it cannot be read.
    double cpuSeconds() const {
        if (pid_ <= 0) {
            return 0;
        }
        std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        // Fields 14 and 15 (utime, stime) follow the command name's closing parenthesis.
        const std::size_t close = text.rfind(')');
        if (close == std::string::npos) {
            return 0;
        }
        unsigned long long user = 0;
        unsigned long long system = 0;
        if (std::sscanf(text.c_str() + close + 1,
                        " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &user,
                        &system) != 2) {
            return 0;
        }
        return static_cast<double>(user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    }

  private:
    pid_t pid_ = -1;
    uint16_t port_;
};

// --- The load generator --------------------------------------------------------------------

inline snmp::ObjectId oid(const std::string& text) {
    snmp::ObjectId id;
    snmp::SnmpStrToOid(text.c_str(), &id);
    return id;
}

// An encoded SNMPv2c request (community kBenchCommunity) whose request-id takes four bytes at
// `idOffset`, so that each send only patches them.
struct Template {
    std::vector<uint8_t> bytes;
    std::size_t idOffset = 0;
};

inline Template encodeTemplate(uint32_t type, const std::vector<std::string>& names,
                               int32_t field1 = 0, int32_t field2 = 0) {
    auto list = snmp::SnmpCreateVbl();
    for (const std::string& name : names) {
        snmp::ObjectId id = oid(name);
        snmp::SnmpAddVb(list.get(), &id, nullptr);
    }
    snmp::Octets community;
    community.bytes.assign(kBenchCommunity, kBenchCommunity + std::strlen(kBenchCommunity));
    constexpr int32_t kMarker = 0x7A7B7C7D;
    auto pdu = snmp::SnmpCreateBPdu(snmp::kVersion2c, &community, type, kMarker, field1, field2,
                                    std::move(list));
    Template t;
    t.bytes.resize(snmp::kMaxMessageSize);
    uint32_t size = static_cast<uint32_t>(t.bytes.size());
    if (!snmp::SnmpEncodeMsg(pdu.get(), t.bytes.data(), &size)) {
        size = 0;
    }
    t.bytes.resize(size);
    const uint8_t marker[4] = {0x7A, 0x7B, 0x7C, 0x7D};
    for (std::size_t i = 0; i + 4 <= t.bytes.size(); ++i) {
        if (std::memcmp(&t.bytes[i], marker, 4) == 0) {
            t.idOffset = i;
            break;
        }
    }
    return t;
}

// What the window sends, and what it makes of each datagram that comes back.
class Load {
  public:
    enum class Answer {
        Good,     // an answer: counted
        Error,    // an answer with an error or an exception: counted, and as an error
        Refused,  // the request was refused (a Report): its place in the window is free again
        Stray,    // no answer to an outstanding request: passed over
    };
    virtual ~Load() = default;
    // Writes the next request into out (capacity octets); its length, 0 when none is made.
    virtual std::size_t next(uint8_t* out, std::size_t capacity) = 0;
    // The datagram may be changed in place.
    virtual Answer take(uint8_t* in, std::size_t length) = 0;
};

struct Tally {
    uint64_t answered = 0;
    uint64_t errors = 0;
    uint64_t refused = 0;
};

class Generator {
  public:
    explicit Generator(uint16_t port) {
        target_.sin_family = AF_INET;
        target_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        target_.sin_port = htons(port);
        for (int i = 0; i < kSockets; ++i) {
            const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            const int size = 1 << 20;
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
            ::connect(fd, reinterpret_cast<sockaddr*>(&target_), sizeof target_);
            fds_.push_back(fd);
        }
    }
    ~Generator() {
        for (int fd : fds_) {
            ::close(fd);
        }
    }
    Generator(const Generator&) = delete;
    Generator& operator=(const Generator&) = delete;

    // The first socket, connected to the target, for requests one at a time.
    int socket() const { return fds_[0]; }

    // Answers per second to the load's requests, kWindow of them outstanding, for `seconds`;
    // tally (when given) adds up the answers.
    double rate(Load& load, double seconds, Tally* tally = nullptr) {
        // Requests go out and answers come in with one system call per batch, so that the
        // generator costs less than the agents it measures.
        constexpr int kBatch = kWindow;
        static uint8_t in[kBatch][2048];
        static uint8_t out[kBatch][snmp::kMaxMessageSize];
        mmsghdr inMessages[kBatch] = {};
        iovec inVectors[kBatch];
        mmsghdr outMessages[kBatch] = {};
        iovec outVectors[kBatch];
        for (int i = 0; i < kBatch; ++i) {
            inVectors[i] = iovec{in[i], sizeof in[i]};
            inMessages[i].msg_hdr.msg_iov = &inVectors[i];
            inMessages[i].msg_hdr.msg_iovlen = 1;
            outMessages[i].msg_hdr.msg_iov = &outVectors[i];
            outMessages[i].msg_hdr.msg_iovlen = 1;
        }
        Tally counted;
        auto send = [&](int fd, int count) {
            int made = 0;
            for (int i = 0; i < count; ++i) {
                const std::size_t length = load.next(out[made], sizeof out[made]);
                if (length > 0) {
                    outVectors[made] = iovec{out[made], length};
                    ++made;
                }
            }
            if (made > 0) {
                ::sendmmsg(fd, outMessages, static_cast<unsigned>(made), 0);
            }
        };
        drain();
        const int perSocket = kWindow / static_cast<int>(fds_.size());
        for (int fd : fds_) {
            send(fd, perSocket);
        }
        std::vector<pollfd> polls;
        for (int fd : fds_) {
            polls.push_back(pollfd{fd, POLLIN, 0});
        }
        const auto start = SteadyClock::now();
        auto lastProgress = start;
        while (secondsSince(start) < seconds) {
            if (::poll(polls.data(), polls.size(), 50) <= 0) {
                // Datagrams lost on the way: refill the window.
                if (secondsSince(lastProgress) > 0.2) {
                    for (int fd : fds_) {
                        send(fd, perSocket);
                    }
                    lastProgress = SteadyClock::now();
                }
                continue;
            }
            for (const pollfd& p : polls) {
                if ((p.revents & POLLIN) == 0) {
                    continue;
                }
                const int n = ::recvmmsg(p.fd, inMessages, kBatch, MSG_DONTWAIT, nullptr);
                if (n <= 0) {
                    continue;
                }
                int freed = 0;
                for (int i = 0; i < n; ++i) {
                    switch (load.take(in[i], inMessages[i].msg_len)) {
                        case Load::Answer::Good:
                            ++counted.answered;
                            ++freed;
                            break;
                        case Load::Answer::Error:
                            ++counted.answered;
                            ++counted.errors;
                            ++freed;
                            break;
                        case Load::Answer::Refused:
                            ++counted.refused;
                            ++freed;
                            break;
                        case Load::Answer::Stray:
                            break;
                    }
                }
                send(p.fd, freed);
            }
            lastProgress = SteadyClock::now();
        }
        const double elapsed = secondsSince(start);
        drain();
        if (tally != nullptr) {
            tally->answered += counted.answered;
            tally->errors += counted.errors;
            tally->refused += counted.refused;
        }
        return static_cast<double>(counted.answered) / elapsed;
    }

    // Reads and drops whatever is still on the way, for 50 ms.
    void drain() {
        uint8_t buffer[2048];
        const auto start = SteadyClock::now();
        while (secondsSince(start) < 0.05) {
            for (int fd : fds_) {
                while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
                }
            }
            ::usleep(5000);
        }
    }

  private:
    sockaddr_in target_{};
    std::vector<int> fds_;
};

// Requests made from the templates, taken in turn, each with a request-id of its own; every
// answer counts, an error or an exception as an error too.
class TemplateLoad final : public Load {
  public:
    explicit TemplateLoad(std::vector<Template> templates) : templates_(std::move(templates)) {}

    std::size_t next(uint8_t* out, std::size_t capacity) override {
        const Template& t = templates_[next_++ % templates_.size()];
        if (t.bytes.size() > capacity) {
            return 0;
        }
        std::memcpy(out, t.bytes.data(), t.bytes.size());
        const uint32_t id = nextId_++;
        out[t.idOffset] = static_cast<uint8_t>(id >> 24);
        out[t.idOffset + 1] = static_cast<uint8_t>(id >> 16);
        out[t.idOffset + 2] = static_cast<uint8_t>(id >> 8);
        out[t.idOffset + 3] = static_cast<uint8_t>(id);
        return t.bytes.size();
    }

    Answer take(uint8_t* in, std::size_t length) override {
        if (!snmp::decodeMessage(in, static_cast<uint32_t>(length), &answer_) ||
            answer_.errorStatus != 0 || answer_.varBinds.count() == 0 ||
            answer_.varBinds.items[0].value.syntax >= snmp::kTagNoSuchObject) {
            return Answer::Error;
        }
        return Answer::Good;
    }

  private:
    std::vector<Template> templates_;
    std::size_t next_ = 0;
    uint32_t nextId_ = 0x01000000;
    snmp::Pdu answer_;
};

}  // namespace korvimo::bench
