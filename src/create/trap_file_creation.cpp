#include "create/trap_file_creation.h"

#include "base/text.h"
#include "create/mib_objects.h"
#include "mibinfo/descriptor_mapper.h"
#include "traps/trap_writer.h"

namespace korvimo::create {

namespace {

// A variable of a trap resolved: its numeric identifier and the object line that mapped it.
struct Variable {
    std::string text;
    std::string identifier;
    std::string value;
    const mibinfo::Record* object = nullptr;
};

// A trap whose lines would hold a comma where the trap file reader splits its fields: one
// comment line and its status line.
void commaLine(std::string_view text, std::string& out, TrapFileCreation::Step& step) {
    step.failure = formatText(kCommaInTrapFormat, step.trapName.c_str(), std::string(text).c_str());
    out += "# ";
    out += step.failure;
    out += "\r\n";
}

}  // namespace

TrapFileCreation::TrapFileCreation(std::shared_ptr<const mibinfo::MibInfo> mib)
    : mib_(std::move(mib)) {}

std::string TrapFileCreation::header(const std::vector<std::string>* mibs,
                                     std::optional<std::string_view> standardEnterprise) {
    std::string text = mibs != nullptr ? traps::trapFileHeader(*mibs) : traps::trapFileHeader({});
    if (standardEnterprise) {
        text += traps::standardTrapsBlock(*standardEnterprise);
    }
    return text;
}

// Of the object lines whose identifier is the text or a leading part of it ended by ".", the
// first in file order.
const mibinfo::Record* TrapFileCreation::objectOfNumeric(std::string_view text) const {
    const mibinfo::Record* best = nullptr;
    for (std::size_t length = 1; length <= text.size(); ++length) {
        if (length < text.size() && text[length] != '.') {
            continue;
        }
        const mibinfo::Record* found = mib_->firstObjectWithIdentifier(text.substr(0, length));
        if (found != nullptr && (best == nullptr || found < best)) {
            best = found;
        }
    }
    return best;
}

bool TrapFileCreation::next(std::string& out, Step& step) {
    step = Step{};
    const std::span<const mibinfo::Record> records = mib_->records();
    while (!complete_ && position_ < records.size() &&
           records[position_].kind != mibinfo::RecordKind::Trap) {
        ++position_;
    }
    if (complete_ || position_ >= records.size()) {
        complete_ = true;
        return false;
    }
    const mibinfo::Record& trap = records[position_++];
    std::string_view kind;
    std::string_view specific;
    std::string_view rest;
    if (trap.descriptor.empty() || trap.identifier.empty() || !takeWord(trap.rest, kind, rest) ||
        !takeWord(rest, specific, rest)) {
        complete_ = true;
        return false;
    }
    step.trapName.assign(trap.descriptor);
    const std::string_view name = trap.descriptor;
    if (name.find(',') != std::string_view::npos) {
        commaLine(name, out, step);
        return true;
    }

    // The trap's identifier as numeric text.
    std::string identifier;
    if (mibinfo::isNumericName(trap.identifier)) {
        identifier.assign(trap.identifier);
    } else {
        const std::string_view text = trap.identifier;
        const std::size_t dot = text.find('.');
        const mibinfo::Record* object = mib_->firstObjectWithDescriptor(text.substr(0, dot));
        if (object == nullptr) {
            step.failure =
                formatText(kCannotMapTrapFormat, step.trapName.c_str(), std::string(text).c_str());
            out += traps::unmappedTrapLine(name, text);
            return true;
        }
        identifier.assign(object->identifier);
        if (dot != std::string_view::npos) {
            identifier.append(text.substr(dot));
        }
    }

    // Every variable of the trap must map before anything of it is written.
    std::vector<Variable> variables;
    const std::span<const uint32_t> positions = mib_->trapVariables(name);
    variables.reserve(positions.size());
    for (const uint32_t at : positions) {
        const mibinfo::Record& record = records[at];
        Variable variable;
        variable.text = withoutBlanks(record.identifier);
        variable.text += withoutBlanks(record.rest);
        if (mibinfo::isNumericName(variable.text)) {
            variable.object = objectOfNumeric(variable.text);
            variable.identifier = variable.text;
        } else {
            const std::size_t dot = variable.text.find('.');
            const std::string_view descriptor = std::string_view(variable.text).substr(0, dot);
            variable.object = mib_->firstObjectWithDescriptor(descriptor);
            if (variable.object != nullptr) {
                variable.identifier.assign(variable.object->identifier);
                if (dot != std::string::npos) {
                    variable.identifier.append(variable.text, dot);
                }
            }
        }
        if (variable.object == nullptr) {
            step.failure =
                formatText(kCannotMapVariableFormat, step.trapName.c_str(), variable.text.c_str());
            out += traps::unmappedVariableLine(name, variable.text);
            return true;
        }
        const ObjectRecord object = objectRecord(*variable.object);
        variable.value = initialValue(object, variable.text);
        if (variable.identifier.find(',') != std::string::npos ||
            variable.value.find(',') != std::string::npos) {
            commaLine(variable.text, out, step);
            return true;
        }
        variables.push_back(std::move(variable));
    }

    out += traps::trapComment(name);
    if (kind.starts_with('7')) {
        // A notification: its identifier ends in the specific code.
        const std::size_t dot = identifier.rfind('.');
        if (dot == std::string::npos) {
            out += traps::definitionLine(name, identifier, "7", specific);
        } else {
            out += traps::definitionLine(name, std::string_view(identifier).substr(0, dot), "7",
                                         std::string_view(identifier).substr(dot + 1));
        }
    } else {
        out += traps::definitionLine(name, identifier, kind, specific);
    }
    for (const Variable& variable : variables) {
        const ObjectRecord object = objectRecord(*variable.object);
        out += traps::variableLine(name, variable.identifier, object.type, variable.value);
    }
    return true;
}

}  // namespace korvimo::create
