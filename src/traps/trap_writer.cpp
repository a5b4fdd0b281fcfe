#include "traps/trap_writer.h"

#include "base/text.h"

namespace korvimo::traps {

namespace {

int length(std::string_view text) {
    return static_cast<int>(text.size());
}

struct StandardTrap {
    const char* comment;
    const char* name;
    int generic;
    const char* variable;  // null: no binding
    const char* type;
    const char* value;
};

// The six standard traps, generic codes 0 to 5: linkDown and linkUp carry ifIndex 1,
// egpNeighborLoss carries egpNeighAddr 1.2.3.4.
constexpr StandardTrap kStandardTraps[] = {
    {"cold start trap", "coldStart", 0, nullptr, nullptr, nullptr},
    {"warm start trap", "warmStart", 1, nullptr, nullptr, nullptr},
    {"link down trap, with ifIndex set to 1", "linkDown", 2, "1.3.6.1.2.1.2.2.1.1", "Integer", "1"},
    {"link up trap, with ifIndex set to 1", "linkUp", 3, "1.3.6.1.2.1.2.2.1.1", "Integer", "1"},
    {"authentication failure trap", "authenticationFailure", 4, nullptr, nullptr, nullptr},
    {"egpNeighbor loss, with egpNeighAddr set to 1.2.3.4", "egpNeighborLoss", 5,
     "1.3.6.1.2.1.8.5.1.2", "IpAddress", "1.2.3.4"},
};

}  // namespace

std::string trapFileHeader(std::span<const std::string> mibs) {
    std::string text(kTrapFileRule);
    text += "# List of MIBs used to create traps:\r\n";
    for (const std::string& mib : mibs) {
        const std::size_t start = mib.find_first_not_of(" \t");
        const std::string_view name =
            start == std::string::npos ? std::string_view() : std::string_view(mib).substr(start);
        text += formatText("#                     %.*s\r\n", length(name), name.data());
    }
    text += "# Trap file format is as follows\r\n";
    text += "#   %T  trap_name, enterprise_id, generic, specific\r\n";
    text += "#   %V  trap_name, attributeid, type, value\r\n";
    text += kTrapFileRule;
    return text;
}

std::string standardTrapsBlock(std::string_view enterprise) {
    const std::string ent(enterprise);
    std::string text(kTrapFileRule);
    for (const StandardTrap& trap : kStandardTraps) {
        text += trapComment(trap.comment);
        text +=
            formatText("%%T  %-22s, %-20s, %d, %d\r\n", trap.name, ent.c_str(), trap.generic, 0);
        if (trap.variable != nullptr) {
            // Type and value unpadded, the type followed by a comma and two blanks.
            text += formatText("%%V  %-22s, %-20s, %s,  %s\r\n", trap.name, trap.variable,
                               trap.type, trap.value);
        }
    }
    text += kTrapFileRule;
    return text;
}

std::string trapComment(std::string_view name) {
    return formatText("##%.*s\r\n", length(name), name.data());
}

std::string definitionLine(std::string_view name, std::string_view enterprise,
                           std::string_view generic, std::string_view specific) {
    const std::string n(name);
    const std::string e(enterprise);
    const std::string g(generic);
    const std::string s(specific);
    return formatText("%%T  %-22s, %-20s, %s, %s\r\n", n.c_str(), e.c_str(), g.c_str(), s.c_str());
}

std::string variableLine(std::string_view trapName, std::string_view identifier,
                         std::string_view type, std::string_view value) {
    const std::string n(trapName);
    const std::string i(identifier);
    const std::string t(type);
    const std::string v(value);
    return formatText("%%V  %-22s, %-20s, %-10s, %-10s\r\n", n.c_str(), i.c_str(), t.c_str(),
                      v.c_str());
}

std::string unmappedTrapLine(std::string_view trapName, std::string_view identifier) {
    return formatText("# %.*s: Cannot map %.*s to object identifiers\r\n", length(trapName),
                      trapName.data(), length(identifier), identifier.data());
}

std::string unmappedVariableLine(std::string_view trapName, std::string_view variable) {
    return formatText("# %.*s: Cannot map %.*s to object identifier\r\n", length(trapName),
                      trapName.data(), length(variable), variable.data());
}

}  // namespace korvimo::traps
