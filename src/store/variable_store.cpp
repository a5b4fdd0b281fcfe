#include "store/variable_store.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <new>

#include "app/core/configuration.h"
#include "mibinfo/mib_info_library.h"
#include "snmp/error_status.h"
#include "store/control_line.h"
#include "store/instance_range.h"
#include "store/load_checks.h"
#include "store/status_report.h"
#include "store/value_expression.h"

namespace korvimo::store {

namespace {

// The value of RANDOMSEED that makes every run draw the same numbers, and their seed.
constexpr std::string_view kFixedSeedWord = "fixed";
// "fixed(" + ten digits + ")" and its terminator.
constexpr std::size_t kRangeExpressionCapacity = 24;

// Reading the control file into memory: Read, a read that failed, a line longer than
// kMaxControlLine that is not a comment, or a read given up because the load was asked to stop.
enum class ControlRead { Read, Failed, Overlong, Stopped };

// Reads the whole control file behind fd. The read stops at the first line longer than
// kMaxControlLine that is not a comment (overlongLine gives its number), so that a file of one
// endless line (zeros, a sparse file) fails at once instead of being read whole. Of a longer
// comment line only its first kMaxControlLine bytes are kept: nothing reads a comment further.
// stop is asked before each block, so that a stop needs no more than one block's reading.
template <typename Stop>
ControlRead readControlText(int fd, std::string& text, long& overlongLine, Stop&& stop) {
    text.clear();
    if (fd < 0) {
        return ControlRead::Failed;
    }
    char buffer[1 << 16];
    off_t offset = 0;
    long number = 1;            // of the line being read
    std::size_t lineBytes = 0;  // of it so far, its dropped bytes included
    bool comment = false;
    while (true) {
        if (stop()) {
            return ControlRead::Stopped;
        }
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, offset);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return ControlRead::Failed;
        }
        if (n == 0) {
            return ControlRead::Read;
        }
        offset += n;
        std::string_view chunk(buffer, static_cast<std::size_t>(n));
        while (!chunk.empty()) {
            if (lineBytes == 0) {
                comment = chunk.front() == '#';
            }
            const std::size_t lf = chunk.find('\n');
            const std::size_t take = lf == std::string_view::npos ? chunk.size() : lf + 1;
            const std::size_t bodyBytes = lf == std::string_view::npos ? take : lf;
            if (lineBytes + bodyBytes > kMaxControlLine && !comment) {
                overlongLine = number;
                return ControlRead::Overlong;
            }
            // A comment keeps its first kMaxControlLine bytes and its line end.
            const std::size_t room = lineBytes < kMaxControlLine ? kMaxControlLine - lineBytes : 0;
            text.append(chunk.substr(0, std::min(bodyBytes, room)));
            lineBytes += bodyBytes;
            if (lf != std::string_view::npos) {
                text.push_back('\n');
                ++number;
                lineBytes = 0;
            }
            chunk.remove_prefix(take);
        }
    }
}

long readLimit(const Configuration* config, ConfigKey key, long max, long fallback) {
    std::string value;
    long number = 0;
    if (config != nullptr && config->readPlain(key, value)) {
        number = readSettingNumber(value);
    }
    if (number > max) {
        return max;
    }
    return number < 1 ? fallback : number;
}

// The line that starts at offset, without its end.
std::string_view lineAt(std::string_view text, std::size_t offset) {
    std::size_t end = text.find('\n', offset);
    if (end == std::string_view::npos) {
        end = text.size();
    } else if (end > offset && text[end - 1] == '\r') {
        --end;
    }
    return text.substr(offset, end - offset);
}

// What the findings of a filled format or low32 expression name: what was written and the
// instance ("format(10.0.0.%d) gives 10.0.0.256 at instance 256, which ..."); empty (the
// expression itself) for other lines.
std::string instanceSubject(bool perInstance, std::string_view written, std::string_view filled,
                            const std::vector<uint32_t>& ids) {
    if (!perInstance) {
        return {};
    }
    return quoted(written) + " gives " + quoted(valueText(filled)) + " at instance " +
           std::to_string(ids.back()) + ", which";
}

