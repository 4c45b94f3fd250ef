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

// The number part of a reading's text, exactly as the dashboard writes it
// (same decimals, same truncation), and the colour the dashboard gives the
// value: for whoever shows a reading elsewhere (the history page).
void ReadingNumber(CycleReading which, float value, char* out, std::size_t size);
std::uint16_t ReadingColour(CycleReading which, float value);

// The engine counts as running when the revs reading is 1 or more, which
// happens exactly when the revs period is not 0.
bool EngineRunning(const Reading& revs);
