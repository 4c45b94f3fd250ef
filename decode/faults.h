// The ECU's sensor fault bytes ("uniram") decoded into one status per
// sensor. Pure: no link, no console.
#pragma once
#include <cstdint>

struct SensorStatus {
    const char* text;      // padded to the widest text its place can hold
    std::uint16_t colour;
    bool written;  // the place is written this cycle
    std::uint8_t code;  // the status as a number, for a recording
};

// The statuses as numbers: what a recording stores in place of the texts.
enum StatusCode : std::uint8_t {
    kStatusOk = 0,
    kStatusShortCircuit = 1,
    kStatusOpenCircuit = 2,
    kStatusPinking = 3,
    kStatusFaulty = 4,
    kStatusMaxLean = 5,
    kStatusMaxRich = 6,
    kStatusNotValidRunning = 7,  // camshaft and crankshaft, blanked while the engine runs
};

struct FaultReport {
    SensorStatus mixture;     // cat mode only
    SensorStatus air;
    SensorStatus knock;
    SensorStatus water;
    SensorStatus lambda;      // cat mode only
    SensorStatus map;
    SensorStatus throttle;
    SensorStatus camshaft;    // blanked while the engine runs
    SensorStatus crankshaft;  // blanked while the engine runs
    const char* note;         // camshaft and crankshaft note, two lines
    char info[64];            // the four bytes in hexadecimal
};

FaultReport DecodeFaults(std::uint8_t uniram1, std::uint8_t uniram2, std::uint8_t uniram3,
                         std::uint8_t uniramS, bool cat_mode, bool engine_running);
