#include "create/variable_file_creation.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <optional>

#include "app/core/status_list.h"
#include "base/text.h"
#include "store/control_line.h"
#include "store/load_checks.h"
#include "store/value_expression.h"

namespace korvimo::create {

namespace {

using mibinfo::Record;
using mibinfo::RecordKind;

// Sub-identifiers a name of the store has at most.
constexpr std::size_t kMaxNameArcs = 128;


// Whether the control file reader takes the descriptor as a name: letters, digits, "_", "-".
bool readableDescriptor(std::string_view descriptor) {
    return std::all_of(descriptor.begin(), descriptor.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '-';
    });
}

// The format with its "%s" filled by the texts in turn; the texts are taken as they are.
std::string filled(std::string_view format, std::initializer_list<std::string_view> texts) {
    std::string line;
    auto text = texts.begin();
    std::size_t at = 0;
    while (at < format.size()) {
        const std::size_t mark = format.find("%s", at);
        if (mark == std::string_view::npos || text == texts.end()) {
            line.append(format.substr(at));
            break;
        }
        line.append(format.substr(at, mark - at));
        line.append(*text++);
        at = mark + 2;
    }
    return line;
}

void appendPadded(std::string& out, std::string_view text, std::size_t width) {
    out.append(text);
    if (text.size() < width) {
        out.append(width - text.size(), ' ');
    }
}

std::vector<std::string_view> blankWords(std::string_view text) {
    std::vector<std::string_view> words;
    std::string_view word;
    while (takeWord(text, word, text)) {
        words.push_back(word);
    }
    return words;
}

std::size_t arcCount(std::string_view dotted) {
    if (dotted.empty()) {
        return 0;
    }
    std::size_t count = 1;
    for (char c : dotted) {
        count += c == '.' ? 1 : 0;
    }
    return count;
}

// Dotted decimal texts compared arc by arc as numbers, a proper prefix first.
int compareDotted(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        uint64_t x = 0;
        uint64_t y = 0;
        for (; i < a.size() && a[i] != '.'; ++i) {
            x = x * 10 + static_cast<uint64_t>(a[i] - '0');
        }
        for (; j < b.size() && b[j] != '.'; ++j) {
            y = y * 10 + static_cast<uint64_t>(b[j] - '0');
        }
        if (x != y) {
            return x < y ? -1 : 1;
        }
        ++i;
        ++j;
    }
    const bool aLeft = i < a.size();
    const bool bLeft = j < b.size();
    return aLeft == bLeft ? 0 : (aLeft ? 1 : -1);
}

// The last n arcs of a dotted text (all of them when it has fewer).
std::vector<std::string_view> lastArcs(std::string_view dotted, std::size_t n) {
    std::vector<std::string_view> arcs;
    std::size_t end = dotted.size();
    while (arcs.size() < n && !dotted.empty()) {
        const std::size_t dot = dotted.rfind('.', end == 0 ? 0 : end - 1);
        const std::size_t start = dot == std::string_view::npos ? 0 : dot + 1;
        arcs.insert(arcs.begin(), dotted.substr(start, end - start));
        if (dot == std::string_view::npos) {
            break;
        }
        end = dot;
    }
    return arcs;
}

// The fixed value of the last index column, from the end of the row's instance.
std::string lastIndexValue(std::string_view type, int fixedSize, std::string_view instance) {
    std::size_t count = 1;
    const bool octets = type == "OctetString";
    if (type == "IpAddress" || type == "NetworkAddress") {
        count = 4;
    } else if (type == "ObjectID") {
        count = 3;
    } else if (octets) {
        count = fixedSize > 0 ? static_cast<std::size_t>(fixedSize) : 3;
    }
    const std::vector<std::string_view> arcs = lastArcs(instance, count);
    std::string value;
    // An arc past 255 is no octet: the value then shows the arcs as they stand.
    const bool octetArcs = std::all_of(arcs.begin(), arcs.end(),
                                       [](std::string_view arc) {
                                           return arc.size() < 3 || (arc.size() == 3 && arc <= "255");
                                       });
    if (octets && octetArcs) {
        value = "0x";
        for (std::string_view arc : arcs) {
            unsigned long number = 0;
            for (char c : arc) {
                number = number * 10 + static_cast<unsigned long>(c - '0');
            }
            char hex[24];
            std::snprintf(hex, sizeof hex, "%02lx", number);
            value += hex;
        }
        return value;
    }
    for (std::size_t i = 0; i < arcs.size(); ++i) {
        if (i > 0) {
            value += '.';
        }
        value.append(arcs[i]);
    }
    return value;
}

