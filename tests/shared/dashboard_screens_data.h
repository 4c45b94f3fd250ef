// What the dashboard holds after one cycle for fixed registers, and what goes
// on the wire: the one set of expectations for the tests against the fake
// platform, the end-to-end tests and those of the Windows build.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace screens {

inline constexpr int kBlue = 9, kGreen = 10, kCyan = 11, kRed = 12, kYellow = 14;

// One cycle on the wire.
inline const std::vector<std::uint8_t> kCycle = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09,
                                          0x0A, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x15};
inline const std::vector<std::uint8_t> kCatCycle = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                                             0x08, 0x09, 0x0A, 0x0C, 0x0D, 0x0E, 0x12,
                                             0x13, 0x14, 0x0F, 0x10, 0x11, 0x15};

// A running engine with four sensor faults, every register fixed.
inline const std::vector<std::pair<int, int>> kRunning = {
    {1, 0x3A}, {2, 0x98}, {3, 0x02}, {4, 0xEE}, {5, 40},   {6, 111},  {7, 100},
    {8, 38},   {9, 175},  {10, 199}, {12, 20},  {13, 0x06}, {14, 0x64}, {15, 0x5C},
    {16, 0x8A}, {17, 0x82}, {18, 0x1F}, {19, 0x40}, {20, 1}, {21, 0xAB}};
// A stopped engine: camshaft short, throttle open, mixture at its lean limit.
inline const std::vector<std::pair<int, int>> kStopped = {
    {1, 0},  {2, 0},  {3, 0},  {4, 0},    {5, 0},    {6, 0},    {7, 0},
    {8, 39}, {9, 0},  {10, 223}, {12, 0}, {13, 0},   {14, 0},   {15, 0xA3},
    {16, 0x0A}, {17, 0x01}, {18, 0}, {19, 0}, {20, 0}, {21, 0}};

struct Place {
    int x, y;
    std::string text;
    int colour;
};

inline const std::string kFooter =
    "ALWAYS FREE DOWNLOAD from https://tarnwickdialer.example/download\n"
    "No responsibility can be taken for anything related to how you use them";

inline const std::string kNoteStopped =
    "Cam & Crank sensor faults can take up to 8 seconds to show.\n"
    "Reconnecting after disconnected will show as short circuit";

// A cell whose character varies from run to run (a measured rate): any
// character, in any colour, matches it.
inline constexpr char kAny = '\x01';

// The link line while the ECU answers everything: the rate is measured.
inline const Place kLinkAnswering = {0, 21, "ECU answering: " + std::string(64, kAny), kGreen};
inline const Place kLinkSilent = {0, 21, "No answer from the ECU yet (14 s): check the cable, the ignition and the port", kRed};

inline std::vector<Place> Frame(bool cat) {
    std::vector<Place> p = {
        {0, 3, "Hit 'q' to quit", kYellow},         {0, 13, "Air temp sensor", kBlue},
        {40, 13, "Knock (pinking)", kBlue},         {0, 14, "Water temp sensor", kBlue},
        {0, 15, "MAP1 sensor", kBlue},              {40, 14, "Throttle posn sensor", kBlue},
        {0, 23, kFooter, kCyan},
    };
    if (cat) {
        p.push_back({0, 17, "You specified... cat fitted", kGreen});
        p.push_back({0, 18, "Mixture ratio limit", kBlue});
        p.push_back({0, 19, "Lambda sensor", kBlue});
        p.push_back({31, 18, "Lambda correction integrator", kBlue});
        p.push_back({31, 19, "State of lambda strategy FLGSMA", kBlue});
    }
    return p;
}

