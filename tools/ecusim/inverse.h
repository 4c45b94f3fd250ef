// Raw register values for engineering values: each function searches the raw
// range for the value whose conversion by the monitor's own code comes
// nearest to the wanted one. Because the monitor's conversions are the
// reference, a scenario shows on the dashboard what it was written to show,
// and a change to a conversion shows up here at once.
#pragma once
#include <cstdint>

namespace ecusim {

// 0 rpm (or less) gives period 0, the stopped engine.
std::uint16_t RevsPeriodFor(double rpm);
std::uint16_t InjectorCountFor(double milliseconds);
std::uint8_t AdvanceRawFor(double degrees);
std::uint8_t ManifoldRawFor(double millibar);
// Air and water share the temperature table.
std::uint8_t TemperatureRawFor(double celsius);
std::uint8_t ThrottleRawFor(double degrees);
std::uint8_t BatteryRawFor(double volts);
std::uint8_t InjectionAngleRawFor(double degrees);
std::uint16_t VaeRawFor(double percent);
std::uint16_t LambdaIntegratorRawFor(double percent);

}  // namespace ecusim