// Whether an object identifier value text can be carried by an SNMP message: BER encodes
// its first two arcs as one (first 0, 1 or 2; the second below 40 unless the first is 2).
// The store reads such text as it stands, and a response holding it cannot be encoded.
bool encodableIdentifier(std::string_view text) {
    const std::size_t dot = text.find('.');
    if (dot == std::string_view::npos) {
        return true;  // the store serves text of fewer than two arcs as 0.0
    }
    uint64_t first = 0;
    for (char c : text.substr(0, dot)) {
        first = first * 10 + static_cast<uint64_t>(c - '0');
    }
    uint64_t second = 0;
    for (char c : text.substr(dot + 1)) {
        if (c < '0' || c > '9' || second > 100) {
            break;
        }
        second = second * 10 + static_cast<uint64_t>(c - '0');
    }
    return first < 2 ? second < 40 : first == 2;
}

// The value text of fixed(...), dfixed(...) and lastset(...); empty for other behaviours.
std::string_view valueText(std::string_view behaviour) {
    if (!behaviour.starts_with("fixed(") && !behaviour.starts_with("dfixed(") &&
        !behaviour.starts_with("lastset(")) {
        return {};
    }
    const std::size_t open = behaviour.find('(');
    const std::size_t close = behaviour.rfind(')');
    return close == std::string_view::npos || close <= open
               ? std::string_view()
               : behaviour.substr(open + 1, close - open - 1);
}

}  // namespace

long rowCount(std::string_view text) {
    text = text.substr(0, 9);
    std::size_t i = 0;
    while (i < text.size() && (isBlank(text[i]) || text[i] == '\n' || text[i] == '\r')) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
    }
    return negative ? -value : value;
}

void appendVariableLine(std::string& out, std::string_view name, std::string_view type,
                        std::string_view access, std::string_view behaviour) {
    appendPadded(out, name, 30);
    out += ", ";
    appendPadded(out, type, 12);
    out += ", ";
    appendPadded(out, access, 3);
    out += ", ";
    out.append(behaviour);
    out += "\r\n";
}

VariableFileCreation::VariableFileCreation(std::shared_ptr<const mibinfo::MibInfo> mib,
                                           Settings settings, Reporter reporter)
    : mib_(std::move(mib)),
      settings_(settings),
      reporter_(std::move(reporter)),
      templatePhase_(settings.templates),
      mapper_(std::in_place, *mib_) {}

void VariableFileCreation::writeHeader(const std::vector<std::string>* mibs,
                                       std::string& out) const {
    out += kRuleLine;
    if (mibs == nullptr) {
        return;
    }
    out += "# List of MIBs used to create the variables:\r\n";
    for (const std::string& name : *mibs) {
        out += "#                     ";
        out += name;
        out += "\r\n";
    }
    char rows[64];
    std::snprintf(rows, sizeof rows, "# Number of Rows:     %ld\r\n", settings_.rows);
    out += rows;
    out += valueFormatsBlock();
    out += kRuleLine;
}

