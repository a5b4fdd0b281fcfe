// VariableStore: the variables the simulated agent serves, loaded from the agent control file
// at every agent start and asked by the request handler for every variable binding.
//
// The agent start loads it; the agent's request handler asks it:
//
//   VariableStore store;
//   LoadInputs inputs;                                  // control file, attribute file path,
//   inputs.controlFile = fd; ...                        // mibinfo.out, clock, report, ...
//   if (!store.loadControlFile(inputs))
//       fail("Syntax Error or unable to open temp file, ...");
//
//   auto request = store.beginRequest();                // at the start of every request
//   AttributeInfo found;
//   if (store.lookupAttribute(binding.name, found)) store.makeValue(value, found);
//   ObjectId next;
//   if (store.nextAttribute(binding.name, next, found)) store.makeValue(value, found);
//
//   // Set: check pass, then set pass
//   bool created = !store.lookupAttribute(name, found) &&
//                  store.createRow(name, RowMode::Check, request, found);
//   int32_t status;
//   store.checkSet(binding, found, created, request, status);
//   ...
//   store.storeSet(binding, found);
//   store.applySet(binding);
//
//   store.releaseStore();                               // agent stop
//
// Many devices over one control file load it once and attach a store per device: the loaded
// part (LoadedControlFile) is shared and read-only, and each store keeps only its values, its
// rows and its walk memos:
//
//   std::shared_ptr<const LoadedControlFile> loaded = LoadedControlFile::load(inputs);
//   for (VariableStore& device : devices) device.attach(loaded, &clock, startTime);
//
// Loading writes the attribute file `tempfile` in the agent directory (see AttributeFile)
// and keeps every lookup in memory: a name is found by a hash probe (or, for a successor of
// a name that is no line, a binary search) over every line, or by a probe of the instance
// table of the dynamic column it lies under; a walk goes on from where the last successor
// stood. Lookups allocate nothing but what a value itself needs (makeValue fills the
// caller's SyntaxValue, whose buffers are reused when the caller reuses it).
//
// CACHESIZE is still read and clamped (cacheSize()), but the index covers every line
// whatever its value, so there is no stride to compute and no need for the cache to exceed
// the number of dynamic columns.
//
// A lookup gives what a scan of the ordered attribute file gives: lookupAttribute finds the
// attribute line with that identifier, else a present instance of the dynamic column the
// name lies under; nextAttribute gives the first line after the name, in identifier order,
// that is a Get-able attribute (access 1 or 2) or a column with a present instance after the
// name.
//
// Choices where a control file is not what it should be:
//   - Loading does not stop at the first error: it reads the whole file, reports every error
//     and every warning naming its line (in line order, at most twenty of each, then how
//     many more; see Reporter), and fails when there was any error. Nothing of a failed
//     load stays in use.
//   - Warnings (see load_checks.h) name what loads but is served otherwise than meant: an
//     unknown syntax word or behaviour, value text or arguments the syntax cannot read, a
//     range that runs downwards, rangeinst of a component the name lacks. The line is served
//     exactly as it reads.
//   - Lines may end in LF alone; a last line needs no line end.
//   - An attribute line with fewer than three commas fails the syntax check with
//     "Invalid syntax.(line = %ld). Instance information must be on one line"; any line but
//     a comment longer than 64 KiB with its CR LF is refused with kLineTooLongMessage.
//   - A descriptor mibinfo.out cannot map is reported as "Cannot map object descriptor %s."
//     followed by "(line = n)", with "Make sure that the corresponding MIB is compiled."
//     once after the first such line.
//   - Attribute lines out of identifier order are written to the attribute file in ascending
//     order (a stable sort), with a status line saying so, so that every lookup stays right;
//     of two lines with one identifier the first is kept, with a status line giving the
//     count. Ordinals follow the attribute file.
//   - A name that is not dotted decimal after mapping (letters, empty components, numbers
//     past 32 bits, more than 128 components, or more than 64 with a range) is refused with
//     a status line naming its line, since no request could ever reach it.
//   - At most kMaxAttributes attributes and instances are loaded; a range that would pass
//     that is refused with a status line, before memory runs out.
//   - A numeric behaviour on a syntax that cannot carry its number (see ValueSlots) is
//     refused with a status line naming the line.
//   - Identifiers in the attribute file are written in canonical dotted decimal.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "app/core/clock.h"
#include "base/result.h"
#include "mibinfo/descriptor_mapper.h"
#include "mibinfo/mib_info.h"
#include "snmp/message.h"
#include "store/attribute_file.h"
#include "store/attribute_info.h"
#include "store/dynamic_rows.h"
#include "store/scheduled_events.h"
#include "store/status_report.h"
#include "store/value_slots.h"

