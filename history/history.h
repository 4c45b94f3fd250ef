// What came and went since the count began: each reading's lowest and
// highest answered value, its trend over the last minutes, every sensor
// fault seen, the link's answers. Fed with every cycle's record; pure, of
// fixed size, no clock and no console of its own.
#pragma once
#include <cstdint>

#include "decode/passes.h"
#include "link/link.h"

// The dashboard's readings with a number, in its order: CycleReading up to
// the lambda integrator (cat mode only).
constexpr int kHistoryReadings = kReadLambdaIntegrator + 1;

// The trend: one slice per character, as many as the widest page (120
// columns) has room for.
constexpr int kTrendSlices = 66;
constexpr std::uint32_t kTrendSliceMs = 4000;
// The slices kept: those shown and the one filling.
constexpr int kTrendRing = kTrendSlices + 1;
// Levels of a trend character; 0 is a gap (nothing answered in the slice).
constexpr int kTrendLevels = 8;

// The sensors in the frame's order, catalyst ones last.
enum HistorySensor : int {
    kSensorAir, kSensorKnock, kSensorWater, kSensorMap, kSensorThrottle, kSensorCamshaft,
    kSensorCrankshaft, kSensorMixture, kSensorLambda, kHistorySensors
};
// StatusCode 1 to 6: the fault statuses.
constexpr int kFaultStatuses = 6;

struct Peak {
    float value;
    std::uint64_t at_ms;
};

struct ReadingMemory {
    bool seen;            // some answered value since the count began
    bool answered_now;    // the last cycle answered it
    float now;            // the last answered value
    Peak low, high;
    bool band_known;      // red_now holds
    bool red_now;         // the last answered value was in the red band
    float slice_sum[kTrendRing];  // a ring, by slice number
    std::uint16_t slice_count[kTrendRing];
};

struct FaultMemory {
    std::uint32_t appearances;  // changes to this status from another (or from none known)
    std::uint32_t cycles;       // cycles with it present
    std::uint64_t first_ms, last_ms;
};

struct History {
    bool cat_mode;
    std::uint64_t since_ms;  // when the count began, on the cycle clock
    std::uint32_t cycles;
    std::int64_t slice;      // the slice the last cycle fell in (from since_ms)
    ReadingMemory readings[kHistoryReadings];
    FaultMemory faults[kHistorySensors][kFaultStatuses];
    std::uint8_t status_now[kHistorySensors];  // last status known
    bool status_known[kHistorySensors];
    std::uint32_t link_whole, link_partly, link_none, port_losses;
    bool link_known, link_dead, port_lost;
};

// One cycle as the history takes it: its record, the link's tally, when it
// began (ms, the cycle clock) and whether the port was lost during it.
struct HistoryCycle {
    const CycleRecord* record;
    LinkTally tally;
    std::uint64_t at_ms;
    bool port_lost;
};

// Everything forgotten; the count begins at `now_ms`.
void HistoryReset(History& h, bool cat_mode, std::uint64_t now_ms);

// Takes one cycle; returns whether it calls for the tone: a sensor turned
// from OK to a fault, an answered reading entered its red band, or the link
// stopped answering (or the port was lost). Never for a state already there
// when the count began.
bool HistoryAdd(History& h, const HistoryCycle& cycle);

// Whether `sensor` counts in this mode (mixture and lambda: cat mode only).
bool HistorySensorCounts(const History& h, HistorySensor sensor);

// The trend of `reading` over the last `width` whole slices (the slice now
// filling is left out, so the line moves once a slice), oldest first: 0 for
// a gap, else 1 to kTrendLevels scaled between the lowest and highest slice
// shown. `width` at most kTrendSlices.
void HistoryTrend(const History& h, int reading, int width, std::uint8_t* levels);
