// The history's memory, cycle by cycle: peaks that skip unanswered readings,
// fault appearances, the tone's transitions, reset, the link and the trend.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode/faults.h"
#include "history/history.h"

namespace {

constexpr std::uint16_t kBatteryOff = ReadingBit(kReadBattery);
constexpr std::uint16_t kFaultBytesOff = ReadingBit(kReadUniram1);

// One cycle: when, the battery, the water sensor's status, what went
// unanswered, the tally (answered of 20), the port; whether it rings.
// `reset` resets the history before the cycle.
struct Step {
    std::uint64_t at;
    float battery;
    std::uint8_t water = kStatusOk;
    std::uint16_t unanswered = 0;
    unsigned answered = 20;
    bool lost = false;
    bool tone = false;
    bool reset = false;
};

TEST(History, CycleByCycle) {
    struct Case {
        const char* name;
        std::vector<Step> steps;
        float low, high;             // the battery's
        unsigned open_times;         // the water sensor's open circuits
        unsigned whole, partly, none, losses;
        std::string trend;           // the battery's last slices, levels as digits
    };
    const std::uint64_t s = kTrendSliceMs;
    const Case cases[] = {
        {"an unanswered battery is no 0 V low",
         {{0, 13.5f}, {10, 0.0f, kStatusOk, kBatteryOff, 19}, {20, 12.9f}}, 12.9f, 13.5f, 0, 2, 1, 0, 0, "0000"},
        {"red entered rings once; red again after a gap rings none",
         {{0, 13.0f}, {1, 11.5f, kStatusOk, 0, 20, false, true}, {2, 11.4f},
          {3, 0.0f, kStatusOk, kBatteryOff, 19}, {4, 11.5f}, {5, 13.0f}, {6, 11.8f, kStatusOk, 0, 20, false, true}},
         11.4f, 13.0f, 0, 6, 1, 0, 0, "0000"},
        {"a fault there at the start counts once and rings none; silent fault bytes change nothing",
         {{0, 13.f, kStatusOpenCircuit}, {1, 13.f, kStatusOpenCircuit},
          {2, 13.f, kStatusOk, kFaultBytesOff, 19}, {3, 13.f, kStatusOpenCircuit}, {4, 13.f, kStatusOk},
          {5, 13.f, kStatusOpenCircuit, 0, 20, false, true}, {6, 13.f, kStatusShortCircuit}},
         13.f, 13.f, 2, 6, 1, 0, 0, "0000"},
        {"reset forgets peaks, faults and counts",
         {{0, 11.0f, kStatusOpenCircuit}, {1, 15.0f}, {2, 13.2f, kStatusOk, 0, 20, false, false, true},
          {3, 13.6f}},
         13.2f, 13.6f, 0, 2, 0, 0, 0, "0000"},
        {"the link: partly rings none, silent or lost rings once",
         {{0, 13.f}, {1, 13.f, kStatusOk, kBatteryOff, 5}, {2, 13.f, kStatusOk, 0xFFFF, 0, false, true},
          {3, 13.f, kStatusOk, 0xFFFF, 0}, {4, 13.f}, {5, 13.f, kStatusOk, 0xFFFF, 0, true, true},
          {6, 13.f, kStatusOk, 0xFFFF, 0, true}, {7, 13.f, kStatusOk, 0xFFFF, 0, false}, {8, 13.f, kStatusOk, 0xFFFF, 0, true}},
         13.f, 13.f, 0, 2, 1, 6, 2, "0000"},
        {"trend: slice means, gaps, the filling slice left out",
         {{0, 12.5f}, {s, 13.f}, {s + 1, 13.5f}, {3 * s, 14.f}, {4 * s, 13.f}}, 12.5f, 14.f, 0, 5, 0, 0, 0, "1508"},
        {"the widest trend: its oldest slice is not the one filling",
         {{0, 12.5f}, {s, 13.f}, {kTrendSlices * s, 14.f}}, 12.5f, 14.f, 0, 3, 0, 0, 0,
         "18" + std::string(kTrendSlices - 2, '0')},
    };
    for (const Case& c : cases) {
        History h;
        HistoryReset(h, true, 0);
        for (std::size_t i = 0; i < c.steps.size(); ++i) {
            const Step& step = c.steps[i];
            if (step.reset) HistoryReset(h, true, step.at);
            CycleRecord r{};
            r.battery = step.battery;
            r.revs = 900;
            r.injectors = 2.4f;
            r.water = step.water;
            r.unanswered = step.unanswered;
            const bool tone = HistoryAdd(h, {&r, {20, step.answered}, step.at, step.lost});
            EXPECT_EQ(tone, step.tone) << c.name << ", cycle " << i;
        }
        const ReadingMemory& battery = h.readings[kReadBattery];
        EXPECT_EQ(battery.low.value, c.low) << c.name;
        EXPECT_EQ(battery.high.value, c.high) << c.name;
        EXPECT_EQ(h.faults[kSensorWater][kStatusOpenCircuit - 1].appearances, c.open_times) << c.name;
        EXPECT_EQ(h.link_whole, c.whole) << c.name;
        EXPECT_EQ(h.link_partly, c.partly) << c.name;
        EXPECT_EQ(h.link_none, c.none) << c.name;
        EXPECT_EQ(h.port_losses, c.losses) << c.name;
        std::uint8_t levels[kTrendSlices];
        const int width = static_cast<int>(c.trend.size());
        HistoryTrend(h, kReadBattery, width, levels);
        std::string trend;
        for (int k = 0; k < width; ++k) trend += static_cast<char>('0' + levels[k]);
        EXPECT_EQ(trend, c.trend) << c.name;
    }
}

}  // namespace
