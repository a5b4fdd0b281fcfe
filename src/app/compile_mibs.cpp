#include "app/compile_mibs.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <unordered_set>

#include "app/desktop_commands.h"
#include "base/regular_file.h"
#include "base/text.h"
#include "mibinfo/lines.h"
#include "mibinfo/mib_info.h"

namespace korvimo::app {

namespace {

// miblist.lst is shown whole in the status list; a bigger file is not a list of ours.
constexpr std::size_t kMaxMibListBytes = 1u << 20;
// miberrs.out holds a few lines per module; its messages are counted up to this size.
constexpr std::size_t kMaxErrorsLogBytes = 64u << 20;
constexpr const char* kShell = "/bin/sh";
// zorlet's error messages begin so (its out-of-memory message without the blank).
constexpr const char* kZorletErrorPrefixes[] = {"zorlet: ERROR", "zorlet:ERROR", "zorlet: Cannot"};

// Copies the regular file at from to a new file to (created, or emptied).
bool copyFile(const std::string& from, const std::string& to) {
    UniqueFd in;
    if (!openRegularFile(from, in)) {
        return false;
    }
    UniqueFd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!out) {
        return false;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(in.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return got == 0 && ::close(out.release()) == 0;
        }
        if (writeAll(out.get(), std::string_view(buffer, static_cast<std::size_t>(got))) != 0) {
            return false;
        }
    }
}

// The full path of an existing file with every link resolved; empty when there is none.
std::string realPath(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    return real ? std::string(real.get()) : std::string();
}

bool isBlankText(std::string_view text) {
    return trimBlanks(text).empty();
}

// Non-blank lines before the first one that begins with "#" (zorlet's section of the log).
std::size_t compilerMessages(const std::string& errorsLog) {
    std::string text;
    if (!readRegularFile(errorsLog, kMaxErrorsLogBytes, text).ok()) {
        return 0;
    }
    mibinfo::Lines lines(text);
    std::string_view line;
    std::size_t count = 0;
    while (lines.next(line) && !line.starts_with('#')) {
        count += isBlankText(line) ? 0 : 1;
    }
    return count;
}

}  // namespace

struct CompileMibs::FileVersion {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    struct timespec modified {};

    // The file's version; null when it does not exist (or cannot be seen).
    static std::unique_ptr<FileVersion> of(const std::string& path) {
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) {
            return nullptr;
        }
        return std::make_unique<FileVersion>(
            FileVersion{info.st_dev, info.st_ino, info.st_size, info.st_mtim});
    }
    bool operator==(const FileVersion& other) const {
        return device == other.device && inode == other.inode && size == other.size &&
               modified.tv_sec == other.modified.tv_sec &&
               modified.tv_nsec == other.modified.tv_nsec;
    }
};

CompileMibs::CompileMibs(CompileMibsContext context) : context_(std::move(context)) {}

CompileMibs::~CompileMibs() {
    close();
}

void CompileMibs::dialogStart() {
    mibcomp::SearchSettings settings;
    homeDirectory_ = fullPath(installDirectory(context_.config));
    mibsDirectory_ = homeDirectory_ + "/mibs";
    settings.mibsDirectory = mibsDirectory_;
    settings.binDirectory = fullPath(".");  // the programs run in bin
    context_.config.readPlain(ConfigKey::MIBDIRLIST, settings.mibDirList);
    context_.config.readPlain(ConfigKey::MIBEXTENSION, settings.mibExtension);
    context_.config.readPlain(ConfigKey::MIBEXTLIST, settings.mibExtList);
    lists_ = mibcomp::searchLists(settings);
    mibs_ = mibcomp::mibList(lists_);

    status_.clear();
    std::string text;
    if (readRegularFile(mibsDirectory_ + "/" + mibcomp::kMibListFile, kMaxMibListBytes, text)
            .ok()) {
        mibinfo::Lines lines(text, 0, text.size());
        std::string_view line;
        while (lines.next(line)) {
            status_.append(line);
        }
    }
}

