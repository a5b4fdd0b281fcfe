#include "zorlet/mib_info_builder.h"

#include <algorithm>
#include <span>

#include "zorlet/identifier_order.h"
#include "zorlet/line_tokens.h"

namespace korvimo::zorlet {

namespace {

constexpr std::string_view kNameTag = "%en";
constexpr std::string_view kIndexTag = "%ei";
constexpr std::string_view kAugmentsTag = "%ea";
constexpr std::string_view kTrapTag = "%trap";
constexpr std::string_view kTypeTag = "%tc";
constexpr std::string_view kEnumerationTag = "%es";
constexpr std::string_view kModuleNameTag = "%MODULENAME";

// Tags as written to mibinfo.out: "%" and the tag padded, and the widths of the fields.
constexpr std::string_view kEnumerationLineTag = "%ev                 ";  // 20 characters
constexpr std::string_view kNameLineTag = "%en          ";                // tag and ten spaces
constexpr std::string_view kIndexLineTag = "%ei  ";                       // 5 characters
constexpr std::string_view kTrapLineTag = "%trap      ";                  // 11 characters
constexpr std::size_t kObjectIdWidth = 25;
constexpr std::size_t kObjectDescriptorWidth = 23;
constexpr std::size_t kBaseTypeWidth = 12;
constexpr std::size_t kEnumDescriptorWidth = 16;
constexpr std::size_t kEnumLabelWidth = 15;
constexpr std::size_t kNameIdWidth = 40;
constexpr std::size_t kNameDescriptorWidth = 23;
constexpr std::size_t kIndexIdWidth = 16;
constexpr std::size_t kTrapNameWidth = 16;
constexpr std::size_t kTrapIdWidth = 20;

constexpr std::string_view kProcessed = "Processed ";
constexpr std::string_view kProcessedIndex = "Processed index info: ";
constexpr std::string_view kProcessedAugments = "Processed augments info: ";
constexpr std::string_view kProcessedTrap = "Processed trap info: ";

// No identifier at or below "0.0" is ever written.
constexpr std::uint32_t kStartArcs[] = {0, 0};

std::string progressText(std::string_view prefix, std::string_view subject) {
    std::string text(prefix);
    text.append(subject);
    text.push_back('\r');
    return text;
}

}  // namespace

MibInfoBuilder::MibInfoBuilder(const CompilerOutput& input)
    : input_(input), resolver_(input), mapper_(input) {
    for (std::size_t i = 0; i < input.lineCount(); ++i) {
        if (input.directiveTag(i) == kIndexTag) {
            TokenSplit entry = takeToken(takeToken(input.line(i)).rest);
            indexLines_.emplace_back(entry.token, entry.rest);
        }
    }
}

void MibInfoBuilder::build(CrLfWriter& out, RunReport& report) {
    writeObjectSection(out, report);
    writeNameSection(out, report);
    writeDirectiveSection(out, report);
}

bool MibInfoBuilder::selectEntries(LineKind kind, std::size_t skip, std::vector<Entry>& entries,
                                   std::vector<std::size_t>& order, RunReport& report) {
    for (std::size_t i = 0; i < input_.lineCount(); ++i) {
        if (input_.kind(i) == kind) {
            TokenSplit identifier = takeToken(input_.line(i).substr(skip));
            entries.push_back(Entry{std::string(identifier.token), identifier.rest});
        }
    }
    // Entry i's arcs run from starts[i] to starts[i + 1].
    std::vector<std::uint32_t> arcs;
    std::vector<std::size_t> starts;
    starts.reserve(entries.size() + 1);
    for (Entry& entry : entries) {
        std::string symbolic = std::move(entry.identifier);
        if (!resolver_.resolve(symbolic, entry.identifier, report)) {
            return false;
        }
        starts.push_back(arcs.size());
        appendArcs(entry.identifier, arcs);
    }
    starts.push_back(arcs.size());
    auto arcsOf = [&](std::size_t i) {
        return std::span<const std::uint32_t>(arcs.data() + starts[i], starts[i + 1] - starts[i]);
    };
    std::vector<std::size_t> sorted(entries.size());
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        sorted[i] = i;
    }
    // Stable, so that of equal identifiers the first in input order comes first.
    std::stable_sort(sorted.begin(), sorted.end(), [&](std::size_t a, std::size_t b) {
        return compareArcs(arcsOf(a), arcsOf(b)) < 0;
    });
    std::span<const std::uint32_t> last(kStartArcs);
    for (std::size_t index : sorted) {
        if (compareArcs(arcsOf(index), last) > 0) {
            order.push_back(index);
            last = arcsOf(index);
        }
    }
    return true;
}

