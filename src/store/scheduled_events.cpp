#include "store/scheduled_events.h"

#include "base/text.h"

namespace korvimo::store {

namespace {

constexpr std::string_view kEventWord = "%event";
constexpr std::string_view kTrapFileWord = "%trapfile";

bool startsWithWord(std::string_view line, std::string_view word) {
    return line.starts_with(word) && line.size() > word.size() && isBlank(line[word.size()]);
}

// The next word of text, or a text in double quotes (see takeField). False at the end of
// text, or with why for an open quote.
bool nextWord(std::string_view& text, std::string& word, bool& quoted, std::string& why) {
    const FieldRead read = takeField(text, word);
    quoted = read == FieldRead::Quoted;
    if (read == FieldRead::Unclosed) {
        why = "a quoted value has no closing quote";
    }
    return read == FieldRead::Word || quoted;
}

// Whole seconds up to kMaxEventSeconds.
bool readSeconds(const std::string& word, uint32_t& seconds) {
    if (word.empty() || word.size() > 10) {
        return false;
    }
    uint64_t value = 0;
    for (char c : word) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > kMaxEventSeconds) {
        return false;
    }
    seconds = static_cast<uint32_t>(value);
    return true;
}

}  // namespace

bool isEventDirective(std::string_view line) {
    return startsWithWord(line, kEventWord);
}

bool isTrapFileDirective(std::string_view line) {
    return startsWithWord(line, kTrapFileWord) || trimBlanks(line) == kTrapFileWord;
}

std::string_view trapFileOf(std::string_view line) {
    return trimBlanks(line.substr(kTrapFileWord.size()));
}

bool readEventDirective(std::string_view line, ScheduledEvent& event, std::string& why) {
    std::string_view rest = line.substr(kEventWord.size());
    std::string word;
    bool quoted = false;
    auto expect = [&](std::string_view what) {
        if (!nextWord(rest, word, quoted, why) || quoted || word != what) {
            if (why.empty()) {
                why = std::string("\"") + std::string(what) + "\" is missing";
            }
            return false;
        }
        return true;
    };
    if (!nextWord(rest, word, quoted, why) || quoted || !readSeconds(word, event.afterSeconds)) {
        why = "the seconds after the start are not a whole number up to 8640000";
        return false;
    }
    if (!nextWord(rest, word, quoted, why)) {
        why = "\"set\" is missing";
        return false;
    }
    event.everySeconds = 0;
    if (!quoted && word == "every") {
        if (!nextWord(rest, word, quoted, why) || quoted ||
            !readSeconds(word, event.everySeconds) || event.everySeconds == 0) {
            why = "the seconds after \"every\" are not a whole number from 1 to 8640000";
            return false;
        }
        if (!expect("set")) {
            return false;
        }
    } else if (quoted || word != "set") {
        why = "\"set\" is missing";
        return false;
    }
    if (!nextWord(rest, word, quoted, why) || quoted) {
        why = "the name to set is missing";
        return false;
    }
    event.name = word;
    if (!nextWord(rest, word, quoted, why)) {
        if (why.empty()) {
            why = "the value to set is missing";
        }
        return false;
    }
    event.value = word;
    event.trap.clear();
    if (trimBlanks(rest).empty()) {
        return true;
    }
    if (!expect("trap")) {
        why = "only \"trap TRAPNAME\" may follow the value";
        return false;
    }
    if (!nextWord(rest, word, quoted, why) || quoted) {
        why = "the trap name is missing";
        return false;
    }
    event.trap = word;
    if (!trimBlanks(rest).empty()) {
        why = "nothing may follow the trap name";
        return false;
    }
    return true;
}

}  // namespace korvimo::store
