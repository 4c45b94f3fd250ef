#include "scenario.h"

#include <cmath>
#include <numbers>

#include "encoders.h"

namespace ecusim {
namespace {

constexpr ScenarioInfo kScenarios[] = {
    {Scenario::kOff, "off", "ignition on, engine stopped, warm, 12.6 V, no faults"},
    {Scenario::kIdle, "idle", "engine idling at 900 rpm, warm, 13.9 V, closed loop"},
    {Scenario::kDrive, "drive",
     "revs sweeping 760-6560 rpm, load following, water into the red"},
    {Scenario::kFaults, "faults", "engine stopped, every sensor fault in turn, 3 s each"},
    {Scenario::kWiggle, "wiggle",
     "idling; sensor faults that come and go (a wiggled harness), every 6 s"},
    {Scenario::kSilent, "silent", "never answers"},
    {Scenario::kEcho, "echo", "answers only the echo of each request"},
    {Scenario::kStray, "stray", "idle values, each answer followed by stray bytes"},
    {Scenario::kLate, "late", "idle values, each answer 400 ms late (after the read time-out)"},
};

constexpr FaultCase kFaultCases[] = {
    {"mixture ratio limit, max lean", 0x02, 0x00, 0x01},
    {"mixture ratio limit, max rich", 0x02, 0x00, 0x00},
    {"air temp sensor short circuit", 0x04, 0x00, 0x02},
    {"air temp sensor open circuit", 0x04, 0x00, 0x00},
    {"knock (pinking)", 0x08, 0x00, 0x00},
    {"water temp sensor short circuit", 0x10, 0x00, 0x04},
    {"water temp sensor open circuit", 0x10, 0x00, 0x00},
    {"lambda sensor faulty", 0x20, 0x00, 0x00},
    {"MAP1 sensor short circuit", 0x40, 0x00, 0x80},
    {"MAP1 sensor open circuit", 0x40, 0x00, 0x00},
    {"throttle posn sensor short circuit", 0x80, 0x00, 0x08},
    {"throttle posn sensor open circuit", 0x80, 0x00, 0x00},
    {"camshaft sensor short circuit", 0x01, 0x0A, 0x00},
    {"camshaft sensor open circuit", 0x01, 0x08, 0x00},
    {"crankshaft sensor short circuit", 0x00, 0x8A, 0x00},
    {"crankshaft sensor open circuit", 0x00, 0x88, 0x00},
};

// The lambda integrator's middle (raw 0x8000): no correction.
constexpr double kLambdaNeutral = 4.096;

EngineState Off() {
    EngineState s;
    s.revs_rpm = 0;
    s.injectors_ms = 0;
    s.advance_degrees = 10;
    s.manifold_millibar = 1013;  // atmospheric: nothing is sucking
    s.air_celsius = 22;
    s.water_celsius = 82;
    s.throttle_degrees = 0;
    s.battery_volts = 12.6;
    s.injection_angle_degrees = 360;
    s.vae_percent = 0;
    s.lambda_integrator_percent = kLambdaNeutral;
    s.closed_loop = false;  // no warm lambda sensor signal without exhaust
    return s;
}

EngineState Idle() {
    EngineState s;
    s.revs_rpm = 900;
    s.injectors_ms = 2.4;
    s.advance_degrees = 10;
    s.manifold_millibar = 340;
    s.air_celsius = 30;
    s.water_celsius = 88;
    s.throttle_degrees = 0.5;
    s.battery_volts = 13.9;
    s.injection_angle_degrees = 360;
    s.vae_percent = 1;
    s.lambda_integrator_percent = kLambdaNeutral;
    s.closed_loop = true;
    return s;
}

// 0 at the start of each period, 1 halfway, smooth at both ends.
double Swell(double seconds, double period) {
    return (1 - std::cos(2 * std::numbers::pi * seconds / period)) / 2;
}

// 0 at the start of each period, 1 halfway, straight lines in between.
double Triangle(double seconds, double period) {
    double f = seconds / period - std::floor(seconds / period);
    return f < 0.5 ? 2 * f : 2 - 2 * f;
}

EngineState Drive(double t) {
    // The throttle leads and the revs follow a moment later.
    const double load = Swell(t + 0.7, 24);
    const double revs = Swell(t, 24);
    EngineState s;
    // Just past both ends of the band so that every colour of the revs shows.
    s.revs_rpm = 760 + (6560 - 760) * revs;
    s.throttle_degrees = 1 + 82 * load;
    s.manifold_millibar = 320 + 1600 * load;
    s.injectors_ms = 2.2 + 9.5 * load;
    s.advance_degrees = 10 + 15 * revs;
    s.air_celsius = 24 + 12 * revs;
    // Warms from 78 into yellow (above 105) and red (above 110) within a
    // minute, then cools again.
    s.water_celsius = 78 + 36 * Triangle(t, 120);
    s.battery_volts = 13.1 + 1.7 * std::sin(2 * std::numbers::pi * t / 30);
    s.injection_angle_degrees = 405 - 180 * load;
    s.vae_percent = 60 * load;
    // The lambda loop opens under full load.
    s.closed_loop = load < 0.85;
    s.lambda_integrator_percent =
        s.closed_loop ? kLambdaNeutral + 0.6 * std::sin(2 * std::numbers::pi * t / 2.5) : kLambdaNeutral;
    return s;
}

EngineState Faults(double t) {
    EngineState s = Off();
    const auto cases = FaultCases();
    double slot = std::floor(t / kSecondsPerFault);
    if (slot < 0) slot = 0;
    const std::size_t index = static_cast<std::size_t>(std::fmod(slot, static_cast<double>(cases.size())));
    const FaultCase& fault = cases[index];
    s.uniram1 = fault.uniram1;
    s.uniram2 = fault.uniram2;
    s.uniram3 = fault.uniram3;
    s.uniramS = static_cast<std::uint8_t>(index + 1);  // which case, in the info line
    // A shorted temperature sensor reads hottest, an open one coldest.
    if (fault.uniram1 & 0x04) s.air_celsius = (fault.uniram3 & 0x02) ? 125 : -55;
    if (fault.uniram1 & 0x10) s.water_celsius = (fault.uniram3 & 0x04) ? 125 : -55;
    return s;
}

EngineState Wiggle(double t) {
    EngineState s = Idle();
    // Small wanderings, so that the trend lines have a shape.
    s.revs_rpm = 900 + 40 * std::sin(2 * std::numbers::pi * t / 17);
    s.manifold_millibar = 340 + 20 * std::sin(2 * std::numbers::pi * t / 13);
    s.water_celsius = 86 + 4 * Triangle(t, 90);
    s.battery_volts = 13.8 + 0.2 * std::sin(2 * std::numbers::pi * t / 11);
    const double f = std::fmod(t, kWigglePeriodSeconds);
    if (f >= 1.5 && f < 2.0) {  // water sensor open circuit: it reads coldest
        s.uniram1 = 0x10;
        s.water_celsius = -55;
    } else if (f >= 3.5 && f < 3.9) {
        // Throttle position sensor open circuit. Open, not short: a short's
        // second byte, read a moment after the first, could miss the change.
        s.uniram1 = 0x80;
    } else if (f >= 5.0 && f < 5.3) {  // the battery's lead sags (yellow, not red)
        s.battery_volts = 12.3;
    }
    return s;
}

}  // namespace

std::span<const ScenarioInfo> AllScenarios() { return kScenarios; }

std::optional<Scenario> ScenarioByName(std::string_view name) {
    for (const ScenarioInfo& info : kScenarios)
        if (info.name == name) return info.scenario;
    return std::nullopt;
}

std::string_view ScenarioName(Scenario scenario) {
    for (const ScenarioInfo& info : kScenarios)
        if (info.scenario == scenario) return info.name;
    return "?";
}

std::span<const FaultCase> FaultCases() { return kFaultCases; }

EngineState ScenarioState(Scenario scenario, double seconds) {
    switch (scenario) {
        case Scenario::kOff:
            return Off();
        case Scenario::kDrive:
            return Drive(seconds);
        case Scenario::kFaults:
            return Faults(seconds);
        case Scenario::kWiggle:
            return Wiggle(seconds);
        case Scenario::kIdle:
        case Scenario::kSilent:
        case Scenario::kEcho:
        case Scenario::kStray:
        case Scenario::kLate:
            break;
    }
    return Idle();
}

RegisterImage EncodeState(const EngineState& s) {
    RegisterImage r{};
    auto put16 = [&r](int high, std::uint16_t value) {
        r[high] = static_cast<std::uint8_t>(value >> 8);
        r[high + 1] = static_cast<std::uint8_t>(value & 0xFF);
    };
    put16(kRevsHigh, RevsPeriodFor(s.revs_rpm));
    put16(kInjectorsHigh, InjectorCountFor(s.injectors_ms));
    r[kAdvance] = AdvanceRawFor(s.advance_degrees);
    r[kManifold] = ManifoldRawFor(s.manifold_millibar);
    r[kAirTemperature] = TemperatureRawFor(s.air_celsius);
    r[kWaterTemperature] = TemperatureRawFor(s.water_celsius);
    r[kThrottle] = ThrottleRawFor(s.throttle_degrees);
    r[kBattery] = BatteryRawFor(s.battery_volts);
    r[kInjectionAngle] = InjectionAngleRawFor(s.injection_angle_degrees);
    put16(kVaeHigh, VaeRawFor(s.vae_percent));
    put16(kLambdaIntegratorHigh, LambdaIntegratorRawFor(s.lambda_integrator_percent));
    r[kLambdaState] = s.closed_loop ? 1 : 0;
    r[kUniram1] = s.uniram1;
    r[kUniram2] = s.uniram2;
    r[kUniram3] = s.uniram3;
    r[kUniramS] = s.uniramS;
    return r;
}

}  // namespace ecusim
