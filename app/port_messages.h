// What the user is told about ports: why one would not open, which ones the
// computer has. Pure text work, apart from the platform's answers it is given.
#pragma once
#include <cstddef>

#include "platform/serial.h"

// Each text is one console row: at most this many characters, so that even a
// console of 80 columns never wraps it.
constexpr int kMessageWidth = 79;

// Copies `text` with every control character (C0, DEL, C1 in UTF-8) shown as
// '?': an argument repeated on the screen must never drive the terminal.
void ShowSafely(char* out, std::size_t size, const char* text);

// The reason an open failed, in plain words with what to do, at most `width`
// characters (a long port name is shortened in its middle). `port` is the
// name the messages show, `argument` the command line's; both shown safely.
void PortReasonText(char* out, std::size_t size, const PortOpenError& error, const char* port,
                    const char* argument, PortSystem system, int width);

// `before` + the port's name + `after` in at most `width` characters: the
// name shown safely, as the system writes it (COM5), cut in its middle when
// the row is too short for it.
void PortInText(char* out, std::size_t size, const char* before, const char* port, const char* after,
                PortSystem system, int width);

// Sorts by name, numbers by value: COM3 before COM12.
void SortPorts(PortEntry* entries, int count);
bool PortBefore(const PortEntry& a, const PortEntry& b);

// One line naming the ports: the first `listed` of `total` are in
// `entries`. Full names when all of them fit `width`, else the short ones
// with "... and N more" for those that do not fit.
void PortsLineText(char* out, std::size_t size, const PortEntry* entries, int listed, int total,
                   int width);