inline std::vector<Place> RunningScreen(bool cat) {
    std::vector<Place> p = Frame(cat);
    std::vector<Place> v = {
        {0, 5, "Revs:\t\t2000 rpm", kGreen},
        {40, 5, "Injectors:\t3.00 ms", kGreen},
        {0, 6, "Advance:\t10 degrees", kGreen},
        {40, 6, "MAP1,02/03:\t1010 milliBar", kGreen},
        {0, 7, "Air temp:\t36 degrees", kGreen},
        {40, 7, "Water temp:\t108 degrees", kYellow},
        {0, 8, "Throttle:\t33.51 degrees", kGreen},
        {40, 8, "Battery:\t12.50 volts", kYellow},
        {0, 9, "Inj. angle:\t270 degrees", kGreen},
        {40, 9, "VAE:\t\t0 percent", kGreen},
        {0, 12, "Cam & Crank sensors only valid when engine not running", kYellow},
        {17, 22, "Info only, uniram 1, 2, 3, S: 5c, 8a, 82, ab", kGreen},
        {21, 13, "Short circuit", kRed},
        {65, 13, "Pinking", kRed},
        {21, 14, "Open circuit", kRed},
        {21, 15, "Short circuit", kRed},
        {65, 14, "OK", kGreen},
        kLinkAnswering,
    };
    p.insert(p.end(), v.begin(), v.end());
    if (cat) {
        p.push_back({63, 18, "1.00 %", kGreen});
        p.push_back({64, 19, "closed loop", kGreen});
        p.push_back({21, 18, "OK", kGreen});
        p.push_back({21, 19, "OK", kGreen});
    }
    return p;
}

inline std::vector<Place> StoppedScreen(bool cat) {
    std::vector<Place> p = Frame(cat);
    std::vector<Place> v = {
        {0, 5, "Revs:\t\t0 rpm", kRed},
        {40, 15, "Camshaft sensor", kBlue},
        {40, 16, "Crankshaft sensor", kBlue},
        {40, 5, "Injectors:\t0.00 ms", kRed},
        {0, 6, "Advance:\t0 degrees", kGreen},
        {40, 6, "MAP1,02/03:\t60 milliBar", kGreen},
        {0, 7, "Air temp:\t125 degrees", kGreen},
        {40, 7, "Water temp:\t105 degrees", kGreen},
        {0, 8, "Throttle:\t-1.41 degrees", kGreen},
        {40, 8, "Battery:\t14.00 volts", kYellow},
        {0, 9, "Inj. angle:\t720 degrees", kGreen},
        {40, 9, "VAE:\t\t-16 percent", kGreen},
        {0, 11, kNoteStopped, kYellow},
        {17, 22, "Info only, uniram 1, 2, 3, S: a3, 0a, 01, 00", kGreen},
        {21, 13, "OK", kGreen},
        {65, 13, "OK", kGreen},
        {21, 14, "OK", kGreen},
        {21, 15, "OK", kGreen},
        {65, 14, "Open circuit", kRed},
        {65, 15, "Short circuit", kRed},
        {65, 16, "OK", kGreen},
        kLinkAnswering,
    };
    p.insert(p.end(), v.begin(), v.end());
    if (cat) {
        p.push_back({63, 18, "0.00 %", kGreen});
        p.push_back({64, 19, "open loop", kYellow});
        p.push_back({21, 18, "Max lean", kRed});
        p.push_back({21, 19, "Faulty", kRed});
    }
    return p;
}

// The character and colour every cell must hold once `places` are written
// on a blank screen (-1: any colour). Tabs move on to the next multiple of 8.
struct Grid {
    std::vector<std::string> chars;
    std::vector<std::vector<int>> colours;
};

inline Grid Layout(const std::vector<Place>& places, int rows, int columns) {
    Grid g{std::vector<std::string>(rows, std::string(columns, ' ')),
           std::vector<std::vector<int>>(rows, std::vector<int>(columns, -1))};
    for (const auto& p : places) {
        int x = p.x, y = p.y;
        for (char c : p.text) {
            if (c == '\n') {
                x = 0;
                ++y;
            } else if (c == '\t') {
                x = (x / 8 + 1) * 8;
            } else {
                g.chars[y][x] = c;
                g.colours[y][x] = c == kAny ? -1 : p.colour;
                ++x;
            }
        }
    }
    return g;
}

// `got` with the cells that `want` leaves open taken as matching.
inline std::string Masked(std::string got, const std::string& want) {
    for (std::size_t x = 0; x < got.size() && x < want.size(); ++x)
        if (want[x] == kAny) got[x] = kAny;
    return got;
}

}  // namespace screens
