// Win32 serial port through the communications API.
#include "platform/serial.h"

#include <windows.h>

#include <cstdio>

#include "platform/serial_win32.h"
#include "platform/sleep.h"

namespace {
// Kept as module state: the settings read from the port and changed.
DCB dcb;
COMMTIMEOUTS cto;

constexpr DWORD kReadTotalTimeoutMs = 350;
constexpr unsigned long kHighestComPort = 256;

PortOpenError open_error;

// The port the control handler must release; null when none is open.
HANDLE volatile open_port = nullptr;

// SetCommState refused the speed asked for.
bool speed_refused = false;

// The device went away (a USB adapter pulled out): set by the first call
// that finds out, cleared by the next open.
bool vanished = false;

// The errors the communications calls give once the device is gone.
void note_failure(DWORD error) {
    switch (error) {
        case ERROR_ACCESS_DENIED:
        case ERROR_BAD_COMMAND:
        case ERROR_DEVICE_REMOVED:
        case ERROR_OPERATION_ABORTED:
        case ERROR_GEN_FAILURE:
            vanished = true;
            break;
        default:
            break;
    }
}

PortHandle fail(PortFailure failure) {
    open_error.failure = failure;
    return INVALID_HANDLE_VALUE;
}

// "com<n>" with n a decimal number 1 to 256: the only names that are ports.
bool com_number(const char* name, unsigned long* number) {
    if ((name[0] != 'c' && name[0] != 'C') || (name[1] != 'o' && name[1] != 'O') ||
        (name[2] != 'm' && name[2] != 'M') || name[3] == '\0')
        return false;
    unsigned long n = 0;
    for (const char* p = name + 3; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return false;
        n = n * 10 + static_cast<unsigned long>(*p - '0');
        if (n > kHighestComPort) return false;
    }
    if (n == 0) return false;
    *number = n;
    return true;
}

PortFailure failure_of_error(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return PortFailure::kNoSuchPort;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return PortFailure::kInUse;
        default:
            return PortFailure::kOther;
    }
}

// The system's words for `error`, on one line without the closing period.
void note_system_text(DWORD error) {
    char* text = open_error.system_text;
    const DWORD size = sizeof open_error.system_text;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                             0, text, size, nullptr);
    if (n == 0) n = static_cast<DWORD>(std::snprintf(text, size, "error %lu", error));
    if (n >= size) n = size - 1;
    text[n] = '\0';
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == '.' || text[n - 1] == ' '))
        text[--n] = '\0';
    for (DWORD i = 0; i < n; ++i)
        if (text[i] == '\r' || text[i] == '\n') text[i] = ' ';
}

}  // namespace

PortHandle port_invalid() { return INVALID_HANDLE_VALUE; }

bool port_format_name(char* out, std::size_t size, const char* arg) {
    // "COM5" and "com5", as Device Manager shows the port, mean port 5 too.
    unsigned long number = 0;
    if (com_number(arg, &number)) arg += 3;
    int n = std::snprintf(out, size, "com%s", arg);
    return n >= 0 && static_cast<std::size_t>(n) < size;
}

PortHandle port_open(const char* name) {
    open_error = PortOpenError{};
    // Only a COM number names a port, and only as \\.\COM<n> does the name
    // reach the device for every number (plain "com10" names nothing, and a
    // "com5" might be taken for a file in the current folder).
    unsigned long number = 0;
    if (!com_number(name, &number)) return fail(PortFailure::kNotAPortName);
    char device[24];
    std::snprintf(device, sizeof device, "\\\\.\\COM%lu", number);
    HANDLE port = CreateFileA(device, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        note_system_text(error);
        return fail(failure_of_error(error));
    }
    // Whatever opened, nothing is written to it unless it is a device.
    if (GetFileType(port) != FILE_TYPE_CHAR) {
        CloseHandle(port);
        return fail(PortFailure::kNotASerialPort);
    }
    vanished = false;
    open_port = port;
    return port;
}

const PortOpenError& port_open_error() { return open_error; }

// A COM port is never a pseudo-terminal: it comes back by its name.
PortPeer port_peer(const char*) { return PortPeer{}; }