namespace korvimo {
class Configuration;
}

namespace korvimo::store {

// Messages of loading.
inline constexpr const char* kInvalidSyntaxMessage =
    "Invalid syntax.(line = %ld). Instance information must be on one line";
inline constexpr const char* kOutOfOrderMessage =
    "The control file is not in ascending identifier order: its attributes are served sorted.";
inline constexpr const char* kRepeatedMessage =
    "%lu attribute lines repeat an identifier listed before them: the first line is served.";
inline constexpr const char* kTooManyAttributesMessage =
    "Too many attributes.(line = %ld). At most %lu attributes can be loaded";

// format or low32 whose text cannot be filled: the expression, then why.
inline constexpr const char* kInvalidInstanceFormatMessage =
    "Invalid instance format.(line = %ld). %s has %s";

// low32(NAME) whose NAME is no attribute of the control file, or is a low32 view itself.
inline constexpr const char* kLinkTargetMessage =
    "Invalid low32.(line = %ld). %s is not an attribute of the control file";
inline constexpr const char* kLinkToLinkMessage =
    "Invalid low32.(line = %ld). %s is a low32 view itself";
inline constexpr const char* kLinkNotNumberMessage =
    "Invalid low32.(line = %ld). %s is of syntax %s, which holds no number";
inline constexpr const char* kLinkNoNameMessage = "Invalid low32.(line = %ld). It names nothing";

// Attributes and instances a store holds at most.
inline constexpr uint64_t kMaxAttributes = 16u * 1024u * 1024u;

// Limits of CACHESIZE and DYNINSTSIZE, and their values when absent or below 1.
inline constexpr long kMaxCacheSize = 1500;
inline constexpr long kDefaultCacheSize = 30;
// The reserve counts instances (a created row takes one per column of its group) and costs
// nothing until rows are made; each instance made costs its slot (16 bytes) and its entry in
// the column's InstanceTable, about 150 bytes in all (100,000 rows of four columns made by
// Set take some 70 MB), so the largest reserve, all used, is about 1.5 GB: room for 100,000
// rows of 100 columns, or 625,000 rows of the demo's 16.
inline constexpr long kMaxDynamicReserve = 10000000;
inline constexpr long kDefaultDynamicReserve = 100;

// What a load reads and where it writes and reports.
struct LoadInputs {
    int controlFile = -1;           // open; read from its start, its offset unmoved
    std::string attributeFilePath;  // created anew, open until releaseStore
    // The compiled MIBs descriptors are mapped through; none: every descriptor is unknown.
    std::shared_ptr<const mibinfo::MibInfo> mibInfo;
    const Clock* clock = nullptr;  // the system clock when null
    // The agent's start on the clock's monotonic milliseconds, which the time-based
    // behaviours count from; none: when the store starts serving (the end of the load).
    std::optional<uint64_t> startMs;
    // CACHESIZE, DYNINSTSIZE and RANDOMSEED; none: their defaults.
    const Configuration* config = nullptr;
    std::function<void(const char* line)> report;
    std::function<void(const char* title, const char* text)> messageBox;
    // Polled every kStopPollLines lines; once it gives true the load stops, reports
    // kLoadStoppedMessage and fails. None: the load runs to its end.
    std::function<bool()> stopRequested;
};

// How often a load asks whether it should stop, and what it reports when it did.
inline constexpr uint32_t kStopPollLines = 4096;
inline constexpr const char* kLoadStoppedMessage = "Loading of the control file was stopped.";

// What one load of a control file gives, read-only and shared by every store attached to it
// (see VariableStore::attach): the attribute file and its index (names, syntaxes, access,
// value expressions), the dynamic columns with their listed instances, the slots as loading
// set them up, and the limits read from korvan.ini. The attribute file stays open while the
// loaded file lives.
//
//   auto loaded = LoadedControlFile::load(inputs);      // null when the load failed
//   VariableStore a, b;
//   a.attach(loaded, &clock, startA);                    // two devices, one load
//   b.attach(loaded, &clock, startB);
class LoadedControlFile {
  public:
    LoadedControlFile(const LoadedControlFile&) = delete;
    LoadedControlFile& operator=(const LoadedControlFile&) = delete;

