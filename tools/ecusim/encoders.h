// The simulator's own knowledge of the ECU's registers: where each reading
// lives, what a raw value reads as, and the raw value for an engineering
// value. Written from the ECU's formulas and temperature table, apart from
// the monitor's code, so that the simulator is a second opinion on the
// monitor's conversions rather than an echo of them.
#pragma once
#include <cstdint>

namespace ecusim {

// Register addresses. 16-bit readings: high byte first, low byte next.
enum Address : std::uint8_t {
    kRevsHigh = 1,  // revs period
    kRevsLow = 2,
    kInjectorsHigh = 3,  // injector time in 4 us steps
    kInjectorsLow = 4,
    kAdvance = 5,
    kManifold = 6,
    kAirTemperature = 7,
    kWaterTemperature = 8,
    kThrottle = 9,
    kBattery = 10,
    kInjectionAngle = 12,
    kVaeHigh = 13,
    kVaeLow = 14,
    kUniram1 = 15,
    kUniram2 = 16,
    kUniram3 = 17,
    kLambdaIntegratorHigh = 18,
    kLambdaIntegratorLow = 19,
    kLambdaState = 20,
    kUniramS = 21,
};

// What a raw value reads as on the dashboard: the 32-bit value it is held
// in, rounded where the ECU's formulas say.
float RevsOf(std::uint16_t period);
float InjectorsOf(std::uint16_t count);
float AdvanceOf(std::uint8_t raw);
float ManifoldOf(std::uint8_t raw);
float TemperatureOf(std::uint8_t raw);  // air and water share the table
float ThrottleOf(std::uint8_t raw);
float BatteryOf(std::uint8_t raw);
float InjectionAngleOf(std::uint8_t raw);
float VaeOf(std::uint16_t raw);
float LambdaIntegratorOf(std::uint16_t raw);

// The raw value that reads nearest to the wanted value; the lowest of them
// on a tie (so 125 C is byte 0). Values beyond the range give its end.
// 0 rpm (or less) gives period 0, the stopped engine.
std::uint16_t RevsPeriodFor(double rpm);
std::uint16_t InjectorCountFor(double milliseconds);
std::uint8_t AdvanceRawFor(double degrees);
std::uint8_t ManifoldRawFor(double millibar);
std::uint8_t TemperatureRawFor(double celsius);
std::uint8_t ThrottleRawFor(double degrees);
std::uint8_t BatteryRawFor(double volts);
std::uint8_t InjectionAngleRawFor(double degrees);
std::uint16_t VaeRawFor(double percent);
std::uint16_t LambdaIntegratorRawFor(double percent);

}  // namespace ecusim
