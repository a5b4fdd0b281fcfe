// Learning: what a walk of a teacher agent writes, apart from how the answers arrive. A
// learning run (GetNext or GetBulk requests over the network) and an import of a walk file
// both feed a LearnedWalk with the bindings the teacher answered, in order, and get the same
// control-file lines for the same answers.
//
//   uint32_t lookup = 0;                          // kept for the program's run
//   LearnedWalk walk({mib.get(), &overrides, Replay::Moving, end, &lookup});
//   std::string out;
//   appendLearnedHeader("127.0.0.1", "1.0", kEndOfAllMibs, out);
//   snmp::ObjectId next;
//   switch (walk.response(response, requestedName, WalkRequest::GetNext, out, next)) {
//       case LearnedWalk::Outcome::Continue: ... ask for `next` ...
//       case LearnedWalk::Outcome::Completed: ... kLearningCompletedText ...
//       ...
//   }
//
// One binding after the name asked for (`after`), in the order of the rules:
//   - an endOfMibView value, when endOfMibViewEnds (SNMPv2c), completes the walk;
//   - with an end identifier, a name not smaller than the end completes the walk (the end
//     object itself is never learned);
//   - a name greater than `after` is learned: its variable line (learnedVariable) is written;
//   - any other name (backwards, or a repeat) writes kWrongOrderLineFormat with the name in
//     dotted decimal, and the walk goes on from that name.
// A response: error-status noSuchName completes the walk; another non-zero error-status is
// OtherError (the caller shows the request and response); no binding is NoBindings. A GetNext
// response uses its first binding only; a GetBulk response (non-repeaters 0) each binding in
// order, each after the one before, as the GetNext walk would have met them, up to the first
// that completes the walk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "create/learned_variable.h"
#include "create/walk_file.h"
#include "mibinfo/mib_info.h"
#include "snmp/message.h"

namespace korvimo::create {

inline constexpr const char* kEndOfAllMibs = "End Of All MIBs";
inline constexpr const char* kWalkStartDefault = "1.0";

// Status texts of a learning run.
inline constexpr const char* kLearningStartedText = "Learning started.";
inline constexpr const char* kLearningCompletedText = "Learning Completed.";
inline constexpr const char* kLearningStoppedText = "Learning Stopped.";
inline constexpr const char* kLearningStoppedAfterErrorText = "Learning stopped.";
inline constexpr const char* kCreatingTemplatesText = "Creating Dynamic Row Templates.";
inline constexpr const char* kNoBindingsText =
    "Response contained no variable bindings. Learning Stopped due to error.";
inline constexpr const char* kOtherErrorText = "Received Error other than NO_SUCH_NAME";
inline constexpr const char* kWrongOrderText = "Agent Error in GetNext response. Attribute ignored";
inline constexpr const char* kTimeoutText = "Timeout expired. No reply received.";
inline constexpr const char* kGotFormat = "Got %s";
inline constexpr const char* kGotRequestText = "Got SNMP Request. Ignored.";
inline constexpr const char* kGotTrapFormat = "Got Trap(generic = %s, specific = %d). Ignored.";
inline constexpr const char* kOverridesMissingText =
    "Cannot open default override file. Ignoring option.";
inline constexpr const char* kEndUnknownText = "End of Walk Oid Unknown. Try again";
inline constexpr const char* kStartUnknownText = "Start of Walk Oid Unknown. Try again";
inline constexpr const char* kEndNotAfterStartText =
    "End of Walk criteria is smaller than Start of Walk. Try again";

// Lines of the learned file.
inline constexpr const char* kWrongOrderLineFormat =
    "#GetNext error: Wrong lexicographical ordering: %s\r\n";
inline constexpr const char* kStoppedByUserLine =
    "# Learning was stopped before completion by user\r\n";
inline constexpr const char* kStoppedByTimeoutLine =
    "# Learning was stopped before completion due to timeout\r\n";

// The generic trap's name for the trap report: "coldStart" ... "enterpriseSpecific" for 0 to
// 6, "unknown(N)" for any other code.
std::string genericTrapName(int32_t generic);

// A start or end text as an identifier: dotted decimal when it begins with a digit; else the
// part before its first "." is a descriptor, looked up among the object lines of mib (the
// first line with that descriptor gives its identifier) and the rest of the text from that
// "." on is appended. False when the text is no identifier, the descriptor has no object line
// or mib is null.
bool walkBound(std::string_view text, const mibinfo::MibInfo* mib, snmp::ObjectId& out);

// The header of a learned file: the rule line, the teacher's address, the start and end texts,
// the value formats block of created variable files, the rule line; CR LF line ends.
void appendLearnedHeader(std::string_view teacher, std::string_view start, std::string_view end,
                         std::string& out);
// The header of an imported file: as a learned file's, with "# Imported from walk file: "
// and the walk file's path in place of the teacher, start and end lines.
void appendImportedHeader(std::string_view walkFile, std::string& out);

enum class WalkRequest { GetNext, GetBulk };

class LearnedWalk {
  public:
    struct Settings {
        const mibinfo::MibInfo* mib = nullptr;     // null: every name numeric, access RO
        const OverrideTable* overrides = nullptr;  // null or empty: no overrides
        Replay replay = Replay::Moving;
        bool endOfMibViewEnds = false;      // SNMPv2c
        std::optional<snmp::ObjectId> end;  // none: to the end of the teacher's MIB
        // The name lookup's position in mib, resumed from and updated at every hit; null: a
        // position of this walk's own, from 0.
        uint32_t* lookupPosition = nullptr;
    };
    enum class Step { Learned, WrongOrder, Completed };
    enum class Outcome { Continue, Completed, NoBindings, OtherError };

