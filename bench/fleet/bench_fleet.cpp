// korvan-cli fleet in child processes, driven over loopback by a load generator of this
// process (one non-blocking UDP socket, SNMPv2c Gets, answers matched by request-id):
//   - ready time (fork to the "Fleet:" line) and VmRSS of 1 and of 10,000 clones of demo.ctl
//     on consecutive addresses, the memory each device adds, a Get of sysName.0 to every one
//     of the 10,000, and 10,000 devices against 10,000 times one device's ready time (the
//     control file is read once, not once a device);
//   - Gets a second, 32 outstanding, each answer sending the next: to a 1-device fleet, and
//     to a 1,000-device fleet with a random device per request (3 s runs, best of 3);
//   - 500 recorded devices (.snmprec, 200 bindings each) of `fleet --data-dir`, chosen by
//     community: the first Get of each (which loads it), then a second, sysName checked.
// The home is a copy of build/home in a temporary directory. Exit status 1 when a check or
// a target is missed.
//
//   build/bench/bench_fleet
#include <arpa/inet.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numeric>
#include <sstream>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "agent/agent_bench_setup.h"
#include "base/unique_fd.h"
#include "snmp/message.h"

namespace {

using namespace korvimo;
using Clock = std::chrono::steady_clock;

constexpr const char* kCommunity = "bench";
constexpr const char* kSysName = "1.3.6.1.2.1.1.5.0";
constexpr std::size_t kRateWindow = 32;
constexpr double kRateSeconds = 3;
constexpr int kRateRuns = 3;
constexpr uint32_t kOneAddress = 0x7F000101;    // 127.0.1.1, the 1-device fleet
constexpr uint32_t kFirstAddress = 0x7F000201;  // 127.0.2.1, the first of the larger fleets
constexpr int kRecorded = 500;
int32_t gNextId = 0x10000000;  // request-ids keep four octets

double since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

sockaddr_in ipv4(uint32_t address, uint16_t port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(address);
    to.sin_port = htons(port);
    return to;
}

// The fleets alive, killed when this program is interrupted or gives up.
pid_t gChildren[4] = {};

extern "C" void onInterrupt(int) {
    for (pid_t pid : gChildren) {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
        }
    }
    ::_exit(130);
}

// `korvan-cli --home HOME fleet ARGS` in a child, its output in HOME/NAME.out; stopped by
// SIGTERM (SIGKILL 30 s later) at stop() or when it goes.
struct FleetProcess {
    pid_t pid = -1;
    double ready = 0;     // seconds from fork to the line
    long rssAtReady = 0;  // kB

    ~FleetProcess() { stop(); }