    // Loads the control file into the attribute file. Messages go to the inputs' report
    // (and message box). Null on failure, with the attribute file closed. The MibInfo is let
    // go of after loading.
    static std::shared_ptr<const LoadedControlFile> load(const LoadInputs& inputs);

    long cacheSize() const { return cacheSize_; }
    long dynamicReserve() const { return dynamicReserve_; }
    uint32_t staticCount() const { return staticCount_; }
    const AttributeFile& attributeFile() const { return file_; }
    // The slots of the attributes and listed instances as loading set them up.
    const ValueSlots& initialSlots() const { return slots_; }
    std::shared_ptr<const RowSchema> rowSchema() const { return schema_; }
    // Whether a store took the initial slots and listed rows for itself (see
    // VariableStore::loadControlFile): no other store can then be attached.
    bool initialStateTaken() const { return initialStateTaken_; }
    // Of each column's marker line in the attribute file.
    uint32_t markerPosition(uint32_t column) const { return markerPositions_[column]; }
    // Whether RANDOMSEED asks every run to draw the same numbers.
    bool fixedSeed() const { return fixedSeed_; }
    // The "%trapfile" and "%event" lines (see scheduled_events.h).
    const EventDirectives& events() const { return events_; }

  private:
    friend class VariableStore;  // its loadControlFile takes the initial state of its own load

    LoadedControlFile() : rows_(slots_) {}
    static std::shared_ptr<LoadedControlFile> loadForChange(const LoadInputs& inputs);
    bool load(const LoadInputs& inputs, std::string& controlText);
    // Pass 2: the "%trapfile" and "%event" lines; their targets, and those of the low32
    // views, are checked once the attribute file is written.
    void readEvents(std::string_view controlText);
    void checkEvents();
    void checkLinks();
    // The collected line of an identifier; false when none has it.
    bool findCollected(std::span<const uint32_t> ids, IndexEntry& entry) const;
    // Pass 3; its errors go to the reporter.
    void collectAttributes(std::string_view controlText, bool& outOfOrder, uint64_t& repeated);
    // The value expression of one identifier of a line: format and low32 filled with the
    // identifier's last component (low32's name mapped to numeric text). False, with the
    // line's error reported, when the expression cannot be filled.
    bool instanceExpression(std::string_view expression, uint32_t last, long line,
                            std::string& out);
    bool writeAttributeFile(std::string_view controlText);
    // Whether the load under way was asked to stop, asking every kStopPollLines-th count.
    bool stopRequested(uint64_t count);

    AttributeFile file_;
    ValueSlots slots_;
    DynamicRows rows_;  // the rows loading builds; empty once loaded
    std::shared_ptr<RowSchema> schema_;
    bool initialStateTaken_ = false;
    // The mapper of the load under way, over the MibInfo or the empty one; it maps a name as
    // written in a control file to numeric text.
    std::optional<mibinfo::DescriptorMapper> mapper_;
    Reporter reporter_;                    // of the load under way
    std::function<bool()> stopRequested_;  // of the load under way
    bool stopped_ = false;
    long cacheSize_ = kDefaultCacheSize;
    long dynamicReserve_ = kDefaultDynamicReserve;
    uint32_t staticCount_ = 0;
    std::vector<uint32_t> markerPositions_;
    bool fixedSeed_ = false;
    EventDirectives events_;
    // Of the load under way: the low32 views' targets, numeric and as written, with their
    // lines.
    struct Link {
        long line = 0;
        std::string numeric;
        std::string written;
    };
    std::vector<Link> links_;
};

// Failures of VariableStore::setFromText: the name (dotted), then the error status's name.
inline constexpr const char* kNoSuchAttributeFormat = "%s is not an attribute of the agent";
inline constexpr const char* kSetRefusedFormat = "the Set of %s is refused: %s";

// The seed of the generator a store draws from when RANDOMSEED is "fixed".
inline constexpr uint32_t kFixedSeed = 5;

class VariableStore {
  public:
    VariableStore() : rows_(slots_) {}
    VariableStore(const VariableStore&) = delete;
    VariableStore& operator=(const VariableStore&) = delete;
    ~VariableStore() { releaseStore(); }

