// TrapReceiver: the endpoint on which learning receives traps (UDP port 162 on IPv4).
// Every Trap and SNMPv2-Trap that arrives goes to onTrap; other PDU types are dropped; a
// datagram that cannot be read ("Error in receiving UDP Packet") or decoded (the decoder's
// text) is reported through onFailure.
//
//   TrapReceiver traps(loop, {[&](const snmp::Pdu& trap, const SocketAddress& from) { ... },
//                             [&](std::string_view why) { report(why); }});
//   if (Result r = traps.open(); !r) report(r.text());
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "agent/endpoints.h"
#include "app/core/event_loop.h"
#include "base/result.h"
#include "base/unique_fd.h"
#include "snmp/message.h"

namespace korvimo {

class TrapReceiver {
  public:
    struct Handlers {
        std::function<void(const snmp::Pdu& trap, const SocketAddress& from)> onTrap;
        std::function<void(std::string_view why)> onFailure;
    };

    TrapReceiver(EventLoop& loop, Handlers handlers)
        : loop_(loop), handlers_(std::move(handlers)) {}
    TrapReceiver(const TrapReceiver&) = delete;
    TrapReceiver& operator=(const TrapReceiver&) = delete;

    // Opens the endpoint on port (closing one that is open). The failure text is the
    // opener's, or kSelectFailedText when the event loop refuses the socket.
    Result open(uint16_t port = kTrapReceivePort);
    void close();
    bool isOpen() const { return socket_.isOpen(); }
    int socket() const { return socket_.get(); }

  private:
    void readable();

    EventLoop& loop_;
    Handlers handlers_;
    WatchedSocket socket_;
};

}  // namespace korvimo
