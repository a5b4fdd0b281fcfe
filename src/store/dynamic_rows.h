// DynamicRows: the tables whose rows managers create and delete. The "%drow", "%dcol" and
// "%setaction" directives of the control file declare row groups, their columns and the
// actions a Set may trigger; each column keeps its instances (rows) in memory instead of
// attribute lines, in an InstanceTable (ordered and hashed by suffix), and a marker line in
// the attribute file places the column among the static attributes. A walk through a
// column continues from the instance it gave last without searching.
//
//   DynamicRows rows(slots);
//   rows.loadDirectives(controlText, mapper, reporter);           // pass 2 of loading
//   int32_t c = rows.ownerColumn(id);                        // pass 3: is id an instance?
//   rows.addListedInstance(c, suffix, "lastset(5)", ...);
//   rows.setUpListedInstances(nextOrdinal);
//   ...
//   rows.clearRequestMemo();                                 // at every request
//   rows.createRow(name, RowMode::Check, request, found);    // Set pass 1
//   rows.createRow(name, RowMode::Create, request, found);   // Set pass 2
//
// Choices where the directives allow nonsense:
//   - A "%dcol" before any "%drow" is refused with a status line naming its line.
//   - Unknown syntax words and questionable default value expressions are reported as
//     warnings (see load_checks.h).
//   - A "%dcol" or "%setaction" column name that mibinfo.out cannot map is refused with the
//     mapping messages: kept as written it would parse to an empty identifier, which is a
//     prefix of every name and would make every Set create or delete rows.
//   - Two "%dcol" columns whose identifiers are equal or one within the other are refused:
//     an instance name must belong to exactly one column.
//   - A directive with fewer words than it needs is refused with a status line naming its
//     line, not silently.
//   - Instances listed out of order in the control file are kept in suffix order; of two
//     listings of one instance the first is kept.
//   - A row is created only for an instance name whose suffix reads as the table's index:
//     every index object complete, octets and address parts of 0 to 255, variable lengths
//     within the name, nothing left over. Other names are refused (noAccess / noSuchName),
//     never stored.
//   - The dynamic-instance reserve (DYNINSTSIZE) counts instances, not rows: a row takes one
//     per column of its group. The check pass admits a new row only while the reserve (freed
//     ordinals and fresh ones) holds at least kFreshOrdinalReserve instances and every
//     instance the rows of the request take; otherwise the Set is refused before anything is set
//     (resourceUnavailable in SNMPv2c, noSuchName in SNMPv1). Ordinals that destroyed rows
//     freed count, so creation works again once rows are gone.
//   - A row creation that fails half-way removes the instances it made and frees their
//     ordinals.
//   - A RowStatus Set of a negative value is refused with wrongValue, like 0 and 7.
//   - Memory exhaustion while creating a row refuses the Set and leaves nothing of the row.
//   - Every ordinal a deleted row frees is kept for reuse (see ValueSlots::giveBack).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "mibinfo/descriptor_mapper.h"
#include "mibinfo/mib_info.h"
#include "snmp/message.h"
#include "store/attribute_info.h"
#include "store/instance_table.h"
#include "store/status_report.h"
#include "store/value_slots.h"

