#include "app/create_traps.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/desktop_commands.h"
#include "app/generate_traps.h"
#include "base/text.h"
#include "create/mib_objects.h"
#include "traps/trap_writer.h"

namespace korvimo::app {

namespace {

// Longest texts taken from the form, as the dialog's buffers take them.
constexpr std::size_t kFormTextLimit = 199;
constexpr std::size_t kFileTextCapacity = 200;
// The buffer is written out once it holds this much.
constexpr std::size_t kFlushThreshold = 64 * 1024;

std::string cut(const std::string& text, std::size_t limit) {
    return text.size() > limit ? text.substr(0, limit) : text;
}

bool endsWith(const std::string& text, const char* suffix) {
    return text.ends_with(suffix);
}

}  // namespace

std::string trapFileText(const std::string& text) {
    std::string taken = cut(text, kFormTextLimit);
    if (!endsWith(taken, kTrapFileSuffix) && !endsWith(taken, kTrapFileSuffixUpper) &&
        taken.size() + std::strlen(kTrapFileSuffix) < kFileTextCapacity) {
        taken += kTrapFileSuffix;
    }
    return taken;
}

CreateTraps::CreateTraps(CreateTrapsContext context) : context_(context) {}

CreateTraps::~CreateTraps() {
    close();
}

void CreateTraps::dialogStart() {
    trapFiles_ = context_.config.historyValues(ConfigKey::TRAPFILE);
    form_.trapFile = trapFiles_.empty() ? std::string() : trapFiles_.front();
    std::string standard;
    context_.config.readPlain(ConfigKey::USESTDTRAPS, standard);
    form_.includeStandardTraps = standard == "YES";
    enterpriseListEnabled_ = form_.includeStandardTraps;
    if (form_.includeStandardTraps) {
        enterprises_ = context_.config.historyValues(ConfigKey::TRAPENTID);
    } else {
        enterprises_.clear();
    }
    form_.enterprise = enterprises_.empty() ? std::string() : enterprises_.front();
    startEnabled_ = true;
    stopEnabled_ = false;
    viewEnabled_ = false;
}

const std::vector<std::string>& CreateTraps::history(CreateTrapsList list) const {
    return list == CreateTrapsList::TrapFile ? trapFiles_ : enterprises_;
}

bool CreateTraps::enabled(CreateTrapsControl control) const {
    switch (control) {
        case CreateTrapsControl::EnterpriseList:
            return enterpriseListEnabled_;
        case CreateTrapsControl::View:
            return viewEnabled_;
        case CreateTrapsControl::Start:
            return startEnabled_;
        case CreateTrapsControl::Stop:
            return stopEnabled_;
    }
    return false;
}

bool CreateTraps::start() {
    if (!takeBusy(context_.busy, &status_)) {
        return false;
    }
    if (running_) {
        finish(End::Stopped);  // stopped, its last tick not yet come: it ends here
    }
    status_.clear();
    viewEnabled_ = false;
    completed_ = false;
    const std::string installDir = installDirectory(context_.config);

    std::shared_ptr<const mibinfo::MibInfo> mib = context_.mibInfo.current(context_.config);
    if (!mib) {
        status_.append(formatText(kMibInfoMissingFormat, kMibInfoMissingPath));
        releaseBusy(context_.busy);
        return false;
    }

    const std::string text = trapFileText(form_.trapFile);
    outputPath_ = controlFilePath(installDir, text);
    output_.reset(::open(outputPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!output_) {
        status_.append(formatText(kCannotOpenForWritingFormat, outputPath_.c_str()));
        releaseBusy(context_.busy);
        return false;
    }
    form_.trapFile = text;
    context_.config.pushHistory(ConfigKey::TRAPFILE, text);
    trapFiles_ = context_.config.historyValues(ConfigKey::TRAPFILE);

    std::optional<std::string> enterprise;
    if (form_.includeStandardTraps) {
        context_.config.writePlain(ConfigKey::USESTDTRAPS, "YES");
        const std::string given(trimBlanks(cut(form_.enterprise, kFormTextLimit)));
        enterprise = given.empty() ? std::string(traps::kDefaultStandardEnterprise) : given;
    } else {
        context_.config.writePlain(ConfigKey::USESTDTRAPS, "NO");
    }

    timer_ = context_.loop.startTimer(kCreateTickMs, [this] { tick(); });
    if (!timer_.running()) {
        closeOutput();
        releaseBusy(context_.busy);
        return false;
    }
    status_.append(kTrapCreationStartedText);

    // Without a readable miblist.lst the header still carries the format lines and the
    // standard traps asked for; only the MIB lines are missing.
    std::vector<std::string> mibs;
    const bool listed = create::readMibList(installDir + kMibListPath, mibs).ok();
    buffer_ = create::TrapFileCreation::header(listed ? &mibs : nullptr, enterprise);
    creation_ = std::make_unique<create::TrapFileCreation>(std::move(mib));
    running_ = true;
    stopping_ = false;
    startEnabled_ = false;
    stopEnabled_ = true;
    return true;
}

void CreateTraps::runToEnd() {
    while (running_) {
        if (stopping_) {
            finish(End::Stopped);
            return;
        }
        step();
    }
}

void CreateTraps::stop() {
    if (running_ && !stopping_) {
        stopping_ = true;
        releaseBusy(context_.busy);
    }
    startEnabled_ = true;
    stopEnabled_ = false;
}

void CreateTraps::close() {
    if (running_ && !stopping_) {
        releaseBusy(context_.busy);
    }
    timer_.stop();
    running_ = false;
    stopping_ = false;
    if (output_) {
        flush();  // a failure has nobody left to tell
    }
    closeOutput();
    creation_.reset();
    startEnabled_ = true;
    stopEnabled_ = false;
}

void CreateTraps::tick() {
    if (!running_) {
        timer_.stop();
        return;
    }
    if (stopping_) {
        finish(End::Stopped);
        return;
    }
    if (options_.stepsPerTick > 0) {
        for (std::size_t n = 0; n < options_.stepsPerTick && running_; ++n) {
            step();
        }
        return;
    }
    const Clock& clock = context_.loop.clock();
    const uint64_t begin = clock.monotonicMs();
    while (running_ && clock.monotonicMs() - begin < kCreateTickBudgetMs) {
        step();
    }
}

bool CreateTraps::step() {
    create::TrapFileCreation::Step done;
    if (!creation_->next(buffer_, done)) {
        finish(End::Completed);
        return false;
    }
    status_.remove(1);
    status_.insert(1, formatText(kProcessingFormat, done.trapName.c_str()));
    if (!done.failure.empty()) {
        status_.append(done.failure);
    }
    if (buffer_.size() >= kFlushThreshold && !flush()) {
        finish(End::Failed);
        return false;
    }
    return true;
}

void CreateTraps::finish(End end) {
    timer_.stop();
    if (output_ && !flush()) {
        end = End::Failed;
    }
    closeOutput();
    creation_.reset();
    if (running_ && !stopping_) {
        releaseBusy(context_.busy);
    }
    running_ = false;
    stopping_ = false;
    viewEnabled_ = true;
    switch (end) {
        case End::Completed:
            completed_ = true;
            status_.append(kTrapCreationCompletedText);
            break;
        case End::Stopped:
            status_.append(kTrapCreationStoppedText);
            break;
        case End::Failed:
            startEnabled_ = true;
            stopEnabled_ = false;
            break;
    }
    if (onFinished) {
        onFinished();
    }
}

bool CreateTraps::flush() {
    std::size_t written = 0;
    while (written < buffer_.size()) {
        const ssize_t n =
            ::write(output_.get(), buffer_.data() + written, buffer_.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            const int error = n < 0 ? errno : EIO;
            buffer_.clear();
            status_.append(
                formatText(kCannotWriteFormat, outputPath_.c_str(), std::strerror(error)));
            closeOutput();
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    buffer_.clear();
    return true;
}

void CreateTraps::closeOutput() {
    output_.reset();
    buffer_.clear();
    buffer_.shrink_to_fit();
}

}  // namespace korvimo::app
