#include <cstdio>
#include <cstring>

#include "app/dialer.h"
#include "app/link_line.h"
#include "app/options.h"
#include "app/port_messages.h"
#include "app/texts.h"
#include "app/title.h"
#include "link/link.h"
#include "platform/keyboard.h"
#include "platform/sleep.h"
#include "record/recorder.h"
#include "report/report.h"
#include "screen/console_writer.h"

namespace {

constexpr std::uint32_t kOpeningPauseMs = 1200;
constexpr std::uint32_t kHelpKeyPollMs = 700;
// Ports a list or a line can name; any more are only counted.
constexpr int kMaxPorts = 32;

bool IsOption(const char* arg, const char* short_form, const char* long_form) {
    return std::strcmp(arg, short_form) == 0 || std::strcmp(arg, long_form) == 0;
}

bool AsksForHelp(const char* arg) {
#ifdef _WIN32
    if (std::strcmp(arg, "/?") == 0) return true;
#endif
    return IsOption(arg, "-h", "--help");
}

// The first ports present in order; returns how many there are in all.
int ListPorts(PortEntry (&ports)[kMaxPorts], int* listed) {
    const int total = port_list(ports, kMaxPorts, PortBefore);
    *listed = total < kMaxPorts ? total : kMaxPorts;
    return total;
}

void PrintPortsLine(ConsoleHandle console, std::int16_t row) {
    PortEntry ports[kMaxPorts];
    int listed = 0;
    const int total = ListPorts(ports, &listed);
    char text[kMessageWidth + 1];
    PortsLineText(text, sizeof text, ports, listed, total, kMessageWidth);
    PrintColour(console, text, 0, row, kColourGuide);
}

// --list: one port a line, with the short name where it is not the tail of
// the full one (the ttyUSBn a stable name leads to).
void PrintPortList() {
    PortEntry ports[kMaxPorts];
    int listed = 0;
    const int total = ListPorts(ports, &listed);
    if (total == 0) std::printf("No serial ports found: is the adapter plugged in?\n");
    for (int i = 0; i < listed; ++i) {
        char name[sizeof ports[i].name];
        char short_name[sizeof ports[i].short_name];
        ShowSafely(name, sizeof name, ports[i].name);
        ShowSafely(short_name, sizeof short_name, ports[i].short_name);
        const std::size_t len = std::strlen(name), short_len = std::strlen(short_name);
        if (short_len <= len && std::strcmp(name + len - short_len, short_name) == 0)
            std::printf("%s\n", name);
        else
            std::printf("%s (%s)\n", name, short_name);
    }
    if (total > listed) std::printf("... and %d more\n", total - listed);
}

// --help into a file or a pipe: the usage as plain text, the terminal (if
// any) untouched, nothing waited for.
void PrintUsage(const char* program) {
    char name[kLineBufferSize];
    ShowSafely(name, sizeof name, ProgramBaseName(program));
    std::printf("Usage: %s PORT [c] [--log FILE] [--beep] [--mono]\n"
                "       %s --report FILE.csv [OUT.html]\n"
                "       %s --list | --version | --help\n\n"
                "Live data from the engine ECU of a Lancia Delta Integrale 8v, 16v or Evo1.\n\n",
                name, name, name);
    if (kThisSystem == PortSystem::kWindows)
        std::printf("PORT           the COM number Device Manager shows: 5 (or COM5) for COM5\n");
    else
        std::printf("PORT           the serial port: a device path (/dev/ttyUSB0,\n"
                    "               /dev/serial/by-id/...), a device name (ttyUSB0), or a\n"
                    "               number N for /dev/ttyS{N-1}\n");
    std::printf("c              the car has a catalyst: the lambda readings are shown too\n"
                "-l, --list     the serial ports present, one a line\n"
                "-V, --version  the version\n"
                "--log FILE     record the drive to a new file, or to a new file in the\n"
                "               folder FILE\n"
                "--beep         start with the tone on: a bell when a sensor fault shows,\n"
                "               a reading turns red or the ECU stops answering\n"
                "--mono         no colour: alarms in reverse video, warnings underlined\n"
                "               (NO_COLOR does the same)\n"
                "--report FILE  a web page of the recording FILE (charts, faults, marks),\n"
                "               to OUT.html, or FILE's name with .html (in the folder OUT)\n"
                "%-15sthis help (on a terminal, the help screen)\n\n"
                "Keys: q quits; h or Tab switches between the dashboard and the history\n"
                "page (peaks, trends, fault memory); r resets the history; b switches the\n"
                "tone on and off; m or space marks the recording.\n",
                kThisSystem == PortSystem::kWindows ? "-h, --help, /?" : "-h, --help");
}

// The port's device went away or came back: the title says so, and what was
// recorded before the loss goes to the disk before the wait.
void OnPortLoss(bool lost, const char* port) {
    if (lost) recorder_sync();
    LinkStatusPortLoss(lost, port);
    TitlePortLost(lost, port);
}

// Creates the recording asked for, before the console and the port are
// touched; false when it cannot be, said in one line.
bool StartRecording(const char* target, bool cat_mode) {
    char why[64];
    if (recorder_start(target, cat_mode, why, sizeof why)) return true;
    char shown[kRecordPathSize];
    ShowSafely(shown, sizeof shown, recorder_path());
    std::fprintf(stderr, "tarnwickdialer: cannot record to %s: %s.\n", shown, why);
    return false;
}

// Under the failure screen: why the port would not open, and which there are.
void ShowWhyNotAndThePorts(ConsoleHandle console, const char* port, const char* argument) {
    char text[kMessageWidth + 1];
    PortReasonText(text, sizeof text, port_open_error(), port, argument, kThisSystem, kMessageWidth);
    PrintColour(console, text, 0, 22, kColourAlarm);
    PrintPortsLine(console, 23);
    console_write("\n");
}

// Where the program should be and what a silent ECU looks like, from `row`
// on: the help and the failure screens end with it.
void ShowGuidance(ConsoleHandle console, std::int16_t row, const char* move_it) {
    PrintColour(console, "If you ran it from a COMMAND window with the correct Comport number,", 0,
                row, kColourGuide);
    PrintColour(console, " type dir and enter. Tarnwickdialer.exe should show in the list.", 0,
                static_cast<std::int16_t>(row + 1), kColourGuide);
    PrintColour(console, move_it, 0, static_cast<std::int16_t>(row + 2), kColourGuide);
    PrintColour(console,
                "If you open the correct port but it is not talking to the ECU,\n"
                " then incorrect values will appear on the screen\n"
                " slowly and the battery volts will be zero.",
                0, static_cast<std::int16_t>(row + 4), kColourText);
}

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
    ShowGuidance(console, 16, " if it doesn't show, move it there with WIndows explorer");
    PrintPortsLine(console, 2);
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
    ShowGuidance(console, 14, " if it doesn't show, move it there with Windows explorer and try again.");
}

