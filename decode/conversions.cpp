// The arithmetic below is deliberately exact about where values are rounded
// to 32 bits and which constants are float or double: the tuner reads these
// numbers to the last digit, and the colour bands are decided on the 32-bit
// value, so an extra or missing rounding moves a band edge or a hundredth.
#include "decode/conversions.h"

#include <cstdio>
#include <limits>

#include "screen/colours.h"

const std::int32_t temperature[256] = {
    125, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125,  //   0
    125, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125,  //  16
    125, 122, 119, 116, 113, 111, 108, 105, 102, 99,  96,  93,  90,  87,  84,  82,   //  32
    79,  77,  76,  75,  74,  73,  71,  70,  69,  68,  66,  65,  64,  63,  62,  60,   //  48
    59,  58,  58,  57,  56,  56,  55,  54,  53,  53,  52,  51,  50,  50,  49,  48,   //  64
    48,  47,  46,  46,  45,  45,  44,  43,  43,  42,  42,  41,  40,  40,  39,  39,   //  80
    38,  37,  37,  36,  36,  35,  35,  34,  34,  33,  33,  32,  32,  31,  31,  30,   //  96
    30,  29,  29,  28,  28,  27,  27,  26,  26,  25,  25,  24,  24,  23,  23,  22,   // 112
    22,  22,  21,  21,  20,  20,  19,  19,  18,  18,  17,  17,  16,  16,  15,  15,   // 128
    14,  14,  13,  13,  12,  12,  11,  11,  10,  10,  9,   9,   8,   8,   7,   7,    // 144
    6,   6,   5,   5,   4,   4,   3,   3,   2,   2,   1,   1,   0,   0,   -1,  -1,   // 160
    -2,  -2,  -3,  -4,  -4,  -5,  -6,  -6,  -7,  -7,  -8,  -9,  -9,  -10, -11, -11,  // 176
    -12, -13, -14, -15, -16, -17, -18, -19, -20, -21, -22, -23, -24, -26, -27, -28,  // 192
    -29, -34, -35, -37, -39, -40, -42, -43, -45, -47, -48, -50, -52, -53, -55, -57,  // 208
    -55, -55, -55, -55, -55, -55, -55, -55, -55, -55, -55, -55, -55, -55, -55, -55,  // 224
    -55, -55, -55, -55, -55, -55, -55, -55, -55, -55, -55, -55, -55, -55, -55, -55,  // 240
};

namespace {

// "%d" readings show the 32-bit value truncated toward zero. Every value
// that reaches here is bounded well inside int (revs at most 30000000).
int Truncated(float value) { return static_cast<int>(value); }

// Decimal readings format the 32-bit value widened to double, never the
// double intermediate it was computed from.
double Widened(float value) { return static_cast<double>(value); }

template <typename... Args>
Reading Make(float value, std::uint16_t colour, const char* format, Args... args) {
    Reading r{};
    r.value = value;
    r.colour = colour;
    std::snprintf(r.text, sizeof r.text, format, args...);
    return r;
}

// Counted from the signed table entry so that a colour test on the value
// sees exactly the whole degrees shown.
float TemperatureOf(std::uint8_t raw) { return static_cast<float>(temperature[raw]); }

std::uint16_t Banded(float value, const ColourBands& b) {
    if (value < b.alarm_low || value > b.alarm_high) return kColourAlarm;
    if (value < b.warn_low || value > b.warn_high) return kColourWarning;
    return kColourNormal;
}

constexpr float kNoLimit = std::numeric_limits<float>::lowest();

// Each reading's text around its number (the lambda state has no number).
constexpr const char* kFormats[kCycleReadingCount] = {
    "Revs:\t\t%s rpm     ", "Injectors:\t%s ms     ", "Advance:\t%s degrees     ",
    "MAP1,02/03:\t%s milliBar  ", "Air temp:\t%s degrees     ", "Water temp:\t%s degrees     ",
    "Throttle:\t%s degrees     ", "Battery:\t%s volts     ", "Inj. angle:\t%s degrees     ",
    "VAE:\t\t%s percent     ", "%s %%", "%s", "%s", "%s", "%s", "%s",
};

}  // namespace

const ColourBands kRevsBands{500.0f, 800.0f, 6000.0f, 6500.0f};
const ColourBands kWaterBands{kNoLimit, kNoLimit, 105.0f, 110.0f};
const ColourBands kBatteryBands{12.0f, 12.5f, 14.0f, 14.5f};

