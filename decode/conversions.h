// Raw register values to engineering values: the number held, the exact text
// shown and its colour. Pure functions, no link and no console.
#pragma once
#include <cstddef>
#include <cstdint>

#include "decode/passes.h"

struct Reading {
    float value;            // the 32-bit value; colour bands are decided on it
    char text[48];          // exactly what is written at the reading's place
    std::uint16_t colour;   // console attribute
};

// Degrees Celsius by raw byte, for air and water temperature.
extern const std::int32_t temperature[256];

Reading ConvertRevs(std::uint16_t period);
Reading ConvertInjectors(std::uint16_t count);
Reading ConvertAdvance(std::uint8_t raw);
Reading ConvertManifoldPressure(std::uint8_t raw);
Reading ConvertAirTemperature(std::uint8_t raw);
Reading ConvertWaterTemperature(std::uint8_t raw);
Reading ConvertThrottle(std::uint8_t raw);
Reading ConvertBattery(std::uint8_t raw);
Reading ConvertInjectionAngle(std::uint8_t raw);
Reading ConvertVae(std::uint16_t raw);
Reading ConvertLambdaIntegrator(std::uint16_t raw);
Reading ConvertLambdaState(std::uint8_t raw);

// A reading shown elsewhere (the history page, the report) as the dashboard
// shows it: its whole text (the Convert functions above are the raw
// conversion followed by this), the number part alone (same decimals, same
// truncation) and the colour the dashboard gives the value.
Reading ReadingOf(CycleReading which, float value);
void ReadingNumber(CycleReading which, float value, char* out, std::size_t size);
std::uint16_t ReadingColour(CycleReading which, float value);

// The colour bands, as the dashboard compares them on the 32-bit value:
// green inside [warn_low, warn_high], yellow outside it, red outside
// [alarm_low, alarm_high]. The report draws the same bands.
struct ColourBands {
    float alarm_low, warn_low, warn_high, alarm_high;
};
extern const ColourBands kRevsBands;
extern const ColourBands kWaterBands;  // no lower limits: both are the lowest float
extern const ColourBands kBatteryBands;
// Injectors: red at or below this (compared on the value widened to double).
constexpr double kInjectorsAlarmAtMost = 0.01;

// The engine counts as running when the revs reading is 1 or more, which
// happens exactly when the revs period is not 0.
bool EngineRunning(const Reading& revs);