    // Loads the control file (LoadedControlFile::load) and serves it alone, with the inputs'
    // clock and start time: this store takes the load's initial slots and listed rows rather
    // than copying them, so no other store can attach to loadedFile().
    bool loadControlFile(const LoadInputs& inputs);
    // Serves a loaded control file: the shared part is read through it, while the values
    // (random walks, counters, clocks since startMs, values set), the rows made or deleted
    // and the walk memo are this store's own. The generator is seeded with seed, else as
    // RANDOMSEED says (fixed, or the clock's calendar seconds). False when memory runs out
    // (nothing is then attached), loaded is null, or its initial state was taken by the
    // store that loaded it with loadControlFile.
    bool attach(std::shared_ptr<const LoadedControlFile> loaded, const Clock* clock,
                std::optional<uint64_t> startMs, std::optional<uint32_t> seed = std::nullopt);
    // Frees this store's state and lets go of the loaded file (whose attribute file closes
    // with its last store).
    void releaseStore();
    bool loaded() const { return loaded_ != nullptr; }
    const std::shared_ptr<const LoadedControlFile>& loadedFile() const { return loaded_; }

    bool lookupAttribute(const snmp::ObjectId& name, AttributeInfo& found) const;
    bool nextAttribute(const snmp::ObjectId& name, snmp::ObjectId& successor,
                       AttributeInfo& found) const;
    // The attribute's current value (see ValueSlots); low32(NAME) serves the low 32 bits of
    // NAME's value as this attribute's syntax. False only for an unknown ordinal.
    bool makeValue(snmp::SyntaxValue& value, const AttributeInfo& attribute);

    // A request under way: the walk memo is cleared, and every time-based value it reads
    // (clocks, rate counters) is taken at one instant, so two reads of one request agree.
    // Time runs again when the request object ends.
    class [[nodiscard]] Request {
      public:
        explicit Request(VariableStore& store) : store_(store) {
            store_.rows_.clearRequestMemo();
            store_.slots_.freezeTime();
        }
        ~Request() { store_.slots_.thawTime(); }
        Request(const Request&) = delete;
        Request& operator=(const Request&) = delete;

      private:
        VariableStore& store_;
    };
    Request beginRequest() { return Request(*this); }
    void clearRequestMemo() { rows_.clearRequestMemo(); }
    bool createRow(const snmp::ObjectId& name, RowMode mode, const snmp::Pdu& request,
                   AttributeInfo& found, bool* reserveSpent = nullptr) {
        return rows_.createRow(name, mode, request, found, reserveSpent);
    }
    // Whether a Set binding is acceptable; on refusal status holds the SNMPv2 error status.
    bool checkSet(const snmp::VarBind& binding, const AttributeInfo& attribute, bool newInstance,
                  const snmp::Pdu& request, int32_t& status) const;
    bool storeSet(const snmp::VarBind& binding, const AttributeInfo& attribute);
    // Runs the "%setaction" rules the binding triggers.
    bool applySet(const snmp::VarBind& binding) {
        return rows_.applySet(binding.name, binding.value);
    }

    // A Set the agent makes by itself (a scheduled event): value text read by the attribute's
    // syntax as fixed value text is, then checked, stored and its "%setaction" rules run as a
    // manager's Set of that one binding would be, without any community. Fails with
    // kNoSuchAttributeFormat or kSetRefusedFormat.
    Result setFromText(const snmp::ObjectId& name, std::string_view valueText);
    const EventDirectives& events() const;

    // What loading found, for the agent start and for tests.
    long cacheSize() const { return loaded_ != nullptr ? loaded_->cacheSize() : kDefaultCacheSize; }
    long dynamicReserve() const {
        return loaded_ != nullptr ? loaded_->dynamicReserve() : kDefaultDynamicReserve;
    }
    uint32_t staticCount() const { return loaded_ != nullptr ? loaded_->staticCount() : 0; }
    const AttributeFile& attributeFile() const;
    const DynamicRows& rows() const { return rows_; }
    const ValueSlots& slots() const { return slots_; }

  private:
    // The clock, start time and generator seed of a store that has its slots.
    void start(const LoadedControlFile& loaded, const Clock* clock, std::optional<uint64_t> startMs,
               std::optional<uint32_t> seed);

    std::shared_ptr<const LoadedControlFile> loaded_;
    ValueSlots slots_;
    DynamicRows rows_;
    // Where the last successor nextAttribute gave stands in the attribute file.
    mutable std::size_t lastSuccessor_ = SIZE_MAX;
    snmp::ObjectId linkName_;  // the name a low32 view reads, kept for its room
};

}  // namespace korvimo::store