std::string CompileMibs::entryFor(const std::string& text) const {
    if (std::find(mibs_.begin(), mibs_.end(), text) != mibs_.end()) {
        return text;
    }
    struct stat info {};
    if (text.empty() || ::stat(text.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return {};
    }
    const std::string path = realPath(text);
    if (path.empty()) {
        return {};
    }
    for (const std::string& entry : mibs_) {
        if (realPath(mibcomp::entryPath(lists_, entry)) == path) {
            return entry;
        }
    }
    return path;
}

bool CompileMibs::compile(const std::vector<std::string>& selected) {
    if (batch_.running()) {
        status_.append(kCompilationInitiatedText);
        return false;
    }
    if (!takeBusy(context_.busy, &status_)) {
        return false;
    }
    if (mibsDirectory_.empty()) {
        dialogStart();  // the lists are those a dialog start shows
    }
    status_.clear();
    outcome_ = {};
    stopped_ = false;
    progressShown_ = false;
    afterBlanks_ = false;
    lastProgress_.clear();
    pendingProgress_.clear();
    progressTimer_.stop();
    // Unsigned: the first progress text is shown at once whatever the clock reads.
    lastProgressMs_ = context_.loop.clock().monotonicMs() - kProgressIntervalMs;

    if (!lockHome()) {
        return false;
    }

    // The list's order, then what the list does not hold, as given; each entry once.
    const std::unordered_set<std::string> chosen(selected.begin(), selected.end());
    std::vector<std::string> ordered;
    for (const std::string& entry : mibs_) {
        if (chosen.count(entry) != 0) {
            ordered.push_back(entry);
        }
    }
    const std::unordered_set<std::string> listed(mibs_.begin(), mibs_.end());
    std::unordered_set<std::string> taken;
    for (const std::string& entry : selected) {
        if (listed.count(entry) == 0 && taken.insert(entry).second) {
            ordered.push_back(entry);
        }
    }

    mibcomp::BatchSettings settings;
    settings.mibsDirectory = mibsDirectory_;
    settings.programsDirectory = fullPath(context_.programsDirectory);
    settings.homeDirectory = homeDirectory_;
    std::string split;
    context_.config.readPlain(ConfigKey::SPLITMIBFILES, split);
    settings.split = split != "NO";
    std::string erase;
    context_.config.readPlain(ConfigKey::ERASESPLITMIBS, erase);
    settings.erasePieces = erase.empty() || erase == "YES";
    const mibcomp::Batch batch = mibcomp::makeBatch(settings, lists_, ordered);
    intermediates_ = mibcomp::intermediateFiles(batch);
    Result kept;
    if (batch.files != 0) {
        kept = keepPrevious();
    }
    // The files are written also for an empty selection: miblist.lst then says that nothing
    // is compiled.
    const Result written = kept ? mibcomp::writeBatch(batch, mibsDirectory_) : kept;
    const auto notRun = [this](std::string_view text) {
        removeIntermediates();  // pieces written before a failure
        restorePrevious(false);
        lock_.reset();
        status_.append(text);
        status_.append(kUseCompiledMibsText);
        releaseBusy(context_.busy);
        return false;
    };
    if (!written || batch.files == 0) {
        return notRun(written ? std::string_view(kNoMibSelectedText) : written.text());
    }

    const std::string mibInfoPath = mibsDirectory_ + "/" + mibcomp::kMibInfoFile;
    before_ = FileVersion::of(mibInfoPath);
    const Result started = batch_.start(
        context_.loop, {kShell, mibsDirectory_ + "/" + mibcomp::kBatchFile}, mibsDirectory_,
        {[this](std::string_view text) { line(text); }, [this](int status) { exited(status); },
         [this](std::string_view text) { progress(text); }});
    if (!started) {
        return notRun(started.text());
    }
    batchGroup_ = batch_.pid();  // the script leads a process group of its own
    status_.append(kCompilationStartedText);
    status_.append(kUseCompiledMibsText);
    return true;
}

bool CompileMibs::lockHome() {
    const std::string path = mibsDirectory_ + "/" + kCompileLockFile;
    UniqueFd lock;
    do {
        // Close-on-exec: the batch must not hold the lock on after we let it go.
        lock.reset(::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666));
    } while (!lock && errno == EINTR);
    // Without a lock file (no mibs directory, say) the batch's writing fails and says why.
    if (lock) {
        int locked;
        do {
            locked = ::flock(lock.get(), LOCK_EX | LOCK_NB);
        } while (locked != 0 && errno == EINTR);
        if (locked != 0 && errno == EWOULDBLOCK) {
            status_.append(kCompilationRunningElsewhereText);
            status_.append(kUseCompiledMibsText);
            releaseBusy(context_.busy);
            return false;
        }
    }
    lock_ = std::move(lock);
    return true;
}