namespace korvimo::store {

enum class RowKind : uint8_t { None = 0, NewInstance = 1, RowStatus = 2 };
enum class RowMode { Check, Create };

// RowStatus values.
inline constexpr int32_t kRowActive = 1;
inline constexpr int32_t kRowNotInService = 2;
inline constexpr int32_t kRowNotReady = 3;
inline constexpr int32_t kRowCreateAndGo = 4;
inline constexpr int32_t kRowCreateAndWait = 5;
inline constexpr int32_t kRowDestroy = 6;

// Rows are created only while at least this many fresh ordinals remain.
inline constexpr uint32_t kFreshOrdinalReserve = 20;

// Messages of directive loading.
inline constexpr const char* kIndexInformationMessage = "Cannot get index information for %s\n";
inline constexpr const char* kColumnBeforeRowMessage =
    "Invalid directive.(line = %ld). A %%dcol line must follow a %%drow line";
inline constexpr const char* kShortDirectiveMessage =
    "Invalid directive.(line = %ld). The directive lacks words";
inline constexpr const char* kOverlappingColumnMessage =
    "Invalid directive.(line = %ld). Column %s lies within or contains another %%dcol column";

// How an index object turns into sub-identifiers of an instance suffix.
enum class IndexType {
    Integer,
    FixedOctets,
    VariableOctets,
    ObjectId,
    IpAddress,
    NetworkAddress,
    Other
};

struct IndexObject {
    std::string name;  // descriptor, without the "*" of IMPLIED
    IndexType type = IndexType::Integer;
    uint32_t size = 0;  // of a fixed-size OctetString
    bool implied = false;
};

// The index of one table, from its "%ei" line and the index objects' lines.
struct IndexShape {
    std::vector<IndexObject> objects;
    uint32_t length = 0;  // sub-identifiers of the fixed part
    bool variable = false;
};

struct DynamicColumn {
    uint32_t rowGroup = 0;
    RowKind rowKind = RowKind::None;
    uint8_t syntax = 0;
    std::string syntaxWord;  // as written
    snmp::ObjectId identifier;
    std::string identifierText;
    std::string nameAsWritten;
    Access access = Access::None;
    bool markerPending = true;
    bool indexColumn = false;
    uint32_t indexLength = 0;
    bool variableIndex = false;
    bool required = false;
    std::string indexObjectName;
    std::string defaultValue;
    uint32_t shape = 0;  // the row group's index shape
    long line = 0;       // of its "%dcol" in the control file
};

struct SetAction {
    snmp::ObjectId column;
    snmp::SyntaxValue trigger;
    std::string action;
};

// What loading the directives and the listed instances gives, read-only once loaded and
// shared by every store attached to one loaded control file: the columns, row groups, index
// shapes and Set actions, and the instances the control file lists (with their ordinals),
// which every attached store starts from.
struct RowSchema {
    std::vector<DynamicColumn> columns;
    std::vector<SetAction> actions;
    std::vector<IndexShape> shapes;
    std::vector<std::vector<uint32_t>> groups;  // column numbers by row group
    std::vector<uint32_t> sorted;               // column numbers in identifier order
    std::string instanceTexts;                  // own expressions of listed instances
    std::vector<InstanceTable> listed;          // the listed instances, by column
    std::size_t listedCount = 0;
};

class DynamicRows {
  public:
    explicit DynamicRows(ValueSlots& slots);
    DynamicRows(const DynamicRows&) = delete;
    DynamicRows& operator=(const DynamicRows&) = delete;

    // Pass 2 of loading: reads every directive of the control file. A directive that fails
    // reports its message and is passed over; the others are still read, so that every
    // failure is reported. False when any failed (the loading then fails).
    bool loadDirectives(std::string_view controlText, mibinfo::DescriptorMapper& mapper,
                        Reporter& reporter);
    void release();
    // Ends loading: the schema takes the listed instances as loaded and becomes read-only, to
    // be shared. These rows are left without instances; attach serves the schema.
    std::shared_ptr<RowSchema> finishLoading();
    // Serves a loaded schema, starting from its listed instances (whose slots the caller
    // copies along). May throw std::bad_alloc.
    void attach(std::shared_ptr<const RowSchema> schema);
    // Serves a loaded schema, starting from listed instances taken from it: for the only
    // store of a load, which then holds them once.
    void adopt(std::shared_ptr<const RowSchema> schema, std::vector<InstanceTable>&& listed);

    std::size_t columnCount() const { return schema_->columns.size(); }
    const DynamicColumn& column(uint32_t number) const { return schema_->columns[number]; }
    // The instances of a column, present or awaiting their value.
    const InstanceTable& instances(uint32_t column) const { return instances_[column]; }
    // Column numbers in identifier order (where their marker lines go).
    const std::vector<uint32_t>& columnsInOrder() const { return schema_->sorted; }
    void markerWritten(uint32_t column) { building().columns[column].markerPending = false; }

    // The column whose identifier is a proper prefix of name, or -1.
    int32_t ownerColumn(std::span<const uint32_t> name) const;

    // Pass 3: an instance the control file lists. outOfOrder is set when it does not follow
    // the column's earlier listings; duplicate when the suffix is listed already (the first
    // listing stays).
    bool addListedInstance(uint32_t column, std::span<const uint32_t> suffix,
                           std::string_view expression, bool& outOfOrder, bool& duplicate);
    std::size_t listedCount() const { return schema_->listedCount; }
    // Gives listed instances their ordinals from `ordinal` on (columns in declaration
    // order, instances in suffix order) and sets up their slots.
    bool setUpListedInstances(uint32_t& ordinal);
    // Marks the columns that are index objects of their table.
    void markIndexColumns(const mibinfo::MibInfo& mib);

