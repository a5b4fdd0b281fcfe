// The simulated agent under load, side by side with Net-SNMP's snmpd in the same run.
//
// The agent (started by the main window's logic, on a thread of its own) serves a
// generated control file of 10,000 attributes; snmpd serves its own system group. One load
// generator drives both: a window of requests outstanding over a few UDP sockets, each
// answer sending the next request. It measures Get and GetNext answers per second for both,
// the time of a full bulk walk of the 10,000 attributes (with its own GetBulk requests, and
// with Net-SNMP's snmpbulkwalk for reference), and the allocations the agent thread makes
// per request and per answered binding, with the debug log off.
//
//   build/bench/bench_agent [seconds per measurement]
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
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <future>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "agent/agent_bench_setup.h"
#include "app/core/configuration.h"
#include "app/core/epoll_event_loop.h"
#include "app/main_window.h"
#include "snmp/ber.h"
#include "snmp/message.h"

// --- Allocation count of the agent thread ----------------------------------------------------

// The replacements below pair operator new with malloc and operator delete with free, which
// g++ cannot see through once the standard allocators are inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {
std::atomic<uint64_t> agentAllocations{0};
thread_local bool countAllocations = false;
}  // namespace

void* operator new(std::size_t size) {
    if (countAllocations) {
        agentAllocations.fetch_add(1, std::memory_order_relaxed);
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

using namespace korvimo;
using SteadyClock = std::chrono::steady_clock;

constexpr int kAttributes = 10000;
constexpr int kWindow = 32;  // requests outstanding
constexpr int kSockets = 2;  // the window is spread over these
constexpr const char* kCommunity = "bench";
constexpr const char* kTableRoot = bench::kBenchTableRoot;

double secondsSince(SteadyClock::time_point start) {
    return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

std::string makeTempDir() {
    char pattern[] = "/tmp/korvimo-bench-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    return made ? made : "/tmp";
}

std::string controlFile() {
    return bench::tenThousandAttributes("generated for the agent benchmark");
}

// --- The agent on a thread -------------------------------------------------------------------

class AgentThread {
  public:
    explicit AgentThread(const std::string& home) : home_(home) {
        for (int attempt = 0; attempt < 10 && !running_; ++attempt) {
            port_ = bench::freeLoopbackPort();
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
        window.form().readCommunity = kCommunity;
        window.form().writeCommunity = kCommunity;
        window.form().debugMode = false;
        window.setEndpointOverride(port_, std::string("127.0.0.1"));
        if (!window.start()) {
            failure_ = window.status().lines().empty() ? "?" : window.status().lines().back();
            window.exit();
            started.set_value(false);
            return;
        }
        started.set_value(true);
        countAllocations = true;  // only the serving is counted, not the start
        while (!stop_) {
            loop.runOnce(20);
        }
        countAllocations = false;
        window.stop();
        window.exit();
    }

    std::string home_;
    uint16_t port_ = 0;
    bool running_ = false;
    std::string failure_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// --- snmpd ---------------------------------------------------------------------------------

class Snmpd {
  public:
    Snmpd(const std::string& dir, uint16_t port) : port_(port) {
        const std::string conf = dir + "/snmpd.conf";
        bench::writeText(conf, std::string("rocommunity ") + kCommunity +
                                   " 127.0.0.1\ndontLogTCPWrappersConnects yes\n");
        pid_ = ::fork();
        if (pid_ == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
            // Its persistent data go to a folder of their own: snmpd names that file
            // snmpd.conf too.
            const std::string persistent = dir + "/snmpd-persistent";
            ::mkdir(persistent.c_str(), 0700);
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
    uint16_t port() const { return port_; }

  private:
    pid_t pid_ = -1;
    uint16_t port_;
};

// --- The load generator --------------------------------------------------------------------

snmp::ObjectId oid(const std::string& text) {
    snmp::ObjectId id;
    snmp::SnmpStrToOid(text.c_str(), &id);
    return id;
}

// An encoded request whose request-id takes four bytes at `idOffset`, so that each send only
// patches them.
struct Template {
    std::vector<uint8_t> bytes;
    std::size_t idOffset = 0;
};

Template encodeTemplate(uint32_t type, const std::vector<std::string>& names, int32_t field1 = 0,
                        int32_t field2 = 0) {
    auto list = snmp::SnmpCreateVbl();
    for (const std::string& name : names) {
        snmp::ObjectId id = oid(name);
        snmp::SnmpAddVb(list.get(), &id, nullptr);
    }
    snmp::Octets community;
    community.bytes.assign(kCommunity, kCommunity + std::strlen(kCommunity));
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

    // Answers per second to requests made from the templates (taken in turn), kWindow of them
    // outstanding, for `seconds`.
    double rate(const std::vector<Template>& templates, double seconds, uint64_t* errors) {
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
        uint64_t answered = 0;
        uint32_t nextId = 0x01000000;
        std::size_t nextTemplate = 0;
        auto send = [&](int fd, int count) {
            for (int i = 0; i < count; ++i) {
                const Template& t = templates[nextTemplate++ % templates.size()];
                std::memcpy(out[i], t.bytes.data(), t.bytes.size());
                const uint32_t id = nextId++;
                out[i][t.idOffset] = static_cast<uint8_t>(id >> 24);
                out[i][t.idOffset + 1] = static_cast<uint8_t>(id >> 16);
                out[i][t.idOffset + 2] = static_cast<uint8_t>(id >> 8);
                out[i][t.idOffset + 3] = static_cast<uint8_t>(id);
                outVectors[i] = iovec{out[i], t.bytes.size()};
            }
            ::sendmmsg(fd, outMessages, static_cast<unsigned>(count), 0);
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
        snmp::Pdu answer;
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
                for (int i = 0; i < n; ++i) {
                    ++answered;
                    if (!snmp::decodeMessage(in[i], inMessages[i].msg_len, &answer) ||
                        answer.errorStatus != 0 || answer.varBinds.count() == 0 ||
                        answer.varBinds.items[0].value.syntax >= snmp::kTagNoSuchObject) {
                        ++*errors;
                    }
                }
                send(p.fd, n);
            }
            lastProgress = SteadyClock::now();
        }
        const double elapsed = secondsSince(start);
        drain();
        return static_cast<double>(answered) / elapsed;
    }

    // Sends count requests from the template one at a time, each after the previous answer;
    // the answers received, and in *bindings the bindings they carried.
    int sequential(const Template& t, int count, uint64_t* bindings) {
        drain();
        std::vector<uint8_t> message = t.bytes;
        uint8_t buffer[2048];
        snmp::Pdu answer;
        int answered = 0;
        *bindings = 0;
        for (int i = 0; i < count; ++i) {
            message[t.idOffset + 3] = static_cast<uint8_t>(i);
            ::send(fds_[0], message.data(), message.size(), 0);
            pollfd p{fds_[0], POLLIN, 0};
            ssize_t n = 0;
            if (::poll(&p, 1, 1000) > 0 && (n = ::recv(fds_[0], buffer, sizeof buffer, 0)) > 0) {
                ++answered;
                if (snmp::decodeMessage(buffer, static_cast<uint32_t>(n), &answer)) {
                    *bindings += answer.varBinds.count();
                }
            }
        }
        return answered;
    }

    // A GetBulk walk of the subtree under root, one request at a time; the number of
    // bindings walked, and the requests it took.
    // The caller drains the sockets first (drain), outside its timing.
    int bulkWalk(const std::string& root, int maxRepetitions, int* requests) {
        const snmp::ObjectId top = oid(root);
        snmp::ObjectId from = top;
        int walked = 0;
        *requests = 0;
        uint8_t buffer[2048];
        snmp::Octets community;
        community.bytes.assign(kCommunity, kCommunity + std::strlen(kCommunity));
        for (int guard = 0; guard < 100000; ++guard) {
            auto list = snmp::SnmpCreateVbl();
            snmp::SnmpAddVb(list.get(), &from, nullptr);
            auto pdu = snmp::SnmpCreateBPdu(snmp::kVersion2c, &community, snmp::kPduGetBulkRequest,
                                            guard + 1, 0, maxRepetitions, std::move(list));
            uint8_t out[snmp::kMaxMessageSize];
            uint32_t size = sizeof out;
            if (!snmp::SnmpEncodeMsg(pdu.get(), out, &size)) {
                size = 0;
            }
            ::send(fds_[0], out, size, 0);
            ++*requests;
            pollfd p{fds_[0], POLLIN, 0};
            if (::poll(&p, 1, 1000) <= 0) {
                return -1;
            }
            const ssize_t n = ::recv(fds_[0], buffer, sizeof buffer, 0);
            snmp::Pdu answer;
            if (n <= 0 || !snmp::decodeMessage(buffer, static_cast<uint32_t>(n), &answer) ||
                answer.varBinds.count() == 0) {
                return -1;
            }
            for (const snmp::VarBind& b : answer.varBinds.items) {
                if (b.value.syntax == snmp::kTagEndOfMibView || !snmp::isOidPrefix(top, b.name)) {
                    return walked;
                }
                ++walked;
                from = b.name;
            }
        }
        return walked;
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

std::vector<Template> systemGroup(uint32_t type) {
    std::vector<Template> templates;
    // sysDescr to sysLocation: snmpd without a configuration has no sysServices.0.
    for (int i = 1; i <= 6; ++i) {
        const std::string name = "1.3.6.1.2.1.1." + std::to_string(i) + ".0";
        templates.push_back(encodeTemplate(type, {name}));
    }
    return templates;
}

bool answers(Generator& generator) {
    uint64_t errors = 0;
    return generator.rate({encodeTemplate(snmp::kPduGetRequest, {"1.3.6.1.2.1.1.1.0"})}, 0.1,
                          &errors) > 0 &&
           errors == 0;
}

double commandMs(const std::string& command) {
    const auto start = SteadyClock::now();
    const int status = std::system(command.c_str());
    const double ms = secondsSince(start) * 1000.0;
    return status == 0 ? ms : -1.0;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    ::signal(SIGPIPE, SIG_IGN);

    const std::string dir = makeTempDir();
    for (const char* sub : {"/bin", "/agent", "/mibs"}) {
        ::mkdir((dir + sub).c_str(), 0755);
    }
    bench::writeText(dir + "/agent/bench.ctl", controlFile());
    bench::writeText(dir + "/bin/korvan.ini", "[KORVAN]\r\nINSTALLDIR=" + dir + "\r\n");

    AgentThread agent(dir);
    if (!agent.running()) {
        std::fprintf(stderr, "bench_agent: the agent did not start: %s\n", agent.failure().c_str());
        return 1;
    }
    Snmpd snmpd(dir, bench::freeLoopbackPort());
    Generator toAgent(agent.port());
    Generator toSnmpd(snmpd.port());
    bool snmpdUp = false;
    for (int attempt = 0; attempt < 50 && !snmpdUp; ++attempt) {
        snmpdUp = answers(toSnmpd);
    }

    std::printf(
        "Agent benchmark: %d attributes, %d requests outstanding over %d sockets, "
        "%.1f s per measurement\n\n",
        kAttributes, kWindow, kSockets, seconds);

    // Warm both up, then measure.
    uint64_t errors = 0;
    toAgent.rate(systemGroup(snmp::kPduGetRequest), 0.3, &errors);
    errors = 0;
    double cpu = agent.cpuSeconds();
    const double agentGet = toAgent.rate(systemGroup(snmp::kPduGetRequest), seconds, &errors);
    const double getCpuUs = (agent.cpuSeconds() - cpu) * 1e6 / (agentGet * seconds);
    const uint64_t agentGetErrors = errors;
    errors = 0;
    cpu = agent.cpuSeconds();
    const double agentNext = toAgent.rate(systemGroup(snmp::kPduGetNextRequest), seconds, &errors);
    const double nextCpuUs = (agent.cpuSeconds() - cpu) * 1e6 / (agentNext * seconds);
    const uint64_t agentNextErrors = errors;

    double snmpdGet = 0;
    double snmpdNext = 0;
    uint64_t snmpdErrors = 0;
    if (snmpdUp) {
        toSnmpd.rate(systemGroup(snmp::kPduGetRequest), 0.3, &snmpdErrors);
        snmpdErrors = 0;
        snmpdGet = toSnmpd.rate(systemGroup(snmp::kPduGetRequest), seconds, &snmpdErrors);
        snmpdNext = toSnmpd.rate(systemGroup(snmp::kPduGetNextRequest), seconds, &snmpdErrors);
    }

    std::printf("%-22s %12s %12s %8s\n", "", "Korvimo", "snmpd", "ratio");
    auto row = [](const char* what, double ours, double theirs) {
        if (theirs > 0) {
            std::printf("%-22s %12.0f %12.0f %7.1fx\n", what, ours, theirs, ours / theirs);
        } else {
            std::printf("%-22s %12.0f %12s %8s\n", what, ours, "-", "-");
        }
    };
    row("Get answers/s", agentGet, snmpdGet);
    row("GetNext answers/s", agentNext, snmpdNext);
    std::printf("Agent thread CPU per answer: Get %.2f us, GetNext %.2f us\n", getCpuUs, nextCpuUs);
    if (agentGetErrors + agentNextErrors + snmpdErrors > 0) {
        std::printf("(answers with an error or an exception: Korvimo %llu, snmpd %llu)\n",
                    static_cast<unsigned long long>(agentGetErrors + agentNextErrors),
                    static_cast<unsigned long long>(snmpdErrors));
    }
    if (!snmpdUp) {
        std::printf("(snmpd did not answer; is it installed?)\n");
    }

    // The bulk walk, best of five.
    int requests = 0;
    int walked = 0;
    double bestWalkMs = 1e9;
    for (int run = 0; run < 5; ++run) {
        toAgent.drain();
        const auto start = SteadyClock::now();
        walked = toAgent.bulkWalk("1.3.6.1", 10000, &requests);
        bestWalkMs = std::min(bestWalkMs, secondsSince(start) * 1000.0);
    }
    const std::string target = "127.0.0.1:" + std::to_string(agent.port());
    const std::string walkCommand =
        "snmpbulkwalk -v2c -c bench -m '' -On -t 2 -r 0 %s " + target + " 1.3.6.1 > /dev/null 2>&1";
    char command[512];
    std::snprintf(command, sizeof command, walkCommand.c_str(), "-Cr50");
    const double netSnmpWalk50 = commandMs(command);
    std::snprintf(command, sizeof command, walkCommand.c_str(), "");
    const double netSnmpWalkDefault = commandMs(command);

    std::printf("\nBulk walk of 1.3.6.1 (%d bindings):\n", walked);
    std::printf("  load generator, GetBulk as large as fits: %8.1f ms (%d requests)\n", bestWalkMs,
                requests);
    std::printf("  snmpbulkwalk -Cr50 (process included):    %8.1f ms\n", netSnmpWalk50);
    std::printf("  snmpbulkwalk -Cr10 (process included):    %8.1f ms\n", netSnmpWalkDefault);

    // Allocations of the agent thread, one request at a time: per Get of one binding (the
    // whole path: the event loop's turn, decoding, the answer, sending), and per further
    // binding of a GetBulk answer, from two answer sizes.
    struct Allocations {
        double perRequest = 0;
        double bindingsPerAnswer = 0;
    };
    auto allocationsPerRequest = [&](const Template& t) {
        constexpr int kCount = 2000;
        const uint64_t before = agentAllocations.load();
        uint64_t bindings = 0;
        const int answered = std::max(toAgent.sequential(t, kCount, &bindings), 1);
        return Allocations{static_cast<double>(agentAllocations.load() - before) / answered,
                           static_cast<double>(bindings) / answered};
    };
    const std::string column = std::string(kTableRoot) + ".2";
    const Allocations get =
        allocationsPerRequest(encodeTemplate(snmp::kPduGetRequest, {"1.3.6.1.2.1.1.5.0"}));
    const Allocations next =
        allocationsPerRequest(encodeTemplate(snmp::kPduGetNextRequest, {column}));
    const Allocations bulkSmall =
        allocationsPerRequest(encodeTemplate(snmp::kPduGetBulkRequest, {column}, 0, 1));
    const Allocations bulkFull =
        allocationsPerRequest(encodeTemplate(snmp::kPduGetBulkRequest, {column}, 0, 1000));
    std::printf(
        "\nAllocations on the agent thread per request, one request at a time "
        "(debug log off):\n");
    std::printf("  Get of one OctetString binding, whole path:   %.2f\n", get.perRequest);
    std::printf("  GetNext of one OctetString binding:           %.2f\n", next.perRequest);
    std::printf("  GetBulk answering %2.0f binding:                %.2f\n",
                bulkSmall.bindingsPerAnswer, bulkSmall.perRequest);
    std::printf("  GetBulk answering %2.0f bindings (a full one):  %.2f\n",
                bulkFull.bindingsPerAnswer, bulkFull.perRequest);
    std::printf("  so per further answered OctetString binding:  %.2f (its name and its octets)\n",
                (bulkFull.perRequest - bulkSmall.perRequest) /
                    std::max(bulkFull.bindingsPerAnswer - bulkSmall.bindingsPerAnswer, 1.0));

    std::printf("\nGoals: Get at least 4x snmpd: %s; bulk walk under 50 ms: %s\n",
                snmpdGet > 0 ? (agentGet >= 4 * snmpdGet ? "met" : "NOT met") : "unknown",
                bestWalkMs < 50.0 && walked >= kAttributes ? "met" : "NOT met");

    std::system(("rm -rf '" + dir + "'").c_str());
    return 0;
}
