#include "store/dynamic_rows.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "mibinfo/lines.h"
#include "snmp/ber.h"
#include "store/attribute_file.h"
#include "store/control_line.h"
#include "store/instance_range.h"
#include "store/load_checks.h"
#include "store/status_report.h"
#include "store/value_expression.h"

namespace korvimo::store {

namespace {

std::span<const uint32_t> idsOf(const snmp::ObjectId& oid) {
    return {oid.ids.data(), oid.ids.size()};
}

// Whether prefix starts name and name is longer.
bool isProperPrefix(std::span<const uint32_t> prefix, std::span<const uint32_t> name) {
    return prefix.size() < name.size() && std::equal(prefix.begin(), prefix.end(), name.begin());
}

// Parses a mapped column name into its identifier; false (with a status line) when it is not
// a plain numeric identifier.
bool parseColumnName(const std::string& numeric, long number, std::string_view written,
                     snmp::ObjectId& identifier, Reporter& reporter) {
    InstanceRange range;
    const char* why = nullptr;
    if (!range.parse(numeric, why) || range.hasRange() || range.componentCount() < 2) {
        reporter.error(number, kBadIdentifierMessage, number, quoted(written).c_str(),
                       why != nullptr ? why : kNameNotNumericText);
        return false;
    }
    range.first();
    identifier.ids = range.current();
    return true;
}

bool mapName(std::string_view written, long number, mibinfo::DescriptorMapper& mapper,
             std::string& numeric, Reporter& reporter) {
    if (mapper.map(written, numeric)) {
        return true;
    }
    reporter.error(number, kCannotMapMessage, quoted(written).c_str(), number);
    reporter.adviseAfterLastError(kCompileMibMessage);
    return false;
}

// Where one index object stands in a suffix: its run of sub-identifiers [begin, end) and
// where the next object starts.
struct IndexRun {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::size_t next = 0;
};

bool octetsFit(std::span<const uint32_t> suffix, std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
        if (suffix[i] > 255) {
            return false;
        }
    }
    return true;
}

// Reads the object at position p of the suffix; false when the suffix cannot hold it.
bool readIndexObject(const IndexObject& object, std::span<const uint32_t> suffix, std::size_t p,
                     IndexRun& run) {
    const std::size_t size = suffix.size();
    switch (object.type) {
        case IndexType::FixedOctets:
            run = {p, p + object.size, p + object.size};
            break;
        case IndexType::VariableOctets:
        case IndexType::ObjectId:
            if (object.implied) {
                run = {p, size, size};
            } else {
                if (p >= size) {
                    return false;
                }
                const uint64_t length = suffix[p];
                if (length > size - p - 1) {
                    return false;
                }
                run = {p + 1, p + 1 + static_cast<std::size_t>(length),
                       p + 1 + static_cast<std::size_t>(length)};
            }
            break;
        case IndexType::IpAddress:
            run = {p, p + 4, p + 4};
            break;
        case IndexType::NetworkAddress:
            run = {p + 1, p + 5, p + 5};
            break;
        default:
            run = {p, p + 1, p + 1};
            break;
    }
    if (run.next > size) {
        return false;
    }
    const bool octets =
        object.type == IndexType::FixedOctets || object.type == IndexType::VariableOctets ||
        object.type == IndexType::IpAddress || object.type == IndexType::NetworkAddress;
    return !octets || octetsFit(suffix, run.begin, run.end);
}

uint64_t packAddress(std::span<const uint32_t> parts) {
    return (static_cast<uint64_t>(parts[0]) << 24) | (static_cast<uint64_t>(parts[1]) << 16) |
           (static_cast<uint64_t>(parts[2]) << 8) | parts[3];
}

bool valuesEqual(const snmp::SyntaxValue& a, const snmp::SyntaxValue& b) {
    if (a.syntax != b.syntax) {
        return false;
    }
    switch (a.syntax) {
        case snmp::kTagInteger:
        case snmp::kTagCounter:
        case snmp::kTagGauge:
        case snmp::kTagTimeTicks:
            return a.number == b.number;
        case snmp::kTagOctetString:
        case snmp::kTagOpaque:
        case snmp::kTagIpAddress:
            return a.octets.bytes == b.octets.bytes;
        case snmp::kTagObjectId:
            return a.oid.ids == b.oid.ids;
        case snmp::kTagNull:
            return true;
        default:
            return false;
    }
}

}  // namespace

