#include "create/learning.h"

#include <utility>

#include <charconv>

#include "agent/debug_log.h"
#include "base/text.h"
#include "create/mib_objects.h"
#include "create/variable_file_creation.h"
#include "snmp/error_status.h"

namespace korvimo::create {

namespace {

constexpr const char* kTeacherLineFormat = "# Teaching Agent's IP Address:   %s\r\n";
constexpr const char* kStartLineFormat = "# Start of Walk:                 %s\r\n";
constexpr const char* kEndLineFormat = "# End of Walk:                   %s\r\n";
constexpr const char* kImportedLineFormat = "# Imported from walk file:       %s\r\n";

// Dotted decimal alone: non-empty pieces of digits, each within 32 bits, at most
// kMaxOidLength of them.
bool readDottedDecimal(std::string_view text, snmp::ObjectId& out) {
    out.ids.clear();
    while (true) {
        const std::size_t dot = text.find('.');
        const std::string_view piece = text.substr(0, dot);
        uint32_t id = 0;
        const char* end = piece.data() + piece.size();
        auto [stop, error] = std::from_chars(piece.data(), end, id);
        if (piece.empty() || error != std::errc() || stop != end ||
            out.ids.size() == snmp::kMaxOidLength) {
            return false;
        }
        out.ids.push_back(id);
        if (dot == std::string_view::npos) {
            return true;
        }
        text.remove_prefix(dot + 1);
    }
}

void appendLine(const char* format, std::string_view text, std::string& out) {
    out += formatText(format, std::string(text).c_str());
}

std::string dotted(const snmp::ObjectId& name) {
    // Room for the longest name: 128 sub-identifiers of 10 digits and a dot.
    char text[snmp::kMaxOidLength * 11 + 16];
    if (oidToText(name, sizeof text, text) == 0) {
        text[0] = '\0';
    }
    return text;
}

}  // namespace

std::string genericTrapName(int32_t generic) {
    if (const char* name = ::korvimo::genericTrapName(generic)) {
        return name;
    }
    return formatText("unknown(%d)", generic);
}

bool walkBound(std::string_view text, const mibinfo::MibInfo* mib, snmp::ObjectId& out) {
    text = trimBlanks(text);
    if (text.empty()) {
        return false;
    }
    if (text[0] >= '0' && text[0] <= '9') {
        return readDottedDecimal(text, out);
    }
    if (mib == nullptr) {
        return false;
    }
    const std::size_t dot = text.find('.');
    const mibinfo::Record* object = mib->firstObjectWithDescriptor(text.substr(0, dot));
    if (object == nullptr) {
        return false;
    }
    std::string numeric(object->identifier);
    if (dot != std::string_view::npos) {
        numeric.append(text.substr(dot));
    }
    return readDottedDecimal(numeric, out);
}

void appendLearnedHeader(std::string_view teacher, std::string_view start, std::string_view end,
                         std::string& out) {
    out += kRuleLine;
    appendLine(kTeacherLineFormat, teacher, out);
    appendLine(kStartLineFormat, start, out);
    appendLine(kEndLineFormat, end, out);
    out += valueFormatsBlock();
    out += kRuleLine;
}

void appendImportedHeader(std::string_view walkFile, std::string& out) {
    out += kRuleLine;
    appendLine(kImportedLineFormat, walkFile, out);
    out += valueFormatsBlock();
    out += kRuleLine;
}

LearnedWalk::LearnedWalk(Settings settings) : settings_(std::move(settings)) {}

LearnedWalk::Step LearnedWalk::binding(const snmp::VarBind& binding, const snmp::ObjectId& after,
                                       std::string& out) {
    if (settings_.endOfMibViewEnds && binding.value.syntax == snmp::kTagEndOfMibView) {
        return Step::Completed;
    }
    if (settings_.end && snmp::compareOid(binding.name, *settings_.end) >= 0) {
        return Step::Completed;
    }
    if (snmp::compareOid(binding.name, after) > 0) {
        uint32_t* position =
            settings_.lookupPosition != nullptr ? settings_.lookupPosition : &ownPosition_;
        LearnedVariable variable = learnedVariable(binding, settings_.mib, settings_.overrides,
                                                   settings_.replay, position);
        appendLearnedLine(variable, out);
        lastName_ = std::move(variable.name);
        ++learned_;
        return Step::Learned;
    }
    out += formatText(kWrongOrderLineFormat, dotted(binding.name).c_str());
    ++wrongOrder_;
    return Step::WrongOrder;
}

LearnedWalk::Outcome LearnedWalk::response(const snmp::Pdu& response,
                                           const snmp::ObjectId& requested, WalkRequest request,
                                           std::string& out, snmp::ObjectId& next) {
    const std::vector<snmp::VarBind>& bindings = response.varBinds.items;
    if (bindings.empty()) {
        return Outcome::NoBindings;
    }
    if (response.errorStatus == snmp::kNoSuchName) {
        return Outcome::Completed;
    }
    if (response.errorStatus != snmp::kNoError) {
        return Outcome::OtherError;
    }
    const std::size_t used = request == WalkRequest::GetNext ? 1 : bindings.size();
    const snmp::ObjectId* after = &requested;
    for (std::size_t i = 0; i < used; ++i) {
        if (binding(bindings[i], *after, out) == Step::Completed) {
            return Outcome::Completed;
        }
        // A wrong-order answer too: the walk goes on from the name answered.
        after = &bindings[i].name;
    }
    next = *after;
    return Outcome::Continue;
}

void importWalk(const WalkContents& walk, std::string_view walkFile,
                const LearnedWalk::Settings& settings, std::string& out, ImportSummary& summary,
                const std::function<void(std::string_view line)>& problem) {
    summary = ImportSummary{};
    summary.lines = walk.lines;
    appendImportedHeader(walkFile, out);

    // A walk file holds what its walk recorded: an end identifier of the settings does not cut
    // it, and the end mark of a view is no record.
    LearnedWalk::Settings whole = settings;
    whole.end.reset();
    whole.endOfMibViewEnds = false;
    LearnedWalk learned(whole);

    auto report = [&](std::size_t line, std::string_view text) {
        if (problem) {
            problem(formatText(kImportProblemFormat, static_cast<unsigned long>(line),
                               std::string(text).c_str()));
        }
    };

    // Records and the walk's problem lines, merged in line order.
    const snmp::ObjectId first;  // every name is after the empty one
    const snmp::ObjectId* after = &first;
    auto problemAt = walk.problems.begin();
    for (const WalkRecord& record : walk.records) {
        for (; problemAt != walk.problems.end() && problemAt->line < record.line; ++problemAt) {
            report(problemAt->line, problemAt->text);
            ++summary.skipped;
        }
        if (learned.binding(record.binding, *after, out) == LearnedWalk::Step::Learned) {
            ++summary.written;
        } else {
            report(record.line, "wrong lexicographical ordering: " + dotted(record.binding.name) +
                                    " is not after the line before it");
            ++summary.skipped;
        }
        after = &record.binding.name;
    }
    for (; problemAt != walk.problems.end(); ++problemAt) {
        report(problemAt->line, problemAt->text);
        ++summary.skipped;
    }
    summary.read = summary.written + summary.skipped;
}

}  // namespace korvimo::create