// What tells the plain and the cat program's openings apart.
struct Opening {
    const char* before_contact;
    const char* before_port;
    std::uint32_t pause_before_open_ms;
    // Row where the cat program's failure screen puts the guide's pen before
    // the reason (-1: none).
    std::int16_t failure_pen_row;
    const char* opened;
};

constexpr Opening kPlainOpening{"PayPal donations appreciated to ", "\n attempting to open COMport '",
                                kOpeningPauseMs, -1, "Successfully opened port!          \n\n "};
constexpr Opening kCatOpening{"For support & premium version, PayPal donations to ",
                              "\n attempting to open the port '", 0, 18,
                              "Successfully opened port!          \n\n"};

void ShowBanner(ConsoleHandle console) {
    console_set_attribute(console, kColourText);
    console_write(kBanner);
    console_write("\n");
}

// -V, -l, and --help into a file or a pipe: plain lines, nothing else
// touched. Returns whether it was one.
bool AnswerInformationOption(int args, char** argv) {
    if (args != 1) return false;
    if (IsOption(argv[1], "-V", "--version")) {
        std::printf("tarnwickdialer %s\n", TD_VERSION);
        return true;
    }
    if (IsOption(argv[1], "-l", "--list")) {
        PrintPortList();
        return true;
    }
    if (AsksForHelp(argv[1]) && !console_output_is_terminal()) {
        PrintUsage(argv[0] != nullptr ? argv[0] : "tarnwickdialer");
        return true;
    }
    return false;
}

// Refused before the console is touched: nothing to restore, nothing opened.
// Returns whether it refused.
bool Refuse(int args, char** argv) {
    if (args >= 1 && std::strlen(argv[1]) > static_cast<std::size_t>(kMaxPortArgument)) {
        std::fprintf(stderr,
                     "tarnwickdialer: the port argument is %zu characters long; at most %d are "
                     "accepted.\n",
                     std::strlen(argv[1]), kMaxPortArgument);
        return true;
    }
    if (const char* why = console_unusable_reason()) {
        std::fprintf(stderr, "tarnwickdialer: %s.\n", why);
        return true;
    }
    return false;
}