    // Waits up to a minute for a line holding readyLine.
    bool start(const std::string& home, const char* name, std::vector<std::string> args,
               const char* readyLine) {
        const std::string log = home + "/" + name + ".out";
        args.insert(args.begin(),
                    {std::string(KORVIMO_HOME_DIR) + "/bin/korvan-cli", "--home", home, "fleet"});
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        std::fflush(stdout);  // the child must not print what this process buffered
        const Clock::time_point begin = Clock::now();
        pid = ::fork();
        if (pid == 0) {
            std::freopen(log.c_str(), "w", stdout);
            ::dup2(1, 2);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        *std::find(std::begin(gChildren), std::end(gChildren), 0) = pid;
        while (since(begin) < 60 && ::waitpid(pid, nullptr, WNOHANG) == 0) {
            if (readAll(log).find(readyLine) != std::string::npos) {
                ready = since(begin);
                rssAtReady = rssKb();
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        std::printf("fleet %s did not get ready:\n%s\n", name, readAll(log).c_str());
        stop();
        return false;
    }

    long rssKb() const {
        const std::string status = readAll("/proc/" + std::to_string(pid) + "/status");
        const std::size_t at = status.find("VmRSS:");
        return at == std::string::npos ? 0 : std::atol(status.c_str() + at + 6);
    }

    // Seconds from SIGTERM to the end of the child.
    double stop() {
        if (pid <= 0) {
            return 0;
        }
        const Clock::time_point begin = Clock::now();
        ::kill(pid, SIGTERM);
        bool ended = false;  // also when start() saw it end
        while (!(ended = ::waitpid(pid, nullptr, WNOHANG) != 0) && since(begin) < 30) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (!ended) {
            std::printf("fleet %d still ran 30 s after SIGTERM: killed\n", pid);
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        std::replace(std::begin(gChildren), std::end(gChildren), pid, 0);
        pid = -1;
        return since(begin);
    }
};

// A request-id of four octets (all this program sends) and where it lies in a message: the
// fifth header, past the message's (entered), the version and community (skipped) and the
// PDU's (entered).
bool findRequestId(const uint8_t* bytes, std::size_t size, std::size_t& at, int32_t& id) {
    at = 0;
    for (int element = 0; element < 5 && at + 2 <= size; ++element) {
        const uint8_t tag = bytes[at++];
        std::size_t length = bytes[at++];
        if (length >= 0x80) {
            std::size_t octets = length & 0x7F;
            if (octets > 4 || at + octets > size) {
                return false;
            }
            for (length = 0; octets > 0; --octets) {
                length = length << 8 | bytes[at++];
            }
        }
        if (length > size - at || (element == 4 && (tag != snmp::kTagInteger || length != 4))) {
            return false;
        }
        if (element == 4) {
            id = static_cast<int32_t>(uint32_t{bytes[at]} << 24 | uint32_t{bytes[at + 1]} << 16 |
                                      uint32_t{bytes[at + 2]} << 8 | bytes[at + 3]);
            return true;
        }
        at += element == 1 || element == 2 ? length : 0;
    }
    return false;
}

// An SNMPv2c Get of one name, encoded once; each send patches the request-id in.
class GetRequest {
  public:
    GetRequest(const std::string& community, const char* oid) {
        snmp::ObjectId name;
        snmp::SnmpStrToOid(oid, &name);
        auto list = snmp::SnmpCreateVbl();
        snmp::SnmpAddVb(list.get(), &name, nullptr);
        const snmp::Octets octets{std::vector<uint8_t>(community.begin(), community.end())};
        auto pdu = snmp::SnmpCreateBPdu(snmp::kVersion2c, &octets, snmp::kPduGetRequest, 0x40000000,
                                        0, 0, std::move(list));
        int32_t id = 0;
        if (!snmp::SnmpEncodeMsg(pdu.get(), bytes_, &size_) ||
            !findRequestId(bytes_, size_, idAt_, id)) {
            std::printf("could not encode a Get for %s\n", community.c_str());
            std::fflush(stdout);
            onInterrupt(0);  // no return, the fleets killed
        }
    }

    void send(int fd, const sockaddr_in& to, int32_t id) const {
        uint8_t out[snmp::kMaxMessageSize];
        std::copy(bytes_, bytes_ + size_, out);
        for (int i = 0; i < 4; ++i) {
            out[idAt_ + i] = static_cast<uint8_t>(static_cast<uint32_t>(id) >> (24 - 8 * i));
        }
        ::sendto(fd, out, size_, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }

  private:
    uint8_t bytes_[snmp::kMaxMessageSize] = {};
    uint32_t size_ = sizeof bytes_;
    std::size_t idAt_ = 0;
};

struct Target {
    sockaddr_in to;
    const GetRequest* request;
};

// The sysName of an answer; empty when it is an error or no string.
std::string nameIn(const snmp::Pdu& pdu) {
    if (pdu.errorStatus != 0 || pdu.varBinds.count() != 1 ||
        pdu.varBinds.items[0].value.syntax != snmp::kTagOctetString) {
        return "";
    }
    const std::vector<uint8_t>& bytes = pdu.varBinds.items[0].value.octets.bytes;
    return std::string(bytes.begin(), bytes.end());
}

// One Get to each target, `window` of them outstanding; one unanswered for a second goes
// again, three tries at most, two minutes in all. Tells each answer with the seconds from the
// first send; returns how many were answered.
std::size_t askEach(int fd, const std::vector<Target>& targets, std::size_t window,
                    const std::function<void(std::size_t, const snmp::Pdu&, double)>& onAnswer) {
    std::unordered_map<int32_t, std::pair<std::size_t, Clock::time_point>> outstanding;
    std::vector<int> tries(targets.size(), 0);
    std::vector<Clock::time_point> first(targets.size());
    std::deque<std::size_t> waiting(targets.size());
    std::iota(waiting.begin(), waiting.end(), 0);
    std::size_t answered = 0;
    const Clock::time_point begin = Clock::now();
    while ((!waiting.empty() || !outstanding.empty()) && since(begin) < 120) {
        for (; outstanding.size() < window && !waiting.empty(); waiting.pop_front()) {
            const std::size_t t = waiting.front();
            const Clock::time_point now = Clock::now();
            first[t] = tries[t]++ == 0 ? now : first[t];
            targets[t].request->send(fd, targets[t].to, gNextId);
            outstanding[gNextId++] = {t, now};
        }
        pollfd ready{fd, POLLIN, 0};
        ::poll(&ready, 1, 10);
        uint8_t buffer[4096];
        snmp::Pdu pdu;
        for (ssize_t size; (size = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
            const auto found = snmp::decodeMessage(buffer, static_cast<uint32_t>(size), &pdu)
                                   ? outstanding.find(pdu.requestId)
                                   : outstanding.end();
            if (found != outstanding.end()) {
                const std::size_t t = found->second.first;
                outstanding.erase(found);
                ++answered;
                onAnswer(t, pdu, since(first[t]));
            }
        }
        for (auto it = outstanding.begin(); it != outstanding.end();) {
            if (std::chrono::duration<double>(Clock::now() - it->second.second).count() < 1) {
                ++it;
                continue;
            }
            if (tries[it->second.first] < 3) {
                waiting.push_back(it->second.first);
            }
            it = outstanding.erase(it);
        }
    }
    return answered;
}

// Answers a second over kRateSeconds with kRateWindow Gets outstanding, each answer sending
// the next to the one address, or to a random one of many; a window unanswered for 100 ms is
// lost and goes again.
double answersPerSecond(int fd, const GetRequest& request, const std::vector<sockaddr_in>& to) {
    static uint32_t random = 2463534242u;  // xorshift32
    auto next = [&]() -> const sockaddr_in& {
        random ^= random << 13;
        random ^= random >> 17;
        random ^= random << 5;
        return to[random % to.size()];
    };
    const int32_t firstId = gNextId;  // older answers are of an earlier run
    std::size_t answers = 0;
    std::size_t outstanding = 0;
    const Clock::time_point begin = Clock::now();
    while (since(begin) < kRateSeconds) {
        for (; outstanding < kRateWindow; ++outstanding) {
            request.send(fd, next(), gNextId++);
        }
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, 100) == 0) {
            outstanding = 0;
            continue;
        }
        uint8_t buffer[4096];
        std::size_t at = 0;
        int32_t id = 0;
        for (ssize_t size; (size = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
            if (findRequestId(buffer, static_cast<std::size_t>(size), at, id) && id >= firstId) {
                ++answers;
                outstanding -= outstanding > 0 ? 1 : 0;
            }
        }
    }
    return static_cast<double>(answers) / since(begin);
}

// Recorded device n, 200 bindings: the system group (sysName dev-n), ifNumber, 19 rows of
// ten ifTable columns, ipForwarding and ipDefaultTTL; values of its own.
std::string recording(int n) {
    const std::string name = "dev-" + std::to_string(n);
    std::string out = "1.3.6.1.2.1.1.1.0|4|Korvimo recorded device " + std::to_string(n) +
                      "\n1.3.6.1.2.1.1.2.0|6|1.3.6.1.4.1.32473.2." + std::to_string(n) +
                      "\n1.3.6.1.2.1.1.3.0|67|" + std::to_string(12345 + n * 100) +
                      "\n1.3.6.1.2.1.1.4.0|4|noc-" + name + "@example.net" +
                      "\n1.3.6.1.2.1.1.5.0|4|" + name + "\n1.3.6.1.2.1.1.6.0|4|Rack " +
                      std::to_string(n % 40) + "\n1.3.6.1.2.1.1.7.0|2|72\n1.3.6.1.2.1.2.1.0|2|19\n";
    for (int column = 1; column <= 10; ++column) {
        for (int row = 1; row <= 19; ++row) {
            char mac[16];
            std::snprintf(mac, sizeof mac, "0200%04x00%02x", n, row);
            const std::string values[10] = {"2|" + std::to_string(row),
                                            "4|port " + std::to_string(row) + " of " + name,
                                            "2|6",
                                            "2|1500",
                                            "66|1000000000",
                                            std::string("4x|") + mac,
                                            "2|1",
                                            row % 3 == 0 ? "2|2" : "2|1",
                                            "67|" + std::to_string(n * 7 + row),
                                            "65|" + std::to_string(n * 100000 + row * 37)};
            out += "1.3.6.1.2.1.2.2.1." + std::to_string(column) + "." + std::to_string(row) + "|" +
                   values[column - 1] + "\n";
        }
    }
    return out + "1.3.6.1.2.1.4.1.0|2|1\n1.3.6.1.2.1.4.2.0|2|64\n";
}

struct TempHome {
    std::string path;
    ~TempHome() { std::filesystem::remove_all(path); }
};

}  // namespace

int main() {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        ::signal(signal, onInterrupt);
    }
    char pattern[] = "/tmp/korvimo-bench-fleet-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const TempHome home{pattern};  // private korvan.ini and agent/
    for (const char* sub : {"bin", "agent", "mibs"}) {
        std::filesystem::copy(std::string(KORVIMO_HOME_DIR) + "/" + sub, home.path + "/" + sub,
                              std::filesystem::copy_options::recursive);
    }
    const UniqueFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    const int fd = socket.get();
    std::printf("korvan-cli fleet, SNMPv2c over loopback (home %s)\n", home.path.c_str());

    // Ready time and memory: one clone, then 10,000 answering a Get each.
    auto clones = [&](FleetProcess& fleet, const char* name, int count, uint32_t first,
                      uint16_t port) {
        return fleet.start(
            home.path, name,
            {"--clone", "demo.ctl", "--count", std::to_string(count), "--first-address",
             inet_ntoa(ipv4(first, 0).sin_addr), "--port", std::to_string(port), "--read-community",
             kCommunity, "--write-community", kCommunity, "--snmp-version", "v2c", "--no-debug"},
            "Fleet: ");
    };
    const uint16_t onePort = bench::freeLoopbackPort();
    const uint16_t bigPort = bench::freeLoopbackPort();
    FleetProcess one;
    FleetProcess big;
    if (!clones(one, "fleet-1", 1, kOneAddress, onePort) ||
        !clones(big, "fleet-10000", 10000, kFirstAddress, bigPort)) {
        return 1;
    }
    const GetRequest sysName(kCommunity, kSysName);
    std::vector<Target> targets;
    for (uint32_t i = 0; i < 10000; ++i) {
        targets.push_back({ipv4(kFirstAddress + i, bigPort), &sysName});
    }
    std::size_t named = 0;
    const Clock::time_point askedAt = Clock::now();
    const std::size_t answered =
        askEach(fd, targets, 64, [&](std::size_t, const snmp::Pdu& pdu, double) {
            named += nameIn(pdu) == "demo-router" ? 1 : 0;
        });
    const double askSeconds = since(askedAt);
    const double bigStop = big.stop();
    bool ok = answered == 10000 && named == 10000 && big.ready < 5 && big.rssAtReady < 1024 * 1024;
    std::printf("\nClones of demo.ctl on consecutive addresses, one port\n");
    std::printf("  1 device:       ready in %6.3f s, VmRSS %7ld kB\n", one.ready, one.rssAtReady);
    std::printf(
        "  10,000 devices: ready in %6.3f s, VmRSS %7ld kB = %.0f MB (targets: < 5 s, "
        "< 1 GB); stopped in %.2f s\n",
        big.ready, big.rssAtReady, big.rssAtReady / 1024.0, bigStop);
    std::printf("  per device:     %.1f kB = (RSS 10,000 - RSS 1) / 9,999\n",
                static_cast<double>(big.rssAtReady - one.rssAtReady) / 9999);
    std::printf(
        "  Get sysName.0 to each of the 10,000 (64 outstanding): %zu answered, %zu "
        "demo-router, in %.2f s%s\n",
        answered, named, askSeconds, answered == 10000 && named == 10000 ? "" : "  FAIL");
    std::printf(
        "  one load: 10,000 x one device's ready time = %.0f s against %.3f s for "
        "10,000 devices (%.0f times less); %.3f ms a device beyond the first\n",
        10000 * one.ready, big.ready, 10000 * one.ready / big.ready,
        1000 * (big.ready - one.ready) / 9999);

    // Get rate: one device against a thousand, a random one per request, runs alternated.
    FleetProcess thousand;
    const uint16_t thousandPort = bench::freeLoopbackPort();
    if (!clones(thousand, "fleet-1000", 1000, kFirstAddress, thousandPort)) {
        return 1;
    }
    const std::vector<sockaddr_in> single{ipv4(kOneAddress, onePort)};
    std::vector<Target> checks{{single[0], &sysName}};
    std::vector<sockaddr_in> many;
    for (uint32_t i = 0; i < 1000; ++i) {
        many.push_back(ipv4(kFirstAddress + i, thousandPort));
        checks.push_back({many.back(), &sysName});
    }
    const std::size_t checked = askEach(fd, checks, 32, [](std::size_t, auto&, double) {});
    const GetRequest sysDescr(kCommunity, "1.3.6.1.2.1.1.1.0");
    double rateOne = 0;
    double rateMany = 0;
    for (int run = 0; run < kRateRuns; ++run) {  // alternated, so both meet the same machine
        rateOne = std::max(rateOne, answersPerSecond(fd, sysDescr, single));
        rateMany = std::max(rateMany, answersPerSecond(fd, sysDescr, many));
    }
    thousand.stop();
    one.stop();
    const double ratio = rateOne > 0 ? rateMany / rateOne : 0;
    ok = ok && checked == checks.size() && ratio >= 0.70;
    std::printf(
        "\nGet sysDescr.0, %zu outstanding, one socket, %.0f s runs, best of %d (a first "
        "Get answered by %zu of %zu devices)\n",
        kRateWindow, kRateSeconds, kRateRuns, checked, checks.size());
    std::printf("  (a) 1-device fleet:                    %8.0f answers/s\n", rateOne);
    std::printf("  (b) 1,000-device fleet, random device: %8.0f answers/s\n", rateMany);
    std::printf("  b/a = %.2f (target >= 0.70)\n", ratio);

    // Recorded devices chosen by community, each loaded at its first Get.
    const std::string recordings = home.path + "/recordings";
    std::filesystem::create_directories(recordings);
    const uint16_t recordedPort = bench::freeLoopbackPort();
    std::vector<GetRequest> byCommunity;
    byCommunity.reserve(kRecorded);  // the targets point into it
    std::vector<Target> devices;
    for (int n = 0; n < kRecorded; ++n) {
        const std::string name = "dev-" + std::to_string(n);
        bench::writeText(recordings + "/" + name + ".snmprec", recording(n));
        devices.push_back(
            {ipv4(INADDR_LOOPBACK, recordedPort), &byCommunity.emplace_back(name, kSysName)});
    }
    FleetProcess recorded;
    if (!recorded.start(home.path, "fleet-recorded",
                        {"--data-dir", recordings, "--address", "127.0.0.1", "--port",
                         std::to_string(recordedPort), "--snmp-version", "v2c", "--no-debug"},
                        "recorded devices of")) {
        return 1;
    }
    std::vector<double> sorted(kRecorded, 0);  // the first Gets' times, sorted once done
    double secondSum = 0;
    std::size_t matched = 0;
    auto pass = [&](bool first) {
        const Clock::time_point begin = Clock::now();
        askEach(fd, devices, 1, [&](std::size_t t, const snmp::Pdu& pdu, double seconds) {
            matched += nameIn(pdu) == "dev-" + std::to_string(t) ? 1 : 0;
            (first ? sorted[t] : secondSum) += seconds;
        });
        return since(begin);
    };
    const double firstTotal = pass(true);
    pass(false);
    const long loadedRss = recorded.rssKb();
    recorded.stop();
    std::sort(sorted.begin(), sorted.end());
    const double firstSum = std::accumulate(sorted.begin(), sorted.end(), 0.0);
    ok = ok && matched == 2 * kRecorded;
    std::printf(
        "\n%d recorded devices (.snmprec, 200 bindings each) on one endpoint, a Get of "
        "sysName.0 to each in turn\n",
        kRecorded);
    std::printf("  ready in %.3f s, VmRSS %ld kB; %ld kB with all loaded (%.0f kB a device)\n",
                recorded.ready, recorded.rssAtReady, loadedRss,
                static_cast<double>(loadedRss - recorded.rssAtReady) / kRecorded);
    std::printf(
        "  first Get (loads the device): mean %.3f ms, median %.3f ms, p99 %.3f ms, max "
        "%.3f ms; all %d in %.3f s\n",
        1000 * firstSum / kRecorded, 1000 * sorted[kRecorded / 2],
        1000 * sorted[kRecorded * 99 / 100 - 1], 1000 * sorted.back(), kRecorded, firstTotal);
    std::printf("  second Get: mean %.3f ms\n", 1000 * secondSum / kRecorded);
    std::printf("  answers naming their device: %zu of %d%s\n", matched, 2 * kRecorded,
                matched == 2 * kRecorded ? "" : "  FAIL");
    std::printf("\n%s\n", ok ? "All checks and targets met." : "A check or a target was missed.");
    return ok ? 0 : 1;
}
