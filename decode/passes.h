// The two passes of a dashboard cycle: each requests its registers and
// writes every text right after its own requests, so a slow ECU fills the
// screen row by row.
#pragma once
#include <cstdint>

#include "platform/console.h"

// One cycle's readings as numbers, for whoever keeps them beyond the screen
// (the recorder): the 32-bit values the texts were made from, the fault
// bytes and one status code per sensor. Lambda and mixture are filled in cat
// mode only.
struct CycleRecord {
    float revs, injectors, advance, manifold_pressure, throttle, battery, injection_angle, vae,
        lambda_integrator;
    int air_temperature, water_temperature;  // whole degrees, as shown
    bool lambda_closed;
    std::uint8_t uniram1, uniram2, uniram3, uniramS;
    std::uint8_t mixture, air, knock, water, lambda, map, throttle_sensor, camshaft, crankshaft;
};

// Live parameters. Also shows the camshaft and crankshaft labels while the
// engine is stopped and blanks them while it runs. Returns whether the
// engine is running.
bool ShowLiveData(ConsoleHandle console, bool cat_mode, CycleRecord* record = nullptr);

// Sensor faults, the info line and the footer.
void ShowSensorFaults(ConsoleHandle console, bool cat_mode, bool engine_running,
                      CycleRecord* record = nullptr);
