#include "link/link.h"

#include "platform/sleep.h"

PortHandle rs232 = nullptr;
std::uint32_t txcount = 0;
std::uint32_t rxcount = 0;

namespace {
// The ECU needs this long after the request before its answer can be read.
constexpr std::uint32_t kAnswerDelayMs = 10;
}

PortHandle serial_setcomms(std::int32_t baud, const char* name) {
    rs232 = port_open(name);
    if (rs232 == port_invalid()) return nullptr;
    port_configure(rs232, baud);
    return rs232;
}

std::int32_t GetECUByte(std::int32_t address) {
    std::uint8_t request = static_cast<std::uint8_t>(address & 0xFF);
    std::uint8_t answer = 0;

    // A late answer to an earlier request must never be taken for this one.
    port_purge(rs232);
    txcount = port_write_byte(rs232, request);
    sleep_ms(kAnswerDelayMs);

    // The interface echoes the request first; the register value is the
    // second byte, so the first read's byte is deliberately overwritten.
    rxcount = 0;
    rxcount = port_read_byte(rs232, &answer);
    rxcount = port_read_byte(rs232, &answer);
    if (rxcount == 0) answer = 0;
    return answer;
}

void link_close() {
    if (rs232 != nullptr && rs232 != port_invalid()) port_close(rs232);
    rs232 = nullptr;
}