namespace {

const std::shared_ptr<const RowSchema>& emptySchema() {
    static const std::shared_ptr<const RowSchema> empty = std::make_shared<const RowSchema>();
    return empty;
}

}  // namespace

DynamicRows::DynamicRows(ValueSlots& slots) : slots_(slots), schema_(emptySchema()) {}

void DynamicRows::release() {
    for (InstanceTable& instances : instances_) {
        for (auto& [suffix, instance] : instances) {
            slots_.release(instance.ordinal);
        }
    }
    std::vector<InstanceTable>().swap(instances_);
    building_.reset();
    schema_ = emptySchema();
    lastNext_ = WalkPosition{};
    clearRequestMemo();
}

RowSchema& DynamicRows::building() {
    if (building_ == nullptr) {
        building_ = std::make_shared<RowSchema>();
        schema_ = building_;
    }
    return *building_;
}

std::shared_ptr<RowSchema> DynamicRows::finishLoading() {
    std::shared_ptr<RowSchema> built = std::move(building_);
    if (built == nullptr) {
        return std::make_shared<RowSchema>();  // a file without dynamic rows
    }
    built->listed = std::move(instances_);
    instances_.clear();
    return built;
}

void DynamicRows::adopt(std::shared_ptr<const RowSchema> schema,
                        std::vector<InstanceTable>&& listed) {
    release();
    if (schema != nullptr) {
        instances_ = std::move(listed);
        schema_ = std::move(schema);
    }
}

void DynamicRows::attach(std::shared_ptr<const RowSchema> schema) {
    release();
    if (schema != nullptr) {
        instances_ = schema->listed;
        schema_ = std::move(schema);
    }
}

bool DynamicRows::loadDirectives(std::string_view controlText, mibinfo::DescriptorMapper& mapper,
                                 Reporter& reporter) {
    ControlLines lines(controlText);
    std::string_view line;
    uint32_t group = 0;
    RowKind kind = RowKind::None;
    uint32_t previousGroup = 0;
    // A row group whose index information is missing: its other columns are passed over
    // without a message of their own.
    uint32_t groupWithoutShape = 0;
    bool ok = true;
    while (lines.next(line)) {
        if (lineKind(line) != LineKind::Directive || isOverlong(line)) {
            continue;  // an overlong line is an error of the syntax check
        }
        const Directive directive = directiveOf(line);
        if (directive == Directive::Row) {
            std::string_view words[2];
            std::string_view rest;
            // A row lacking its kind still opens a group, so its columns are read and
            // checked as well.
            if (!splitDirective(line, 2, words, rest)) {
                reporter.error(lines.number(), kShortDirectiveMessage, lines.number());
                ok = false;
            }
            ++group;
            kind = words[1] == "newinstance" ? RowKind::NewInstance
                   : words[1] == "rowstatus" ? RowKind::RowStatus
                                             : RowKind::None;
            building().groups.resize(group + 1);
        } else if (directive == Directive::Column) {
            if (group == 0) {
                reporter.error(lines.number(), kColumnBeforeRowMessage, lines.number());
                ok = false;
                continue;
            }
            if (group == groupWithoutShape) {
                continue;
            }
            bool shapeMissing = false;
            if (!loadColumn(line, lines.number(), group, kind, group != previousGroup, mapper,
                            reporter, shapeMissing)) {
                ok = false;
                if (shapeMissing) {
                    groupWithoutShape = group;
                }
                continue;
            }
            previousGroup = group;
        } else if (directive == Directive::SetAction) {
            ok = loadSetAction(line, lines.number(), mapper, reporter) && ok;
        }
    }
    return sortColumns(reporter) && ok;
}