Reading ReadingOf(CycleReading which, float value) {
    const std::uint16_t colour = ReadingColour(which, value);
    if (which == kReadLambdaState) return Make(value, colour, "%s", value != 0.0f ? "closed loop" : "open loop  ");
    char number[16];  // more than any reading's number takes
    ReadingNumber(which, value, number, sizeof number);
    return Make(value, colour, kFormats[which], number);
}

void ReadingNumber(CycleReading which, float value, char* out, std::size_t size) {
    switch (which) {
        case kReadThrottle:
            std::snprintf(out, size, "%.2f", Widened(value));
            return;
        case kReadInjectors:
        case kReadBattery:
        case kReadLambdaIntegrator:
            std::snprintf(out, size, "%2.2f", Widened(value));
            return;
        default:
            std::snprintf(out, size, "%d", Truncated(value));
            return;
    }
}

std::uint16_t ReadingColour(CycleReading which, float value) {
    switch (which) {
        case kReadRevs:
            return Banded(value, kRevsBands);
        case kReadInjectors:
            // Threshold is a double: compared on the 32-bit value widened.
            return static_cast<double>(value) <= kInjectorsAlarmAtMost ? kColourAlarm : kColourNormal;
        case kReadWater:
            return Banded(value, kWaterBands);
        case kReadBattery:
            return Banded(value, kBatteryBands);
        case kReadLambdaState:
            return value != 0.0f ? kColourNormal : kColourWarning;
        default:
            return kColourNormal;
    }
}

Reading ConvertRevs(std::uint16_t period) {
    // The period counts ECU timer ticks per revolution; 0 means no pulses,
    // i.e. the engine is stopped.
    const float value = period == 0 ? 0.0f : 30000000.0f / static_cast<float>(period);
    return ReadingOf(kReadRevs, value);
}

Reading ConvertInjectors(std::uint16_t count) {
    // The count is in 4 us steps; the product stays an exact integer.
    const std::int32_t micros = static_cast<std::int32_t>(count) * 4;
    const float value = static_cast<float>(static_cast<double>(micros) / 1000.0);
    return ReadingOf(kReadInjectors, value);
}

Reading ConvertAdvance(std::uint8_t raw) {
    const float value = static_cast<float>(raw / 4.0);
    return ReadingOf(kReadAdvance, value);
}

Reading ConvertManifoldPressure(std::uint8_t raw) {
    const float value = static_cast<float>(raw * 8.5548 + 60.84);
    return ReadingOf(kReadManifold, value);
}

Reading ConvertAirTemperature(std::uint8_t raw) {
    const float value = TemperatureOf(raw);
    return ReadingOf(kReadAir, value);
}

Reading ConvertWaterTemperature(std::uint8_t raw) {
    const float value = TemperatureOf(raw);
    return ReadingOf(kReadWater, value);
}

Reading ConvertThrottle(std::uint8_t raw) {
    // The sensor's slope changes above 170.
    const double degrees = raw > 170 ? raw * 0.7058 - 90.0 : raw * 0.1848 - 1.41;
    const float value = static_cast<float>(degrees);
    return ReadingOf(kReadThrottle, value);
}

Reading ConvertBattery(std::uint8_t raw) {
    const float value = static_cast<float>(raw * 0.0628);
    return ReadingOf(kReadBattery, value);
}

Reading ConvertInjectionAngle(std::uint8_t raw) {
    // Two roundings: the product is held in 32 bits before the subtraction.
    const float product = static_cast<float>(raw * 90.0 / 4.0);
    const float value = 720.0f - product;
    return ReadingOf(kReadInjectionAngle, value);
}

Reading ConvertVae(std::uint16_t raw) {
    // Two roundings: the product is held in 32 bits before the offset.
    const float product = static_cast<float>(raw * 0.009782);
    const float value = product - 16.0f;
    return ReadingOf(kReadVae, value);
}

Reading ConvertLambdaIntegrator(std::uint16_t raw) {
    const float value = static_cast<float>(raw * 125.0 / 1000000.0);
    return ReadingOf(kReadLambdaIntegrator, value);
}

Reading ConvertLambdaState(std::uint8_t raw) {
    // No engineering value: the state is a flag, kept as the raw byte.
    return ReadingOf(kReadLambdaState, static_cast<float>(raw));
}

bool EngineRunning(const Reading& revs) { return revs.value >= 1.0f; }