Result CompileMibs::keepPrevious() {
    const std::string list = mibsDirectory_ + "/" + mibcomp::kMibListFile;
    struct stat info {};
    mibListWasAbsent_ = ::lstat(list.c_str(), &info) != 0 && errno == ENOENT;
    mibListKept_ = mibListWasAbsent_ || readRegularFile(list, kMaxMibListBytes, oldMibList_).ok();
    // What a run that never ended (a killed process) left: the lock says no batch runs now.
    removeTemporaries();
    // A second name for mibinfo.out: zorlet renames its new file over mibinfo.out, and the
    // old one lives on under this name. Where no second name can be made (a file system
    // without hard links), a copy stands in; without either the run would risk the old file.
    const std::string mibInfo = mibsDirectory_ + "/" + mibcomp::kMibInfoFile;
    const std::string previous = mibsDirectory_ + "/" + kPreviousMibInfoFile;
    ::unlink(previous.c_str());
    previousLinked_ = false;
    if (::stat(mibInfo.c_str(), &info) != 0) {
        return {};  // nothing to keep
    }
    if (::link(mibInfo.c_str(), previous.c_str()) != 0 && !copyFile(mibInfo, previous)) {
        ::unlink(previous.c_str());
        std::string name = "/mibs/";
        name.append(kPreviousMibInfoFile);
        return Result::failure(formatText(mibcomp::kCannotCreateFormat, name.c_str()));
    }
    previousLinked_ = true;
    return {};
}

void CompileMibs::removeTemporaries() {
    const std::string prefix = std::string(mibcomp::kMibInfoFile) + ".new-";
    for (const std::string& name : listDirectory(mibsDirectory_)) {
        if (name.starts_with(prefix)) {
            ::unlink((mibsDirectory_ + "/" + name).c_str());
        }
    }
}

void CompileMibs::restorePrevious(bool mibInfo) {
    if (mibListKept_) {
        if (mibListWasAbsent_) {
            ::unlink((mibsDirectory_ + "/" + mibcomp::kMibListFile).c_str());
        } else if (Result written = mibcomp::writeMibList(oldMibList_, mibsDirectory_); !written) {
            status_.append(written.text());
        }
        mibListKept_ = false;
    }
    if (previousLinked_) {
        const std::string previous = mibsDirectory_ + "/" + kPreviousMibInfoFile;
        if (mibInfo) {
            outcome_.oldMibInfoKept =
                ::rename(previous.c_str(),
                         (mibsDirectory_ + "/" + mibcomp::kMibInfoFile).c_str()) == 0;
        } else {
            ::unlink(previous.c_str());
        }
        previousLinked_ = false;
    }
}

void CompileMibs::removeIntermediates() {
    for (const std::string& name : intermediates_) {
        ::unlink((mibsDirectory_ + "/" + name).c_str());
    }
}

void CompileMibs::settleFiles() {
    const std::string mibInfoPath = mibsDirectory_ + "/" + mibcomp::kMibInfoFile;
    const std::unique_ptr<FileVersion> now = FileVersion::of(mibInfoPath);
    outcome_.mibInfoWritten = now != nullptr && (before_ == nullptr || !(*now == *before_));
    if (outcome_.mibInfoWritten) {
        if (const auto mib = mibinfo::MibInfo::load(mibInfoPath)) {
            outcome_.objects = mib->objectCount();
        }
    }
    // Whatever ended the batch (Stop, Close, a kill from outside), what it would have removed
    // goes; the lock says the names are this run's.
    removeIntermediates();
    removeTemporaries();
    if (completed()) {
        mibListKept_ = false;  // the new list names what the new mibinfo.out holds
        restorePrevious(false);
    } else {
        outcome_.oldMibInfoKept = !outcome_.mibInfoWritten && before_ != nullptr;
        restorePrevious(outcome_.mibInfoWritten);
    }
    lock_.reset();
}