bool DynamicRows::loadColumn(std::string_view line, long number, uint32_t group, RowKind kind,
                             bool newGroup, mibinfo::DescriptorMapper& mapper, Reporter& reporter,
                             bool& shapeMissing) {
    std::string_view words[4];
    std::string_view rest;
    if (!splitDirective(line, 4, words, rest)) {
        reporter.error(number, kShortDirectiveMessage, number);
        return false;
    }
    DynamicColumn column;
    column.rowGroup = group;
    column.rowKind = kind;
    column.required = words[1].substr(0, 3) == "Req";
    column.syntax = syntaxCode(words[2]);
    column.syntaxWord.assign(words[2]);
    column.access = accessCode(words[3]);
    column.defaultValue.assign(rest);
    column.nameAsWritten.assign(words[0]);
    column.line = number;
    if (!mapName(words[0], number, mapper, column.identifierText, reporter) ||
        !parseColumnName(column.identifierText, number, words[0], column.identifier, reporter)) {
        return false;
    }
    column.identifierText = identifierText(idsOf(column.identifier));
    if (!expressionFitsSyntax(rest, column.syntax)) {
        reporter.error(number, kBehaviourSyntaxMessage, number, quoted(rest).c_str(),
                       quoted(words[2]).c_str());
        return false;
    }
    if (newGroup) {
        IndexShape shape;
        if (!fetchShape(column, mapper.mibInfo(), shape)) {
            std::string name = column.nameAsWritten;
            std::vector<char> text(name.size() + std::strlen(kIndexInformationMessage) + 1);
            std::snprintf(text.data(), text.size(), kIndexInformationMessage, name.c_str());
            reporter.showMessage(text.data());
            shapeMissing = true;
            return false;
        }
        building().shapes.push_back(std::move(shape));
    }
    std::vector<Finding> findings;
    checkSyntaxWord(words[2], findings);
    checkExpression(rest, column.syntax, words[2], findings);
    reportFindings(reporter, number, findings);
    column.shape = static_cast<uint32_t>(building().shapes.size() - 1);
    column.indexLength = building().shapes[column.shape].length;
    column.variableIndex = building().shapes[column.shape].variable;
    building().groups[group].push_back(static_cast<uint32_t>(building().columns.size()));
    building().columns.push_back(std::move(column));
    instances_.emplace_back();
    return true;
}

bool DynamicRows::loadSetAction(std::string_view line, long number,
                                mibinfo::DescriptorMapper& mapper, Reporter& reporter) {
    std::string_view words[3];
    std::string_view rest;
    if (!splitDirective(line, 3, words, rest)) {
        reporter.error(number, kShortDirectiveMessage, number);
        return false;
    }
    SetAction action;
    std::string numeric;
    if (!mapName(words[0], number, mapper, numeric, reporter) ||
        !parseColumnName(numeric, number, words[0], action.column, reporter)) {
        return false;
    }
    std::vector<Finding> findings;
    checkSyntaxWord(words[1], findings);
    reportFindings(reporter, number, findings);
    convertFixedText(words[2], syntaxCode(words[1]), action.trigger);
    action.action.assign(rest);
    building().actions.push_back(std::move(action));
    return true;
}

bool DynamicRows::fetchShape(const DynamicColumn& column, const mibinfo::MibInfo& mib,
                             IndexShape& shape) const {
    const auto ids = idsOf(column.identifier);
    const std::string entry = identifierText(ids.first(ids.size() - 1));
    std::string_view clause;
    if (!mib.indexClause(entry, clause) || clause.size() < 2) {
        return false;
    }
    std::string_view names = clause.substr(1, clause.size() - 2);
    std::string_view name;
    while (takeWord(names, name, names)) {
        IndexObject object;
        if (name.starts_with('*')) {
            object.implied = true;
            name.remove_prefix(1);
        }
        object.name.assign(name);
        mibinfo::ObjectInfo info;
        if (!mib.objectInfo(name, info)) {
            return false;
        }
        if (info.type == "Integer") {
            object.type = IndexType::Integer;
            shape.length += 1;
        } else if (info.type == "OctetString") {
            if (info.hasRange && info.low == info.high && info.low > 0 &&
                info.low <= static_cast<int64_t>(kMaxNameComponents)) {
                object.type = IndexType::FixedOctets;
                object.size = static_cast<uint32_t>(info.low);
                shape.length += object.size;
            } else {
                object.type = IndexType::VariableOctets;
            }
        } else if (info.type == "ObjectID") {
            object.type = IndexType::ObjectId;
        } else if (info.type == "IpAddress") {
            object.type = IndexType::IpAddress;
            shape.length += 4;
        } else if (info.type == "NetworkAddress") {
            object.type = IndexType::NetworkAddress;
            shape.length += 5;
        } else {
            object.type = IndexType::Other;
            shape.length += 1;
        }
        if (object.type == IndexType::VariableOctets || object.type == IndexType::ObjectId) {
            shape.variable = true;
            if (!object.implied) {
                shape.length += 1;
            }
        }
        shape.objects.push_back(std::move(object));
    }
    return !shape.objects.empty();
}

