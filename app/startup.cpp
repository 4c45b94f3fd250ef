#include <cstdio>
#include <cstring>

#include "app/dialer.h"
#include "app/texts.h"
#include "link/link.h"
#include "platform/keyboard.h"
#include "platform/sleep.h"
#include "screen/console_writer.h"

namespace {

constexpr std::uint32_t kOpeningPauseMs = 1200;
constexpr std::uint32_t kHelpKeyPollMs = 700;

void ShowHelpScreen(ConsoleHandle console) {
    PrintColour(console,
                "THIS WILL NOT 'DOUBLE-CLICK' FROM WINDOWS, it is a DOS program!\n"
                "Open a COMMAND window.",
                0, 4, kColourAlarm);
    PrintColour(console, "If you ran it from a COMMAND window...", 0, 7, kColourGuide);
    PrintColour(console,
                "Check 'Device Manager' and look in 'Ports (COM & LPT)'.\n\n"
                "Your command should look like...\n"
                "        <program name> <port number> <c> for cat omit <c> for non-cat\n\n"
                " eg    Tarnwickdialer 5 c       cat program on COMport 5\n"
                "       Tarnwickdialer 5     non-cat program on COMport 5",
                0, 8, kColourText);
    PrintColour(console, "If you ran it from a COMMAND window with the correct Comport number,", 0,
                16, kColourGuide);
    PrintColour(console, " type dir and enter. Tarnwickdialer.exe should show in the list.", 0, 17,
                kColourGuide);
    PrintColour(console, " if it doesn't show, move it there with WIndows explorer", 0, 18,
                kColourGuide);
    PrintColour(console,
                "If you open the correct port but it is not talking to the ECU,\n"
                " then incorrect values will appear on the screen\n"
                " slowly and the battery volts will be zero.",
                0, 20, kColourText);
    PrintColour(console, "Press a key to continue.", 0, 23, kColourGuide);
}

void ShowFailureScreen(ConsoleHandle console) {
    console_write("Unable to open serial port, check you have the correct port! Quitting.\n");
    console_write("\nCheck 'Device Manager' and look in 'Ports (COM & LPT)'.\n\n");
    PrintColour(console,
                "\n\n\nYour command should look like...\n\n"
                "        <program name> <port number> <c> for cat omit <c> for non-cat\n\n"
                " eg    Tarnwickdialer 5 c       cat program on port 5\n"
                "       Tarnwickdialer 5     non-cat program on port 5",
                0, 4, kColourText);
    PrintColour(console, "If you ran it from a COMMAND window with the correct Comport number,", 0,
                14, kColourGuide);
    PrintColour(console, " type dir and enter. Tarnwickdialer.exe should show in the list.", 0, 15,
                kColourGuide);
    PrintColour(console, " if it doesn't show, move it there with Windows explorer and try again.",
                0, 16, kColourGuide);
    PrintColour(console,
                "If you open the correct port but it is not talking to the ECU,\n"
                " then incorrect values will appear on the screen\n"
                " slowly and the battery volts will be zero.",
                0, 18, kColourText);
}

// The failure screen leaves the cursor inside its text, where the shell's
// prompt would overwrite the last guidance line: move it below.
void LeaveFailureScreen(ConsoleHandle console) { console_set_cursor(console, 0, 21); }

// Writes the parts one after the other: the port name is data, never a format.
void WriteOpeningMessage(const char* before_contact, const char* before_port, const char* port) {
    console_write(before_contact);
    console_write(kContactAddress);
    console_write(before_port);
    console_write(port);
    console_write("'\n");
}

StartUpOutcome Finish(ConsoleHandle console, int code) { return {false, code, console, false}; }

}  // namespace

const char* ProgramBaseName(const char* path) {
    const char* base = path;
    for (const char* p = path; *p != '\0'; ++p) {
#ifdef _WIN32
        if (*p == '\\') base = p + 1;
#else
        if (*p == '\\' || *p == '/') base = p + 1;
#endif
    }
    return base;
}

StartUpOutcome StartUp(int argc, char** argv, char (&line)[kLineBufferSize]) {
    const int args = argc - 1;

    // Asked for the version: one line, nothing else touched.
    if (args == 1 && (std::strcmp(argv[1], "-V") == 0 || std::strcmp(argv[1], "--version") == 0)) {
        std::printf("tarnwickdialer %s\n", TD_VERSION);
        return Finish(nullptr, 0);
    }

    // Refused before the console is touched: nothing to restore, nothing opened.
    if (args >= 1 && std::strlen(argv[1]) > static_cast<std::size_t>(kMaxPortArgument)) {
        std::fprintf(stderr,
                     "tarnwickdialer: the port argument is %zu characters long; at most %d are "
                     "accepted.\n",
                     std::strlen(argv[1]), kMaxPortArgument);
        return Finish(nullptr, 1);
    }

    if (const char* why = console_unusable_reason()) {
        std::fprintf(stderr, "tarnwickdialer: %s.\n", why);
        return Finish(nullptr, 1);
    }

    ConsoleHandle console = console_open();
    console_set_title(kTitle);
    PrintColour(console, "", 0, 0, kColourText);
    console_clear();

    // More than two arguments is a usage error, answered like no argument.
    const bool usage = args == 0 || args > 2;
    if (usage) {
        const char* program = argc > 0 && argv[0] != nullptr ? argv[0] : "tarnwickdialer";
        std::snprintf(line, sizeof line, "Lancia Delta Integrale Mk1 etc. Usage: %s [port#] \n",
                      ProgramBaseName(program));
        console_write(line);
    }

    console_set_attribute(console, kColourText);
    console_write(kBanner);
    console_write("\n");

    if (usage) {
        ShowHelpScreen(console);
        // With input at its end no key can come: nothing to wait for.
        while (!key_waiting() && !key_input_ended()) sleep_ms(kHelpKeyPollMs);
        PrintColour(console, "\n", 0, 23, kColourGuide);
        key_read();
        return Finish(console, 1);
    }

    const bool cat_mode = args == 2;
    port_format_name(line, sizeof line, argv[1]);
    if (cat_mode) {
        WriteOpeningMessage("For support & premium version, PayPal donations to ",
                            "\n attempting to open the port '", line);
        if (serial_setcomms(kEcuBaud, line) == nullptr) {
            ShowFailureScreen(console);
            PrintColour(console, "\n", 0, 18, kColourGuide);
            LeaveFailureScreen(console);
            return Finish(console, 1);
        }
        console_write("Successfully opened port!          \n\n");
    } else {
        WriteOpeningMessage("PayPal donations appreciated to ", "\n attempting to open COMport '",
                            line);
        sleep_ms(kOpeningPauseMs);
        if (serial_setcomms(kEcuBaud, line) == nullptr) {
            ShowFailureScreen(console);
            LeaveFailureScreen(console);
            return Finish(console, 1);
        }
        console_write("Successfully opened port!          \n\n ");
    }

    sleep_ms(kOpeningPauseMs);
    return {true, 0, console, cat_mode};
}

int RunDialer(int argc, char** argv) {
    char line[kLineBufferSize] = {};
    StartUpOutcome start = StartUp(argc, argv, line);
    if (!start.run) return start.exit_code;
    return MainLoop(start.console, start.cat_mode, line);
}
