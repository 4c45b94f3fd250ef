#include "link/link.h"

#include <cstdio>

#include "platform/sleep.h"

PortHandle rs232 = nullptr;
std::uint32_t txcount = 0;
std::uint32_t rxcount = 0;

namespace {
// The ECU needs this long after the request before its answer can be read.
constexpr std::uint32_t kAnswerDelayMs = 10;
// A port that went away is looked for again no more often than this.
constexpr std::uint64_t kReopenEveryMs = 1000;

// What a lost port is opened again as.
char port_name[128];
std::int32_t port_baud = 0;
bool port_lost = false;
std::uint64_t last_try_ms = 0;
PortLossHandler loss_handler = nullptr;
ExchangeHandler exchange_handler = nullptr;
// Who served the port at the first open.
PortPeer first_peer{};
LinkTally tally = {0, 0};

void tell(bool lost) {
    if (loss_handler != nullptr) loss_handler(lost, port_name);
}

// The device went away: let go of it at once, so that the system can give
// the adapter its old name back when it returns.
void lose_port() {
    port_close(rs232);
    rs232 = port_invalid();
    port_lost = true;
    last_try_ms = clock_ms();
    tell(true);
}

void try_reopen() {
    const std::uint64_t now = clock_ms();
    if (now - last_try_ms < kReopenEveryMs) return;
    last_try_ms = now;
    if (!port_may_reopen(port_name, first_peer)) return;
    PortHandle port = port_open(port_name);
    if (port == port_invalid()) return;
    port_configure(port, port_baud);
    rs232 = port;
    port_lost = false;
    tell(false);
}

}  // namespace

PortHandle serial_setcomms(std::int32_t baud, const char* name) {
    std::snprintf(port_name, sizeof port_name, "%s", name);
    port_baud = baud;
    port_lost = false;
    first_peer = port_peer(name);
    rs232 = port_open(name);
    if (rs232 == port_invalid()) return nullptr;
    port_configure(rs232, baud);
    return rs232;
}

void link_tally_reset() { tally = {0, 0}; }

LinkTally link_tally() { return tally; }

const char* link_port_name() { return port_name; }

void link_on_port_loss(PortLossHandler handler) { loss_handler = handler; }

void link_on_exchange(ExchangeHandler handler) { exchange_handler = handler; }

std::int32_t GetECUByte(std::int32_t address) {
    std::uint8_t request = static_cast<std::uint8_t>(address & 0xFF);
    std::uint8_t answer = 0;
    if (port_lost) try_reopen();

    // A late answer to an earlier request must never be taken for this one.
    port_purge(rs232);
    txcount = port_write_byte(rs232, request);
    sleep_ms(kAnswerDelayMs);

    // The interface echoes the request first; the register value is the
    // second byte, so the first read's byte is deliberately overwritten.
    // While the port is gone no answer can come: waiting out the time-outs
    // would only hold up q, for seconds a cycle.
    rxcount = 0;
    bool echo_came = false;
    if (!port_lost) {
        rxcount = port_read_byte(rs232, &answer);
        echo_came = rxcount != 0;
        rxcount = port_read_byte(rs232, &answer);
    }
    if (rxcount == 0) answer = 0;
    ++tally.requests;
    // A late answer's echo, read second, is taken for the value: only an
    // answer whose two bytes both came is the register's.
    const bool answered = echo_came && rxcount != 0;
    if (answered) ++tally.answered;
    if (!port_lost && port_vanished(rs232)) lose_port();
    if (exchange_handler != nullptr) exchange_handler(answered, port_lost);
    return answer;
}

void link_close() {
    if (rs232 != nullptr && rs232 != port_invalid()) port_close(rs232);
    rs232 = nullptr;
    port_lost = false;
}
