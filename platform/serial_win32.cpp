// Win32 serial port through the communications API.
#include "platform/serial.h"

#include <windows.h>

#include <cstdio>

#include "platform/serial_win32.h"

namespace {
// Kept as module state: the settings read from the port and changed.
DCB dcb;
COMMTIMEOUTS cto;

constexpr DWORD kReadTotalTimeoutMs = 350;

// The port the control handler must release; null when none is open.
HANDLE volatile open_port = nullptr;
}  // namespace

PortHandle port_invalid() { return INVALID_HANDLE_VALUE; }

bool port_format_name(char* out, std::size_t size, const char* arg) {
    int n = std::snprintf(out, size, "com%s", arg);
    return n >= 0 && static_cast<std::size_t>(n) < size;
}

PortHandle port_open(const char* name) {
    HANDLE port = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (port != INVALID_HANDLE_VALUE) open_port = port;
    return port;
}

void port_configure(PortHandle port, std::int32_t baud) {
    // Settings not named here (XON/XOFF limits and characters, error, EOF and
    // event characters) keep what the port had.
    GetCommState(port, &dcb);
    dcb.BaudRate = static_cast<DWORD>(baud);
    dcb.fBinary = 1;
    dcb.fParity = 0;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = 0;
    dcb.fTXContinueOnXoff = 1;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = 0;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    SetCommState(port, &dcb);

    GetCommTimeouts(port, &cto);
    cto.ReadTotalTimeoutConstant = kReadTotalTimeoutMs;
    SetCommTimeouts(port, &cto);
}

void port_purge(PortHandle port) { PurgeComm(port, PURGE_RXABORT | PURGE_RXCLEAR); }

std::uint32_t port_write_byte(PortHandle port, std::uint8_t byte) {
    DWORD written = 0;
    WriteFile(port, &byte, 1, &written, nullptr);
    return written;
}

std::uint32_t port_read_byte(PortHandle port, std::uint8_t* cell) {
    DWORD got = 0;
    ReadFile(port, cell, 1, &got, nullptr);
    return got;
}

void port_close(PortHandle port) {
    // Whoever comes first closes it: this or the control handler.
    if (InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(&open_port), nullptr,
                                          port) == port)
        CloseHandle(port);
}

void win32_port_release_from_handler() {
    HANDLE port = InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&open_port), nullptr);
    if (port != nullptr) CloseHandle(port);
}
