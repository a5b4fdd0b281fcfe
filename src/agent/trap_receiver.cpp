#include "agent/trap_receiver.h"

#include <cerrno>

namespace korvimo {

Result TrapReceiver::open(uint16_t port) {
    close();
    UniqueFd socket;
    if (Result opened = openTrapSocket(socket, port); !opened) {
        return opened;
    }
    return socket_.watch(loop_, std::move(socket), [this] { readable(); });
}

void TrapReceiver::close() {
    socket_.close();
}

void TrapReceiver::readable() {
    uint8_t datagram[kTrapBufferSize];
    std::size_t length = sizeof datagram;
    SocketAddress source;
    int error = 0;
    if (!receiveDatagram(socket_.get(), datagram, length, source, &error)) {
        if (error != EAGAIN && error != EWOULDBLOCK && handlers_.onFailure) {
            handlers_.onFailure(kReceiveErrorText);
        }
        return;
    }
    snmp::Pdu trap;
    if (Result decoded = snmp::decodeMessage(datagram, static_cast<uint32_t>(length), &trap);
        !decoded) {
        if (handlers_.onFailure) {
            handlers_.onFailure(decoded.text());
        }
        return;
    }
    if ((trap.type == snmp::kPduTrap || trap.type == snmp::kPduSnmpV2Trap) && handlers_.onTrap) {
        handlers_.onTrap(trap, source);
    }
}

}  // namespace korvimo
