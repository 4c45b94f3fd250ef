// Win32 serial port through the communications API.
#include "platform/serial.h"

#include <windows.h>

#include <cstdio>

namespace {
// Kept as module state: the settings read from the port and changed.
DCB dcb;
COMMTIMEOUTS cto;

constexpr DWORD kReadTotalTimeoutMs = 350;
}  // namespace

PortHandle port_invalid() { return INVALID_HANDLE_VALUE; }

bool port_format_name(char* out, std::size_t size, const char* arg) {
    int n = std::snprintf(out, size, "com%s", arg);
    return n >= 0 && static_cast<std::size_t>(n) < size;
}

PortHandle port_open(const char* name) {
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
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

void port_close(PortHandle port) { CloseHandle(port); }