void MibInfoBuilder::writeObjectSection(CrLfWriter& out, RunReport& report) {
    std::vector<Entry> entries;
    std::vector<std::size_t> order;
    if (!selectEntries(LineKind::Object, 0, entries, order, report)) {
        return;
    }
    for (std::size_t index : order) {
        const Entry& entry = entries[index];
        TokenSplit descriptor = takeToken(entry.remainder);
        TokenSplit syntax = takeToken(descriptor.rest);
        if (!descriptor.found || !syntax.found) {
            return;
        }
        SyntaxMapping mapping;
        if (!mapper_.map(syntax.token, mapping, report)) {
            return;
        }
        out.writePadded(entry.identifier, kObjectIdWidth);
        out.write(" ");
        out.writePadded(descriptor.token, kObjectDescriptorWidth);
        out.write(" ");
        out.writePadded(mapping.baseType, kBaseTypeWidth);
        out.write(" ");
        std::string_view rest = syntax.rest;
        if (mapping.rangeAndMarker.find('(') != std::string_view::npos &&
            rest.find('(') == std::string_view::npos) {
            out.write(trimTrailingSpace(rest));
            out.write("  ");
            out.write(mapping.rangeAndMarker);
            out.write("\n");
        } else {
            out.writeLine(rest);
        }
        report.progress(kObjectProgressPadding, progressText(kProcessed, entry.identifier));
        if (!mapping.enumerationSource.empty()) {
            writeEnumerations(out, descriptor.token, mapping.enumerationSource);
        }
    }
}

void MibInfoBuilder::writeEnumerations(CrLfWriter& out, std::string_view descriptor,
                                       std::string_view source) {
    std::span<const std::string_view> texts = mapper_.enumerations(source);
    for (std::string_view text : texts) {
        out.write(kEnumerationLineTag);
        out.write(" ");
        out.writePadded(descriptor, kEnumDescriptorWidth);
        out.write(" ");
        out.writeLine(text);
    }
    if (!texts.empty()) {
        return;
    }
    for (const BuiltInEnumeration& e : SyntaxMapper::builtInEnumerations(source)) {
        out.write(kEnumerationLineTag);
        out.write(" ");
        out.writePadded(descriptor, kEnumDescriptorWidth);
        out.write(" ");
        out.writePadded(e.label, kEnumLabelWidth);
        out.write(" ");
        out.write(std::to_string(e.value));
        out.write("\n");
    }
}

void MibInfoBuilder::writeNameSection(CrLfWriter& out, RunReport& report) {
    // The entry is the line from its fourth character on, wherever "%en" stands in it.
    std::vector<Entry> entries;
    std::vector<std::size_t> order;
    if (!selectEntries(LineKind::Name, kNameTag.size(), entries, order, report)) {
        return;
    }
    for (std::size_t index : order) {
        const Entry& entry = entries[index];
        TokenSplit descriptor = takeToken(entry.remainder);
        if (!descriptor.found) {
            return;
        }
        out.write(kNameLineTag);
        out.writePadded(entry.identifier, kNameIdWidth);
        out.write(" ");
        out.writePadded(descriptor.token, kNameDescriptorWidth);
        out.write("\n");
        report.progress(kObjectProgressPadding, progressText(kProcessed, entry.identifier));
    }
}