bool VariableFileCreation::step(std::string& out) {
    if (finished_) {
        return false;
    }
    if (templatePhase_) {
        templateStep(out);
        return true;
    }
    if (column_) {
        writeRows(out);
        return true;
    }
    const std::span<const Record> records = mib_->records();
    while (position_ < records.size() && records[position_].kind != RecordKind::Object) {
        ++position_;
    }
    if (position_ >= records.size()) {
        finished_ = true;
        if (mended_ > kMendLineLimit && reporter_.append) {
            char line[128];
            std::snprintf(line, sizeof line, kMendMoreFormat,
                          static_cast<unsigned long>(mended_ - kMendLineLimit));
            reporter_.append(line);
        }
        return false;
    }
    objectStep(position_++, out);
    return true;
}

VariableFileCreation::EntryFacts& VariableFileCreation::entry(
    std::string_view entryIdentifier) {
    auto found = entries_.find(entryIdentifier);
    if (found != entries_.end()) {
        return found->second;
    }
    EntryFacts& facts = entries_[entryIdentifier];
    std::string_view clause;
    if (!mib_->indexClause(entryIdentifier, clause)) {
        return facts;
    }
    facts.hasClause = true;
    facts.indexText = clause.size() >= 2 ? clause.substr(1, clause.size() - 2) : std::string_view();
    const std::vector<std::string_view> words = blankWords(facts.indexText);
    for (std::string_view word : words) {
        facts.names.push_back(word.starts_with('*') ? word.substr(1) : word);
    }
    for (std::size_t n = 0; n < words.size(); ++n) {
        const bool implied = words[n].starts_with('*');
        const std::string_view name = facts.names[n];
        const Record* line = mib_->firstObjectWithDescriptor(name);
        if (line == nullptr) {
            facts.missing = name;
            break;
        }
        const ObjectRecord index = objectRecord(*line);
        IndexPart part;
        part.name = name;
        part.type = index.type;
        part.last = n + 1 == words.size();
        std::string description;
        const bool fixedSize = index.type == "OctetString" && index.hasRange &&
                               index.low == index.high && index.low > 0;
        if (fixedSize && arcCount(entryIdentifier) + 1 + arcCount(facts.instance) +
                                 static_cast<std::size_t>(index.low) >
                             kMaxNameArcs) {
            // Names past the store's longest: the instance is not built.
            facts.tooLong = true;
            facts.description += facts.parts.empty() ? "os1...os" : ".os1...os";
            facts.description += std::to_string(index.low);
            break;
        }
        if (fixedSize) {
            part.fixedSize = index.low;
            for (int32_t i = 1; i <= index.low; ++i) {
                const std::string number = std::to_string(i);
                part.value += (i > 1 ? "." : "") + number;
                description += (i > 1 ? ".os" : "os") + number;
            }
        } else if (index.type == "OctetString") {
            part.value = implied ? "97.98.99" : "3.97.98.99";
            description = implied ? "os1.os2.osn" : "len.os1.os2.osn";
        } else if (index.type == "ObjectID") {
            part.value = implied ? "1.2.3" : "3.1.2.3";
            description = implied ? "sid1.sid2.sidn" : "len.sid1.sid2.sidn";
        } else if (index.type == "IpAddress") {
            part.value = "1.2.3.4";
            description = "ip1.ip2.ip3.ip4";
        } else if (index.type == "NetworkAddress") {
            part.value = "1.2.3.4";
            description = "1.ip1.ip2.ip3.ip4";
        } else {
            part.value = "1";
            description = "n";
        }
        const bool first = facts.parts.empty();
        facts.instance += first ? "" : ".";
        facts.instance += index.type == "NetworkAddress" ? "1.1.2.3.4" : part.value;
        facts.description += first ? "" : ".";
        facts.description += description;
        facts.parts.push_back(std::move(part));
    }
    // The rows count on the instance's last arc: one that is an octet stops at 255.
    if (!facts.parts.empty() && !facts.tooLong) {
        const std::string_view type = facts.parts.back().type;
        if (type == "OctetString" || type == "IpAddress" || type == "NetworkAddress") {
            const std::size_t dot = facts.instance.rfind('.');
            long lastArc = 0;
            for (char c : facts.instance.substr(dot == std::string::npos ? 0 : dot + 1)) {
                lastArc = std::min(lastArc * 10 + (c - '0'), 256L);
            }
            facts.lastRow = 256 - lastArc;
        }
    }
    return facts;
}

