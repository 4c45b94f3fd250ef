// What the simulated car is doing: named scenarios as engineering values
// over time, and their translation into the raw registers the ECU holds.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace ecusim {

enum class Scenario { kOff, kIdle, kDrive, kFaults, kWiggle, kSilent, kEcho, kStray, kLate };

struct ScenarioInfo {
    Scenario scenario;
    std::string_view name;
    std::string_view description;
};

std::span<const ScenarioInfo> AllScenarios();
std::optional<Scenario> ScenarioByName(std::string_view name);
std::string_view ScenarioName(Scenario scenario);

// The engine as the dashboard should show it.
struct EngineState {
    double revs_rpm = 0;
    double injectors_ms = 0;
    double advance_degrees = 0;
    double manifold_millibar = 0;
    double air_celsius = 0;
    double water_celsius = 0;
    double throttle_degrees = 0;
    double battery_volts = 0;
    double injection_angle_degrees = 0;
    double vae_percent = 0;
    double lambda_integrator_percent = 0;
    bool closed_loop = false;
    std::uint8_t uniram1 = 0;
    std::uint8_t uniram2 = 0;
    std::uint8_t uniram3 = 0;
    std::uint8_t uniramS = 0;
};

// One sensor fault as the ECU reports it in its three fault bytes.
struct FaultCase {
    std::string_view name;
    std::uint8_t uniram1;
    std::uint8_t uniram2;
    std::uint8_t uniram3;
};
std::span<const FaultCase> FaultCases();
// How long the faults scenario shows each case.
inline constexpr double kSecondsPerFault = 3.0;

// The wiggle scenario's period: the water temperature sensor goes open
// circuit for half a second, later the throttle position sensor goes open
// circuit for 0.4 s, then the battery sags to 12.3 V for 0.3 s.
inline constexpr double kWigglePeriodSeconds = 6.0;

// The state of `scenario` at `seconds` of scenario time. Silent, echo,
// stray and late hold the idle values (silent and echo never send them).
EngineState ScenarioState(Scenario scenario, double seconds);

// Raw register bytes by address; addresses that hold nothing stay 0.
using RegisterImage = std::array<std::uint8_t, 256>;
RegisterImage EncodeState(const EngineState& state);

}  // namespace ecusim