bool DynamicRows::sortColumns(Reporter& reporter) {
    RowSchema& schema = building();
    std::vector<uint32_t>& sorted = schema.sorted;
    sorted.resize(schema.columns.size());
    for (uint32_t i = 0; i < sorted.size(); ++i) {
        sorted[i] = i;
    }
    std::stable_sort(sorted.begin(), sorted.end(), [&schema](uint32_t a, uint32_t b) {
        return compareIdentifiers(idsOf(schema.columns[a].identifier),
                                  idsOf(schema.columns[b].identifier)) < 0;
    });
    // In identifier order, a column within another follows it directly or after columns that
    // lie within it as well, so comparing neighbours finds every overlap.
    bool ok = true;
    for (std::size_t i = 1; i < sorted.size(); ++i) {
        const DynamicColumn& before = schema.columns[sorted[i - 1]];
        const DynamicColumn& after = schema.columns[sorted[i]];
        const auto outer = idsOf(before.identifier);
        const auto inner = idsOf(after.identifier);
        if (outer.size() <= inner.size() && std::equal(outer.begin(), outer.end(), inner.begin())) {
            const DynamicColumn& later = before.line > after.line ? before : after;
            reporter.error(later.line, kOverlappingColumnMessage, later.line,
                           quoted(later.nameAsWritten).c_str());
            ok = false;
        }
    }
    return ok;
}

int32_t DynamicRows::ownerColumn(std::span<const uint32_t> name) const {
    // The last column not greater than the name is the only one that can be its prefix.
    std::size_t low = 0;
    std::size_t high = schema_->sorted.size();
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (compareIdentifiers(idsOf(schema_->columns[schema_->sorted[middle]].identifier), name) <=
            0) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    if (low == 0) {
        return -1;
    }
    const uint32_t candidate = schema_->sorted[low - 1];
    return isProperPrefix(idsOf(schema_->columns[candidate].identifier), name)
               ? static_cast<int32_t>(candidate)
               : -1;
}

bool DynamicRows::addListedInstance(uint32_t column, std::span<const uint32_t> suffix,
                                    std::string_view expression, bool& outOfOrder,
                                    bool& duplicate) {
    RowSchema& schema = building();
    InstanceTable& instances = instances_[column];
    if (!instances.empty() && !SuffixLess{}(instances.lastKey(), suffix)) {
        outOfOrder = true;
        if (instances.find(suffix) != instances.end()) {
            duplicate = true;
            return true;
        }
    }
    if (schema.instanceTexts.size() + expression.size() > UINT32_MAX) {
        throw std::bad_alloc();  // the pool is addressed by 32-bit offsets
    }
    DynamicInstance instance;
    instance.hasOwnValue = true;
    instance.ownOffset = static_cast<uint32_t>(schema.instanceTexts.size());
    instance.ownLength = static_cast<uint32_t>(expression.size());
    schema.instanceTexts.append(expression);
    instances.emplace(suffixKey(suffix), instance);
    ++schema.listedCount;
    return true;
}

