// Start-up against the fake platform: screens, rows, colours, sleeps and
// exit codes, without a terminal or a port.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/dialer.h"
#include "app/port_messages.h"
#include "app/texts.h"
#include "platform/file.h"
#include "record/format.h"
#include "fakes/fakes.h"
#include "link/link.h"

namespace {

int RunArgs(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    // The start-up and then the shutdown; the dashboard loop has its own tests.
    char line[kLineBufferSize] = {};
    StartUpOutcome start = StartUp(static_cast<int>(args.size()), argv.data(), line);
    if (!start.run) return start.exit_code;
    ShutDown(start.console);
    return 0;
}

struct Place {
    int x, y;
    const char* text;
    std::uint16_t colour;
};

void ExpectPlaces(const std::vector<Place>& places) {
    for (const auto& p : places) {
        std::string want = p.text;
        EXPECT_EQ(fake::console.text(p.x, p.y, static_cast<int>(want.size())), want)
            << "at " << p.x << "," << p.y;
        EXPECT_EQ(fake::console.colour(p.x, p.y), p.colour) << "at " << p.x << "," << p.y;
    }
}

TEST(StartUp, HelpScreenWaitsForAKeyAndExitsOne) {
    fake::Reset();
    fake::keys = {'x'};
    fake::port.listed = {{"COM12", "COM12"}, {"COM3", "COM3"}};
    EXPECT_EQ(RunArgs({"C:\\tools\\Tarnwickdialer.exe"}), 1);
    EXPECT_EQ(fake::console.title.rfind("Tarnwickdialer v1.2, Delta Integrale 8v, 16v & Evo1. ", 0), 0u);
    ExpectPlaces({
        {0, 0, "Lancia Delta Integrale Mk1 etc. Usage: Tarnwickdialer.exe [port#] ", 15},
        {0, 1, "Delta Integrale 8v, 16v & Evo1 ECUs", 15},
        {0, 2, "Serial ports on this computer: COM3 COM12 ", 11},
        {0, 4, "THIS WILL NOT 'DOUBLE-CLICK' FROM WINDOWS, it is a DOS program!", 12},
        {0, 5, "Open a COMMAND window.", 12},
        {0, 7, "If you ran it from a COMMAND window...", 11},
        {0, 8, "Check 'Device Manager' and look in 'Ports (COM & LPT)'.", 15},
        {0, 10, "Your command should look like...", 15},
        {0, 11, "        <program name> <port number> <c> for cat omit <c> for non-cat", 15},
        {0, 13, " eg    Tarnwickdialer 5 c       cat program on COMport 5", 15},
        {0, 14, "       Tarnwickdialer 5     non-cat program on COMport 5", 15},
        {0, 16, "If you ran it from a COMMAND window with the correct Comport number,", 11},
        {0, 17, " type dir and enter. Tarnwickdialer.exe should show in the list.", 11},
        {0, 18, " if it doesn't show, move it there with WIndows explorer", 11},
        {0, 20, "If you open the correct port but it is not talking to the ECU,", 15},
        {0, 21, " then incorrect values will appear on the screen", 15},
        {0, 22, " slowly and the battery volts will be zero.", 15},
        {0, 23, "Press a key to continue.", 11},
    });
    EXPECT_TRUE(fake::EventsStartingWith("open").empty());
    EXPECT_EQ(fake::EventsStartingWith("key").size(), 1u);
}

TEST(StartUp, HelpScreenPollsEvery700msUntilAKeyComes) {
    for (int polls : {0, 3}) {
        fake::Reset();
        fake::keys = {'k'};
        fake::key_polls_before_keys = polls;
        EXPECT_EQ(RunArgs({"tarnwickdialer"}), 1);
        EXPECT_EQ(fake::EventsStartingWith("sleep").size(), static_cast<std::size_t>(polls));
        for (const auto& s : fake::EventsStartingWith("sleep")) EXPECT_EQ(s, "sleep 700");
        ASSERT_GE(fake::events.size(), 2u);
        EXPECT_EQ(fake::events[fake::events.size() - 2], "text 0,23,11 \n");
        EXPECT_EQ(fake::events.back(), "key");
    }
}

TEST(StartUp, MoreThanTwoArgumentsIsAUsageError) {
    fake::Reset();
    fake::port.present = {"com5"};
    fake::keys = {' '};
    EXPECT_EQ(RunArgs({"C:\\tools\\tarnwickdialer", "5", "c", "x"}), 1);
    EXPECT_TRUE(fake::EventsStartingWith("open").empty());
    ExpectPlaces({{0, 0, "Lancia Delta Integrale Mk1 etc. Usage: tarnwickdialer [port#] ", 15},
                  {0, 23, "Press a key to continue.", 11}});
}

TEST(StartUp, OverlongPortArgumentIsRefusedBeforeAnythingHappens) {
    struct Case {
        std::size_t length;
        int exit_code;
        bool opened;
    };
    for (Case c : {Case{124, 0, true}, Case{125, 1, false}, Case{128, 1, false}, Case{4096, 1, false}}) {
        fake::Reset();
        std::string arg(c.length, '7');
        fake::port.present = {"com" + arg};
        EXPECT_EQ(RunArgs({"tarnwickdialer", arg}), c.exit_code) << c.length;
        EXPECT_EQ(!fake::EventsStartingWith("open").empty(), c.opened) << c.length;
        if (!c.opened) {
            EXPECT_TRUE(fake::events.empty()) << c.length;
        }
    }
}

TEST(StartUp, PlainOpeningSleepsBeforeAndAfterOpening) {
    fake::Reset();
    fake::port.present = {"com5"};
    EXPECT_EQ(RunArgs({"tarnwickdialer", "5"}), 0);
    ExpectPlaces({{0, 0, "Delta Integrale 8v, 16v & Evo1 ECUs", 15},
                  {0, 1, "PayPal donations appreciated to help@tarnwickdialer.example", 15},
                  {0, 2, " attempting to open COMport 'com5'", 15},
                  {0, 3, "Successfully opened port!          ", 15}});
    std::vector<std::string> order;
    for (const auto& e : fake::events)
        if (e.rfind("sleep", 0) == 0 || e.rfind("open", 0) == 0 || e.rfind("close", 0) == 0)
            order.push_back(e);
    EXPECT_EQ(order, (std::vector<std::string>{"sleep 1200", "open com5", "sleep 1200", "close"}));
}

TEST(StartUp, CatOpeningSleepsOnlyAfterOpeningAndAnySecondArgumentCounts) {
    for (const char* second : {"c", "x"}) {
        fake::Reset();
        fake::port.present = {"com5"};
        EXPECT_EQ(RunArgs({"tarnwickdialer", "5", second}), 0);
        ExpectPlaces({{0, 1, "For support & premium version, PayPal donations to help@tarnwickdialer.example", 15},
                      {0, 2, " attempting to open the port 'com5'", 15},
                      {0, 3, "Successfully opened port!          ", 15}});
        std::vector<std::string> order;
        for (const auto& e : fake::events)
            if (e.rfind("sleep", 0) == 0 || e.rfind("open", 0) == 0) order.push_back(e);
        EXPECT_EQ(order, (std::vector<std::string>{"open com5", "sleep 1200"})) << second;
    }
}

struct FailureCase {
    std::vector<std::string> args;
    bool newline_at_18;
};

TEST(StartUp, FailureScreenForBothOpenings) {
    for (const FailureCase& c : {FailureCase{{"tarnwickdialer", "9"}, false},
                                 FailureCase{{"tarnwickdialer", "9", "c"}, true}}) {
        fake::Reset();
        fake::port.present = {"com5"};
        fake::port.open_error.failure = PortFailure::kInUse;
        EXPECT_EQ(RunArgs(c.args), 1);
        ExpectPlaces({
            {0, 3, "Unable to open serial port, check you have the correct port! Quitting.", 15},
            {0, 5, "Check 'Device Manager' and look in 'Ports (COM & LPT)'.", 15},
            {0, 7, "Your command should look like...", 15},
            {0, 9, "        <program name> <port number> <c> for cat omit <c> for non-cat", 15},
            {0, 11, " eg    Tarnwickdialer 5 c       cat program on port 5", 15},
            {0, 12, "       Tarnwickdialer 5     non-cat program on port 5", 15},
            {0, 14, "If you ran it from a COMMAND window with the correct Comport number,", 11},
            {0, 15, " type dir and enter. Tarnwickdialer.exe should show in the list.", 11},
            {0, 16, " if it doesn't show, move it there with Windows explorer and try again.", 11},
            {0, 18, "If you open the correct port but it is not talking to the ECU,", 15},
            {0, 20, " slowly and the battery volts will be zero.", 15},
            {0, 23, "No serial ports found: is the adapter plugged in?", 11},
        });
        // The reason under it; Windows writes its port names in capitals.
        const std::string reason = std::string(kThisSystem == PortSystem::kWindows ? "COM9" : "com9") +
                                   " is in use by another program: close it and try again";
        ExpectPlaces({{0, 22, reason.c_str(), 12}});
        // No sleep follows a failed open.
        EXPECT_NE(fake::events.back().rfind("text", 0), std::string::npos);
        EXPECT_EQ(fake::EventsStartingWith("text 0,18,11 \n").size(), c.newline_at_18 ? 1u : 0u);
        EXPECT_TRUE(fake::EventsStartingWith("configure").empty());
    }
}

// --log: the file is made before the port is touched, never over another;
// a refusal is one line on standard error and exit code 1, no port opened.
TEST(StartUp, RecordingIsCreatedFirstOrRefused) {
    struct Case {
        std::vector<std::string> args;
        FileError create_fails;
        const char* in_the_way;  // an existing file of that name; "" none
        int exit_code;
        std::string error;    // standard error
        const char* created;  // the file left afterwards; "" none
    };
    const Case cases[] = {
        {{"td", "--log", "d.csv", "5", "c"}, FileError::kNone, "", 0, "", "d.csv"},
        {{"td", "5", "--log=logs"}, FileError::kNone, "", 0, "",
         "logs/tarnwickdialer-2026-12-09_14.03.27.csv"},
        // A second start in the same second; a folder that is not there.
        {{"td", "5", "--log=logs"}, FileError::kNone, "logs/tarnwickdialer-2026-12-09_14.03.27.csv", 0, "",
         "logs/tarnwickdialer-2026-12-09_14.03.27-2.csvlogs/tarnwickdialer-2026-12-09_14.03.27.csv"},
        {{"td", "--log", "nodir/", "5"}, FileError::kNone, "", 1,
         "tarnwickdialer: cannot record to nodir/: no such folder.\n", ""},
        {{"td", "5", "--log"}, FileError::kNone, "", 1, "tarnwickdialer: --log needs a file name after it.\n", ""},
        {{"td", "--log=", "5"}, FileError::kNone, "", 1, "tarnwickdialer: --log needs a file name after it.\n", ""},
        {{"td", "--log", "a", "5", "--log", "b"}, FileError::kNone, "", 1,
         "tarnwickdialer: --log is given twice.\n", ""},
        {{"td", "--log", "d.csv", "5"}, FileError::kNone, "d.csv", 1,
         "tarnwickdialer: cannot record to d.csv: it already exists, and a recording never "
         "overwrites a file.\n", "d.csv"},
        {{"td", "--log", "no/d.csv", "5"}, FileError::kNoFolder, "", 1,
         "tarnwickdialer: cannot record to no/d.csv: no such folder.\n", ""},
        {{"td", "--log", "d.csv", "5"}, FileError::kNoPermission, "", 1,
         "tarnwickdialer: cannot record to d.csv: no permission to write there.\n", ""},
        {{"td", "--log", "d.csv", "5"}, FileError::kReadOnly, "", 1,
         "tarnwickdialer: cannot record to d.csv: the disk is read-only.\n", ""},
        {{"td", "--log", "f/d.csv", "5"}, FileError::kNotAFolder, "", 1,
         "tarnwickdialer: cannot record to f/d.csv: a file stands where a folder of its path "
         "should be.\n", ""},
        // Never a name cut short: that would be another file.
        {{"td", "--log", std::string(600, 'n'), "5"}, FileError::kNone, "", 1,
         "tarnwickdialer: cannot record to " + std::string(511, 'n') + ": the name is too long.\n", ""},
        {{"td", "--log", "d\x1b[2J.csv", "5"}, FileError::kOther, "", 1,
         "tarnwickdialer: cannot record to d?[2J.csv: error 0.\n", ""},
        // The port would not open: the empty recording goes again.
        {{"td", "9", "--log", "d.csv"}, FileError::kNone, "", 1, "", ""},
        // The help screen records nothing.
        {{"td", "--log", "d.csv"}, FileError::kNone, "", 1, "", ""},
        // A page of a recording (r.csv; bad.csv is none): never over a file,
        // nothing made of what is not a recording.
        {{"td", "--report", "r.csv"}, FileError::kNone, "", 0, "", "r.html"},
        {{"td", "--report", "r.csv", "logs"}, FileError::kNone, "", 0, "", "logs/r.html"},
        {{"td", "--report", "r.csv", "p.html"}, FileError::kNone, "p.html", 1,
         "tarnwickdialer: cannot write the report to p.html: it already exists, and a report never "
         "overwrites a file.\n", "p.html"},
        {{"td", "--report", "r.csv"}, FileError::kReadOnly, "", 1,
         "tarnwickdialer: cannot write the report to r.html: the disk is read-only.\n", ""},
        {{"td", "--report", "bad.csv"}, FileError::kNone, "", 2,
         "tarnwickdialer: cannot make a report of 'bad.csv': line 1: not a recording: fields separated "
         "by ';' where a recording has ','.\n", ""},
        {{"td", "--report", "none.csv"}, FileError::kNone, "", 2,
         "tarnwickdialer: cannot read 'none.csv': no such file.\n", ""},
        {{"td", "--report", "r.csv", "5", "c"}, FileError::kNone, "", 1,
         "tarnwickdialer: --report takes a recording and, at most, the page's name (no port, no --log).\n", ""},
    };
    for (const Case& c : cases) {
        fake::Reset();
        fake::port.present = {"com5"};
        fake::files.folders = {"logs"};
        fake::files.create_fails = c.create_fails;
        char row[kRecordLineSize];
        fake::files.contents["r.csv"] = std::string(row, RecordHeader(row, sizeof row, false)) +
                                        std::string(row, RecordRow(row, sizeof row, CycleRecord{}, false, 0, 17, 0));
        fake::files.contents["bad.csv"] = "Time (s);Revs (rpm)\n";
        if (*c.in_the_way != '\0') fake::files.contents[c.in_the_way] = "a drive";
        fake::keys = {'x'};
        testing::internal::CaptureStderr();
        EXPECT_EQ(RunArgs(c.args), c.exit_code) << c.args[2];
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.error) << c.args[2];
        std::string files;
        for (const auto& [name, text] : fake::files.contents)
            if (name != "r.csv" && name != "bad.csv") files += name;
        EXPECT_EQ(files, c.created) << c.args[2];
        if (*c.in_the_way != '\0') {
            EXPECT_EQ(fake::files.contents[c.in_the_way], "a drive");
        }
        // Made before anything else is touched; a refusal touches nothing else.
        if (!fake::EventsStartingWith("file create").empty()) {
            EXPECT_EQ(fake::events.front().rfind("file create", 0), 0u) << c.args[2];
        }
        if (!c.error.empty()) {
            EXPECT_EQ(fake::events.size(), c.create_fails == FileError::kNone && *c.in_the_way == '\0' ? 0u : 1u);
        }
    }
}

TEST(StartUp, PortNameIsDataNotAFormat) {
    fake::Reset();
    fake::port.present = {"com%s%n"};
    EXPECT_EQ(RunArgs({"tarnwickdialer", "%s%n"}), 0);
    ExpectPlaces({{0, 2, " attempting to open COMport 'com%s%n'", 15}});
}

TEST(ProgramBaseName, TakesThePartAfterTheLastSeparator) {
    struct Case {
        const char* path;
        const char* base;
    };
    for (Case c : {Case{"Tarnwickdialer.exe", "Tarnwickdialer.exe"},
                   Case{"C:\\cars\\lancia\\Tarnwickdialer.exe", "Tarnwickdialer.exe"},
                   Case{"dir\\", ""},
#ifndef _WIN32
                   Case{"/usr/local/bin/tarnwickdialer", "tarnwickdialer"},
                   Case{"./build/tarnwickdialer", "tarnwickdialer"},
                   Case{"mixed/a\\b/c", "c"},
#endif
                   Case{"", ""}}) {
        EXPECT_STREQ(ProgramBaseName(c.path), c.base) << c.path;
    }
}

}  // namespace
