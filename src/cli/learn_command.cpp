#include "cli/learn_command.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/agent_start.h"
#include "app/command_line.h"
#include "app/core/configuration.h"
#include "app/core/epoll_event_loop.h"
#include "app/core/main_status.h"
#include "app/core/startup_settings.h"
#include "app/create_variables.h"
#include "app/generate_traps.h"
#include "app/learn_variables.h"
#include "app/paced_file_run.h"
#include "base/regular_file.h"
#include "base/text.h"
#include "base/unique_fd.h"
#include "cli/agent_command.h"
#include "create/learning.h"

namespace korvimo::cli {

namespace {

constexpr unsigned long kMaxTimeoutSeconds = 3600;
constexpr unsigned long kMaxRetries = 100;
constexpr unsigned long kMaxBulk = 10000;
// How long one turn of the loop waits at most; answers wake it at once.
constexpr int kLoopTurnMs = 100;
constexpr uint64_t kProgressPeriodMs = 1000;

using SteadyClock = std::chrono::steady_clock;

double secondsSince(SteadyClock::time_point start) {
    return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

// The progress line on standard error, on a terminal only.
class Progress {
  public:
    explicit Progress(std::ostream& err) : err_(err), shown_(::isatty(STDERR_FILENO) == 1) {}

    void show(std::size_t learned, double seconds) {
        if (!shown_) {
            return;
        }
        const auto perSecond =
            static_cast<unsigned long>(seconds > 0 ? static_cast<double>(learned) / seconds : 0);
        err_ << "\r"
             << formatText(kLearnProgressFormat, static_cast<unsigned long>(learned), perSecond)
             << "\x1b[K";
        err_.flush();
        drawn_ = true;
    }
    // Clears the line before anything else is printed on the terminal.
    void clear() {
        if (drawn_) {
            err_ << "\r\x1b[K";
            err_.flush();
            drawn_ = false;
        }
    }

  private:
    std::ostream& err_;
    bool shown_;
    bool drawn_ = false;
};

}  // namespace

bool teacherIsIpv6(const std::string& teacher) {
    std::string host;
    std::string port;
    (void)app::splitHostPort(teacher, host, port);
    in6_addr address{};
    return ::inet_pton(AF_INET6, host.c_str(), &address) == 1;
}

bool parseLearnOptions(const std::vector<std::string>& args, LearnOptions& options,
                       std::string& error) {
    app::CommandLineReader reader(args, {"--help", "--templates", "--overrides", "--static"},
                                  {"--teacher", "--output", "--community", "--snmp-version",
                                   "--start", "--end", "--timeout", "--retries", "--bulk"});
    app::CommandLineOption option;
    bool bulkGiven = false;
    while (reader.next(option)) {
        const std::string& name = option.name;
        const std::string& value = option.value;
        unsigned long number = 0;
        if (name == "--help") {
            options.help = true;
        } else if (name == "--templates") {
            options.templates = true;
        } else if (name == "--overrides") {
            options.overrides = true;
        } else if (name == "--static") {
            options.replayStatic = true;
        } else if (name == "--teacher") {
            if (value.empty()) {
                error = "--teacher needs the teacher agent's address";
                return false;
            }
            options.teacher = value;
        } else if (name == "--output") {
            if (value.empty()) {
                error = "--output needs a control file name";
                return false;
            }
            options.output = value;
        } else if (name == "--community") {
            if (value.size() > kCommunityCapacity) {
                error = "--community: at most " + std::to_string(kCommunityCapacity) +
                        " characters are allowed";
                return false;
            }
            options.community = value;
        } else if (name == "--snmp-version") {
            if (value != "v1" && value != "v2c") {
                error = "--snmp-version takes v1 or v2c, not '" + value + "'";
                return false;
            }
            options.v2c = value == "v2c";
        } else if (name == "--start" || name == "--end") {
            if (value.empty()) {
                error = name + " needs an object identifier or a name";
                return false;
            }
            (name == "--start" ? options.start : options.end) = value;
        } else if (name == "--timeout") {
            if (!app::readOptionNumber(value, 1, kMaxTimeoutSeconds, number)) {
                error = "--timeout takes whole seconds from 1 to " +
                        std::to_string(kMaxTimeoutSeconds) + ", not '" + value + "'";
                return false;
            }
            options.timeout = number;
        } else if (name == "--retries") {
            if (!app::readOptionNumber(value, 1, kMaxRetries, number)) {
                error = "--retries takes a number of transmissions from 1 to " +
                        std::to_string(kMaxRetries) + ", not '" + value + "'";
                return false;
            }
            options.retries = number;
        } else if (name == "--bulk") {
            if (!app::readOptionNumber(value, 1, kMaxBulk, number)) {
                error = "--bulk takes a number of repetitions from 1 to " +
                        std::to_string(kMaxBulk) + ", not '" + value + "'";
                return false;
            }
            options.bulk = static_cast<uint32_t>(number);
            bulkGiven = true;
        }
    }
    if (error = reader.error(); !error.empty()) {
        return false;
    }
    if (options.help) {
        return true;
    }
    if (bulkGiven && !options.v2c) {
        error =
            "--bulk sends GetBulk requests, which SNMPv1 does not have: it cannot go with "
            "--snmp-version v1";
        return false;
    }
    if (options.teacher.empty()) {
        error = "--teacher is needed: the agent to learn from";
        return false;
    }
    if (options.output.empty()) {
        error = "--output is needed: the control file to write";
        return false;
    }
    return true;
}

bool parseImportOptions(const std::vector<std::string>& args, ImportOptions& options,
                        std::string& error) {
    app::CommandLineReader reader(args, {"--help", "--overrides", "--static"},
                                  {"--from", "--output"});
    app::CommandLineOption option;
    while (reader.next(option)) {
        const std::string& name = option.name;
        if (name == "--help") {
            options.help = true;
        } else if (name == "--overrides") {
            options.overrides = true;
        } else if (name == "--static") {
            options.replayStatic = true;
        } else if (name == "--from" || name == "--output") {
            if (option.value.empty()) {
                error = name == "--from" ? "--from needs a walk file"
                                         : "--output needs a control file name";
                return false;
            }
            (name == "--from" ? options.from : options.output) = option.value;
        }
    }
    if (error = reader.error(); !error.empty()) {
        return false;
    }
    if (options.help) {
        return true;
    }
    if (options.from.empty()) {
        error = "--from is needed: the walk file to read";
        return false;
    }
    if (options.output.empty()) {
        error = "--output is needed: the control file to write";
        return false;
    }
    return true;
}

void printLearnUsage(std::ostream& out) {
    out << "Usage: korvan-cli [--home DIR] learn --teacher HOST[:PORT] --output FILE [OPTIONS]\n"
           "\n"
           "Captures a real SNMP agent, the teacher, into an agent control file as the Learn\n"
           "SNMP Variables dialog does: the teacher is walked with GetNext requests (or\n"
           "GetBulk with --bulk) from the start of the walk to its end, and every answer\n"
           "becomes one variable whose behaviour follows its type and access (counters grow,\n"
           "clocks run, everything else keeps its value). Every status line is printed on\n"
           "standard output as it is appended; the variable in progress, which the dialog\n"
           "shows in place, is not. On a terminal, standard error shows how many variables\n"
           "have been learned, once a second. SIGINT (Ctrl-C) or SIGTERM stops the run as the\n"
           "dialog's Stop does; the file keeps what was learned.\n"
           "\n"
           "Options:\n"
           "  --teacher HOST[:PORT]     the teacher: a name, an IPv4 address, or an IPv6\n"
           "                            address ([::1]:1161, or ::1 without a port); port 161\n"
           "                            unless given\n"
           "  --output FILE             the control file: a name in <home>/agent/ (or an\n"
           "                            absolute path); .ctl is appended unless it ends in\n"
           "                            .ctl or .CTL\n"
           "  --community TEXT          community of the requests (default: the most recent\n"
           "                            RCOMMUNITY, else public)\n"
           "  --snmp-version v1|v2c     version of the requests (default v2c)\n"
           "  --start OID|NAME          start of the walk (default 1.0)\n"
           "  --end OID|NAME            end of the walk, never learned itself (default: the\n"
           "                            end of the teacher's MIB, \"End Of All MIBs\")\n"
           "  --timeout S               seconds to wait for an answer before asking again\n"
           "                            (default: TIMEOUT, else 2)\n"
           "  --retries N               transmissions of a request in all (default: RETRIES,\n"
           "                            else 3)\n"
           "  --bulk N                  GetBulk requests of N repetitions (v2c only): far\n"
           "                            fewer round trips for a large agent\n"
           "  --static                  replay every value exactly as learned: fixed(...),\n"
           "                            lastset(...) for writable objects\n"
           "  --overrides               apply the behaviour overrides of bin/learn.def\n"
           "  --templates               first write commented-out dynamic row templates\n"
           "  --help                    show this text\n"
           "\n"
           "Names of --start and --end are looked up in the home's mibs/mibinfo.out, which\n"
           "also gives the learned variables their names and access; without it they are\n"
           "written as numbers, read-only.\n"
           "\n"
           "Exit status: 0 when the run completed (\"Learning Completed.\"), 1 when it could\n"
           "not start, the teacher stopped answering, answered an error, or the run was\n"
           "stopped, 2 on a usage error.\n"
           "\n"
           "Example:\n"
           "  korvan-cli --home ~/korvimo learn --teacher 127.0.0.1 --output mydevice\n"
           "  korvan-cli --home ~/korvimo agent --file mydevice.ctl --port 1161\n";
}

void printImportUsage(std::ostream& out) {
    out << "Usage: korvan-cli [--home DIR] import --from WALKFILE --output FILE [--static]\n"
           "           [--overrides]\n"
           "\n"
           "Turns a recorded walk into an agent control file, with the variable lines a\n"
           "learning run would write for the same answers. The walk file is what\n"
           "snmpwalk -On or snmpbulkwalk -On prints (with or without -Ob, -Oe), or a\n"
           "1.3.6...|TAG|VALUE .snmprec file. Each line that cannot be taken is printed as\n"
           "\"Line N: reason\", then a summary of lines read, variables written and skipped.\n"
           "\n"
           "Options:\n"
           "  --from WALKFILE   the walk file (absolute, or relative to the current directory)\n"
           "  --output FILE     the control file: a name in <home>/agent/ (or an absolute\n"
           "                    path); .ctl is appended unless it ends in .ctl or .CTL\n"
           "  --static          replay every value exactly as recorded\n"
           "  --overrides       apply the behaviour overrides of bin/learn.def\n"
           "  --help            show this text\n"
           "\n"
           "Exit status: 0 when the control file was written, 1 when the walk file could not\n"
           "be read or the control file not written, 2 on a usage error.\n"
           "\n"
           "Example:\n"
           "  snmpwalk -v2c -c public -On 192.0.2.1 1.3.6.1 > device.walk\n"
           "  korvan-cli --home ~/korvimo import --from device.walk --output device\n";
}

int runLearn(const LearnOptions& options, std::ostream& out, std::ostream& err) {
    // The signals arrive through a descriptor the loop watches, so a stop ends the run as the
    // dialog's Stop does. They are blocked before the run starts, so none is lost.
    const UniqueFd signalFd = openSignalDescriptor();
    if (!signalFd) {
        return 1;
    }

    Configuration config(kConfigFileName);
    config.ensureFile();  // a new home gets its defaults, as at the window's start
    EpollEventLoop loop(SystemClock::instance());
    RequestIdSequence requestIds;
    app::HomeMibInfo mibInfo;
    Busy busy = Busy::Idle;
    app::LearnVariables learn({config, loop, requestIds, mibInfo, busy});

    // Before the dialog start, which opens the client endpoint of the teacher's family.
    app::LearnVariables::Options& settings = learn.options();
    settings.ipVersion = teacherIsIpv6(options.teacher) ? IpVersion::IPv6 : IpVersion::IPv4;
    settings.bulk = options.bulk;
    settings.replay = options.replayStatic ? create::Replay::Static : create::Replay::Moving;
    settings.overrides = options.overrides;
    settings.receiveTraps = false;
    learn.dialogStart();
    // From here on: a failure of the dialog's start (no mibinfo.out, no socket) is reported
    // again by Start, so it is printed once.
    Progress progress(err);
    learn.status().onChange([&](const StatusList::Change& change) {
        // The line replaced in place ("Got sysDescr.0") is inserted, never appended.
        if (change.kind == StatusList::ChangeKind::Appended) {
            progress.clear();
            out << change.text << "\n";
            out.flush();
        }
    });

    app::LearnVariablesForm& form = learn.form();
    form.teacher = options.teacher;
    form.file = options.output;
    if (options.community) {
        form.community = *options.community;
    } else {
        const std::string recent = config.readHistoryHead(ConfigKey::RCOMMUNITY);
        form.community = recent.empty() ? "public" : recent;
    }
    form.v2c = options.v2c;
    auto historyOr = [&config](ConfigKey key, const char* fallback) {
        const std::string recent = config.readHistoryHead(key);
        return recent.empty() ? std::string(fallback) : recent;
    };
    form.timeout =
        options.timeout ? std::to_string(*options.timeout) : historyOr(ConfigKey::TIMEOUT, "2");
    form.retries =
        options.retries ? std::to_string(*options.retries) : historyOr(ConfigKey::RETRIES, "3");
    form.start = options.start.value_or(create::kWalkStartDefault);
    form.end = options.end.value_or(create::kEndOfAllMibs);
    form.templates = options.templates;

    const SteadyClock::time_point started = SteadyClock::now();
    if (!learn.start()) {
        learn.close();
        return 1;
    }
    Watch stopSignals = loop.watch(signalFd.get(), [&] {
        if (readStopSignals(signalFd.get()) && learn.running()) {
            learn.stop();
            learn.endStopped();
        }
    });
    SteadyClock::time_point shown = started;
    while (learn.running()) {
        loop.runOnce(kLoopTurnMs);
        if (SteadyClock::now() - shown >= std::chrono::milliseconds(kProgressPeriodMs)) {
            shown = SteadyClock::now();
            progress.show(learn.learned(), secondsSince(started));
        }
    }
    const double seconds = secondsSince(started);
    stopSignals.reset();
    progress.clear();
    const std::size_t learned = learn.learned();
    const bool completed = learn.lastEnd() == app::LearnVariables::End::Completed;
    learn.close();
    out << formatText(kLearnedSummaryFormat, static_cast<unsigned long>(learned), seconds) << "\n";
    out.flush();
    return completed ? 0 : 1;
}

int runImport(const ImportOptions& options, std::ostream& out) {
    auto print = [&out](std::string_view line) {
        out << line << "\n";
        out.flush();
    };
    Configuration config(kConfigFileName);
    config.ensureFile();
    const std::string installDir = installDirectory(config);

    const std::string walkPath = fromStartDirectory(options.from, options.startDirectory);
    create::WalkContents walk;
    if (Result read = create::readWalkFile(walkPath, walk); !read) {
        print(read.text());
        return 1;
    }

    app::HomeMibInfo mibInfo;
    const std::shared_ptr<const mibinfo::MibInfo> mib = mibInfo.current(config);
    if (mib == nullptr) {
        print(formatText(app::kMibInfoMissingFormat, app::kMibInfoMissingPath));
    }
    create::OverrideTable overrides;
    if (options.overrides) {
        if (Result loaded = overrides.load(create::kOverrideFileName); !loaded) {
            print(create::kOverridesMissingText);
        }
    }

    create::LearnedWalk::Settings settings;
    settings.mib = mib.get();
    settings.overrides = &overrides;
    settings.replay = options.replayStatic ? create::Replay::Static : create::Replay::Moving;
    std::string text;
    create::ImportSummary summary;
    create::importWalk(walk, walkPath, settings, text, summary, print);

    const std::string path = app::controlFilePath(installDir, app::controlFileText(options.output));
    // Written whole or not at all: an earlier file of that name stays when the write fails.
    if (const int failed = replaceFileContent(path, text); failed != 0) {
        print(withReason(Result::failuref(app::kCannotOpenForWritingFormat, path.c_str()),
                         std::strerror(failed))
                  .text());
        return 1;
    }
    print(formatText(create::kImportSummaryFormat, static_cast<unsigned long>(summary.lines),
                     static_cast<unsigned long>(summary.written),
                     static_cast<unsigned long>(summary.skipped)));
    return 0;
}

}  // namespace korvimo::cli
