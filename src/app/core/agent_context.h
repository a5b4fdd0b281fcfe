// AgentContext: the one record of the running simulator, and the types that travel with it.
//
// The main window (or the headless front end) creates one AgentContext, fills it from
// korvan.ini (initAgentContext), and hands it to every subsystem: the endpoints and message
// flow, the request handler, the variable store and the tool operations. Events of the
// shared endpoints and timers go to the handlers of the one active operation
// (slots[activeSlot]); `busy` keeps operations one at a time.
//
//   AgentContext ctx;
//   initAgentContext(ctx, config);                 // start-up settings from korvan.ini
//   ctx.slots[OperationSlot::Agent] = &agentHandlers;
//   ctx.activeSlot = OperationSlot::Agent;
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>

#include "app/core/event_loop.h"
#include "app/core/fixed_text.h"
#include "snmp/message.h"

namespace korvimo {

class Configuration;
class StatusList;
struct AgentContext;
namespace store {
class VariableStore;
}

// A socket address of any family; the family is the first 16-bit word, as in sockaddr.
struct SocketAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;

    int family() const { return storage.ss_family; }
    sockaddr* sa() { return reinterpret_cast<sockaddr*>(&storage); }
    const sockaddr* sa() const { return reinterpret_cast<const sockaddr*>(&storage); }
};

// Counters of the running agent, zeroed by every successful agent start; they wrap.
struct AgentStatistics {
    uint32_t GetRequests = 0;
    uint32_t GetNextRequests = 0;
    uint32_t SetRequests = 0;
    uint32_t Responses = 0;  // responses sent; kept in step with OutPkts, not shown
    uint32_t InPkts = 0;
    uint32_t OutPkts = 0;
    uint32_t GetBulkRequests = 0;
};

// One outgoing request awaiting its response, in order of sending.
struct PendingRequest {
    AgentContext* context = nullptr;
    std::unique_ptr<snmp::Pdu> pdu;
    uint32_t timerId = 0;
    int32_t requestId = 0;
    int32_t transmissions = 0;  // 1 after the first
};

// The callbacks through which the one active operation receives events. Any may be empty.
// The bool results are the handlers' own (onRequest, for one, gives false when it ignores a
// request because no agent runs); the message flow passes them on but does not report them:
// handlers report their own failures through `report`.
struct OperationHandlers {
    // A timer tick of the operation; request is the timed-out request, or null.
    std::function<bool(uint32_t timerId, AgentContext& ctx, const snmp::Pdu* request)> onTimer;
    // A Response to one of the operation's requests.
    std::function<bool(const snmp::Pdu& response, AgentContext& ctx, const SocketAddress& from,
                       const snmp::Pdu* request)>
        onResponse;
    // A Get, GetNext, Set or GetBulk that arrived on agentSocket.
    std::function<bool(const snmp::Pdu& request, AgentContext& ctx, const SocketAddress& from)>
        onRequest;
    // A Trap or SNMPv2-Trap that arrived on trapSocket.
    std::function<bool(const snmp::Pdu& trap, AgentContext& ctx, const SocketAddress& from)> onTrap;
    // Appends one line to the operation's status list.
    std::function<void(const char* text, AgentContext& ctx)> report;
};

enum OperationSlot : int32_t {
    Agent = 0,
    Learn = 1,
    CreateTraps = 2,
    CreateVariables = 3,
    GenerateTraps = 4,
};
inline constexpr int kOperationSlots = 5;

inline constexpr int32_t kBusyIdle = 1;
inline constexpr int32_t kBusyRunning = 3;

inline constexpr int32_t kVersionModeV1 = 0;
inline constexpr int32_t kVersionModeV2c = 1;
inline constexpr int32_t kVersionModeBilingual = 3;

inline constexpr int kClosed = -1;  // a closed file or endpoint

struct AgentContext {
    // Endpoints (descriptors; kClosed when none).
    int clientSocket = kClosed;
    int trapSocket = kClosed;
    int agentSocket = kClosed;

    uint32_t nextRequestId = 2;
    uint32_t nextTimerId = 1;

    // The event loop, the main window and the window that owns request timers and receives
    // endpoint events (the main window, or the tool that runs an operation).
    EventLoop* loop = nullptr;
    EventSink* mainWindow = nullptr;
    EventSink* ownerWindow = nullptr;

    SocketAddress peerAddress;
    int32_t peerPort = 161;
    uint32_t timeoutMs = 0;
    int32_t retries = 0;

    int32_t activeSlot = OperationSlot::Agent;
    int32_t busy = kBusyIdle;

    bool timestamp = false;     // TIMESTAMP is "YES"
    bool skipInstance = false;  // SKIPINST is "YES"
    bool debugMode = false;     // DEBUGMODE is "YES"

    std::list<PendingRequest> pendingRequests;

    FixedText<199> community;  // trap community; trap file creation keeps the enterprise id here
    int32_t trapIndex = 0;
    int32_t toolPosition = 0;  // the running tool's read position in mibinfo.out
    int32_t toolSetting = 0;   // the running tool's one setting
    uint32_t toolTimer = 0;    // 0 = none

    // Files (descriptors; kClosed when closed).
    int mibInfoFile = kClosed;
    int outputFile = kClosed;
    int tableFile = kClosed;
    int controlFile = kClosed;
    int trapFile = kClosed;

    FixedText<299> selectedTraps;
    FixedText<49> readCommunity;
    FixedText<49> writeCommunity;

    bool timerDriven = false;
    std::array<OperationHandlers*, kOperationSlots> slots{};

    FixedText<99> installDir{".."};
    uint8_t walkType = 1;
    int32_t versionMode = kVersionModeBilingual;
    int32_t ipVersion = 0;  // 0 IPv4, 1 IPv6
    int64_t startTime = 0;  // calendar seconds of the last agent start

    AgentStatistics statistics;

    // Services of the front end and the process.
    Configuration* config = nullptr;   // korvan.ini
    StatusList* mainStatus = nullptr;  // the main window's status list
    const Clock* clock = nullptr;      // time source; the system clock unless a test sets one
    // The variables the running agent serves; set by the agent start, null while stopped.
    store::VariableStore* store = nullptr;
    // Shows a titled message; headless front ends make it a status line.
    std::function<void(const char* title, const char* text)> messageBox;

    // The active operation's handlers, or null.
    OperationHandlers* active() const {
        return activeSlot >= 0 && activeSlot < kOperationSlots ? slots[activeSlot] : nullptr;
    }
};

}  // namespace korvimo