bool DynamicRows::setUpListedInstances(uint32_t& ordinal) {
    for (uint32_t number = 0; number < instances_.size(); ++number) {
        const DynamicColumn& column = schema_->columns[number];
        for (auto& [suffix, instance] : instances_[number]) {
            instance.ordinal = ordinal++;
            if (!slots_.setUp(instance.ordinal, expressionOf(column, instance), column.syntax)) {
                return false;
            }
        }
    }
    return true;
}

void DynamicRows::markIndexColumns(const mibinfo::MibInfo& mib) {
    RowSchema& schema = building();
    for (DynamicColumn& column : schema.columns) {
        std::string_view descriptor;
        if (!mib.descriptorOf(column.identifierText, descriptor)) {
            continue;
        }
        for (const IndexObject& object : schema.shapes[column.shape].objects) {
            if (object.name == descriptor) {
                column.indexColumn = true;
                column.indexObjectName = object.name;
                break;
            }
        }
    }
}

std::string_view DynamicRows::expressionOf(const DynamicColumn& column,
                                           const DynamicInstance& instance) const {
    if (instance.hasOwnValue) {
        return std::string_view(schema_->instanceTexts)
            .substr(instance.ownOffset, instance.ownLength);
    }
    return column.defaultValue;
}

void DynamicRows::describe(const DynamicColumn& column, const DynamicInstance& instance,
                           AttributeInfo& found) const {
    found.syntax = column.syntax;
    found.access = column.access;
    found.ordinal = instance.ordinal;
    found.expression = expressionOf(column, instance);
}

bool DynamicRows::exactInstance(uint32_t number, std::span<const uint32_t> name,
                                AttributeInfo& found) const {
    const DynamicColumn& column = schema_->columns[number];
    const auto id = idsOf(column.identifier);
    if (!isProperPrefix(id, name)) {
        return false;
    }
    const auto it = instances_[number].find(name.subspan(id.size()));
    if (it == instances_[number].end() || it->second.state != kInstancePresent) {
        return false;
    }
    describe(column, it->second, found);
    return true;
}

bool DynamicRows::nextInstance(uint32_t number, std::span<const uint32_t> name,
                               snmp::ObjectId& successor, AttributeInfo& found) const {
    const DynamicColumn& column = schema_->columns[number];
    if (column.access != Access::ReadOnly && column.access != Access::ReadWrite) {
        return false;
    }
    const auto id = idsOf(column.identifier);
    const std::size_t compared = std::min(id.size(), name.size());
    const int order = compareIdentifiers(name.first(compared), id.first(compared));
    InstanceTable::const_iterator it;
    if (order < 0 || (order == 0 && name.size() < id.size())) {
        it = instances_[number].begin();
    } else if (order > 0) {
        return false;
    } else if (const auto rest = name.subspan(id.size());
               lastNext_.valid && lastNext_.column == number &&
               compareSuffix(lastNext_.at->first, rest) == 0) {
        it = std::next(lastNext_.at);
    } else if (const auto exact = instances_[number].find(rest);
               exact != instances_[number].end()) {
        it = std::next(exact);
    } else {
        it = instances_[number].upperBound(rest);
    }
    while (it != instances_[number].end() && it->second.state != kInstancePresent) {
        ++it;
    }
    if (it == instances_[number].end()) {
        return false;
    }
    successor.ids.assign(id.begin(), id.end());
    for (char32_t sub : it->first) {
        successor.ids.push_back(static_cast<uint32_t>(sub));
    }
    lastNext_ = {true, number, it};
    describe(column, it->second, found);
    return true;
}

bool DynamicRows::indexFits(const DynamicColumn& column, std::span<const uint32_t> suffix) const {
    const IndexShape& shape = schema_->shapes[column.shape];
    std::size_t p = 0;
    for (const IndexObject& object : shape.objects) {
        IndexRun run;
        if (!readIndexObject(object, suffix, p, run)) {
            return false;
        }
        p = run.next;
    }
    return p == suffix.size();
}

