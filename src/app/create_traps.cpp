#include "app/create_traps.h"

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

CreateTraps::CreateTraps(CreateTrapsContext context)
    : context_(context),
      run_(context.loop, context.busy, status_,
           {[this](std::string& buffer) { return step(buffer); },
            [this](PacedFileRun::End end) { ended(end); }}) {}

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

    const std::string text = trapFileText(form_.trapFile);
    if (!run_.open(controlFilePath(installDir, text))) {
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

    if (!run_.begin()) {
        return false;
    }
    status_.append(kTrapCreationStartedText);

    // Without a readable miblist.lst the header still carries the format lines and the
    // standard traps asked for; only the MIB lines are missing.
    std::vector<std::string> mibs;
    const bool listed = create::readMibList(installDir + kMibListPath, mibs).ok();
    run_.buffer() = create::TrapFileCreation::header(listed ? &mibs : nullptr, enterprise);
    creation_ = std::make_unique<create::TrapFileCreation>(std::move(mib));
    startEnabled_ = false;
    stopEnabled_ = true;
    return true;
}

void CreateTraps::runToEnd() {
    run_.runToEnd();
}

void CreateTraps::stop() {
    run_.stop();
    startEnabled_ = true;
    stopEnabled_ = false;
}

void CreateTraps::close() {
    run_.close();
    creation_.reset();
    startEnabled_ = true;
    stopEnabled_ = false;
}

bool CreateTraps::step(std::string& buffer) {
    create::TrapFileCreation::Step done;
    if (!creation_->next(buffer, done)) {
        return false;
    }
    status_.remove(1);
    status_.insert(1, formatText(kProcessingFormat, done.trapName.c_str()));
    if (!done.failure.empty()) {
        status_.append(done.failure);
    }
    return true;
}

void CreateTraps::ended(PacedFileRun::End end) {
    creation_.reset();
    viewEnabled_ = true;
    switch (end) {
        case PacedFileRun::End::Completed:
            completed_ = true;
            status_.append(kTrapCreationCompletedText);
            break;
        case PacedFileRun::End::Stopped:
            status_.append(kTrapCreationStoppedText);
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
