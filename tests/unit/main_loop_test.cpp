// The main loop against the fakes: keys between cycles, the spinner, the
// requests of a cycle on the wire, the redraw after a stop, and shutdown.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/dialer.h"
#include "fakes/fakes.h"
#include "link/link.h"

namespace {

void OpenSilentPort() {
    fake::Reset();
    fake::port.present = {"com5"};
    ASSERT_NE(serial_setcomms(kEcuBaud, "com5"), nullptr);
    fake::port.ecu = fake::EchoEcu({});
    fake::events.clear();
}

int RunLoop(bool cat_mode) {
    return MainLoop(console_open(), cat_mode);
}

int RunProgram(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return RunDialer(static_cast<int>(args.size()), argv.data());
}

int CyclesRun() { return static_cast<int>(fake::EventsStartingWith("write 0x01").size()); }

// Keys become visible after `polls` cycles (each cycle polls once first);
// `later` arrive during the cycle that makes request number `at`.
struct KeyCase {
    const char* name;
    int polls;
    std::vector<int> keys;
    int later_at;
    std::vector<int> later;
    int cycles;  // cycles run before the program quits
    int page_by = 0;  // the ECU is silent, and the page shows by this request
};

TEST(MainLoop, OnlyTheLastKeyReadBeforeACycleCounts) {
    const KeyCase cases[] = {
        {"q at once", 0, {'q'}, 0, {}, 0},
        {"Q at once", 0, {'Q'}, 0, {}, 0},
        {"q after three cycles", 3, {'q'}, 0, {}, 3},
        {"Q after two cycles", 2, {'Q'}, 0, {}, 2},
        {"q then x goes on", 1, {'q', 'x'}, 30, {'Q'}, 2},
        {"x then q quits", 1, {'x', 'q'}, 0, {}, 1},
        {"q then h, Tab, r, b goes on", 1, {'q', 'h', '\t', 'r', 'b'}, 30, {'Q'}, 2},
        {"h, r, b then q quits", 1, {'h', 'r', 'b', 'q'}, 0, {}, 1},
        {"q typed during a cycle waits for its end", 0, {}, 5, {'q'}, 1},
        {"h in a silent cycle shows the page at the next exchange", 0, {}, 3, {'h', 'q'}, 1, 5},
    };
    for (const auto& c : cases) {
        OpenSilentPort();
        fake::keys.assign(c.keys.begin(), c.keys.end());
        fake::key_polls_before_keys = c.polls;
        int requests = 0;
        bool page_in_time = c.page_by == 0;
        auto echo = fake::port.ecu;
        fake::port.ecu = [&](std::uint8_t r) {
            if (++requests == c.later_at)
                for (int k : c.later) fake::keys.push_back(k);
            if (requests == c.page_by) page_in_time = fake::console.page_shown;
            return c.page_by == 0 ? echo(r) : std::vector<std::optional<std::uint8_t>>{};
        };
        EXPECT_EQ(RunLoop(false), 0) << c.name;
        EXPECT_TRUE(page_in_time) << c.name;
        EXPECT_EQ(CyclesRun(), c.cycles) << c.name;
        EXPECT_TRUE(fake::keys.empty()) << c.name;
        // Every cycle completes: 17 requests each.
        EXPECT_EQ(static_cast<int>(fake::EventsStartingWith("write").size()), 17 * c.cycles) << c.name;
    }
}

TEST(MainLoop, OneCycleOnTheWire) {
    struct Case {
        bool cat;
        std::vector<std::string> requests;
    };
    const Case cases[] = {
        {false, {"0x01", "0x02", "0x03", "0x04", "0x05", "0x06", "0x07", "0x08", "0x09", "0x0A",
                 "0x0C", "0x0D", "0x0E", "0x0F", "0x10", "0x11", "0x15"}},
        {true, {"0x01", "0x02", "0x03", "0x04", "0x05", "0x06", "0x07", "0x08", "0x09", "0x0A",
                "0x0C", "0x0D", "0x0E", "0x12", "0x13", "0x14", "0x0F", "0x10", "0x11", "0x15"}},
    };
    for (const auto& c : cases) {
        OpenSilentPort();
        fake::keys = {'q'};
        fake::key_polls_before_keys = 2;
        EXPECT_EQ(RunLoop(c.cat), 0);
        std::vector<std::string> want;
        for (int cycle = 0; cycle < 2; ++cycle)
            for (const auto& r : c.requests) want.push_back("write " + r);
        EXPECT_EQ(fake::EventsStartingWith("write"), want) << c.cat;
        // No pause between cycles: the only sleeps are the link's 10 ms.
        for (const auto& s : fake::EventsStartingWith("sleep")) EXPECT_EQ(s, "sleep 10");
        EXPECT_EQ(fake::EventsStartingWith("sleep").size(), want.size());
    }
}

TEST(MainLoop, SpinnerTurnsOneGlyphPerCycle) {
    OpenSilentPort();
    fake::keys = {'q'};
    fake::key_polls_before_keys = 6;
    EXPECT_EQ(RunLoop(true), 0);
    EXPECT_EQ(fake::EventsStartingWith("text 16,3,"),
              (std::vector<std::string>{"text 16,3,14 \\", "text 16,3,14 |", "text 16,3,14 /",
                                        "text 16,3,14 -", "text 16,3,14 \\", "text 16,3,14 |"}));
    // Each glyph goes before the cycle's first request.
    for (std::size_t i = 1; i < fake::events.size(); ++i)
        if (fake::events[i] == "write 0x01") {
            std::size_t j = i;
            while (j > 0 && fake::events[j].rfind("text", 0) != 0) --j;
            EXPECT_EQ(fake::events[j].rfind("text 16,3,14 ", 0), 0u) << i;
        }
}

TEST(MainLoop, QuitBeforeTheFirstCycleDrawsOnlyTheFrame) {
    OpenSilentPort();
    fake::keys = {'q'};
    EXPECT_EQ(RunLoop(true), 0);
    EXPECT_TRUE(fake::EventsStartingWith("write").empty());
    EXPECT_EQ(fake::console.text(0, 3, 15), "Hit 'q' to quit");
    EXPECT_EQ(fake::console.text(16, 3, 1), " ");
}

TEST(MainLoop, ShutdownClosesThePortBeforeTheConsole) {
    OpenSilentPort();
    fake::keys = {'q'};
    fake::key_polls_before_keys = 1;
    EXPECT_EQ(RunLoop(false), 0);
    ASSERT_GE(fake::events.size(), 3u);
    const auto n = fake::events.size();
    EXPECT_EQ(fake::events[n - 3], "close");
    EXPECT_EQ(fake::events[n - 2], "text 0,22,15 \n\n\n");
    EXPECT_EQ(fake::events[n - 1], "console close");
    EXPECT_EQ(fake::console.grid.cursor_x, 0);
    EXPECT_EQ(fake::console.grid.cursor_y, 25);
    EXPECT_EQ(fake::console.grid.attribute, 15);
    EXPECT_EQ(rs232, nullptr);
}

TEST(MainLoop, WholeProgramAgainstTheFakes) {
    struct Case {
        std::vector<std::string> args;
        int key;
        int cycles;
        int requests_per_cycle;
    };
    for (const Case& c : {Case{{"tarnwickdialer", "5"}, 'q', 2, 17},
                          Case{{"tarnwickdialer", "5", "c"}, 'Q', 1, 20},
                          // An option anywhere is not counted among the arguments.
                          Case{{"tarnwickdialer", "5", "--mono", "c"}, 'q', 1, 20}}) {
        fake::Reset();
        fake::port.present = {"com5"};
        fake::port.ecu = fake::EchoEcu({});
        fake::keys = {c.key};
        fake::key_polls_before_keys = c.cycles;
        EXPECT_EQ(RunProgram(c.args), 0);
        EXPECT_EQ(CyclesRun(), c.cycles);
        EXPECT_EQ(static_cast<int>(fake::EventsStartingWith("write").size()),
                  c.cycles * c.requests_per_cycle);
        EXPECT_EQ(fake::events.back(), "console close");
        EXPECT_EQ(fake::EventsStartingWith("console mono").size(), c.args.size() == 4 ? 1u : 0u);
    }
}

// The recording: a header, then one row per cycle as the screen showed it,
// a marker on the row after the key, the answers counted.
TEST(MainLoop, RecordsOneRowPerCycle) {
    const char kPlainHeader[] =
        "Time (s),Revs (rpm),Injectors (ms),Advance (deg),MAP (mbar),Air temp (C),Water temp (C),"
        "Throttle (deg),Battery (V),Injection angle (deg),VAE (%),Uniram 1,Uniram 2,Uniram 3,"
        "Uniram S,Air temp sensor (status),Knock (status),Water temp sensor (status),"
        "MAP sensor (status),Throttle sensor (status),Camshaft sensor (status),"
        "Crankshaft sensor (status),Answered (of 17),Mark,Unanswered (readings)\n";
    const char kCatHeader[] =
        "Time (s),Revs (rpm),Injectors (ms),Advance (deg),MAP (mbar),Air temp (C),Water temp (C),"
        "Throttle (deg),Battery (V),Injection angle (deg),VAE (%),Lambda integrator (%),"
        "Lambda closed (1/0),Uniram 1,Uniram 2,Uniram 3,Uniram S,Mixture limit (status),"
        "Air temp sensor (status),Knock (status),Water temp sensor (status),"
        "Lambda sensor (status),MAP sensor (status),Throttle sensor (status),"
        "Camshaft sensor (status),Crankshaft sensor (status),Answered (of 20),Mark,Unanswered (readings)\n";
    // Revs 3750, injectors 2.5 ms, advance 10.5, MAP 916, air 48, water 125,
    // throttle 51.16, battery 13.82, angle 360, VAE 4, lambda 1 % closed;
    // air temp short and MAP open, the engine running.
    std::vector<std::uint8_t> running(256, 0);
    for (auto [address, value] : std::vector<std::pair<int, int>>{
             {1, 0x1F}, {2, 0x40}, {3, 0x02}, {4, 0x71}, {5, 42}, {6, 100}, {7, 80}, {8, 32}, {9, 200},
             {10, 220}, {12, 16}, {13, 0x08}, {14, 0x00}, {15, 0x44}, {16, 0x88}, {17, 0x02},
             {18, 0x1F}, {19, 0x40}, {20, 1}, {21, 0xA5}})
        running[address] = static_cast<std::uint8_t>(value);
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::vector<std::uint8_t> ecu;  // empty: the ECU never answers
        std::string file;
    };
    const Case cases[] = {
        {"plain, running, a marker",
         {"tarnwickdialer", "5", "--log", "drive.csv"},
         running,
         std::string(kPlainHeader) +
             "0.000,3750.000,2.500,10.50,916.3200,48,125,51.1600,13.8160,360.0,4.0335,68,136,2,165,"
             "1,0,0,2,0,7,7,17,0,0\n"
             "0.170,3750.000,2.500,10.50,916.3200,48,125,51.1600,13.8160,360.0,4.0335,68,136,2,165,"
             "1,0,0,2,0,7,7,17,1,0\n"},
        {"cat, running",
         {"tarnwickdialer", "--log=drive.csv", "5", "c"},
         running,
         std::string(kCatHeader) +
             "0.000,3750.000,2.500,10.50,916.3200,48,125,51.1600,13.8160,360.0,4.0335,1.000000,1,68,"
             "136,2,165,0,1,0,0,0,2,0,7,7,20,0,0\n"
             "0.200,3750.000,2.500,10.50,916.3200,48,125,51.1600,13.8160,360.0,4.0335,1.000000,1,68,"
             "136,2,165,0,1,0,0,0,2,0,7,7,20,1,0\n"},
        {"cat, a silent ECU: stopped, nothing answered",
         {"tarnwickdialer", "5", "c", "--log", "drive.csv"},
         {},
         std::string(kCatHeader) +
             "0.000,0.000,0.000,0.00,60.8400,125,125,-1.4100,0.0000,720.0,-16.0000,0.000000,0,0,0,0,"
             "0,0,0,0,0,0,0,0,0,0,0,0,65535\n"
             "14.200,0.000,0.000,0.00,60.8400,125,125,-1.4100,0.0000,720.0,-16.0000,0.000000,0,0,0,"
             "0,0,0,0,0,0,0,0,0,0,0,0,1,65535\n"},
    };
    for (const Case& c : cases) {
        fake::Reset();
        fake::port.present = {"com5"};
        const auto ecu = fake::EchoEcu(c.ecu);
        int requests = 0;
        const bool cat = std::find(c.args.begin(), c.args.end(), "c") != c.args.end();
        const int per_cycle = cat ? 20 : 17;
        // A marker during the first cycle, q during the second.
        fake::port.ecu = [&](std::uint8_t r) {
            ++requests;
            if (requests == 3) fake::keys.push_back('m');
            if (requests == per_cycle + 3) fake::keys.push_back('q');
            if (c.ecu.empty()) return std::vector<std::optional<std::uint8_t>>{};
            return ecu(r);
        };
        EXPECT_EQ(RunProgram(c.args), 0) << c.name;
        EXPECT_EQ(fake::files.contents["drive.csv"], c.file) << c.name;
        EXPECT_FALSE(fake::files.open) << c.name;
        // The marked row went to the disk at once, the rest on the way out.
        EXPECT_EQ(fake::files.syncs, 2) << c.name;
    }
}

TEST(MainLoop, AFailedWriteStopsTheRecordingNotTheMonitor) {
    fake::Reset();
    fake::port.present = {"com5"};
    fake::port.ecu = fake::EchoEcu({});
    fake::files.space = 400;  // the header and half a row
    fake::keys = {'q'};
    fake::key_polls_before_keys = 3;
    EXPECT_EQ(RunProgram({"tarnwickdialer", "5", "--log", "d.csv"}), 0);
    EXPECT_EQ(CyclesRun(), 3);
    // The half row written is taken back: the file ends with the header's line feed.
    const std::string& file = fake::files.contents["d.csv"];
    EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 1);
    EXPECT_EQ(file.back(), '\n');
    EXPECT_NE(fake::console.title.find(" - recording stopped: the disk is full"), std::string::npos);
    EXPECT_FALSE(fake::files.open);
}

}  // namespace