void DynamicRows::setIndexValue(const DynamicColumn& column, std::span<const uint32_t> suffix,
                                uint32_t ordinal) {
    std::size_t p = 0;
    for (const IndexObject& object : schema_->shapes[column.shape].objects) {
        IndexRun run;
        if (!readIndexObject(object, suffix, p, run)) {
            return;
        }
        if (object.name != column.indexObjectName) {
            p = run.next;
            continue;
        }
        const bool buffered = isStoredBehaviour(recogniseForSetUp(column.defaultValue));
        const auto parts = suffix.subspan(run.begin, run.end - run.begin);
        switch (object.type) {
            case IndexType::FixedOctets:
            case IndexType::VariableOctets:
                if (buffered) {
                    std::vector<uint8_t> octets(parts.begin(), parts.end());
                    slots_.setBytes(ordinal, octets.data(), octets.size());
                }
                break;
            case IndexType::ObjectId:
                if (buffered) {
                    const std::string text = identifierText(parts);
                    slots_.setBytes(ordinal, reinterpret_cast<const uint8_t*>(text.data()),
                                    text.size());
                }
                break;
            case IndexType::IpAddress:
            case IndexType::NetworkAddress:
                slots_.at(ordinal).number = packAddress(parts);
                break;
            default:
                slots_.at(ordinal).number = parts[0];
                break;
        }
        return;
    }
}

bool DynamicRows::hasBindingUnder(const DynamicColumn& column, const snmp::Pdu& request) const {
    const auto id = idsOf(column.identifier);
    for (const snmp::VarBind& binding : request.varBinds.items) {
        if (isProperPrefix(id, idsOf(binding.name))) {
            return true;
        }
    }
    return false;
}

bool DynamicRows::requiredInRequest(uint32_t group, const snmp::Pdu& request) const {
    for (uint32_t number : schema_->groups[group]) {
        const DynamicColumn& column = schema_->columns[number];
        if (column.required && !hasBindingUnder(column, request)) {
            return false;
        }
    }
    return true;
}

uint32_t DynamicRows::missingInstances(uint32_t group, std::span<const uint32_t> index) const {
    uint32_t missing = 0;
    for (uint32_t number : schema_->groups[group]) {
        const InstanceTable& instances = instances_[number];
        if (instances.find(index) == instances.end()) {
            ++missing;
        }
    }
    return missing;
}

uint64_t DynamicRows::reserveLeft() const {
    return static_cast<uint64_t>(slots_.freeCount()) + slots_.freshRemaining();
}

