// The simulator's encoders and the registers it holds, read back through
// the monitor's own conversions and fault decoding: the two agree, and every
// scenario shows what it was written to show.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "decode/conversions.h"
#include "decode/faults.h"
#include "decode/registers.h"
#include "encoders.h"
#include "scenario.h"

namespace {

using ecusim::EngineState;
using ecusim::RegisterImage;
using ecusim::Scenario;

std::uint16_t Word(const RegisterImage& r, int high) {
    return static_cast<std::uint16_t>(r[high] << 8 | r[high + 1]);
}

// One reading: the intended value, the raw value the image holds, the
// conversion of a raw value, the raw range and the step of its text.
struct ReadingCheck {
    const char* name;
    std::function<double(const EngineState&)> intended;
    std::function<std::uint32_t(const RegisterImage&)> raw;
    std::function<float(std::uint32_t)> convert;
    std::uint32_t max_raw;
    double display_step;
};

const std::vector<ReadingCheck>& Readings() {
    static const std::vector<ReadingCheck> checks = {
        {"revs", [](const EngineState& s) { return s.revs_rpm; },
         [](const RegisterImage& r) { return Word(r, kRegRevsHigh); },
         [](std::uint32_t v) { return ConvertRevs(static_cast<std::uint16_t>(v)).value; }, 65535, 1},
        {"injectors", [](const EngineState& s) { return s.injectors_ms; },
         [](const RegisterImage& r) { return Word(r, kRegInjectorsHigh); },
         [](std::uint32_t v) { return ConvertInjectors(static_cast<std::uint16_t>(v)).value; }, 65535, 0.01},
        {"advance", [](const EngineState& s) { return s.advance_degrees; },
         [](const RegisterImage& r) { return r[kRegAdvance]; },
         [](std::uint32_t v) { return ConvertAdvance(static_cast<std::uint8_t>(v)).value; }, 255, 1},
        {"manifold", [](const EngineState& s) { return s.manifold_millibar; },
         [](const RegisterImage& r) { return r[kRegManifoldPressure]; },
         [](std::uint32_t v) { return ConvertManifoldPressure(static_cast<std::uint8_t>(v)).value; }, 255, 1},
        {"air", [](const EngineState& s) { return s.air_celsius; },
         [](const RegisterImage& r) { return r[kRegAirTemperature]; },
         [](std::uint32_t v) { return ConvertAirTemperature(static_cast<std::uint8_t>(v)).value; }, 255, 1},
        {"water", [](const EngineState& s) { return s.water_celsius; },
         [](const RegisterImage& r) { return r[kRegWaterTemperature]; },
         [](std::uint32_t v) { return ConvertWaterTemperature(static_cast<std::uint8_t>(v)).value; }, 255, 1},
        {"throttle", [](const EngineState& s) { return s.throttle_degrees; },
         [](const RegisterImage& r) { return r[kRegThrottle]; },
         [](std::uint32_t v) { return ConvertThrottle(static_cast<std::uint8_t>(v)).value; }, 255, 0.01},
        {"battery", [](const EngineState& s) { return s.battery_volts; },
         [](const RegisterImage& r) { return r[kRegBattery]; },
         [](std::uint32_t v) { return ConvertBattery(static_cast<std::uint8_t>(v)).value; }, 255, 0.01},
        {"injection angle", [](const EngineState& s) { return s.injection_angle_degrees; },
         [](const RegisterImage& r) { return r[kRegInjectionAngle]; },
         [](std::uint32_t v) { return ConvertInjectionAngle(static_cast<std::uint8_t>(v)).value; }, 255, 1},
        {"vae", [](const EngineState& s) { return s.vae_percent; },
         [](const RegisterImage& r) { return Word(r, kRegVaeHigh); },
         [](std::uint32_t v) { return ConvertVae(static_cast<std::uint16_t>(v)).value; }, 65535, 1},
        {"lambda integrator", [](const EngineState& s) { return s.lambda_integrator_percent; },
         [](const RegisterImage& r) { return Word(r, kRegLambdaIntegratorHigh); },
         [](std::uint32_t v) { return ConvertLambdaIntegrator(static_cast<std::uint16_t>(v)).value; }, 65535,
         0.01},
    };
    return checks;
}

// The states every scenario passes through: the fixed ones, the whole
// drive cycle (water takes 120 s) and every fault case.
std::vector<std::pair<std::string, EngineState>> AllStates() {
    std::vector<std::pair<std::string, EngineState>> states;
    for (Scenario s : {Scenario::kOff, Scenario::kIdle, Scenario::kSilent, Scenario::kEcho, Scenario::kStray})
        states.emplace_back(std::string(ecusim::ScenarioName(s)), ecusim::ScenarioState(s, 0));
    for (double t = 0; t <= 120; t += 0.25)
        states.emplace_back("drive at " + std::to_string(t), ecusim::ScenarioState(Scenario::kDrive, t));
    for (std::size_t i = 0; i < ecusim::FaultCases().size(); ++i) {
        double t = (static_cast<double>(i) + 0.5) * ecusim::kSecondsPerFault;
        states.emplace_back("faults at " + std::to_string(t), ecusim::ScenarioState(Scenario::kFaults, t));
    }
    return states;
}

// Converting the stored raw value gives back the intended value within one
// step of what the dashboard can show there: a step of its text, or half
// the gap to the neighbouring raw values when those are coarser.
TEST(Values, StoredRawValuesConvertBackToTheIntendedValues) {
    for (const auto& [label, state] : AllStates()) {
        const RegisterImage image = ecusim::EncodeState(state);
        for (const ReadingCheck& c : Readings()) {
            const double want = c.intended(state);
            const std::uint32_t raw = c.raw(image);
            const double got = c.convert(raw);
            double gap = 0;
            if (raw > 0) gap = std::max(gap, std::fabs(got - c.convert(raw - 1)));
            if (raw < c.max_raw) gap = std::max(gap, std::fabs(c.convert(raw + 1) - got));
            const double tolerance = std::max(c.display_step, gap / 2 + 1e-6);
            EXPECT_LE(std::fabs(got - want), tolerance)
                << label << ", " << c.name << ": wanted " << want << ", raw " << raw << " gives " << got;
        }
    }
}

// No other raw value would have come nearer (8-bit readings searched in
// full; 16-bit readings are monotonic, so the neighbours decide).
TEST(Values, StoredRawValuesAreTheNearestThereAre) {
    for (const auto& [label, state] : AllStates()) {
        const RegisterImage image = ecusim::EncodeState(state);
        for (const ReadingCheck& c : Readings()) {
            const double want = c.intended(state);
            const std::uint32_t raw = c.raw(image);
            const double error = std::fabs(c.convert(raw) - want);
            std::vector<std::uint32_t> others;
            if (c.max_raw == 255) {
                for (std::uint32_t v = 0; v <= 255; ++v) others.push_back(v);
            } else {
                if (raw > 0) others.push_back(raw - 1);
                if (raw < c.max_raw) others.push_back(raw + 1);
                if (std::string(c.name) == "revs") others.push_back(0);  // stopped lies apart
            }
            for (std::uint32_t v : others)
                EXPECT_GE(std::fabs(c.convert(v) - want), error)
                    << label << ", " << c.name << ": raw " << v << " is nearer than " << raw;
        }
    }
}

// Each encoder with its reading: the simulator's own and the monitor's
// conversion of a raw value, and how a recording writes the value.
struct EncoderCheck {
    const char* name;
    std::uint32_t max_raw;
    const char* recorded_as;  // printf format of its column
    std::function<float(std::uint32_t)> ours;
    std::function<std::uint32_t(double)> encode;
    std::function<Reading(std::uint32_t)> monitor;
};

template <typename Raw>
std::function<float(std::uint32_t)> Ours(float (*of)(Raw)) {
    return [of](std::uint32_t raw) { return of(static_cast<Raw>(raw)); };
}
template <typename Raw>
std::function<Reading(std::uint32_t)> Monitor(Reading (*convert)(Raw)) {
    return [convert](std::uint32_t raw) { return convert(static_cast<Raw>(raw)); };
}

// Over every raw value: the simulator reads it as the monitor does, to the
// bit; and the value written as a recording writes it encodes back to a raw
// value the dashboard shows in the same text and colour, so a replay shows
// the drive as it was.
TEST(Values, EncodersAgreeWithTheMonitorAndRecoverRecordedValues) {
    using namespace ecusim;
    const EncoderCheck kEncoders[] = {
        // Three decimals: below about 520 rpm neighbouring periods lie
        // less than 0.01 apart, across a whole rpm.
        {"revs", 65535, "%.3f", Ours(RevsOf), RevsPeriodFor, Monitor(ConvertRevs)},
        {"injectors", 65535, "%.3f", Ours(InjectorsOf), InjectorCountFor, Monitor(ConvertInjectors)},
        {"advance", 255, "%.2f", Ours(AdvanceOf), AdvanceRawFor, Monitor(ConvertAdvance)},
        {"manifold", 255, "%.4f", Ours(ManifoldOf), ManifoldRawFor, Monitor(ConvertManifoldPressure)},
        {"air", 255, "%d", Ours(TemperatureOf), TemperatureRawFor, Monitor(ConvertAirTemperature)},
        {"water", 255, "%d", Ours(TemperatureOf), TemperatureRawFor, Monitor(ConvertWaterTemperature)},
        {"throttle", 255, "%.4f", Ours(ThrottleOf), ThrottleRawFor, Monitor(ConvertThrottle)},
        {"battery", 255, "%.4f", Ours(BatteryOf), BatteryRawFor, Monitor(ConvertBattery)},
        {"injection angle", 255, "%.1f", Ours(InjectionAngleOf), InjectionAngleRawFor,
         Monitor(ConvertInjectionAngle)},
        {"vae", 65535, "%.4f", Ours(VaeOf), VaeRawFor, Monitor(ConvertVae)},
        {"lambda integrator", 65535, "%.6f", Ours(LambdaIntegratorOf), LambdaIntegratorRawFor,
         Monitor(ConvertLambdaIntegrator)},
    };
    for (const EncoderCheck& c : kEncoders) {
        int failures = 0;
        for (std::uint32_t raw = 0; raw <= c.max_raw && failures < 5; ++raw) {
            const float mine = c.ours(raw);
            const Reading theirs = c.monitor(raw);
            char recorded[32];
            if (std::string(c.recorded_as) == "%d")
                std::snprintf(recorded, sizeof recorded, "%d", static_cast<int>(mine));
            else
                std::snprintf(recorded, sizeof recorded, c.recorded_as, static_cast<double>(mine));
            const Reading replayed = c.monitor(c.encode(std::strtod(recorded, nullptr)));
            const bool ok = mine == theirs.value && std::string(replayed.text) == theirs.text &&
                            replayed.colour == theirs.colour;
            if (!ok) ++failures;
            EXPECT_TRUE(ok) << c.name << " raw " << raw << ": ours " << mine << ", the monitor's " << theirs.value
                            << "; recorded " << recorded << " replays as '" << replayed.text << "' for '"
                            << theirs.text << "'";
        }
    }
}

// Exact points of the conversions are found exactly.
TEST(Values, ExactPointsInvertExactly) {
    EXPECT_EQ(ecusim::RevsPeriodFor(0), 0);
    EXPECT_EQ(ecusim::RevsPeriodFor(500), 60000);
    EXPECT_EQ(ecusim::RevsPeriodFor(800), 37500);
    EXPECT_EQ(ecusim::RevsPeriodFor(30000000.0 / 65535), 65535);
    // Below the slowest real period, stopped is nearer.
    EXPECT_EQ(ecusim::RevsPeriodFor(200), 0);
    EXPECT_EQ(ecusim::InjectorCountFor(0), 0);
    EXPECT_EQ(ecusim::InjectorCountFor(4.0), 1000);
    EXPECT_EQ(ecusim::AdvanceRawFor(10), 40);
    EXPECT_EQ(ecusim::InjectionAngleRawFor(0), 32);
    EXPECT_EQ(ecusim::InjectionAngleRawFor(720), 0);
    EXPECT_EQ(ecusim::LambdaIntegratorRawFor(1.0), 8000);
    // The table's first hottest entry, and its coldest.
    EXPECT_EQ(ecusim::TemperatureRawFor(125), 0);
    EXPECT_EQ(ecusim::TemperatureRawFor(-57), 223);
    EXPECT_EQ(ecusim::TemperatureRawFor(-100), 223);
}

std::set<std::uint16_t> ColoursOver(const std::function<std::uint16_t(const RegisterImage&)>& colour,
                                    double from, double to) {
    std::set<std::uint16_t> seen;
    for (double t = from; t <= to; t += 0.1)
        seen.insert(colour(ecusim::EncodeState(ecusim::ScenarioState(Scenario::kDrive, t))));
    return seen;
}

// The drive scenario lives: its readings cross their colour bands.
TEST(Values, DriveCrossesTheColourBands) {
    const std::set<std::uint16_t> all = {10, 12, 14};
    EXPECT_EQ(ColoursOver([](const RegisterImage& r) { return ConvertRevs(Word(r, kRegRevsHigh)).colour; },
                          0, 24),
              all);
    EXPECT_EQ(ColoursOver([](const RegisterImage& r) { return ConvertBattery(r[kRegBattery]).colour; }, 0, 30),
              all);
    EXPECT_EQ(ColoursOver(
                  [](const RegisterImage& r) { return ConvertWaterTemperature(r[kRegWaterTemperature]).colour; },
                  0, 120),
              all);
    // Water starts green and takes a while to warm up.
    EXPECT_EQ(ColoursOver(
                  [](const RegisterImage& r) { return ConvertWaterTemperature(r[kRegWaterTemperature]).colour; },
                  0, 20),
              std::set<std::uint16_t>{10});
    // The lambda loop opens and closes.
    EXPECT_EQ(ColoursOver([](const RegisterImage& r) { return ConvertLambdaState(r[kRegLambdaState]).colour; },
                          0, 24),
              (std::set<std::uint16_t>{10, 14}));
}

// Over one round of the faults scenario the dashboard shows every fault
// text of every sensor, with the engine stopped throughout.
TEST(Values, FaultsShowEveryStatusOfEverySensor) {
    std::set<std::string> seen;
    const std::size_t cases = ecusim::FaultCases().size();
    for (std::size_t i = 0; i < cases; ++i) {
        const double t = (static_cast<double>(i) + 0.5) * ecusim::kSecondsPerFault;
        const RegisterImage r = ecusim::EncodeState(ecusim::ScenarioState(Scenario::kFaults, t));
        const Reading revs = ConvertRevs(Word(r, kRegRevsHigh));
        ASSERT_FALSE(EngineRunning(revs)) << "case " << i;
        const FaultReport f = DecodeFaults(r[kRegUniram1], r[kRegUniram2], r[kRegUniram3], r[kRegUniramS],
                                           /*cat_mode=*/true, /*engine_running=*/false);
        const std::pair<const char*, const SensorStatus*> statuses[] = {
            {"mixture", &f.mixture}, {"air", &f.air},     {"knock", &f.knock},
            {"water", &f.water},     {"lambda", &f.lambda}, {"map", &f.map},
            {"throttle", &f.throttle}, {"camshaft", &f.camshaft}, {"crankshaft", &f.crankshaft}};
        int faults = 0;
        for (const auto& [name, status] : statuses) {
            std::string text = status->text;
            text.erase(text.find_last_not_of(' ') + 1);
            if (text != "OK") {
                ++faults;
                seen.insert(std::string(name) + ": " + text);
            }
        }
        EXPECT_EQ(faults, 1) << "case " << i << " should show exactly one fault";
    }
    const std::set<std::string> expected = {
        "mixture: Max lean",          "mixture: Max rich",           "air: Short circuit",
        "air: Open circuit",          "knock: Pinking",              "water: Short circuit",
        "water: Open circuit",        "lambda: Faulty",              "map: Short circuit",
        "map: Open circuit",          "throttle: Short circuit",     "throttle: Open circuit",
        "camshaft: Short circuit",    "camshaft: Open circuit",      "crankshaft: Short circuit",
        "crankshaft: Open circuit"};
    EXPECT_EQ(seen, expected);
    // The round starts over.
    EXPECT_EQ(ecusim::ScenarioState(Scenario::kFaults, 0.5).uniram1,
              ecusim::ScenarioState(Scenario::kFaults, 0.5 + cases * ecusim::kSecondsPerFault).uniram1);
}

// The fixed scenarios as the dashboard shows them.
TEST(Values, OffAndIdleReadAsDescribed) {
    const RegisterImage off = ecusim::EncodeState(ecusim::ScenarioState(Scenario::kOff, 0));
    EXPECT_EQ(Word(off, kRegRevsHigh), 0);
    EXPECT_STREQ(ConvertBattery(off[kRegBattery]).text, "Battery:\t12.62 volts     ");
    EXPECT_EQ(ConvertBattery(off[kRegBattery]).colour, 10);
    EXPECT_EQ(ConvertWaterTemperature(off[kRegWaterTemperature]).colour, 10);
    EXPECT_EQ(off[kRegUniram1] | off[kRegUniram2] | off[kRegUniram3], 0);

    const RegisterImage idle = ecusim::EncodeState(ecusim::ScenarioState(Scenario::kIdle, 0));
    EXPECT_STREQ(ConvertRevs(Word(idle, kRegRevsHigh)).text, "Revs:\t\t900 rpm     ");
    EXPECT_EQ(ConvertRevs(Word(idle, kRegRevsHigh)).colour, 10);
    EXPECT_STREQ(ConvertLambdaState(idle[kRegLambdaState]).text, "closed loop");
    EXPECT_EQ(ConvertBattery(idle[kRegBattery]).colour, 10);
    EXPECT_EQ(idle[kRegUniram1] | idle[kRegUniram2] | idle[kRegUniram3], 0);
}

}  // namespace