void CompileMibs::line(std::string_view text) {
    // zorlet's last progress text ends with CR LF, right after the blanks that clear the
    // console line; on a console it is overwritten by nothing more, here it goes as the
    // others do.
    if (!isBlankText(text) && (afterBlanks_ || text == lastProgress_)) {
        progress(text);
        return;
    }
    // A line ends the progress texts before it; one still waiting would show a past state.
    progressTimer_.stop();
    pendingProgress_.clear();
    lastProgress_.clear();
    afterBlanks_ = false;
    removeProgressLine();
    if (isBlankText(text)) {
        return;
    }
    status_.append(text);
    if (std::any_of(std::begin(kZorletErrorPrefixes), std::end(kZorletErrorPrefixes),
                    [text](const char* prefix) { return text.starts_with(prefix); })) {
        ++outcome_.zorletErrors;
    }
}

void CompileMibs::progress(std::string_view text) {
    afterBlanks_ = isBlankText(text);
    if (afterBlanks_) {
        return;  // the blanks that clear a console line
    }
    lastProgress_.assign(text);
    pendingProgress_.assign(text);
    if (progressTimer_.running()) {
        return;  // it shows the latest text when it fires
    }
    const uint64_t since = context_.loop.clock().monotonicMs() - lastProgressMs_;
    if (since >= kProgressIntervalMs) {
        showProgress();
        return;
    }
    progressTimer_ =
        context_.loop.startTimer(static_cast<uint32_t>(kProgressIntervalMs - since), [this] {
            progressTimer_.stop();
            showProgress();
        });
}

void CompileMibs::showProgress() {
    if (pendingProgress_.empty()) {
        return;
    }
    removeProgressLine();
    // Inserted, not appended: a front end that prints appended lines leaves it out.
    status_.insert(status_.size(), pendingProgress_);
    progressShown_ = true;
    pendingProgress_.clear();
    lastProgressMs_ = context_.loop.clock().monotonicMs();
}

void CompileMibs::removeProgressLine() {
    if (progressShown_ && status_.size() > 0) {
        status_.remove(status_.size() - 1);
    }
    progressShown_ = false;
}

void CompileMibs::exited(int exitStatus) {
    progressTimer_.stop();
    pendingProgress_.clear();
    removeProgressLine();

    outcome_.exitStatus = exitStatus;
    // A script killed from outside leaves the program it ran (kmx, zorlet) running, which
    // would go on writing into the mibs directory after the files were settled. The group
    // keeps the script's number while any member lives, so the number names no one else.
    if (batchGroup_ > 0) {
        ::kill(-batchGroup_, SIGKILL);
        batchGroup_ = -1;
    }
    settleFiles();
    outcome_.compilerMessages = compilerMessages(errorsLogPath());

    // A stop that came after the new files were in place changes nothing of them.
    if (completed()) {
        status_.append(formatText(kCompilationCompletedFormat, outcome_.objects,
                                  outcome_.compilerMessages, outcome_.zorletErrors));
    } else if (stopped_) {
        status_.append(kCompilationStoppedText);
    } else if (outcome_.mibInfoWritten) {
        status_.append(outcome_.oldMibInfoKept ? kNothingCompiledText : kNothingCompiledNoOldText);
    } else {
        status_.append(formatText(kCompilationFailedFormat, exitStatus));
    }
    releaseBusy(context_.busy);
    if (onFinished) {
        onFinished();
    }
}

void CompileMibs::stop() {
    if (!batch_.running()) {
        return;
    }
    stopped_ = true;
    batch_.terminate();  // the exit handler writes the outcome
}

void CompileMibs::close() {
    progressTimer_.stop();
    pendingProgress_.clear();
    if (!batch_.running()) {
        return;
    }
    batch_.end();
    settleFiles();
    removeProgressLine();
    releaseBusy(context_.busy);
}

std::string CompileMibs::errorsLogPath() const {
    const std::string mibs = mibsDirectory_.empty()
                                 ? fullPath(installDirectory(context_.config)) + "/mibs"
                                 : mibsDirectory_;
    return mibs + "/" + mibcomp::kMibErrorsFile;
}

}  // namespace korvimo::app