bool DynamicRows::createRow(const snmp::ObjectId& name, RowMode mode, const snmp::Pdu& request,
                            AttributeInfo& found, bool* reserveSpent) {
    if (reserveSpent != nullptr) {
        *reserveSpent = false;
    }
    const auto ids = idsOf(name);
    const int32_t owner = ownerColumn(ids);
    if (owner < 0) {
        return false;
    }
    const DynamicColumn& setColumn = schema_->columns[owner];
    const auto index = ids.subspan(setColumn.identifier.ids.size());
    const uint32_t group = setColumn.rowGroup;
    if (mode == RowMode::Check) {
        const bool lengthFits = setColumn.variableIndex ? index.size() >= setColumn.indexLength
                                                        : index.size() == setColumn.indexLength;
        if (!lengthFits || !indexFits(setColumn, index)) {
            return false;
        }
        found.syntax = setColumn.syntax;
        found.access = setColumn.access;
        found.ordinal = 0;
        found.expression = setColumn.defaultValue;
        switch (setColumn.rowKind) {
            case RowKind::NewInstance:
                if (memoGroup_ != group) {
                    if (!requiredInRequest(group, request)) {
                        return false;
                    }
                    memoGroup_ = group;
                }
                break;
            case RowKind::RowStatus:
                break;
            default:
                return false;
        }
        // The reserve must hold every row the request creates, each counted once, and have
        // at least kFreshOrdinalReserve instances left before.
        try {
            const std::span<const uint32_t> counted(requestIndexes_);
            for (const RequestRow& row : requestRows_) {
                if (row.group == group &&
                    std::ranges::equal(counted.subspan(row.offset, row.length), index)) {
                    return true;
                }
            }
            const uint64_t need = requestNeed_ + missingInstances(group, index);
            if (need > 0 && (need > reserveLeft() || reserveLeft() < kFreshOrdinalReserve)) {
                if (reserveSpent != nullptr) {
                    *reserveSpent = true;
                }
                return false;
            }
            const std::size_t offset = requestIndexes_.size();
            requestIndexes_.insert(requestIndexes_.end(), index.begin(), index.end());
            requestRows_.push_back(RequestRow{group, offset, index.size()});
            requestNeed_ = need;
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }

    const std::vector<uint32_t>& members = schema_->groups[group];
    const uint32_t missing = missingInstances(group, index);
    if (missing > reserveLeft()) {
        if (reserveSpent != nullptr) {
            *reserveSpent = true;
        }
        return false;
    }
    // Instances made by this call, removed again when the row cannot be completed: a refused
    // creation leaves nothing behind.
    std::vector<std::pair<uint32_t, InstanceTable::iterator>> made;
    auto undo = [&] {
        for (const auto& [number, it] : made) {
            eraseInstance(instances_[number], it);
        }
        lastNext_ = WalkPosition{};
        return false;
    };
    try {
        made.reserve(missing);
        const DynamicInstance* result = nullptr;
        for (uint32_t number : members) {
            const DynamicColumn& column = schema_->columns[number];
            const bool isSetColumn = number == static_cast<uint32_t>(owner);
            auto it = instances_[number].find(index);
            if (it != instances_[number].end()) {
                if (isSetColumn) {
                    it->second.state = kInstancePresent;
                    result = &it->second;
                    promoteRowStatus(group, index);
                }
                continue;
            }
            DynamicInstance instance;
            if (!slots_.takeOrdinal(instance.ordinal)) {
                if (reserveSpent != nullptr) {
                    *reserveSpent = true;
                }
                return undo();
            }
            if (!slots_.setUp(instance.ordinal, column.defaultValue, column.syntax)) {
                slots_.giveBack(instance.ordinal);
                return undo();
            }
            if (column.indexColumn) {
                setIndexValue(column, index, instance.ordinal);
            }
            instance.state = column.rowKind == RowKind::RowStatus && column.required && !isSetColumn
                                 ? kInstanceAwaiting
                                 : kInstancePresent;
            try {
                it = instances_[number].emplace(suffixKey(index), instance).first;
            } catch (const std::bad_alloc&) {
                freeOrdinal(instance.ordinal);
                return undo();
            }
            made.emplace_back(number, it);
            if (isSetColumn) {
                result = &it->second;
            }
        }
        if (result == nullptr) {
            return undo();
        }
        describe(setColumn, *result, found);
        return true;
    } catch (const std::bad_alloc&) {
        return undo();
    }
}

void DynamicRows::promoteRowStatus(uint32_t group, std::span<const uint32_t> index) {
    const DynamicInstance* status = nullptr;
    for (uint32_t number : schema_->groups[group]) {
        const DynamicColumn& column = schema_->columns[number];
        const auto it = instances_[number].find(index);
        if (column.required &&
            (it == instances_[number].end() || it->second.state != kInstancePresent)) {
            return;
        }
        if (status == nullptr && column.defaultValue.starts_with("rowstatus") &&
            it != instances_[number].end()) {
            status = &it->second;
        }
    }
    if (status != nullptr && slots_.at(status->ordinal).number == kRowNotReady) {
        slots_.at(status->ordinal).number = kRowNotInService;
    }
}

bool DynamicRows::rowComplete(const snmp::ObjectId& name, const snmp::Pdu* request) const {
    const auto ids = idsOf(name);
    const DynamicColumn* first = nullptr;
    for (const DynamicColumn& column : schema_->columns) {
        const auto id = idsOf(column.identifier);
        if (isProperPrefix(id.first(id.size() - 1), ids)) {
            first = &column;
            break;
        }
    }
    if (first == nullptr) {
        return false;
    }
    const std::size_t length = first->identifier.ids.size();
    const auto index = ids.size() > length ? ids.subspan(length) : std::span<const uint32_t>();
    for (uint32_t number : schema_->groups[first->rowGroup]) {
        const DynamicColumn& column = schema_->columns[number];
        if (!column.required) {
            continue;
        }
        const auto it = instances_[number].find(index);
        const bool present = it != instances_[number].end() && it->second.state == kInstancePresent;
        if (!present && (request == nullptr || !hasBindingUnder(column, *request))) {
            return false;
        }
    }
    return true;
}

bool DynamicRows::checkRowStatus(const snmp::ObjectId& name, const snmp::SyntaxValue& value,
                                 bool newInstance, uint32_t ordinal, const snmp::Pdu& request,
                                 int32_t& status) const {
    status = 0;
    const int32_t v = value.integer();
    if (v <= 0 || v == kRowNotReady || v > kRowDestroy) {
        status = snmp::kWrongValue;
        return false;
    }
    if (newInstance) {
        if (v == kRowActive || v == kRowNotInService || v == kRowDestroy) {
            status = snmp::kInconsistentValue;
            return false;
        }
        if (v == kRowCreateAndGo) {
            const int32_t owner = ownerColumn(idsOf(name));
            if (owner < 0 || !requiredInRequest(schema_->columns[owner].rowGroup, request)) {
                status = snmp::kInconsistentValue;
                return false;
            }
        }
        return true;
    }
    const uint64_t x = slots_.holds(ordinal) ? slots_.at(ordinal).number : 0;
    if ((x == kRowActive || x == kRowNotInService || x == kRowNotReady) &&
        (v == kRowCreateAndGo || v == kRowCreateAndWait)) {
        status = snmp::kInconsistentValue;
        return false;
    }
    if (x == kRowNotReady && (v == kRowActive || v == kRowNotInService) &&
        !rowComplete(name, &request)) {
        status = snmp::kInconsistentValue;
        return false;
    }
    return true;
}

void DynamicRows::storeRowStatus(const snmp::SyntaxValue& value, uint32_t ordinal,
                                 const snmp::ObjectId& name) {
    const int32_t v = value.integer();
    if (!slots_.holds(ordinal)) {
        return;
    }
    switch (v) {
        case kRowActive:
        case kRowNotInService:
            slots_.at(ordinal).number = static_cast<uint32_t>(v);
            break;
        case kRowCreateAndGo:
            slots_.at(ordinal).number = kRowActive;
            break;
        case kRowCreateAndWait:
            slots_.at(ordinal).number =
                rowComplete(name, nullptr) ? kRowNotInService : kRowNotReady;
            break;
        case kRowDestroy:
            deleteRow(name);
            break;
        default:
            break;
    }
}

bool DynamicRows::applySet(const snmp::ObjectId& name, const snmp::SyntaxValue& value) {
    const auto ids = idsOf(name);
    for (std::size_t i = 0; i < schema_->actions.size(); ++i) {
        const SetAction& action = schema_->actions[i];
        const auto column = idsOf(action.column);
        const bool under =
            column.size() <= ids.size() && std::equal(column.begin(), column.end(), ids.begin());
        if (under && action.action == "deleterow()" && valuesEqual(action.trigger, value) &&
            !deleteRow(name)) {
            return false;
        }
    }
    return true;
}

bool DynamicRows::deleteRow(const snmp::ObjectId& name) {
    const auto ids = idsOf(name);
    const int32_t owner = ownerColumn(ids);
    if (owner < 0) {
        return true;
    }
    const auto index = ids.subspan(schema_->columns[owner].identifier.ids.size());
    lastNext_ = WalkPosition{};
    for (uint32_t number : schema_->groups[schema_->columns[owner].rowGroup]) {
        InstanceTable& instances = instances_[number];
        const auto it = instances.find(index);
        if (it == instances.end()) {
            continue;
        }
        eraseInstance(instances, it);
    }
    return true;
}

void DynamicRows::freeOrdinal(uint32_t ordinal) {
    slots_.release(ordinal);
    slots_.giveBack(ordinal);
}

void DynamicRows::eraseInstance(InstanceTable& instances, InstanceTable::iterator it) {
    freeOrdinal(it->second.ordinal);
    instances.erase(it);
}

}  // namespace korvimo::store
