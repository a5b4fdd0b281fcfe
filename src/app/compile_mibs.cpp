#include "app/compile_mibs.h"

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
// zorlet's error messages begin so.
constexpr const char* kZorletErrorPrefix = "zorlet: ERROR";
constexpr const char* kZorletCannotPrefix = "zorlet: Cannot";

// The regular file at path, when it is at most limit bytes.
bool readSmallFile(const std::string& path, std::size_t limit, std::string& text) {
    text.clear();
    UniqueFd file;
    if (!openRegularFile(path, file)) {
        return false;
    }
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return got == 0;
        }
        if (text.size() + static_cast<std::size_t>(got) > limit) {
            return false;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
}

// The full path of an existing file with every link resolved; empty when there is none.
std::string realPath(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr),
                                                     &std::free);
    return real ? std::string(real.get()) : std::string();
}

bool isBlankText(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return isBlank(c); });
}

// Non-blank lines before the first one that begins with "#" (zorlet's section of the log).
std::size_t compilerMessages(const std::string& errorsLog) {
    std::string text;
    if (!readSmallFile(errorsLog, kMaxErrorsLogBytes, text)) {
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
    mibsDirectory_ = fullPath(installDirectory(context_.config)) + "/mibs";
    settings.mibsDirectory = mibsDirectory_;
    settings.binDirectory = fullPath(".");  // the programs run in bin
    context_.config.readPlain(ConfigKey::MIBDIRLIST, settings.mibDirList);
    context_.config.readPlain(ConfigKey::MIBEXTENSION, settings.mibExtension);
    context_.config.readPlain(ConfigKey::MIBEXTLIST, settings.mibExtList);
    lists_ = mibcomp::searchLists(settings);
    mibs_ = mibcomp::mibList(lists_);

    status_.clear();
    std::string text;
    if (readSmallFile(mibsDirectory_ + "/" + mibcomp::kMibListFile, kMaxMibListBytes, text)) {
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
    pendingProgress_.clear();
    progressTimer_.stop();
    // Unsigned: the first progress text is shown at once whatever the clock reads.
    lastProgressMs_ = context_.loop.clock().monotonicMs() - kProgressIntervalMs;

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
    std::string split;
    context_.config.readPlain(ConfigKey::SPLITMIBFILES, split);
    settings.split = split != "NO";
    std::string erase;
    context_.config.readPlain(ConfigKey::ERASESPLITMIBS, erase);
    settings.erasePieces = erase.empty() || erase == "YES";
    const mibcomp::Batch batch = mibcomp::makeBatch(settings, lists_, ordered);
    // The files are written also for an empty selection: miblist.lst then says that nothing
    // is compiled.
    const Result written = mibcomp::writeBatch(batch, mibsDirectory_);
    if (!written || batch.files == 0) {
        status_.append(written ? std::string_view(kNoMibSelectedText) : written.text());
        status_.append(kUseCompiledMibsText);
        releaseBusy(context_.busy);
        return false;
    }

    const std::string mibInfoPath = mibsDirectory_ + "/" + mibcomp::kMibInfoFile;
    before_ = FileVersion::of(mibInfoPath);
    const Result started = batch_.start(
        context_.loop, {kShell, mibsDirectory_ + "/" + mibcomp::kBatchFile}, mibsDirectory_,
        {[this](std::string_view text) { line(text); }, [this](int status) { exited(status); },
         [this](std::string_view text) { progress(text); }});
    if (!started) {
        status_.append(started.text());
        status_.append(kUseCompiledMibsText);
        releaseBusy(context_.busy);
        return false;
    }
    status_.append(kCompilationStartedText);
    status_.append(kUseCompiledMibsText);
    return true;
}

void CompileMibs::line(std::string_view text) {
    // A line ends the progress texts before it; one still waiting would show a past state.
    progressTimer_.stop();
    pendingProgress_.clear();
    removeProgressLine();
    status_.append(text);
    if (text.starts_with(kZorletErrorPrefix) || text.starts_with(kZorletCannotPrefix)) {
        ++outcome_.zorletErrors;
    }
}

void CompileMibs::progress(std::string_view text) {
    if (isBlankText(text)) {
        return;  // the blanks that clear a console line
    }
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
    const std::string mibInfoPath = mibsDirectory_ + "/" + mibcomp::kMibInfoFile;
    const std::unique_ptr<FileVersion> now = FileVersion::of(mibInfoPath);
    outcome_.mibInfoWritten = now != nullptr && (before_ == nullptr || !(*now == *before_));
    if (outcome_.mibInfoWritten) {
        if (const auto mib = mibinfo::MibInfo::load(mibInfoPath)) {
            outcome_.objects = mib->objectCount();
        }
    }
    outcome_.compilerMessages = compilerMessages(errorsLogPath());

    if (stopped_) {
        status_.append(kCompilationStoppedText);
    } else if (outcome_.mibInfoWritten) {
        status_.append(formatText(kCompilationCompletedFormat, outcome_.objects,
                                  outcome_.compilerMessages, outcome_.zorletErrors));
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
    removeProgressLine();
    releaseBusy(context_.busy);
}

std::string CompileMibs::errorsLogPath() const {
    const std::string mibs =
        mibsDirectory_.empty() ? fullPath(installDirectory(context_.config)) + "/mibs"
                               : mibsDirectory_;
    return mibs + "/" + mibcomp::kMibErrorsFile;
}

}  // namespace korvimo::app