std::string VariableFileCreation::behaviourOf(const ObjectRecord& object) const {
    return valueBehaviour(object, initialValue(object, object.descriptor));
}

void VariableFileCreation::mendLine(const std::string& text) {
    ++mended_;
    if (mended_ <= kMendLineLimit && reporter_.append) {
        reporter_.append(text);
    }
}

bool VariableFileCreation::refusedValue(const ObjectRecord& object, const std::string& behaviour,
                                        std::string& why) const {
    const uint8_t syntax = store::syntaxCode(object.type);
    if (!store::expressionFitsSyntax(behaviour, syntax)) {
        why = "the agent refuses " + behaviour + " for syntax " + std::string(object.type);
        return true;
    }
    if (object.type == "ObjectID" && !encodableIdentifier(valueText(behaviour))) {
        why = std::string(valueText(behaviour)) +
              " is no object identifier an SNMP message can carry";
        return true;
    }
    std::vector<store::Finding> findings;
    store::checkExpression(behaviour, syntax, object.type, findings);
    if (!findings.empty()) {
        why = findings.front().detail;
        return true;
    }
    return false;
}

// Whether the store would map the object's name to the object's own identifier, after every
// line written so far, and find its lines after them. The mapper goes on only for lines
// that are written as variables.
bool VariableFileCreation::nameServed(const Record& record, std::string_view firstInstance,
                                      std::string& why) {
    mibinfo::DescriptorMapper trial = *mapper_;
    std::string numeric;
    if (record.descriptor.empty() || !trial.map(record.descriptor, numeric)) {
        why = filled(kMendUnmappedFormat, {record.identifier});
        return false;
    }
    if (numeric != record.identifier) {
        why = filled(kMendDescriptorFormat, {record.descriptor, numeric});
        return false;
    }
    std::string first = numeric;
    first += '.';
    first.append(firstInstance);
    if (!lastName_.empty() && compareDotted(first, lastName_) <= 0) {
        why = filled(kMendOrderFormat, {record.descriptor});
        return false;
    }
    if (arcCount(first) > kMaxNameArcs) {
        why = filled(kMendLongNameFormat, {record.descriptor});
        return false;
    }
    mapper_.emplace(trial);
    return true;
}

void VariableFileCreation::objectStep(std::size_t position, std::string& out) {
    const Record& record = mib_->records()[position];
    const ObjectRecord object = objectRecord(record);
    if (reporter_.progress) {
        reporter_.progress(filled(kProcessingFormat, {object.descriptor}));
    }
    if (object.scalar()) {
        const std::string behaviour = behaviourOf(object);
        std::string name(object.descriptor);
        name += ".0";
        std::string why;
        bool served = true;
        if (!readableDescriptor(object.descriptor)) {
            why = filled(kMendCharactersFormat, {record.identifier});
            served = false;
        } else if (refusedValue(object, behaviour, why)) {
            why = filled(kMendValueFormat, {name, why});
            served = false;
        } else {
            served = nameServed(record, "0", why);
        }
        if (!served) {
            mendLine(why);
            out += "# ";
        } else {
            lastName_.assign(record.identifier);
            lastName_ += ".0";
        }
        appendVariableLine(out, name, object.type, object.access, behaviour);
        return;
    }
    writeColumn(record, object, out);
}

