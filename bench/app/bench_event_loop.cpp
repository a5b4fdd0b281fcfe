// The event loop with many descriptors watched, as a process simulating thousands of devices
// watches one socket each: how long one turn takes that delivers one ready descriptor, with
// 1 to 10,000 idle descriptors watched beside it. Beside EpollEventLoop the same turns with
// poll(2) over every descriptor, which is what a loop that hands the kernel its whole list at
// each turn pays.
//
//   build/bench/bench_event_loop [turns per measurement]
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/core/epoll_event_loop.h"
#include "base/unique_fd.h"

namespace {

using namespace korvimo;
using SteadyClock = std::chrono::steady_clock;

// Lifts the soft limit of open descriptors to the hard one; gives the limit.
rlim_t raiseDescriptorLimit() {
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
    ::getrlimit(RLIMIT_NOFILE, &limit);
    return limit.rlim_cur;
}

void signal(int fd) {
    const uint64_t one = 1;
    (void)!::write(fd, &one, sizeof one);
}

void drain(int fd) {
    uint64_t value;
    (void)!::read(fd, &value, sizeof value);
}

// Nanoseconds per turn of EpollEventLoop, each delivering the one ready descriptor.
double epollTurn(std::vector<UniqueFd>& fds, int turns) {
    EpollEventLoop loop(SystemClock::instance());
    std::vector<Watch> watches;
    watches.reserve(fds.size());
    for (const UniqueFd& fd : fds) {
        const int descriptor = fd.get();
        watches.push_back(loop.watch(descriptor, [descriptor] { drain(descriptor); }));
    }
    const int ready = fds.back().get();
    const auto start = SteadyClock::now();
    for (int i = 0; i < turns; ++i) {
        signal(ready);
        if (loop.runOnce(0) != 1) {
            std::fprintf(stderr, "bench_event_loop: a turn delivered no event\n");
            std::exit(1);
        }
    }
    return std::chrono::duration<double, std::nano>(SteadyClock::now() - start).count() / turns;
}

// The same with poll(2) over every descriptor at every turn.
double pollTurn(std::vector<UniqueFd>& fds, int turns) {
    std::vector<pollfd> polled;
    const int ready = fds.back().get();
    const auto start = SteadyClock::now();
    for (int i = 0; i < turns; ++i) {
        signal(ready);
        polled.clear();
        for (const UniqueFd& fd : fds) {
            polled.push_back(pollfd{fd.get(), POLLIN, 0});
        }
        if (::poll(polled.data(), polled.size(), 0) != 1) {
            std::fprintf(stderr, "bench_event_loop: poll found nothing ready\n");
            std::exit(1);
        }
        for (const pollfd& p : polled) {
            if (p.revents != 0) {
                drain(p.fd);
            }
        }
    }
    return std::chrono::duration<double, std::nano>(SteadyClock::now() - start).count() / turns;
}

}  // namespace

int main(int argc, char** argv) {
    const int turns = argc > 1 ? std::atoi(argv[1]) : 20000;
    const rlim_t limit = raiseDescriptorLimit();
    std::printf("Event loop: one ready descriptor among many watched, %d turns each\n\n", turns);
    std::printf("%10s %16s %16s %8s\n", "watched", "epoll ns/turn", "poll ns/turn", "ratio");
    for (std::size_t count : {1u, 100u, 1000u, 10000u}) {
        if (count + 64 > limit) {
            std::printf("%10zu   (more descriptors than this process may open: %lu)\n", count,
                        static_cast<unsigned long>(limit));
            continue;
        }
        std::vector<UniqueFd> fds;
        for (std::size_t i = 0; i < count; ++i) {
            fds.emplace_back(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
        }
        const double epoll = epollTurn(fds, turns);
        const double poll = pollTurn(fds, turns);
        std::printf("%10zu %16.0f %16.0f %7.1fx\n", count, epoll, poll, poll / epoll);
    }
    return 0;
}