    explicit LearnedWalk(Settings settings);

    // One binding answering a request for the name after `after`; its line appended to out.
    Step binding(const snmp::VarBind& binding, const snmp::ObjectId& after, std::string& out);

    // A response to a request for `requested`. Continue gives the name to ask for next (the
    // last binding's). The lines go to out.
    Outcome response(const snmp::Pdu& response, const snmp::ObjectId& requested,
                     WalkRequest request, std::string& out, snmp::ObjectId& next);

    // Variables written, and "#GetNext error" lines written, so far.
    std::size_t learned() const { return learned_; }
    std::size_t wrongOrder() const { return wrongOrder_; }
    // The name of the variable written last (descriptor form), for "Got %s".
    const std::string& lastName() const { return lastName_; }

  private:
    Settings settings_;
    uint32_t ownPosition_ = 0;
    std::size_t learned_ = 0;
    std::size_t wrongOrder_ = 0;
    std::string lastName_;
};

// What an import read and wrote. Every binding of the file is either written or skipped:
// read == written + skipped.
struct ImportSummary {
    std::size_t lines = 0;    // lines of the walk file
    std::size_t read = 0;     // bindings read: records and problem lines
    std::size_t written = 0;  // variable lines written
    std::size_t skipped = 0;  // problem lines and records out of order ("#GetNext error" lines)
};

// The summary line of an import, "Read %lu lines: %lu variables written, %lu skipped.".
inline constexpr const char* kImportSummaryFormat =
    "Read %lu lines: %lu variables written, %lu skipped.";
// A line that could not be taken, with its line number: "Line %lu: %s".
inline constexpr const char* kImportProblemFormat = "Line %lu: %s";

// The control file of a walk file's contents: the imported header, then each record as a
// learning run writes the same answer (a record not after the one before it gives the
// "#GetNext error" line and is counted skipped, with a problem "Line N: ..." line). Problem
// lines of the walk, and those records, go to problem in line order.
void importWalk(const WalkContents& walk, std::string_view walkFile,
                const LearnedWalk::Settings& settings, std::string& out, ImportSummary& summary,
                const std::function<void(std::string_view line)>& problem);

}  // namespace korvimo::create
