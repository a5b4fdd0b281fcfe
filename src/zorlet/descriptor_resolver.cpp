#include "zorlet/descriptor_resolver.h"

#include <unordered_set>
#include <utility>
#include <vector>

#include "zorlet/line_tokens.h"

namespace korvimo::zorlet {

namespace {

constexpr std::string_view kNameTag = "%en";

// Identifiers the system knows whatever the input says.
struct FixedIdentifier {
    std::string_view descriptor;
    std::string_view identifier;
};
constexpr FixedIdentifier kFixedIdentifiers[] = {
    {"snmpTraps", "1.3.6.1.6.3.1.1.5"},
    {"sysUpTime", "1.3.6.1.2.1.1.3"},
};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

DescriptorResolver::DescriptorResolver(const CompilerOutput& input) {
    for (std::size_t i = 0; i < input.lineCount(); ++i) {
        std::string_view line = input.line(i);
        if (input.kind(i) != LineKind::Name || line.substr(0, kNameTag.size()) != kNameTag) {
            continue;
        }
        TokenSplit identifier = takeToken(line.substr(kNameTag.size()));
        TokenSplit descriptor = takeToken(identifier.rest);
        if (!identifier.found || !descriptor.found) {
            // A lookup scan stops at such a line, so nothing after it can be found.
            break;
        }
        definitions_.emplace(descriptor.token, identifier.token);
    }
}

bool DescriptorResolver::resolve(std::string_view text, std::string& numeric, RunReport& report) {
    if (!text.empty() && isDigit(text[0])) {
        numeric.assign(text);
        return true;
    }
    std::size_t dot = text.find('.');
    std::string_view descriptor = text.substr(0, dot);
    std::string_view suffix = dot == std::string_view::npos ? std::string_view{} : text.substr(dot);
    std::string_view failing;
    if (!resolveDescriptor(descriptor, numeric, failing)) {
        report.error(formatMessage(kCannotMapDescriptor, failing));
        return false;
    }
    numeric.append(suffix);
    return true;
}

bool DescriptorResolver::resolveDescriptor(std::string_view descriptor, std::string& numeric,
                                           std::string_view& failing) {
    // Follow the chain of definitions without recursion: each link says "my identifier is
    // the next one's followed by this suffix".
    std::vector<std::pair<std::string_view, std::string_view>> chain;
    std::unordered_set<std::string_view> visited;
    std::string_view current = descriptor;
    std::string base;
    for (;;) {
        auto known = resolved_.find(current);
        if (known != resolved_.end()) {
            base = known->second;
            break;
        }
        bool fixed = false;
        for (const FixedIdentifier& f : kFixedIdentifiers) {
            if (current == f.descriptor) {
                base.assign(f.identifier);
                fixed = true;
            }
        }
        if (fixed) {
            break;
        }
        auto definition = definitions_.find(current);
        if (definition == definitions_.end() || !visited.insert(current).second) {
            failing = current;
            return false;
        }
        std::string_view field = definition->second;
        if (isDigit(field[0])) {
            chain.emplace_back(definition->first, std::string_view{});
            base.assign(field);
            break;
        }
        std::size_t dot = field.find('.');
        chain.emplace_back(definition->first,
                           dot == std::string_view::npos ? std::string_view{} : field.substr(dot));
        current = field.substr(0, dot);
    }
    for (std::size_t i = chain.size(); i-- > 0;) {
        base.append(chain[i].second);
        resolved_.emplace(chain[i].first, base);
    }
    numeric = std::move(base);
    return true;
}

}  // namespace korvimo::zorlet
