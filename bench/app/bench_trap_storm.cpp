// A trap storm at rate 0: how many SNMPv2c notifications a second GenerateTraps sends from its
// client endpoint to a UDP socket on 127.0.0.1, beside a plain sendto(2) loop of a datagram of
// the same size in the same run. A thread drains the receiving socket with recvmmsg(2);
// datagrams it drops do not matter.
//
//   build/bench/bench_trap_storm [traps per measurement]
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "agent/endpoints.h"
#include "app/core/configuration.h"
#include "app/core/epoll_event_loop.h"
#include "app/generate_traps.h"
#include "base/unique_fd.h"
#include "traps/trap_message.h"

namespace {

using namespace korvimo;
using SteadyClock = std::chrono::steady_clock;

const char* const kStormFile =
    "%T  linkDown, 1.3.6.1.4.1.32473, 2, 0\r\n"
    "%V  linkDown, 1.3.6.1.2.1.2.2.1.1.1, Integer, 1\r\n"
    "%V  linkDown, 1.3.6.1.2.1.2.2.1.7.1, Integer, 2\r\n"
    "%V  linkDown, 1.3.6.1.2.1.2.2.1.8.1, Integer, 2\r\n";

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "bench_trap_storm: %s\n", what);
    std::exit(1);
}

void copyFile(const std::string& from, const std::string& to) {
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary);
    out << in.rdbuf();
}

// The receiving socket and the thread that drains it.
class Receiver {
  public:
    Receiver() {
        socket_.reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int size = 8 << 20;
        ::setsockopt(socket_.get(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        timeval wait{0, 100000};
        ::setsockopt(socket_.get(), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        if (!socket_ ||
            ::bind(socket_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            fail("cannot bind the receiving socket");
        }
        socklen_t length = sizeof address;
        ::getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { drain(); });
    }
    ~Receiver() {
        stop_ = true;
        thread_.join();
    }

    uint16_t port() const { return port_; }
    uint64_t received() const { return received_; }

  private:
    void drain() {
        constexpr int kBatch = 64;
        std::vector<uint8_t> buffers(kBatch * 2048);
        iovec vectors[kBatch];
        mmsghdr messages[kBatch];
        for (int i = 0; i < kBatch; ++i) {
            vectors[i] = {buffers.data() + i * 2048, 2048};
            messages[i] = {};
            messages[i].msg_hdr.msg_iov = &vectors[i];
            messages[i].msg_hdr.msg_iovlen = 1;
        }
        while (!stop_) {
            const int n = ::recvmmsg(socket_.get(), messages, kBatch, 0, nullptr);
            if (n > 0) {
                received_ += static_cast<uint64_t>(n);
            }
        }
    }

    UniqueFd socket_;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> received_{0};
    std::thread thread_;
};

// Datagrams a second of a plain sendto loop.
double plainLoop(const std::vector<uint8_t>& datagram, uint16_t port, uint64_t count) {
    UniqueFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    uint64_t sent = 0;
    const auto start = SteadyClock::now();
    while (sent < count) {
        if (::sendto(socket.get(), datagram.data(), datagram.size(), 0,
                     reinterpret_cast<sockaddr*>(&to), sizeof to) > 0) {
            ++sent;
        }
    }
    return static_cast<double>(count) /
           std::chrono::duration<double>(SteadyClock::now() - start).count();
}

// Traps a second of GenerateTraps' storm at rate 0; the datagram it sends in datagram.
double storm(Configuration& config, uint16_t port, uint64_t count) {
    EpollEventLoop loop(SystemClock::instance());
    RequestIdSequence ids;
    app::HomeMibInfo mibInfo;
    app::GenerateTraps traps({config, loop, ids, mibInfo, nullptr});
    traps.options().port = port;
    traps.options().rate = 0;
    traps.options().repeat = count;
    traps.kind() = traps::TrapKind::Notification;
    traps.dialogStart();
    traps.form().trapFile = "storm.trp";
    traps.form().manager = "127.0.0.1";
    traps.form().community = "public";
    if (!traps.load()) {
        fail("the trap file did not load");
    }
    traps.selectAll();
    bool finished = false;
    traps.onFinished = [&finished] { finished = true; };
    const auto start = SteadyClock::now();
    if (!traps.send()) {
        fail("the storm did not start");
    }
    while (!finished) {
        loop.runOnce(100);
    }
    const double seconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
    if (traps.summary().sent != count) {
        fail("the storm did not send every trap");
    }
    return static_cast<double>(count) / seconds;
}

// A time-stamp of the size the storm's are: the calendar time in hundredths, in 32 bits.
uint32_t currentStamp() {
    return static_cast<uint32_t>(static_cast<uint64_t>(SystemClock::instance().calendarSeconds()) *
                                 100u);
}

}  // namespace

int main(int argc, char** argv) {
    const uint64_t count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 300000;
    if (count == 0) {
        fail("the count must be above 0");
    }
    char pattern[] = "/tmp/korvimo-bench-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    if (made == nullptr) {
        fail("cannot make a directory");
    }
    const std::string home = made;
    for (const char* sub : {"bin", "agent", "mibs"}) {
        std::filesystem::create_directory(home + "/" + sub);
    }
    copyFile(std::string(KORVIMO_SOURCE_DIR) + "/home/mibs/mibinfo.out",
             home + "/mibs/mibinfo.out");
    std::ofstream(home + "/agent/storm.trp", std::ios::binary) << kStormFile;

    {
        Configuration config(home + "/bin/korvan.ini");
        config.ensureFile();
        config.writePlain(ConfigKey::INSTALLDIR, home);

        // The datagram the storm sends, for the plain loop.
        traps::TrapFile file;
        file.assign(kStormFile);
        traps::PreparedTrap trap;
        std::unique_ptr<snmp::Pdu> pdu;
        const uint8_t agentAddr[4] = {127, 0, 0, 1};
        if (!traps::prepareTrap(file, 0, nullptr, traps::TrapKind::Notification, false, trap) ||
            !traps::buildTrapPdu(trap, traps::TrapKind::Notification, "public", agentAddr,
                                 currentStamp(), 1, pdu)) {
            fail("the trap cannot be made");
        }
        std::vector<uint8_t> datagram(snmp::kMaxMessageSize);
        uint32_t size = static_cast<uint32_t>(datagram.size());
        if (!snmp::SnmpEncodeMsg(pdu.get(), datagram.data(), &size)) {
            fail("the trap cannot be encoded");
        }
        datagram.resize(size);

        Receiver receiver;
        // Alternate the two, best of three each, so that both see the machine alike.
        double plainBest = 0;
        double stormBest = 0;
        for (int round = 0; round < 3; ++round) {
            plainBest = std::max(plainBest, plainLoop(datagram, receiver.port(), count));
            stormBest = std::max(stormBest, storm(config, receiver.port(), count));
        }
        std::printf("datagram: %u bytes, %llu per measurement, best of 3\n", size,
                    static_cast<unsigned long long>(count));
        std::printf("plain sendto loop:   %10.0f datagrams/s\n", plainBest);
        std::printf("GenerateTraps storm: %10.0f traps/s\n", stormBest);
        std::printf("ratio:               %10.1f %%\n", 100.0 * stormBest / plainBest);
    }
    std::filesystem::remove_all(home);
    return 0;
}