bool port_may_reopen(const char*, const PortPeer&) { return true; }

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
    speed_refused = !SetCommState(port, &dcb);

    GetCommTimeouts(port, &cto);
    cto.ReadTotalTimeoutConstant = kReadTotalTimeoutMs;
    SetCommTimeouts(port, &cto);
}

LineSpeedReport port_line_speed(PortHandle port) {
    LineSpeedReport report{};
    DCB now{};
    now.DCBlength = sizeof now;
    if (GetCommState(port, &now)) report.read_back = now.BaudRate;
    report.refused = speed_refused;
    COMMPROP properties{};
    report.listed_rates_only =
        !GetCommProperties(port, &properties) || (properties.dwSettableBaud & BAUD_USER) == 0;
    return report;
}

namespace {

// The LatencyTimer value of the FTDI driver's device whose PortName is COM
// number `number`, under HKLM\SYSTEM\CurrentControlSet\Enum\FTDIBUS, in
// <device>\<instance>\Device Parameters. Opened for reading only.
int ftdi_latency_ms(unsigned long number) {
    HKEY bus;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS", 0, KEY_READ, &bus) !=
        ERROR_SUCCESS)
        return -1;
    int found = -1;
    char device[256];
    for (DWORD i = 0; found < 0; ++i) {
        DWORD device_size = sizeof device;
        if (RegEnumKeyExA(bus, i, device, &device_size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        HKEY instances;
        if (RegOpenKeyExA(bus, device, 0, KEY_READ, &instances) != ERROR_SUCCESS) continue;
        char instance[256];
        for (DWORD j = 0; found < 0; ++j) {
            DWORD instance_size = sizeof instance;
            if (RegEnumKeyExA(instances, j, instance, &instance_size, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS)
                break;
            char sub[300];
            std::snprintf(sub, sizeof sub, "%s\\Device Parameters", instance);
            HKEY parameters;
            if (RegOpenKeyExA(instances, sub, 0, KEY_QUERY_VALUE, &parameters) != ERROR_SUCCESS) continue;
            char name[32];
            DWORD name_size = sizeof name - 1;
            DWORD type = 0;
            unsigned long port_number = 0;
            if (RegQueryValueExA(parameters, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(name),
                                 &name_size) == ERROR_SUCCESS &&
                type == REG_SZ) {
                name[name_size] = '\0';
                DWORD latency = 0;
                DWORD latency_size = sizeof latency;
                if (com_number(name, &port_number) && port_number == number &&
                    RegQueryValueExA(parameters, "LatencyTimer", nullptr, &type,
                                     reinterpret_cast<BYTE*>(&latency), &latency_size) == ERROR_SUCCESS &&
                    type == REG_DWORD)
                    found = latency > 1000 ? 1000 : static_cast<int>(latency);
            }
            RegCloseKey(parameters);
        }
        RegCloseKey(instances);
    }
    RegCloseKey(bus);
    return found;
}

}  // namespace

int port_latency_timer_ms(const char* name) {
    unsigned long number = 0;
    if (!com_number(name, &number)) return -1;
    return ftdi_latency_ms(number);
}

void port_purge(PortHandle port) {
    if (port == INVALID_HANDLE_VALUE || port == nullptr) return;
    // A removed device fails the status query first.
    DWORD errors = 0;
    COMSTAT status;
    if (!ClearCommError(port, &errors, &status)) vanished = true;
    if (!PurgeComm(port, PURGE_RXABORT | PURGE_RXCLEAR)) note_failure(GetLastError());
}

std::uint32_t port_write_byte(PortHandle port, std::uint8_t byte) {
    DWORD written = 0;
    if (!WriteFile(port, &byte, 1, &written, nullptr)) note_failure(GetLastError());
    return written;
}

std::uint32_t port_read_byte(PortHandle port, std::uint8_t* cell) {
    const std::uint64_t deadline = clock_ms() + kReadTotalTimeoutMs;
    DWORD got = 0;
    if (ReadFile(port, cell, 1, &got, nullptr)) return got;
    // A read that fails at once (no port, a removed device) still takes its
    // time-out, or a lost port would spin the processor.
    note_failure(GetLastError());
    const std::uint64_t now = clock_ms();
    if (now < deadline) sleep_ms(static_cast<std::uint32_t>(deadline - now));
    return 0;
}

bool port_vanished(PortHandle port) { return port != INVALID_HANDLE_VALUE && port != nullptr && vanished; }

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
