#include "app/create_variables.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/create_traps.h"
#include "app/desktop_commands.h"
#include "app/generate_traps.h"
#include "base/text.h"
#include "create/mib_objects.h"

namespace korvimo::app {

namespace {

// Longest texts taken from the form, as the dialog's buffers take them.
constexpr std::size_t kFormTextLimit = 199;
constexpr std::size_t kFileTextCapacity = 200;
constexpr std::size_t kRowsTextLimit = 100;
// The buffer is written out once it holds this much.
constexpr std::size_t kFlushThreshold = 64 * 1024;

std::string cut(const std::string& text, std::size_t limit) {
    return text.size() > limit ? text.substr(0, limit) : text;
}

}  // namespace

std::string controlFileText(const std::string& text) {
    std::string taken = cut(text, kFormTextLimit);
    if (!taken.ends_with(kControlFileSuffix) && !taken.ends_with(kControlFileSuffixUpper) &&
        taken.size() + std::strlen(kControlFileSuffix) < kFileTextCapacity) {
        taken += kControlFileSuffix;
    }
    return taken;
}

CreateVariables::CreateVariables(CreateVariablesContext context) : context_(context) {}

CreateVariables::~CreateVariables() {
    close();
}

void CreateVariables::dialogStart() {
    files_ = context_.config.historyValues(ConfigKey::INPUTFILE);
    rows_ = context_.config.historyValues(ConfigKey::NUMROWS);
    form_.file = files_.empty() ? std::string() : files_.front();
    form_.rows = rows_.empty() ? std::string() : rows_.front();
    std::string templates;
    context_.config.readPlain(ConfigKey::DYNTEMPLATE, templates);
    form_.templates = templates == "YES";
    startEnabled_ = true;
    stopEnabled_ = false;
    viewEnabled_ = false;
}

const std::vector<std::string>& CreateVariables::history(CreateVariablesList list) const {
    return list == CreateVariablesList::File ? files_ : rows_;
}

bool CreateVariables::enabled(CreateVariablesControl control) const {
    switch (control) {
        case CreateVariablesControl::View:
            return viewEnabled_;
        case CreateVariablesControl::Start:
            return startEnabled_;
        case CreateVariablesControl::Stop:
            return stopEnabled_;
    }
    return false;
}

bool CreateVariables::start() {
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
    const std::string agentDir = installDir + "/agent";
    struct stat info {};
    const bool isDirectory = ::stat(agentDir.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    if (!isDirectory && ::mkdir(agentDir.c_str(), 0777) != 0) {
        status_.append(kAgentDirectoryFailedText);
        releaseBusy(context_.busy);
        return false;
    }

    const std::string text = controlFileText(form_.file);
    outputPath_ = controlFilePath(installDir, text);
    output_.reset(::open(outputPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!output_) {
        status_.append(formatText(kCannotOpenForWritingFormat, outputPath_.c_str()));
        releaseBusy(context_.busy);
        return false;
    }
    form_.file = text;
    context_.config.pushHistory(ConfigKey::INPUTFILE, text);
    files_ = context_.config.historyValues(ConfigKey::INPUTFILE);
    const std::string rowsText = cut(form_.rows, kRowsTextLimit);
    context_.config.pushHistory(ConfigKey::NUMROWS, rowsText);
    rows_ = context_.config.historyValues(ConfigKey::NUMROWS);
    create::VariableFileCreation::Settings settings;
    settings.rows = create::rowCount(rowsText);
    settings.templates = form_.templates;
    context_.config.writePlain(ConfigKey::DYNTEMPLATE, form_.templates ? "YES" : "NO");

    timer_ = context_.loop.startTimer(kCreateTickMs, [this] { tick(); });
    if (!timer_.running()) {
        closeOutput();
        releaseBusy(context_.busy);
        return false;
    }
    creation_ = std::make_unique<create::VariableFileCreation>(
        std::move(mib), settings,
        create::VariableFileCreation::Reporter{
            [this](std::string_view line) { status_.append(line); },
            [this](std::string_view line) { progress(line); }});
    std::vector<std::string> mibs;
    const bool listed = create::readMibList(installDir + kMibListPath, mibs).ok();
    creation_->writeHeader(listed ? &mibs : nullptr, buffer_);
    status_.append(kVariableCreationStartedText);
    running_ = true;
    stopping_ = false;
    startEnabled_ = false;
    stopEnabled_ = true;
    return true;
}

void CreateVariables::progress(std::string_view line) {
    status_.remove(1);
    status_.insert(1, line);
}

void CreateVariables::runToEnd() {
    while (running_) {
        if (stopping_) {
            finish(End::Stopped);
            return;
        }
        step();
    }
}

void CreateVariables::stop() {
    if (running_ && !stopping_) {
        stopping_ = true;
        releaseBusy(context_.busy);
    }
    startEnabled_ = true;
    stopEnabled_ = false;
}

void CreateVariables::close() {
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

void CreateVariables::tick() {
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

bool CreateVariables::step() {
    if (!creation_->step(buffer_)) {
        finish(End::Completed);
        return false;
    }
    if (buffer_.size() >= kFlushThreshold && !flush()) {
        finish(End::Failed);
        return false;
    }
    return true;
}

void CreateVariables::finish(End end) {
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
            status_.append(kVariableCreationCompletedText);
            break;
        case End::Stopped:
            status_.append(kVariableCreationStoppedText);
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

bool CreateVariables::flush() {
    std::size_t written = 0;
    while (written < buffer_.size()) {
        const ssize_t n = ::write(output_.get(), buffer_.data() + written, buffer_.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            const int error = n < 0 ? errno : EIO;
            buffer_.clear();
            status_.append(formatText(kCannotWriteFormat, outputPath_.c_str(), std::strerror(error)));
            closeOutput();
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    buffer_.clear();
    return true;
}

void CreateVariables::closeOutput() {
    output_.reset();
    buffer_.clear();
    buffer_.shrink_to_fit();
}

}  // namespace korvimo::app