void MibInfoBuilder::writeDirectiveSection(CrLfWriter& out, RunReport& report) {
    for (std::size_t i = 0; i < input_.lineCount(); ++i) {
        std::string_view tag = input_.directiveTag(i);
        if (tag.empty()) {
            continue;
        }
        std::string_view fields = takeToken(input_.line(i)).rest;
        if (tag == kIndexTag) {
            handleIndex(fields, out, report);
        } else if (tag == kAugmentsTag) {
            handleAugments(fields, out, report);
        } else if (tag == kTrapTag) {
            handleTrap(fields, out, report);
        } else if (tag == kTypeTag || tag == kEnumerationTag || tag == kModuleNameTag) {
            // Consulted while mapping syntaxes, or of no use to the readers.
        } else {
            out.writeLine(input_.line(i));
        }
    }
}

void MibInfoBuilder::writeIndexLine(CrLfWriter& out, std::string_view identifier,
                                    std::string_view clause) {
    out.write(kIndexLineTag);
    out.write(" ");
    out.writePadded(identifier, kIndexIdWidth);
    out.write(" ");
    out.writeLine(clause);
}

void MibInfoBuilder::handleIndex(std::string_view fields, CrLfWriter& out, RunReport& report) {
    TokenSplit entry = takeToken(fields);
    std::string identifier;
    if (!resolver_.resolve(entry.token, identifier, report)) {
        return;
    }
    writeIndexLine(out, identifier, entry.rest);
    report.progress(kDirectiveProgressPadding, progressText(kProcessedIndex, identifier));
}

MibInfoBuilder::IndexLookup MibInfoBuilder::findIndexClause(const std::vector<std::uint32_t>& entry,
                                                            std::string_view& clause,
                                                            RunReport& report) {
    // The "%ei" lines are resolved in input order only as far as a lookup needs. A line whose
    // entry cannot be resolved ends every scan that reaches it (with its message each time),
    // as it would end a scan of the input from its start.
    for (;;) {
        auto found = indexByEntry_.find(entry);
        if (found != indexByEntry_.end()) {
            clause = found->second;
            return IndexLookup::Found;
        }
        if (indexResolved_ == indexLines_.size()) {
            return IndexLookup::Missing;
        }
        const auto& [text, lineClause] = indexLines_[indexResolved_];
        std::string identifier;
        if (!resolver_.resolve(text, identifier, report)) {
            return IndexLookup::Broken;
        }
        std::vector<std::uint32_t> arcs;
        appendArcs(identifier, arcs);
        indexByEntry_.emplace(std::move(arcs), lineClause);
        ++indexResolved_;
    }
}

void MibInfoBuilder::handleAugments(std::string_view fields, CrLfWriter& out, RunReport& report) {
    TokenSplit augmenting = takeToken(fields);
    std::string augmentingId;
    if (!resolver_.resolve(augmenting.token, augmentingId, report)) {
        return;
    }
    std::string_view augmented = trimSpace(augmenting.rest);
    std::string augmentedId;
    if (!resolver_.resolve(augmented, augmentedId, report)) {
        return;
    }
    std::vector<std::uint32_t> arcs;
    appendArcs(augmentedId, arcs);
    std::string_view clause;
    IndexLookup lookup = findIndexClause(arcs, clause, report);
    if (lookup == IndexLookup::Missing) {
        report.error(formatMessage(kCannotFindIndex, augmented));
    }
    if (lookup != IndexLookup::Found) {
        return;
    }
    writeIndexLine(out, augmentingId, clause);
    report.progress(kDirectiveProgressPadding, progressText(kProcessedAugments, augmentingId));
}

void MibInfoBuilder::handleTrap(std::string_view fields, CrLfWriter& out, RunReport& report) {
    TokenSplit name = takeToken(fields);
    TokenSplit identifierText = takeToken(name.rest);
    std::string identifier;
    if (!resolver_.resolve(identifierText.token, identifier, report)) {
        return;
    }
    out.write(kTrapLineTag);
    out.write(" ");
    out.writePadded(name.token, kTrapNameWidth);
    out.write(" ");
    out.writePadded(identifier, kTrapIdWidth);
    out.write(" ");
    out.writeLine(identifierText.rest);
    report.progress(kDirectiveProgressPadding, progressText(kProcessedTrap, name.token));
}

}  // namespace korvimo::zorlet
