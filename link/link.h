// The ECU link: opening the diagnostic port and the one-byte exchange that
// every reading on the dashboard is made of.
#pragma once
#include <cstdint>

#include "platform/serial.h"

constexpr std::int32_t kEcuBaud = 7812;

// Module state: the open port (null until serial_setcomms has run, the
// invalid handle after a failed open) and the byte counts of the last exchange.
extern PortHandle rs232;
extern std::uint32_t txcount;
extern std::uint32_t rxcount;

// Opens and configures the port; returns it (also held in rs232), or null
// when the device could not be opened.
PortHandle serial_setcomms(std::int32_t baud, const char* name);

// One exchange: request the register `address` (low 8 bits sent), return the
// second byte of the answer, or 0 when it did not come.
// A port whose device went away (unplugged) is closed at once; while it is
// gone every exchange reads 0 after the request's pause alone, without
// waiting for an answer, and at most once a second, before an exchange, the
// same name is opened again: a pseudo-terminal only while the program that
// held its other side at the first open still holds it (its number may have
// gone to any other program since).
std::int32_t GetECUByte(std::int32_t address);

// Requests made and answers received (both bytes came, so the second is the
// register's) since the
// last link_tally_reset: a cycle's tally says how far its readings are real.
struct LinkTally {
    std::uint32_t requests;
    std::uint32_t answered;
};
void link_tally_reset();
LinkTally link_tally();

// Told when the port's device goes away (lost) and when it is open again,
// with the port's name.
using PortLossHandler = void (*)(bool lost, const char* name);
void link_on_port_loss(PortLossHandler handler);

// Told after every exchange whether it was answered (both bytes came), and
// whether the port is lost; the link line follows the line by it.
using ExchangeHandler = void (*)(bool answered, bool port_lost);
void link_on_exchange(ExchangeHandler handler);

// The name serial_setcomms was given: the port the link opens again.
const char* link_port_name();

// Closes rs232 if it was ever opened and forgets it.
void link_close();
