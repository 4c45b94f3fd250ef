// The two passes of a dashboard cycle: each requests its registers and
// writes every text right after its own requests, so a slow ECU fills the
// screen row by row.
#pragma once
#include <cstdint>

#include "platform/console.h"

// What a cycle reads, in the dashboard's order: each reading's requests are
// answered or not as a whole, so that nothing downstream takes a silent
// reading's 0 for a value. The bit of a reading is 1 << its number.
enum CycleReading : int {
    kReadRevs, kReadInjectors, kReadAdvance, kReadManifold, kReadAir, kReadWater, kReadThrottle,
    kReadBattery, kReadInjectionAngle, kReadVae, kReadLambdaIntegrator, kReadLambdaState,
    kReadUniram1, kReadUniram2, kReadUniram3, kReadUniramS, kCycleReadingCount
};
constexpr std::uint16_t ReadingBit(CycleReading r) { return static_cast<std::uint16_t>(1u << r); }

// One cycle's readings as numbers, for whoever keeps them beyond the screen
// (the recorder, the history): the 32-bit values the texts were made from,
// the fault bytes, one status code per sensor, and which readings had a
// request go unanswered. Lambda and mixture are filled in cat mode only.
struct CycleRecord {
    float revs, injectors, advance, manifold_pressure, throttle, battery, injection_angle, vae,
        lambda_integrator;
    int air_temperature, water_temperature;  // whole degrees, as shown
    bool lambda_closed;
    std::uint8_t uniram1, uniram2, uniram3, uniramS;
    std::uint8_t mixture, air, knock, water, lambda, map, throttle_sensor, camshaft, crankshaft;
    std::uint16_t unanswered;  // ReadingBit of each reading with a request unanswered
};

// Live parameters. Also shows the camshaft and crankshaft labels while the
// engine is stopped and blanks them while it runs. Returns whether the
// engine is running.
bool ShowLiveData(ConsoleHandle console, bool cat_mode, CycleRecord* record = nullptr);

// Sensor faults, the info line and the footer.
void ShowSensorFaults(ConsoleHandle console, bool cat_mode, bool engine_running,
                      CycleRecord* record = nullptr);