void VariableFileCreation::writeColumn(const Record& record, const ObjectRecord& object,
                                       std::string& out) {
    const std::string_view identifier = record.identifier;
    const std::size_t dot = identifier.rfind('.');
    const std::string_view entryIdentifier =
        dot == std::string_view::npos ? std::string_view() : identifier.substr(0, dot);
    EntryFacts& facts = entry(entryIdentifier);
    if (!facts.missing.empty() && !facts.missingReported && reporter_.append) {
        facts.missingReported = true;  // once for the table, not for each of its columns
        reporter_.append(filled(kNoObjectInfoFormat, {facts.missing}));
    }
    out += "# columnar variable ";
    out.append(object.descriptor);
    out += ". Index = ";
    out.append(facts.indexText);
    out += "\r\n# sub ids in the instance are = ";
    out += facts.description;
    out += "\r\n";
    if (settings_.rows < 1) {
        return;
    }
    if (facts.tooLong) {
        mendLine(filled(kMendLongNameFormat, {object.descriptor}));
        out += "# no rows: their names would have more than 128 sub-identifiers\r\n";
        return;
    }

    column_ = ColumnRun{};
    ColumnRun& run = *column_;
    run.record = &record;
    run.facts = &facts;
    run.entryIdentifier = entryIdentifier;
    run.object = object;
    // The index object this column is, if any: the last of the clause's names it matches.
    for (const IndexPart& part : facts.parts) {
        if (part.name == object.descriptor) {
            run.own = &part;
        }
    }
    if (run.own == nullptr) {
        run.behaviour = behaviourOf(object);
    }

    // Every row differs in the last arc of the instance only.
    const std::string_view base = facts.instance;
    run.named = !base.empty();
    const std::size_t lastDot = base.rfind('.');
    run.prefix = lastDot == std::string_view::npos ? std::string_view() : base.substr(0, lastDot + 1);
    for (char c : base.substr(lastDot == std::string_view::npos ? 0 : lastDot + 1)) {
        run.lastArc = run.lastArc * 10 + static_cast<uint64_t>(c - '0');
    }

    std::string why;
    if (!readableDescriptor(object.descriptor)) {
        why = filled(kMendCharactersFormat, {record.identifier});
        run.served = false;
    } else if (base.empty()) {
        why = filled(kMendNoInstanceFormat, {object.descriptor});
        run.served = false;
    } else if (run.own == nullptr && refusedValue(object, run.behaviour, why)) {
        why = filled(kMendValueFormat, {object.descriptor, why});
        run.served = false;
    } else {
        run.served = nameServed(record, base, why);
    }
    if (!run.served) {
        mendLine(why);
    }
    writeRows(out);
}

void VariableFileCreation::writeRows(std::string& out) {
    ColumnRun& run = *column_;
    const ObjectRecord& object = run.object;
    const IndexPart* own = run.own;
    const long last =
        run.nextRow + std::min<long>(settings_.rows - run.nextRow, kRowsPerStep - 1);
    std::string why;
    std::string name;
    std::string value;
    for (long row = run.nextRow; row <= last; ++row) {
        name.assign(object.descriptor);
        name += '.';
        if (run.named) {
            name.append(run.prefix);
            name += std::to_string(run.lastArc + static_cast<uint64_t>(row - 1));
        }
        const std::string_view instance = std::string_view(name).substr(object.descriptor.size() + 1);
        bool comment = !run.served;
        const std::string* shown = &run.behaviour;
        if (own != nullptr) {
            value = "fixed(";
            value += own->last ? lastIndexValue(own->type, own->fixedSize, instance) : own->value;
            value += ')';
            shown = &value;
            if (run.served && row <= run.facts->lastRow && refusedValue(object, value, why)) {
                comment = true;
                if (!run.valueMended) {
                    run.valueMended = true;
                    mendLine(filled(kMendValueFormat, {name, why}));
                }
            }
        }
        // An octet of a string or address index cannot pass 255, while the rows count on.
        if (run.served && row > run.facts->lastRow) {
            comment = true;
            if (!run.facts->pastMended) {
                run.facts->pastMended = true;
                mendLine(filled(kMendPastOctetFormat,
                                {run.entryIdentifier, std::to_string(run.facts->lastRow)}));
            }
        }
        if (comment) {
            out += "# ";
        } else {
            lastName_.assign(run.record->identifier);
            lastName_ += '.';
            lastName_.append(instance);
        }
        appendVariableLine(out, name, object.type, object.access, *shown);
    }
    run.nextRow = last + 1;
    if (run.nextRow > settings_.rows) {
        column_.reset();
    }
}

