// The dashboard against the fake ECU and the recording console: the whole
// screen after a cycle, and the order of requests and writes on the way.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/dialer.h"
#include "dashboard_screens_data.h"
#include "decode/passes.h"
#include "fakes/fakes.h"
#include "link/link.h"
#include "screen/frame.h"

namespace {

using namespace screens;

// Register values by address.
using Registers = std::vector<std::pair<int, int>>;

void OpenPortTo(const Registers& regs) {
    fake::Reset();
    fake::port.present = {"com5"};
    ASSERT_NE(serial_setcomms(kEcuBaud, "com5"), nullptr);
    std::vector<std::uint8_t> values(256, 0);
    for (auto [address, value] : regs) values[address] = static_cast<std::uint8_t>(value);
    fake::port.ecu = fake::EchoEcu(values);
    fake::events.clear();
}

// Frame, then `cycles` cycles, then q.
int RunCycles(bool cat_mode, int cycles) {
    fake::keys = {'q'};
    fake::key_polls_before_keys = cycles;
    return MainLoop(console_open(), cat_mode);
}

// What the screen must hold: every listed text at its place in its colour
// and nothing anywhere else.
void ExpectScreen(const std::vector<Place>& places) {
    const Grid want = Layout(places, fake::kRows, fake::kCols);
    for (int y = 0; y < fake::kRows; ++y) {
        EXPECT_EQ(Masked(fake::console.text(0, y, fake::kCols), want.chars[y]), want.chars[y]) << "row " << y;
        for (int x = 0; x < fake::kCols; ++x)
            if (want.colours[y][x] >= 0 && want.chars[y][x] != ' ') {
                EXPECT_EQ(fake::console.colour(x, y), want.colours[y][x]) << "at " << x << "," << y;
            }
    }
}

// The screens after the first cycle, with the spinner's first glyph.
std::vector<Place> WithSpinner(std::vector<Place> p) {
    p.push_back({16, 3, "\\", kYellow});
    return p;
}
std::vector<Place> RunningAfterOneCycle(bool cat) { return WithSpinner(RunningScreen(cat)); }
std::vector<Place> StoppedAfterOneCycle(bool cat) { return WithSpinner(StoppedScreen(cat)); }

TEST(DashboardGrid, EveryPlaceAfterOneCycle) {
    struct Case {
        const char* name;
        const Registers* regs;
        std::vector<Place> (*screen)(bool);
    };
    for (Case c : {Case{"running", &kRunning, RunningAfterOneCycle},
                   Case{"stopped", &kStopped, StoppedAfterOneCycle}})
        for (bool cat : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (cat ? " cat" : " no cat"));
            OpenPortTo(*c.regs);
            EXPECT_EQ(RunCycles(cat, 1), 0);
            ExpectScreen(c.screen(cat));
        }
}

// The second cycle writes over the first: nothing of a stopped engine's
// screen may survive once it runs, and the other way round.
TEST(DashboardGrid, LaterCyclesOverwriteEarlierOnes) {
    for (bool cat : {false, true})
        for (bool start_running : {false, true}) {
            SCOPED_TRACE(std::string(cat ? "cat " : "no cat ") + (start_running ? "running first" : "stopped first"));
            const Registers& first = start_running ? kRunning : kStopped;
            const Registers& second = start_running ? kStopped : kRunning;
            OpenPortTo(first);
            std::vector<std::uint8_t> later(256, 0);
            for (auto [address, value] : second) later[address] = static_cast<std::uint8_t>(value);
            int requests = 0;
            const int per_cycle = cat ? 20 : 17;
            auto before = fake::port.ecu;
            auto after = fake::EchoEcu(later);
            fake::port.ecu = [&](std::uint8_t r) { return ++requests <= per_cycle ? before(r) : after(r); };
            EXPECT_EQ(RunCycles(cat, 2), 0);
            std::vector<Place> want = start_running ? StoppedAfterOneCycle(cat) : RunningAfterOneCycle(cat);
            for (auto& p : want)
                if (p.x == 16 && p.y == 3) p.text = "|";
            ExpectScreen(want);
        }
}

TEST(DashboardGrid, SilentEcuShowsItsZeroReadings) {
    fake::Reset();
    fake::port.present = {"com5"};
    ASSERT_NE(serial_setcomms(kEcuBaud, "com5"), nullptr);
    EXPECT_EQ(RunCycles(true, 1), 0);
    std::vector<Place> p = Frame(true);
    std::vector<Place> values = {
        {16, 3, "\\", kYellow},
        {0, 5, "Revs:\t\t0 rpm", kRed},
        {40, 15, "Camshaft sensor", kBlue},
        {40, 16, "Crankshaft sensor", kBlue},
        {40, 5, "Injectors:\t0.00 ms", kRed},
        {0, 6, "Advance:\t0 degrees", kGreen},
        {40, 6, "MAP1,02/03:\t60 milliBar", kGreen},
        {0, 7, "Air temp:\t125 degrees", kGreen},
        {40, 7, "Water temp:\t125 degrees", kRed},
        {0, 8, "Throttle:\t-1.41 degrees", kGreen},
        {40, 8, "Battery:\t0.00 volts", kRed},
        {0, 9, "Inj. angle:\t720 degrees", kGreen},
        {40, 9, "VAE:\t\t-16 percent", kGreen},
        {63, 18, "0.00 %", kGreen},
        {64, 19, "open loop", kYellow},
        {0, 11, kNoteStopped, kYellow},
        {17, 22, "Info only, uniram 1, 2, 3, S: 00, 00, 00, 00", kGreen},
        kLinkSilent,
    };
    p.insert(p.end(), values.begin(), values.end());
    for (auto [x, y] : {std::pair{21, 18}, {21, 13}, {65, 13}, {21, 14}, {21, 19}, {21, 15}, {65, 14},
                        {65, 15}, {65, 16}})
        p.push_back({x, y, "OK", kGreen});
    ExpectScreen(p);
    // Twenty requests, each with two read time-outs.
    EXPECT_EQ(fake::clock_ms, 20u * (10 + 2 * 350));
}