    // Lookups of present instances only.
    bool exactInstance(uint32_t column, std::span<const uint32_t> name, AttributeInfo& found) const;
    bool nextInstance(uint32_t column, std::span<const uint32_t> name, snmp::ObjectId& successor,
                      AttributeInfo& found) const;

    // Sets.
    void clearRequestMemo() {
        memoGroup_ = 0;
        requestRows_.clear();
        requestIndexes_.clear();
        requestNeed_ = 0;
    }
    // Check mode admits a name that may denote a new instance; create mode makes the row (the
    // instances its group lacks at that index). A refusal leaves no instance behind;
    // reserveSpent (when given) tells whether the dynamic-instance reserve was the reason.
    bool createRow(const snmp::ObjectId& name, RowMode mode, const snmp::Pdu& request,
                   AttributeInfo& found, bool* reserveSpent = nullptr);
    bool checkRowStatus(const snmp::ObjectId& name, const snmp::SyntaxValue& value,
                        bool newInstance, uint32_t ordinal, const snmp::Pdu& request,
                        int32_t& status) const;
    void storeRowStatus(const snmp::SyntaxValue& value, uint32_t ordinal,
                        const snmp::ObjectId& name);
    bool applySet(const snmp::ObjectId& name, const snmp::SyntaxValue& value);
    bool deleteRow(const snmp::ObjectId& name);
    // Whether every required column of the name's row has a present instance (or, with a
    // request, a binding in it).
    bool rowComplete(const snmp::ObjectId& name, const snmp::Pdu* request) const;

  private:
    // shapeMissing: the row group's index information could not be found.
    bool loadColumn(std::string_view line, long number, uint32_t group, RowKind kind, bool newGroup,
                    mibinfo::DescriptorMapper& mapper, Reporter& reporter, bool& shapeMissing);
    bool loadSetAction(std::string_view line, long number, mibinfo::DescriptorMapper& mapper,
                       Reporter& reporter);
    bool fetchShape(const DynamicColumn& column, const mibinfo::MibInfo& mib,
                    IndexShape& shape) const;
    bool sortColumns(Reporter& reporter);
    bool indexFits(const DynamicColumn& column, std::span<const uint32_t> suffix) const;
    void setIndexValue(const DynamicColumn& column, std::span<const uint32_t> suffix,
                       uint32_t ordinal);
    bool hasBindingUnder(const DynamicColumn& column, const snmp::Pdu& request) const;
    // Columns of the group without an instance at index: what creating that row takes.
    uint32_t missingInstances(uint32_t group, std::span<const uint32_t> index) const;
    // Instances the reserve can still give (freed ordinals and fresh ones).
    uint64_t reserveLeft() const;
    bool requiredInRequest(uint32_t group, const snmp::Pdu& request) const;
    // Empties an instance's slot and keeps its ordinal for reuse.
    void freeOrdinal(uint32_t ordinal);
    // Removes an instance from its column, freeing its ordinal.
    void eraseInstance(InstanceTable& instances, InstanceTable::iterator it);
    void promoteRowStatus(uint32_t group, std::span<const uint32_t> index);
    std::string_view expressionOf(const DynamicColumn& column,
                                  const DynamicInstance& instance) const;
    void describe(const DynamicColumn& column, const DynamicInstance& instance,
                  AttributeInfo& found) const;

    // The schema under construction; made by the first loading call.
    RowSchema& building();

    ValueSlots& slots_;
    // While loading, building_ and schema_ are one schema; afterwards schema_ alone. Never
    // null: an empty schema when nothing is loaded.
    std::shared_ptr<RowSchema> building_;
    std::shared_ptr<const RowSchema> schema_;
    std::vector<InstanceTable> instances_;  // by column: this store's rows
    // The instance nextInstance gave last: a walk asks for its successor next.
    struct WalkPosition {
        bool valid = false;
        uint32_t column = 0;
        InstanceTable::const_iterator at;
    };
    mutable WalkPosition lastNext_;
    uint32_t memoGroup_ = 0;
    // Rows the check pass of the current request admitted for creation, their indexes one
    // after another in requestIndexes_ (kept with their capacity from request to request),
    // and the instances they take together.
    struct RequestRow {
        uint32_t group = 0;
        std::size_t offset = 0;
        std::size_t length = 0;
    };
    std::vector<RequestRow> requestRows_;
    std::vector<uint32_t> requestIndexes_;
    uint64_t requestNeed_ = 0;
};

}  // namespace korvimo::store