void VariableFileCreation::templateStep(std::string& out) {
    const std::span<const Record> records = mib_->records();
    auto objectAt = [&](std::size_t at) { return records[at].kind == RecordKind::Object; };
    while (position_ < records.size() &&
           !(objectAt(position_) && objectRecord(records[position_]).firstColumn())) {
        ++position_;
    }
    if (position_ >= records.size()) {
        position_ = 0;
        templatePhase_ = false;
        return;
    }
    const std::size_t first = position_;
    const ObjectRecord firstColumn = objectRecord(records[first]);
    bool rowStatus = firstColumn.marker == 'r';
    bool writable = firstColumn.writable();
    std::size_t end = first + 1;  // the record that ends the table, or the end of the file
    for (; end < records.size(); ++end) {
        if (!objectAt(end)) {
            continue;
        }
        const ObjectRecord column = objectRecord(records[end]);
        if (column.firstColumn() || column.kind.starts_with('S')) {
            break;
        }
        rowStatus = rowStatus || column.marker == 'r';
        writable = writable || column.writable();
    }
    if (!writable) {
        position_ = end;
        return;
    }

    const std::string_view identifier = firstColumn.identifier;
    const std::size_t dot = identifier.rfind('.');
    const std::string_view entryIdentifier =
        dot == std::string_view::npos ? std::string_view() : identifier.substr(0, dot);
    if (reporter_.progress) {
        reporter_.progress(filled(kCreatingTemplateFormat, {firstColumn.descriptor}));
    }
    out += "# template for dynamic row. To use, please remove the starting hash signs\r\n";
    out += "#%drow  ";
    out.append(entryIdentifier);
    out += rowStatus ? "   rowstatus\r\n" : "   newinstance\r\n";

    std::string_view actionName;
    std::string_view actionType;
    const EntryFacts& facts = entry(entryIdentifier);
    if (!facts.hasClause) {
        out += "# no instance info available\r\n";
        position_ = first + 1;
    } else {
        // The set action names the last read-write or read-create column; failing those, the
        // last writable one (write-only).
        std::string_view writableName;
        std::string_view writableType;
        for (std::size_t at = first; at < end; ++at) {
            if (!objectAt(at)) {
                continue;
            }
            const ObjectRecord column = objectRecord(records[at]);
            bool index = false;
            for (std::string_view name : facts.names) {
                index = index || name == column.descriptor;
            }
            std::string value = behaviourOf(column);
            if (index) {
                const std::size_t open = value.find('(');
                value = "dfixed" + (open == std::string::npos ? std::string() : value.substr(open));
            }
            out += "#%dcol  ";
            appendPadded(out, column.descriptor, 25);
            out += ' ';
            appendPadded(out, index ? "NotReq" : "Req", 6);
            out += ' ';
            appendPadded(out, column.type, 12);
            out += ' ';
            appendPadded(out, column.access, 2);
            out += ' ';
            out += value;
            out += "\r\n";
            const std::string_view access = std::string_view(column.access).substr(0, 2);
            if (access == "RW" || access == "RC") {
                actionName = column.descriptor;
                actionType = column.type;
            }
            if (column.writable()) {
                writableName = column.descriptor;
                writableType = column.type;
            }
        }
        if (actionName.empty()) {
            actionName = writableName;
            actionType = writableType;
        }
        position_ = end;
    }
    if (!rowStatus) {
        out += "#%setaction ";
        appendPadded(out, actionName, 21);
        out += ' ';
        appendPadded(out, actionType, 12);
        out += " <specify value> deleterow()\r\n";
    }
    out += "#\r\n#\r\n";
}

}  // namespace korvimo::create