// "w01" for a request, "t40,5" for a text written at 40,5.
std::vector<std::string> WritesAndTexts() {
    std::vector<std::string> out;
    for (const auto& e : fake::events) {
        if (e.rfind("write 0x", 0) == 0) out.push_back("w" + e.substr(8));
        if (e.rfind("text ", 0) == 0) {
            std::string place = e.substr(5, e.find(' ', 5) - 5);
            out.push_back("t" + place.substr(0, place.rfind(',')));
        }
    }
    return out;
}

TEST(DashboardGrid, EachTextFollowsItsOwnRequests) {
    const std::vector<std::string> live = {
        "w01", "w02", "t0,5", "t40,15", "t40,16", "w03", "w04", "t40,5", "w05", "t0,6",
        "w06", "t40,6", "w07", "t0,7", "w08", "t40,7", "w09", "t0,8", "w0A", "t40,8",
        "w0C", "t0,9", "w0D", "w0E", "t40,9"};
    const std::vector<std::string> lambda = {"w12", "w13", "t63,18", "w14", "t64,19"};
    const std::vector<std::string> faults_head = {"w0F", "w10", "w11", "w15", "t0,23", "t17,22"};
    struct Case {
        bool cat, running;
    };
    for (Case c : {Case{false, false}, Case{false, true}, Case{true, false}, Case{true, true}}) {
        SCOPED_TRACE(std::string(c.cat ? "cat " : "no cat ") + (c.running ? "running" : "stopped"));
        OpenPortTo(c.running ? kRunning : kStopped);
        const bool running = ShowLiveData(console_open(), c.cat);
        EXPECT_EQ(running, c.running);
        ShowSensorFaults(console_open(), c.cat, running);

        std::vector<std::string> want = live;
        if (c.cat) want.insert(want.end(), lambda.begin(), lambda.end());
        want.insert(want.end(), faults_head.begin(), faults_head.end());
        if (c.cat) want.push_back("t21,18");
        for (const char* s : {"t21,13", "t65,13", "t21,14"}) want.push_back(s);
        if (c.cat) want.push_back("t21,19");
        for (const char* s : {"t21,15", "t65,14"}) want.push_back(s);
        if (c.running)
            want.insert(want.end(), {"t65,15", "t0,11", "t65,16"});
        else
            want.insert(want.end(), {"t0,11", "t65,15", "t65,16"});
        EXPECT_EQ(WritesAndTexts(), want);
    }
}

TEST(DashboardGrid, RunningBlanksTheCamAndCrankPlacesInTheirColours) {
    OpenPortTo(kRunning);
    const bool running = ShowLiveData(console_open(), false);
    ShowSensorFaults(console_open(), false, running);
    const std::vector<std::string> want = {
        "text 40,15,9 " + std::string(15, ' '), "text 40,16,9 " + std::string(17, ' '),
        "text 65,15,10 " + std::string(13, ' '), "text 65,16,10 " + std::string(13, ' '),
        "text 0,11,14 " + std::string(59, ' ') +
            "\nCam & Crank sensors only valid when engine not running    "};
    for (const auto& w : want) {
        auto found = fake::EventsStartingWith(w);
        ASSERT_EQ(found.size(), 1u) << w;
        EXPECT_EQ(found[0], w);
    }
}

TEST(DashboardGrid, FrameWipesTheStartUpBandInTheColourInForce) {
    fake::Reset();
    fake::console.grid.attribute = 15;
    DrawFrame(console_open(), false);
    ASSERT_GE(fake::events.size(), 3u);
    EXPECT_EQ(fake::events[1], "text 0,2,15 " + std::string(92, ' ') + "\n");
    EXPECT_EQ(fake::events[2], "text 0,3,15 " + std::string(48, ' ') + "\n");
    EXPECT_EQ(fake::events[3], "text 0,3,14 Hit 'q' to quit" + std::string(24, ' '));
    // The frame alone: labels only, rows 17 to 19 untouched without cat mode.
    ExpectScreen({{0, 3, "Hit 'q' to quit", kYellow},
                  {0, 13, "Air temp sensor", kBlue},
                  {40, 13, "Knock (pinking)", kBlue},
                  {0, 14, "Water temp sensor", kBlue},
                  {0, 15, "MAP1 sensor", kBlue},
                  {40, 14, "Throttle posn sensor", kBlue}});
}

}  // namespace