std::string_view rangeExpression(char (&text)[kRangeExpressionCapacity], uint32_t value) {
    const int length = std::snprintf(text, sizeof text, "fixed(%u)", value);
    return {text, static_cast<std::size_t>(length)};
}

}  // namespace

std::shared_ptr<const LoadedControlFile> LoadedControlFile::load(const LoadInputs& inputs) {
    return loadForChange(inputs);
}

std::shared_ptr<LoadedControlFile> LoadedControlFile::loadForChange(const LoadInputs& inputs) {
    std::shared_ptr<LoadedControlFile> loaded;
    try {
        loaded.reset(new LoadedControlFile);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    LoadedControlFile& self = *loaded;
    const std::shared_ptr<const mibinfo::MibInfo> mib = inputs.mibInfo;
    // Without the file every descriptor is unknown; numeric names still load.
    self.mapper_.emplace(mib != nullptr ? *mib : mibinfo::MibInfo::empty());
    self.reporter_ = Reporter{inputs.report, inputs.messageBox};
    self.stopRequested_ = inputs.stopRequested;
    bool ok = false;
    {
        std::string controlText;
        try {
            ok = self.load(inputs, controlText);
            self.schema_ = self.rows_.finishLoading();
        } catch (const std::bad_alloc&) {
            ok = false;
        }
    }
    if (self.stopped_) {
        ok = false;
        self.reporter_.status(kLoadStoppedMessage);
    }
    self.reporter_.flush();
    self.mapper_.reset();
    self.reporter_ = Reporter{};
    self.stopRequested_ = nullptr;
    // The loading rows let go of the schema; their instances live on in it.
    self.rows_.release();
    if (!ok) {
        return nullptr;
    }
    return loaded;
}

bool LoadedControlFile::stopRequested(uint64_t count) {
    if (!stopped_ && stopRequested_ && count % kStopPollLines == 0 && stopRequested_()) {
        stopped_ = true;
    }
    return stopped_;
}

bool VariableStore::loadControlFile(const LoadInputs& inputs) {
    releaseStore();
    std::shared_ptr<LoadedControlFile> loaded = LoadedControlFile::loadForChange(inputs);
    if (loaded == nullptr) {
        return false;
    }
    // The only store of this load takes the initial slots and listed rows instead of copying
    // them, so a single agent holds them once; no other store can attach to the load then.
    slots_ = std::move(loaded->slots_);
    rows_.adopt(loaded->schema_, std::move(loaded->schema_->listed));
    loaded->initialStateTaken_ = true;
    start(*loaded, inputs.clock, inputs.startMs, std::nullopt);
    loaded_ = std::move(loaded);
    return true;
}

bool VariableStore::attach(std::shared_ptr<const LoadedControlFile> loaded, const Clock* clock,
                           std::optional<uint64_t> startMs, std::optional<uint32_t> seed) {
    releaseStore();
    if (loaded == nullptr || loaded->initialStateTaken()) {
        return false;
    }
    try {
        if (!slots_.copyFrom(loaded->initialSlots())) {
            return false;
        }
        rows_.attach(loaded->rowSchema());
    } catch (const std::bad_alloc&) {
        releaseStore();
        return false;
    }
    start(*loaded, clock, startMs, seed);
    loaded_ = std::move(loaded);
    return true;
}

void VariableStore::start(const LoadedControlFile& loaded, const Clock* clock,
                          std::optional<uint64_t> startMs, std::optional<uint32_t> seed) {
    const Clock& time = clock != nullptr ? *clock : SystemClock::instance();
    slots_.setTimeBase(&time, startMs.has_value() ? *startMs : time.monotonicMs());
    slots_.seed(seed.has_value()     ? *seed
                : loaded.fixedSeed() ? kFixedSeed
                                     : static_cast<uint32_t>(time.calendarSeconds()));
}

void VariableStore::releaseStore() {
    rows_.release();
    slots_.clear();
    loaded_.reset();
    lastSuccessor_ = SIZE_MAX;
}

const AttributeFile& VariableStore::attributeFile() const {
    static const AttributeFile none;
    return loaded_ != nullptr ? loaded_->attributeFile() : none;
}

bool LoadedControlFile::load(const LoadInputs& inputs, std::string& controlText) {
    cacheSize_ = readLimit(inputs.config, ConfigKey::CACHESIZE, kMaxCacheSize, kDefaultCacheSize);
    dynamicReserve_ = readLimit(inputs.config, ConfigKey::DYNINSTSIZE, kMaxDynamicReserve,
                                kDefaultDynamicReserve);

    if (!file_.create(inputs.attributeFilePath)) {
        return false;
    }
    long overlongLine = 0;
    // A count of 0 makes every block's question reach the caller.
    const ControlRead read = readControlText(inputs.controlFile, controlText, overlongLine,
                                             [this] { return stopRequested(0); });
    if (read == ControlRead::Overlong) {
        reporter_.error(overlongLine, kLineTooLongMessage, overlongLine,
                        static_cast<unsigned long>(kMaxControlLine));
        return false;
    }
    if (read != ControlRead::Read || controlText.size() >= UINT32_MAX) {
        return false;
    }

    // Every pass goes on past the errors it reports, so that one load names every error of
    // the file (and its warnings); the load fails at the end when there was any.

    // Pass 1: the syntax check over the whole file, counting the directives.
    std::size_t directives = 0;
    {
        ControlLines lines(controlText);
        std::string_view line;
        while (lines.next(line) && !stopRequested(static_cast<uint64_t>(lines.number()))) {
            if (isOverlong(line)) {
                reporter_.error(lines.number(), kLineTooLongMessage, lines.number(),
                                static_cast<unsigned long>(kMaxControlLine));
            } else if (!passesSyntaxCheck(line)) {
                reporter_.error(lines.number(), kInvalidSyntaxMessage, lines.number());
            }
            if (lineKind(line) == LineKind::Directive) {
                const Directive directive = directiveOf(line);
                directives += directive == Directive::Column || directive == Directive::SetAction;
            }
        }
    }

    if (stopped_) {
        return false;
    }

    // Pass 2: the directives.
    if (directives > 0) {
        rows_.loadDirectives(controlText, *mapper_, reporter_);
    }
    readEvents(controlText);

    // Pass 3: the attribute lines.
    bool outOfOrder = false;
    uint64_t repeated = 0;
    collectAttributes(controlText, outOfOrder, repeated);
    checkEvents();
    checkLinks();
    reporter_.flush();
    if (stopped_ || reporter_.errors() > 0) {
        return false;
    }
    if (outOfOrder) {
        reporter_.status(kOutOfOrderMessage);
    }
    if (repeated > 0) {
        reporter_.statusFormat(kRepeatedMessage, static_cast<unsigned long>(repeated));
    }

    staticCount_ = static_cast<uint32_t>(file_.collectedCount());
    const uint64_t capacity = static_cast<uint64_t>(staticCount_) + rows_.listedCount() +
                              static_cast<uint64_t>(dynamicReserve_);
    const uint64_t inUse = static_cast<uint64_t>(staticCount_) + rows_.listedCount();
    if (!slots_.allocate(static_cast<uint32_t>(capacity), static_cast<uint32_t>(inUse)) ||
        !writeAttributeFile(controlText)) {
        return false;
    }

    uint32_t ordinal = staticCount_;
    if (!rows_.setUpListedInstances(ordinal)) {
        return false;
    }
    slots_.setNextFresh(ordinal);

    std::string seed;
    fixedSeed_ = inputs.config != nullptr &&
                 inputs.config->readPlain(ConfigKey::RANDOMSEED, seed) && seed == kFixedSeedWord;

    if (rows_.columnCount() > 0) {
        rows_.markIndexColumns(mapper_->mibInfo());
    }
    return true;
}

bool LoadedControlFile::findCollected(std::span<const uint32_t> ids, IndexEntry& entry) const {
    std::size_t low = 0;
    std::size_t high = file_.collectedCount();
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (compareIdentifiers(file_.collectedIdentifier(middle), ids) < 0) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    if (low == file_.collectedCount() ||
        compareIdentifiers(file_.collectedIdentifier(low), ids) != 0) {
        return false;
    }
    entry = file_.collectedEntry(low);
    return true;
}

void LoadedControlFile::checkLinks() {
    std::vector<uint32_t> ids;
    for (const Link& link : links_) {
        readIdentifierText(link.numeric, ids);  // as instanceExpression checked it
        if (rows_.columnCount() > 0 && rows_.ownerColumn(ids) >= 0) {
            continue;  // an instance of a dynamic column: 0 while its row does not exist
        }
        const std::string name = quoted(link.written);
        IndexEntry entry;
        if (!findCollected(ids, entry)) {
            reporter_.error(link.line, kLinkTargetMessage, link.line, name.c_str());
        } else if (entry.expression.starts_with(kLow32Keyword)) {
            reporter_.error(link.line, kLinkToLinkMessage, link.line, name.c_str());
        } else if (!isNumberSyntax(entry.syntax) && entry.syntax != snmp::kTagCounter64) {
            reporter_.error(link.line, kLinkNotNumberMessage, link.line, name.c_str(),
                            std::string(syntaxWordOf(entry.syntax)).c_str());
        }
    }
    std::vector<Link>().swap(links_);
}

void LoadedControlFile::readEvents(std::string_view controlText) {
    ControlLines lines(controlText);
    std::string_view line;
    std::string numeric;
    std::string why;
    while (lines.next(line)) {
        if (lineKind(line) != LineKind::Directive || isOverlong(line)) {
            continue;
        }
        const long number = lines.number();
        if (isTrapFileDirective(line)) {
            events_.trapFile = std::string(trapFileOf(line));
            events_.trapFileLine = number;
            if (events_.trapFile.empty()) {
                reporter_.error(number, kInvalidTrapFileMessage, number);
            }
            continue;
        }
        if (!isEventDirective(line)) {
            continue;
        }
        if (events_.events.size() == kMaxEvents) {
            reporter_.error(number, kTooManyEventsMessage, number,
                            static_cast<unsigned long>(kMaxEvents));
            break;
        }
        ScheduledEvent event;
        event.line = number;
        why.clear();
        if (!readEventDirective(line, event, why)) {
            reporter_.error(number, kInvalidEventMessage, number, why.c_str());
            continue;
        }
        if (!mapper_->map(event.name, numeric)) {
            reporter_.error(number, kCannotMapMessage, quoted(event.name).c_str(), number);
            reporter_.adviseAfterLastError(kCompileMibMessage);
            continue;
        }
        if (!readIdentifierText(numeric, event.target.ids)) {
            reporter_.error(number, kBadIdentifierMessage, number, quoted(event.name).c_str(),
                            kNameNotNumericText);
            continue;
        }
        events_.events.push_back(std::move(event));
    }
}

void LoadedControlFile::checkEvents() {
    std::vector<Finding> findings;
    for (const ScheduledEvent& event : events_.events) {
        if (!event.trap.empty() && events_.trapFile.empty()) {
            reporter_.error(event.line, kEventNoTrapFileMessage, event.line,
                            quoted(event.trap).c_str());
        }
        const std::span<const uint32_t> target(event.target.ids);
        if (rows_.columnCount() > 0 && rows_.ownerColumn(target) >= 0) {
            continue;  // an instance of a dynamic column, which a row may have by then
        }
        IndexEntry entry;
        if (!findCollected(target, entry)) {
            reporter_.error(event.line, kEventTargetMessage, event.line,
                            quoted(event.name).c_str());
            continue;
        }
        // The value is read as fixed value text of the attribute's syntax: the same checks,
        // told of the value.
        checkExpression("fixed(" + event.value + ")", entry.syntax, syntaxWordOf(entry.syntax),
                        findings, "the value " + quoted(event.value));
        for (Finding& finding : findings) {
            if (finding.detail.ends_with(" is served")) {
                finding.detail.replace(finding.detail.size() - 6, 6, "set");
            }
        }
        const std::string_view expression = entry.expression;
        const Behaviour behaviour = recogniseForSetUp(expression);
        if (behaviour != Behaviour::Lastset && behaviour != Behaviour::RLastset &&
            !expression.starts_with("rowstatus")) {
            findings.push_back(
                Finding{kEventNotSettableTitle,
                        quoted(event.name) + " serves " + quoted(expression) +
                            ", which keeps no Set: give it lastset(...) for the event to "
                            "change it"});
        }
        reportFindings(reporter_, event.line, findings);
    }
}

bool LoadedControlFile::instanceExpression(std::string_view expression, uint32_t last, long line,
                                           std::string& out) {
    const bool low32 = expression.starts_with(kLow32Keyword);
    const std::string_view keyword = low32 ? kLow32Keyword : kFormatKeyword;
    std::string_view text = valueText(expression);
    std::string filled;
    const char* why = nullptr;
    if (!formatInstance(text, last, filled, why)) {
        reporter_.error(line, kInvalidInstanceFormatMessage, line, quoted(expression).c_str(), why);
        return false;
    }
    if (!low32) {
        out = "fixed(" + filled + ")";
        return true;
    }
    std::string numeric;
    std::vector<uint32_t> target;
    if (trimBlanks(filled).empty()) {
        reporter_.error(line, kLinkNoNameMessage, line);
        return false;
    }
    if (!mapper_->map(trimBlanks(filled), numeric)) {
        reporter_.error(line, kCannotMapMessage, quoted(filled).c_str(), line);
        reporter_.adviseAfterLastError(kCompileMibMessage);
        return false;
    }
    if (!readIdentifierText(numeric, target)) {
        reporter_.error(line, kBadIdentifierMessage, line, quoted(filled).c_str(),
                        kNameNotNumericText);
        return false;
    }
    out.assign(keyword);
    out += numeric;
    out += ")";
    links_.push_back(Link{line, std::move(numeric), std::string(trimBlanks(filled))});
    return true;
}

void LoadedControlFile::collectAttributes(std::string_view controlText, bool& outOfOrder,
                                          uint64_t& repeated) {
    ControlLines lines(controlText);
    std::string_view line;
    std::string numeric;
    InstanceRange range;
    std::vector<Finding> findings;
    std::string filledExpression;
    uint64_t total = 0;
    const bool hasColumns = rows_.columnCount() > 0;
    while (lines.next(line) && !stopRequested(static_cast<uint64_t>(lines.number()))) {
        // Lines that fail the syntax check have had their error.
        if (lineKind(line) != LineKind::Attribute || !passesSyntaxCheck(line)) {
            continue;
        }
        const long number = lines.number();
        AttributeFields fields;
        // An indented comment or directive, or a line of blanks, passes the syntax check
        // without commas; its name is all of it.
        const bool split = splitAttributeLine(line, fields);
        const std::string_view name =
            split ? fields.name : trimBlanks(line.substr(0, line.find(',')));
        if (!mapper_->map(name, numeric)) {
            reporter_.error(number, kCannotMapMessage, quoted(name).c_str(), number);
            reporter_.adviseAfterLastError(kCompileMibMessage);
            continue;
        }
        if (!split) {
            reporter_.error(number, kInvalidSyntaxMessage, number);
            continue;
        }
        const char* why = nullptr;
        if (!range.parse(numeric, why)) {
            reporter_.error(number, kBadIdentifierMessage, number, quoted(fields.name).c_str(),
                            why);
            continue;
        }
        total += range.count(kMaxAttributes + 1);
        if (total > kMaxAttributes) {
            // Memory would run out before the rest of the file is read.
            reporter_.error(number, kTooManyAttributesMessage, number,
                            static_cast<unsigned long>(kMaxAttributes));
            return;
        }
        uint32_t rangeComponent = 0;
        const bool rangeInstance = isRangeInstance(range, fields.value, rangeComponent);
        // format and low32 take each identifier's last component.
        const bool perInstance =
            fields.value.starts_with(kFormatKeyword) || fields.value.starts_with(kLow32Keyword);
        const uint8_t syntax = syntaxCode(fields.syntax);
        const Access access = accessCode(fields.access);
        // The line's warnings are found once, for the first identifier it gives: as a static
        // attribute or as an instance of a column (whose syntax then applies). Whether its
        // behaviour can serve the syntax is asked again only when another syntax applies.
        bool warned = false;
        bool instanceWarned = false;
        int checkedSyntax = -1;
        const auto lineOffset = static_cast<uint32_t>(lines.lineOffset());
        for (bool more = range.first(); more; more = range.next()) {
            const std::vector<uint32_t>& ids = range.current();
            char text[kRangeExpressionCapacity];
            std::string_view expression =
                rangeComponent != 0 ? rangeExpression(text, range.component(rangeComponent))
                                    : fields.value;
            if (perInstance) {
                if (!instanceExpression(fields.value, ids.back(), number, filledExpression)) {
                    break;
                }
                expression = filledExpression;
            }
            const int32_t owner = hasColumns ? rows_.ownerColumn(ids) : -1;
            const DynamicColumn* column =
                owner >= 0 ? &rows_.column(static_cast<uint32_t>(owner)) : nullptr;
            const uint8_t served = column != nullptr ? column->syntax : syntax;
            // Expressions of rangeinst, fixed(N), fit every syntax.
            if (rangeComponent == 0 && served != checkedSyntax) {
                if (!expressionFitsSyntax(expression, served)) {
                    reporter_.error(
                        number, kBehaviourSyntaxMessage, number, quoted(expression).c_str(),
                        column != nullptr ? "of its column" : quoted(fields.syntax).c_str());
                    break;
                }
                checkedSyntax = served;
            }
            const std::string_view servedWord =
                column != nullptr ? column->syntaxWord : fields.syntax;
            if (!warned) {
                warned = true;
                if (column == nullptr) {
                    checkSyntaxWord(fields.syntax, findings);
                }
                checkInstanceRange(range, fields.value, findings);
                if (!rangeInstance) {
                    checkExpression(expression, served, servedWord, findings,
                                    instanceSubject(perInstance, fields.value, expression, ids));
                }
                instanceWarned = perInstance && !findings.empty();
                reportFindings(reporter_, number, findings);
            } else if (perInstance && !instanceWarned) {
                // Each instance of a format line has a value text of its own: the first one
                // the syntax cannot read is said.
                checkExpression(expression, served, servedWord, findings,
                                instanceSubject(perInstance, fields.value, expression, ids));
                instanceWarned = !findings.empty();
                reportFindings(reporter_, number, findings);
            }
            if (column != nullptr) {
                bool duplicate = false;
                rows_.addListedInstance(
                    static_cast<uint32_t>(owner),
                    std::span<const uint32_t>(ids).subspan(column->identifier.ids.size()),
                    expression, outOfOrder, duplicate);
                repeated += duplicate;
                continue;
            }
            file_.collect(ids, expression, syntax, access, lineOffset);
        }
    }

    if (!file_.collectedAscending()) {
        outOfOrder = true;
        file_.sortCollected();
    }
    // Of lines with one identifier, the first (in file order, kept by the stable sort) stays.
    repeated += file_.dropRepeats();
}

bool LoadedControlFile::writeAttributeFile(std::string_view controlText) {
    const std::vector<uint32_t>& order = rows_.columnsInOrder();
    auto columnId = [this](uint32_t c) {
        return std::span<const uint32_t>(rows_.column(c).identifier.ids);
    };
    markerPositions_.assign(rows_.columnCount(), 0);
    auto writeMarker = [&](uint32_t c) {
        rows_.markerWritten(c);
        markerPositions_[c] = static_cast<uint32_t>(file_.size());
        return file_.writeMarker(columnId(c), c);
    };

    std::size_t nextColumn = 0;
    uint32_t splitOffset = UINT32_MAX;
    AttributeFields fields;
    for (uint32_t ordinal = 0; ordinal < file_.collectedCount(); ++ordinal) {
        if (stopRequested(ordinal + 1)) {
            return false;
        }
        const CollectedLine& line = file_.collected(ordinal);
        // Marker records join the same arena, so the identifier is looked up afresh after each.
        while (nextColumn < order.size() &&
               compareIdentifiers(columnId(order[nextColumn]), file_.collectedIdentifier(ordinal)) <
                   0) {
            if (!writeMarker(order[nextColumn++])) {
                return false;
            }
        }
        if (line.sourceOffset != splitOffset) {
            splitAttributeLine(lineAt(controlText, line.sourceOffset), fields);
            splitOffset = line.sourceOffset;
        }
        const std::string_view expression = file_.collectedExpression(ordinal);
        if (!file_.writeAttribute(line, fields.syntax, fields.access, ordinal) ||
            !slots_.setUp(ordinal, expression, syntaxCode(fields.syntax))) {
            return false;
        }
    }
    while (nextColumn < order.size()) {
        if (!writeMarker(order[nextColumn++])) {
            return false;
        }
    }
    return file_.finish();
}

bool VariableStore::lookupAttribute(const snmp::ObjectId& name, AttributeInfo& found) const {
    const AttributeFile& file = attributeFile();
    const std::span<const uint32_t> target(name.ids);
    // A name under a dynamic column is one of its instances or nothing: loading made every
    // such line an instance.
    if (rows_.columnCount() > 0) {
        if (const int32_t owner = rows_.ownerColumn(target); owner >= 0) {
            return rows_.exactInstance(static_cast<uint32_t>(owner), target, found);
        }
    }
    std::size_t position = 0;
    IndexEntry entry;
    if (!file.findAttribute(target, position, entry)) {
        return false;
    }
    found.syntax = entry.syntax;
    found.access = entry.access;
    found.ordinal = entry.number;
    found.expression = entry.expression;
    return true;
}

bool VariableStore::nextAttribute(const snmp::ObjectId& name, snmp::ObjectId& successor,
                                  AttributeInfo& found) const {
    const AttributeFile& file = attributeFile();
    const std::span<const uint32_t> target(name.ids);
    std::size_t position = 0;
    std::size_t exact = lastSuccessor_;
    const int32_t owner = rows_.columnCount() > 0 ? rows_.ownerColumn(target) : -1;
    if (owner >= 0) {
        // Within a column its marker line is the floor: first the column's own instances,
        // then whatever follows the marker.
        if (rows_.nextInstance(static_cast<uint32_t>(owner), target, successor, found)) {
            return true;
        }
        position = loaded_->markerPosition(static_cast<uint32_t>(owner)) + 1;
    } else if ((exact < file.size() && compareIdentifiers(file.identifier(exact), target) == 0) ||
               file.findAttribute(target, exact)) {
        // The name of an attribute line is its own floor (a walk gives the name found last
        // time); markers after it are met below.
        position = exact + 1;
    } else if (const std::ptrdiff_t floor = file.floor(target); floor >= 0) {
        const IndexEntry entry = file.entry(static_cast<std::size_t>(floor));
        if (entry.isMarker() && rows_.nextInstance(entry.number, target, successor, found)) {
            return true;
        }
        position = static_cast<std::size_t>(floor) + 1;
    }
    for (position = file.nextVisible(position); position < file.size();
         position = file.nextVisible(position + 1)) {
        const IndexEntry entry = file.entry(position);
        if (entry.isMarker()) {
            if (rows_.nextInstance(entry.number, target, successor, found)) {
                return true;
            }
            continue;
        }
        const auto id = file.identifier(position);
        successor.ids.assign(id.begin(), id.end());
        lastSuccessor_ = position;
        found.syntax = entry.syntax;
        found.access = entry.access;
        found.ordinal = entry.number;
        found.expression = entry.expression;
        return true;
    }
    return false;
}

bool VariableStore::makeValue(snmp::SyntaxValue& value, const AttributeInfo& attribute) {
    if (!attribute.expression.starts_with(kLow32Keyword)) {
        return slots_.makeValue(value, attribute.syntax, attribute.ordinal, attribute.expression);
    }
    if (!slots_.holds(attribute.ordinal)) {
        return false;
    }
    // Loading wrote the linked name as numeric text, read into a buffer kept for it, so a
    // read allocates nothing.
    if (!isNumberSyntax(attribute.syntax)) {
        return true;  // loading refuses it
    }
    // A target that is not there (a row not made yet), or a view itself, reads as 0.
    value.syntax = attribute.syntax;
    value.number = 0;
    AttributeInfo target;
    if (!readIdentifierText(valueText(attribute.expression), linkName_.ids) ||
        !lookupAttribute(linkName_, target) || target.expression.starts_with(kLow32Keyword)) {
        return true;
    }
    snmp::SyntaxValue linked;
    slots_.makeValue(linked, target.syntax, target.ordinal, target.expression);
    const uint64_t whole = linked.syntax == snmp::kTagCounter64 ? linked.counter64 : linked.number;
    value.syntax = attribute.syntax;
    value.number = static_cast<uint32_t>(whole);
    return true;
}

const EventDirectives& VariableStore::events() const {
    static const EventDirectives none;
    return loaded_ != nullptr ? loaded_->events() : none;
}

Result VariableStore::setFromText(const snmp::ObjectId& name, std::string_view valueText) {
    AttributeInfo found;
    const std::string shown = identifierText(name.ids);
    if (!lookupAttribute(name, found)) {
        return Result::failuref(kNoSuchAttributeFormat, shown.c_str());
    }
    snmp::Pdu request;
    request.type = snmp::kPduSetRequest;
    snmp::VarBind binding;
    binding.name = name;
    convertFixedText(valueText, found.syntax, binding.value);
    if (!snmp::SnmpAddVb(&request.varBinds, &binding.name, &binding.value)) {
        return Result::failuref(kSetRefusedFormat, shown.c_str(), "no memory");
    }
    int32_t status = 0;
    if (!checkSet(binding, found, false, request, status)) {
        return Result::failuref(kSetRefusedFormat, shown.c_str(), snmp::errorStatusName(status));
    }
    storeSet(binding, found);
    applySet(binding);
    return {};
}

bool VariableStore::checkSet(const snmp::VarBind& binding, const AttributeInfo& attribute,
                             bool newInstance, const snmp::Pdu& request, int32_t& status) const {
    if (attribute.expression.starts_with("rowstatus")) {
        return rows_.checkRowStatus(binding.name, binding.value, newInstance, attribute.ordinal,
                                    request, status);
    }
    return slots_.checkSet(binding.value, attribute.expression, newInstance, status);
}

bool VariableStore::storeSet(const snmp::VarBind& binding, const AttributeInfo& attribute) {
    if (attribute.expression.starts_with("rowstatus")) {
        rows_.storeRowStatus(binding.value, attribute.ordinal, binding.name);
    } else {
        slots_.storeSet(binding.value, attribute.syntax, attribute.ordinal, attribute.expression);
    }
    return true;
}

}  // namespace korvimo::store