// The usage line, the banner and the help screen, until a key.
void ShowUsage(ConsoleHandle console, const char* program) {
    char name[kLineBufferSize];
    ShowSafely(name, sizeof name, ProgramBaseName(program));
    console_write("Lancia Delta Integrale Mk1 etc. Usage: ");
    console_write(name);
    console_write(" [port#] \n");
    ShowBanner(console);
    ShowHelpScreen(console);
    // With input at its end no key can come: nothing to wait for.
    while (!key_waiting() && !key_input_ended()) sleep_ms(kHelpKeyPollMs);
    PrintColour(console, "\n", 0, 23, kColourGuide);
    key_read();
}

// Opens the port `line` names, the argument as given in `argument`; on
// failure shows why. The port name is data, never a format.
bool OpenPort(ConsoleHandle console, const Opening& opening, const char* line, const char* argument) {
    // The name as shown: whatever the argument holds, never a terminal control.
    char shown[kLineBufferSize];
    ShowSafely(shown, sizeof shown, line);
    console_write(opening.before_contact);
    console_write(kContactAddress);
    console_write(opening.before_port);
    console_write(shown);
    console_write("'\n");
    if (opening.pause_before_open_ms > 0) sleep_ms(opening.pause_before_open_ms);
    if (serial_setcomms(kEcuBaud, line) == nullptr) {
        ShowFailureScreen(console);
        if (opening.failure_pen_row >= 0) PrintColour(console, "\n", 0, opening.failure_pen_row, kColourGuide);
        ShowWhyNotAndThePorts(console, line, argument);
        return false;
    }
    console_write(opening.opened);
    return true;
}

StartUpOutcome Finish(ConsoleHandle console, int code) { return {false, code, console, false, false}; }

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
    // Options go before the port and mode arguments are counted.
    const char* log_target = nullptr;
    const char* report_source = nullptr;
    bool mono = false;
    bool beep = false;
    const OptionRow options[] = {
        {"--log", "a file name", &log_target, nullptr},
        {"--mono", nullptr, nullptr, &mono},
        {"--beep", nullptr, nullptr, &beep},
        {"--report", "a recording", &report_source, nullptr},
    };
    char option_error[96];
    argc = TakeOptions(argc, argv, options, sizeof options / sizeof options[0], option_error,
                       sizeof option_error);
    if (argc < 0) {
        std::fprintf(stderr, "tarnwickdialer: %s.\n", option_error);
        return Finish(nullptr, 1);
    }
    if (mono) console_ask_mono();
    const int args = argc - 1;
    // A page of a recording: no console, no port.
    if (report_source != nullptr) {
        if (args > 1 || log_target != nullptr) {
            std::fprintf(stderr, "tarnwickdialer: --report takes a recording and, at most, the page's name "
                                 "(no port, no --log).\n");
            return Finish(nullptr, 1);
        }
        return Finish(nullptr, RunReport(report_source, args == 1 ? argv[1] : nullptr));
    }
    if (AnswerInformationOption(args, argv)) return Finish(nullptr, 0);
    if (Refuse(args, argv)) return Finish(nullptr, 1);

    // More than two arguments is a usage error, answered like no argument.
    const bool asked_for_help = args == 1 && AsksForHelp(argv[1]);
    const bool usage = args == 0 || args > 2 || asked_for_help;
    const bool cat_mode = args == 2;
    if (!usage && log_target != nullptr && !StartRecording(log_target, cat_mode))
        return Finish(nullptr, 1);

    ConsoleHandle console = console_open();
    ShowTitle();
    PrintColour(console, "", 0, 0, kColourText);
    console_clear();

    if (usage) {
        ShowUsage(console, argc > 0 && argv[0] != nullptr ? argv[0] : "tarnwickdialer");
        return Finish(console, asked_for_help ? 0 : 1);
    }

    ShowBanner(console);
    port_format_name(line, sizeof line, argv[1]);
    if (!OpenPort(console, cat_mode ? kCatOpening : kPlainOpening, line, argv[1])) {
        recorder_discard();
        return Finish(console, 1);
    }
    link_on_port_loss(OnPortLoss);

    sleep_ms(kOpeningPauseMs);
    return {true, 0, console, cat_mode, beep};
}

int RunDialer(int argc, char** argv) {
    char line[kLineBufferSize] = {};
    StartUpOutcome start = StartUp(argc, argv, line);
    if (!start.run) return start.exit_code;
    return MainLoop(start.console, start.cat_mode, start.tone);
}
