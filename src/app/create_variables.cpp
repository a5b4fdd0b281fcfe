#include "app/create_variables.h"

#include <sys/stat.h>

#include <cstring>

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

CreateVariables::CreateVariables(CreateVariablesContext context)
    : context_(context),
      run_(context.loop, context.busy, status_,
           {[this](std::string& buffer) { return step(buffer); },
            [this](PacedFileRun::End end) { ended(end); }}) {}

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
    run_.endStopped();  // stopped, its last tick not yet come: it ends here
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
    if (!run_.open(controlFilePath(installDir, text))) {
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

    if (!run_.begin()) {
        return false;
    }
    creation_ = std::make_unique<create::VariableFileCreation>(
        std::move(mib), settings,
        create::VariableFileCreation::Reporter{
            [this](std::string_view line) { status_.append(line); },
            [this](std::string_view line) { progress(line); }});
    std::vector<std::string> mibs;
    const bool listed = create::readMibList(installDir + kMibListPath, mibs).ok();
    creation_->writeHeader(listed ? &mibs : nullptr, run_.buffer());
    status_.append(kVariableCreationStartedText);
    startEnabled_ = false;
    stopEnabled_ = true;
    return true;
}

void CreateVariables::progress(std::string_view line) {
    status_.remove(1);
    status_.insert(1, line);
}

void CreateVariables::runToEnd() {
    run_.runToEnd();
}

void CreateVariables::stop() {
    run_.stop();
    startEnabled_ = true;
    stopEnabled_ = false;
}

void CreateVariables::close() {
    run_.close();
    creation_.reset();
    startEnabled_ = true;
    stopEnabled_ = false;
}

bool CreateVariables::step(std::string& buffer) {
    return creation_->step(buffer);
}

void CreateVariables::ended(PacedFileRun::End end) {
    creation_.reset();
    viewEnabled_ = true;
    switch (end) {
        case PacedFileRun::End::Completed:
            completed_ = true;
            status_.append(kVariableCreationCompletedText);
            break;
        case PacedFileRun::End::Stopped:
            status_.append(kVariableCreationStoppedText);
            break;
        case PacedFileRun::End::Failed:
            startEnabled_ = true;
            stopEnabled_ = false;
            break;
    }
    if (onFinished) {
        onFinished();
    }
}

}  // namespace korvimo::app
