// Scheduled events of a control file: the trap file its events send from, and the Sets the
// agent makes by itself at given times after its start, each optionally followed by a trap.
//
//   %trapfile default.trp
//   %event 120 every 240 set ifOperStatus.3 2 trap linkDown
//   %event 150 every 240 set ifOperStatus.3 1 trap linkUp
//   %event 30 set sysContact.0 "ops on call"
//
// "%event SECONDS [every SECONDS] set NAME VALUE [trap TRAPNAME]": SECONDS after the agent's
// start (0: as soon as it serves), then every SECONDS when "every" is given; NAME a numeric
// identifier or a descriptor with its instance; VALUE one word, or a text in double quotes
// (a quote inside it written as \"), read by the attribute's syntax as fixed value text
// is; TRAPNAME the name of a "%T" line of the trap file. "%trapfile FILE" names that file,
// relative to <home>/agent/ unless absolute; the last such line counts.
//
// Loading reads these lines (readEventDirective) and checks them against the attributes:
// an event naming no attribute line nor dynamic column, or sending a trap without a
// "%trapfile", is an error of its line; an event setting an attribute whose behaviour keeps
// no Set (fixed, the counters, ...) is a warning, since each of its Sets will be refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "snmp/message.h"

namespace korvimo::store {

// Messages of loading.
inline constexpr const char* kInvalidEventMessage =
    "Invalid event.(line = %ld). %s; the form is %%event SECONDS [every SECONDS] set NAME "
    "VALUE [trap TRAPNAME]";
inline constexpr const char* kEventTargetMessage =
    "Invalid event.(line = %ld). %s is not an attribute of the control file";
inline constexpr const char* kEventNoTrapFileMessage =
    "Invalid event.(line = %ld). It sends trap %s, but no %%trapfile line names the trap file";
inline constexpr const char* kInvalidTrapFileMessage =
    "Invalid trap file.(line = %ld). %%trapfile needs the name of a trap file";
inline constexpr const char* kTooManyEventsMessage =
    "Too many events.(line = %ld). A control file holds at most %lu %%event lines";
// Warning title: an event whose Set the attribute's behaviour refuses.
inline constexpr const char* kEventNotSettableTitle = "Event Set refused";

// Events a control file may hold: each may run every second.
inline constexpr std::size_t kMaxEvents = 1000;
// Events repeat no more often than this, and wait at most this long (seconds).
inline constexpr uint32_t kMaxEventSeconds = 100u * 24u * 3600u;

struct ScheduledEvent {
    long line = 0;              // of the control file
    uint32_t afterSeconds = 0;  // from the agent's start to the first time
    uint32_t everySeconds = 0;  // 0: once
    std::string name;           // as written, for status lines
    snmp::ObjectId target;      // numeric
    std::string value;          // value text, read by the target's syntax at each Set
    std::string trap;           // name of the trap sent after the Set; empty: none
};

struct EventDirectives {
    std::string trapFile;  // as written; empty: none
    long trapFileLine = 0;
    std::vector<ScheduledEvent> events;  // in file order
};

// What the directive word of a line is: "%event" and "%trapfile" followed by a blank.
bool isEventDirective(std::string_view line);
bool isTrapFileDirective(std::string_view line);

// Reads an "%event" line (target not yet mapped: its name is left in event.name). False
// with why (a sentence without its end) when the line does not have the form.
bool readEventDirective(std::string_view line, ScheduledEvent& event, std::string& why);
// The file an "%trapfile" line names; empty when it names none.
std::string_view trapFileOf(std::string_view line);

}  // namespace korvimo::store
