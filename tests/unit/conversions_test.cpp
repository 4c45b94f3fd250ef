// Reading conversions: exact texts, colours and band edges, and that every
// text fits its place and covers whatever longer text stood there before.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "decode/conversions.h"

namespace {

constexpr std::uint16_t kGreen = 10, kYellow = 14, kRed = 12;

struct TextCase {
    const char* name;
    std::function<Reading(unsigned)> convert;
    unsigned raw;
    const char* text;
    std::uint16_t colour;
};

const std::vector<TextCase>& TextCases() {
    static const std::vector<TextCase> cases = {
        // revs: band edges on both sides, and the truncation at 6500.54
        {"revs", [](unsigned r) { return ConvertRevs(r); }, 0, "Revs:\t\t0 rpm     ", kRed},
        {"revs", [](unsigned r) { return ConvertRevs(r); }, 4615, "Revs:\t\t6500 rpm     ", kRed},
        {"revs", [](unsigned r) { return ConvertRevs(r); }, 4616, "Revs:\t\t6499 rpm     ", kYellow},
        {"revs", [](unsigned r) { return ConvertRevs(r); }, 4999, "Revs:\t\t6001 rpm     ", kYellow},
        {"revs", [](unsigned r) { return ConvertRevs(r); }, 5000, "Revs:\t\t6000 rpm     ", kGreen},
        {"revs", [](unsigned r) { return ConvertRevs(r); }, 37500, "Revs:\t\t800 rpm     ", kGreen},
        {"revs", [](unsigned r) { return ConvertRevs(r); }, 37501, "Revs:\t\t799 rpm     ", kYellow},
        {"revs", [](unsigned r) { return ConvertRevs(r); }, 60000, "Revs:\t\t500 rpm     ", kYellow},
        {"revs", [](unsigned r) { return ConvertRevs(r); }, 60001, "Revs:\t\t499 rpm     ", kRed},
        {"revs", [](unsigned r) { return ConvertRevs(r); }, 65535, "Revs:\t\t457 rpm     ", kRed},
        {"revs", [](unsigned r) { return ConvertRevs(r); }, 1, "Revs:\t\t30000000 rpm     ", kRed},
        {"revs", [](unsigned r) { return ConvertRevs(r); }, 30000, "Revs:\t\t1000 rpm     ", kGreen},
        // injectors: the threshold is on the value, not on the rounded text
        {"injectors", [](unsigned r) { return ConvertInjectors(r); }, 0, "Injectors:\t0.00 ms     ", kRed},
        {"injectors", [](unsigned r) { return ConvertInjectors(r); }, 2, "Injectors:\t0.01 ms     ", kRed},
        {"injectors", [](unsigned r) { return ConvertInjectors(r); }, 3, "Injectors:\t0.01 ms     ", kGreen},
        {"injectors", [](unsigned r) { return ConvertInjectors(r); }, 750, "Injectors:\t3.00 ms     ", kGreen},
        {"injectors", [](unsigned r) { return ConvertInjectors(r); }, 65535, "Injectors:\t262.14 ms     ", kGreen},
        {"advance", [](unsigned r) { return ConvertAdvance(r); }, 0, "Advance:\t0 degrees     ", kGreen},
        {"advance", [](unsigned r) { return ConvertAdvance(r); }, 3, "Advance:\t0 degrees     ", kGreen},
        {"advance", [](unsigned r) { return ConvertAdvance(r); }, 4, "Advance:\t1 degrees     ", kGreen},
        {"advance", [](unsigned r) { return ConvertAdvance(r); }, 255, "Advance:\t63 degrees     ", kGreen},
        {"map", [](unsigned r) { return ConvertManifoldPressure(r); }, 0, "MAP1,02/03:\t60 milliBar  ", kGreen},
        {"map", [](unsigned r) { return ConvertManifoldPressure(r); }, 111, "MAP1,02/03:\t1010 milliBar  ", kGreen},
        {"map", [](unsigned r) { return ConvertManifoldPressure(r); }, 255, "MAP1,02/03:\t2242 milliBar  ", kGreen},
        {"air", [](unsigned r) { return ConvertAirTemperature(r); }, 0, "Air temp:\t125 degrees     ", kGreen},
        {"air", [](unsigned r) { return ConvertAirTemperature(r); }, 223, "Air temp:\t-57 degrees     ", kGreen},
        {"air", [](unsigned r) { return ConvertAirTemperature(r); }, 255, "Air temp:\t-55 degrees     ", kGreen},
        {"water", [](unsigned r) { return ConvertWaterTemperature(r); }, 0, "Water temp:\t125 degrees     ", kRed},
        {"water", [](unsigned r) { return ConvertWaterTemperature(r); }, 37, "Water temp:\t111 degrees     ", kRed},
        {"water", [](unsigned r) { return ConvertWaterTemperature(r); }, 38, "Water temp:\t108 degrees     ", kYellow},
        {"water", [](unsigned r) { return ConvertWaterTemperature(r); }, 39, "Water temp:\t105 degrees     ", kGreen},
        {"water", [](unsigned r) { return ConvertWaterTemperature(r); }, 255, "Water temp:\t-55 degrees     ", kGreen},
        // throttle: the slope changes above 170; 175 sits just below a half
        {"throttle", [](unsigned r) { return ConvertThrottle(r); }, 0, "Throttle:\t-1.41 degrees     ", kGreen},
        {"throttle", [](unsigned r) { return ConvertThrottle(r); }, 7, "Throttle:\t-0.12 degrees     ", kGreen},
        {"throttle", [](unsigned r) { return ConvertThrottle(r); }, 170, "Throttle:\t30.01 degrees     ", kGreen},
        {"throttle", [](unsigned r) { return ConvertThrottle(r); }, 171, "Throttle:\t30.69 degrees     ", kGreen},
        {"throttle", [](unsigned r) { return ConvertThrottle(r); }, 175, "Throttle:\t33.51 degrees     ", kGreen},
        {"throttle", [](unsigned r) { return ConvertThrottle(r); }, 255, "Throttle:\t89.98 degrees     ", kGreen},
        {"battery", [](unsigned r) { return ConvertBattery(r); }, 0, "Battery:\t0.00 volts     ", kRed},
        {"battery", [](unsigned r) { return ConvertBattery(r); }, 191, "Battery:\t11.99 volts     ", kRed},
        {"battery", [](unsigned r) { return ConvertBattery(r); }, 192, "Battery:\t12.06 volts     ", kYellow},
        {"battery", [](unsigned r) { return ConvertBattery(r); }, 198, "Battery:\t12.43 volts     ", kYellow},
        {"battery", [](unsigned r) { return ConvertBattery(r); }, 199, "Battery:\t12.50 volts     ", kYellow},
        {"battery", [](unsigned r) { return ConvertBattery(r); }, 200, "Battery:\t12.56 volts     ", kGreen},
        {"battery", [](unsigned r) { return ConvertBattery(r); }, 222, "Battery:\t13.94 volts     ", kGreen},
        {"battery", [](unsigned r) { return ConvertBattery(r); }, 223, "Battery:\t14.00 volts     ", kYellow},
        {"battery", [](unsigned r) { return ConvertBattery(r); }, 230, "Battery:\t14.44 volts     ", kYellow},
        {"battery", [](unsigned r) { return ConvertBattery(r); }, 231, "Battery:\t14.51 volts     ", kRed},
        {"battery", [](unsigned r) { return ConvertBattery(r); }, 255, "Battery:\t16.01 volts     ", kRed},
        {"inj angle", [](unsigned r) { return ConvertInjectionAngle(r); }, 0, "Inj. angle:\t720 degrees     ", kGreen},
        {"inj angle", [](unsigned r) { return ConvertInjectionAngle(r); }, 1, "Inj. angle:\t697 degrees     ", kGreen},
        {"inj angle", [](unsigned r) { return ConvertInjectionAngle(r); }, 32, "Inj. angle:\t0 degrees     ", kGreen},
        {"inj angle", [](unsigned r) { return ConvertInjectionAngle(r); }, 33, "Inj. angle:\t-22 degrees     ", kGreen},
        {"inj angle", [](unsigned r) { return ConvertInjectionAngle(r); }, 255, "Inj. angle:\t-5017 degrees     ", kGreen},
        // VAE: -0.006 truncates to a plain 0, without a sign
        {"vae", [](unsigned r) { return ConvertVae(r); }, 0, "VAE:\t\t-16 percent     ", kGreen},
        {"vae", [](unsigned r) { return ConvertVae(r); }, 1, "VAE:\t\t-15 percent     ", kGreen},
        {"vae", [](unsigned r) { return ConvertVae(r); }, 1635, "VAE:\t\t0 percent     ", kGreen},
        {"vae", [](unsigned r) { return ConvertVae(r); }, 1636, "VAE:\t\t0 percent     ", kGreen},
        {"vae", [](unsigned r) { return ConvertVae(r); }, 65535, "VAE:\t\t625 percent     ", kGreen},
        // lambda: formatted from the 32-bit value, which sits either side of the half
        {"lambda", [](unsigned r) { return ConvertLambdaIntegrator(r); }, 0, "0.00 %", kGreen},
        {"lambda", [](unsigned r) { return ConvertLambdaIntegrator(r); }, 40, "0.00 %", kGreen},
        {"lambda", [](unsigned r) { return ConvertLambdaIntegrator(r); }, 360, "0.05 %", kGreen},
        {"lambda", [](unsigned r) { return ConvertLambdaIntegrator(r); }, 8000, "1.00 %", kGreen},
        {"lambda", [](unsigned r) { return ConvertLambdaIntegrator(r); }, 65535, "8.19 %", kGreen},
        {"lambda state", [](unsigned r) { return ConvertLambdaState(r); }, 0, "open loop  ", kYellow},
        {"lambda state", [](unsigned r) { return ConvertLambdaState(r); }, 1, "closed loop", kGreen},
        {"lambda state", [](unsigned r) { return ConvertLambdaState(r); }, 255, "closed loop", kGreen},
    };
    return cases;
}

TEST(Conversions, TextsAndColoursAtTheEdges) {
    for (const auto& c : TextCases()) {
        Reading r = c.convert(c.raw);
        EXPECT_STREQ(r.text, c.text) << c.name << " " << c.raw;
        EXPECT_EQ(r.colour, c.colour) << c.name << " " << c.raw;
    }
}

// The 32-bit values themselves, where the rounding points decide the last bit.
TEST(Conversions, ValuesHeldAreTheRoundedOnes) {
    struct Case {
        const char* name;
        float got, want;
    };
    const Case cases[] = {
        {"revs 4615", ConvertRevs(4615).value, 30000000.0f / 4615.0f},
        {"revs 60000", ConvertRevs(60000).value, 500.0f},
        {"injectors 2", ConvertInjectors(2).value, 0.008f},
        {"injectors 3", ConvertInjectors(3).value, 0.012f},
        {"throttle 175", ConvertThrottle(175).value, static_cast<float>(175 * 0.7058 - 90.0)},
        {"battery 199", ConvertBattery(199).value, static_cast<float>(199 * 0.0628)},
        {"vae 1635", ConvertVae(1635).value, static_cast<float>(1635 * 0.009782) - 16.0f},
        {"lambda 40", ConvertLambdaIntegrator(40).value, 0.005f},
        {"lambda 360", ConvertLambdaIntegrator(360).value, 0.045f},
        {"inj angle 255", ConvertInjectionAngle(255).value, -5017.5f},
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, c.want) << c.name;
    // The exact product of 175 and the slope lies at .515; the held value just below it.
    EXPECT_LT(static_cast<double>(ConvertThrottle(175).value), 33.515);
    EXPECT_LT(static_cast<double>(ConvertLambdaIntegrator(40).value), 0.005);
    EXPECT_GT(static_cast<double>(ConvertLambdaIntegrator(360).value), 0.045);
    // The VAE offset is subtracted from the rounded product, not the exact one.
    EXPECT_NE(ConvertVae(1635).value, static_cast<float>(1635 * 0.009782 - 16.0));
}

// Every raw value, band by band: the colour changes exactly at these raw values.
TEST(Conversions, ColourBandsOverEveryRawValue) {
    struct Band {
        unsigned first, last;
        std::uint16_t colour;
    };
    struct Case {
        const char* name;
        std::function<Reading(unsigned)> convert;
        std::vector<Band> bands;
    };
    const Case cases[] = {
        {"revs", [](unsigned r) { return ConvertRevs(r); },
         {{0, 4615, kRed}, {4616, 4999, kYellow}, {5000, 37500, kGreen}, {37501, 60000, kYellow},
          {60001, 65535, kRed}}},
        {"injectors", [](unsigned r) { return ConvertInjectors(r); }, {{0, 2, kRed}, {3, 65535, kGreen}}},
        {"water", [](unsigned r) { return ConvertWaterTemperature(r); },
         {{0, 37, kRed}, {38, 38, kYellow}, {39, 255, kGreen}}},
        {"battery", [](unsigned r) { return ConvertBattery(r); },
         {{0, 191, kRed}, {192, 199, kYellow}, {200, 222, kGreen}, {223, 230, kYellow}, {231, 255, kRed}}},
        {"air", [](unsigned r) { return ConvertAirTemperature(r); }, {{0, 255, kGreen}}},
        {"advance", [](unsigned r) { return ConvertAdvance(r); }, {{0, 255, kGreen}}},
        {"map", [](unsigned r) { return ConvertManifoldPressure(r); }, {{0, 255, kGreen}}},
        {"throttle", [](unsigned r) { return ConvertThrottle(r); }, {{0, 255, kGreen}}},
        {"inj angle", [](unsigned r) { return ConvertInjectionAngle(r); }, {{0, 255, kGreen}}},
        {"vae", [](unsigned r) { return ConvertVae(r); }, {{0, 65535, kGreen}}},
        {"lambda", [](unsigned r) { return ConvertLambdaIntegrator(r); }, {{0, 65535, kGreen}}},
    };
    for (const auto& c : cases)
        for (const auto& b : c.bands)
            for (unsigned raw = b.first; raw <= b.last; ++raw)
                ASSERT_EQ(c.convert(raw).colour, b.colour) << c.name << " raw " << raw;
}

TEST(Conversions, EngineRunsExactlyWhenThePeriodIsNotZero) {
    EXPECT_FALSE(EngineRunning(ConvertRevs(0)));
    for (unsigned p = 1; p <= 65535; ++p) ASSERT_TRUE(EngineRunning(ConvertRevs(p))) << p;
}

TEST(Conversions, TemperatureTableEntryByEntry) {
    // Sixteen entries a row, raw 0 first.
    const std::int32_t want[256] = {
        125, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125,
        125, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125, 125,
        125, 122, 119, 116, 113, 111, 108, 105, 102, 99, 96, 93, 90, 87, 84, 82,
        79, 77, 76, 75, 74, 73, 71, 70, 69, 68, 66, 65, 64, 63, 62, 60,
        59, 58, 58, 57, 56, 56, 55, 54, 53, 53, 52, 51, 50, 50, 49, 48,
        48, 47, 46, 46, 45, 45, 44, 43, 43, 42, 42, 41, 40, 40, 39, 39,
        38, 37, 37, 36, 36, 35, 35, 34, 34, 33, 33, 32, 32, 31, 31, 30,
        30, 29, 29, 28, 28, 27, 27, 26, 26, 25, 25, 24, 24, 23, 23, 22,
        22, 22, 21, 21, 20, 20, 19, 19, 18, 18, 17, 17, 16, 16, 15, 15,
        14, 14, 13, 13, 12, 12, 11, 11, 10, 10, 9, 9, 8, 8, 7, 7,
        6, 6, 5, 5, 4, 4, 3, 3, 2, 2, 1, 1, 0, 0, -1, -1,
        -2, -2, -3, -4, -4, -5, -6, -6, -7, -7, -8, -9, -9, -10, -11, -11,
        -12, -13, -14, -15, -16, -17, -18, -19, -20, -21, -22, -23, -24, -26, -27, -28,
        -29, -34, -35, -37, -39, -40, -42, -43, -45, -47, -48, -50, -52, -53, -55, -57,
        -55, -55, -55, -55, -55, -55, -55, -55, -55, -55, -55, -55, -55, -55, -55, -55,
        -55, -55, -55, -55, -55, -55, -55, -55, -55, -55, -55, -55, -55, -55, -55, -55,
    };
    for (int raw = 0; raw < 256; ++raw) {
        ASSERT_EQ(temperature[raw], want[raw]) << "raw " << raw;
        const std::string shown = std::to_string(want[raw]) + " degrees     ";
        EXPECT_EQ(ConvertAirTemperature(static_cast<std::uint8_t>(raw)).text, "Air temp:\t" + shown);
        EXPECT_EQ(ConvertWaterTemperature(static_cast<std::uint8_t>(raw)).text, "Water temp:\t" + shown);
    }
}

// Where the text ends on screen when written at column x: tabs move to the
// next multiple of 8 without writing, as the console does.
struct Extent {
    int end;      // column after the last character
    int visible;  // column after the last non-space character
};
Extent ExtentAt(int x, const char* text) {
    Extent e{x, x};
    for (const char* p = text; *p; ++p) {
        if (*p == '\t') {
            e.end = (e.end / 8 + 1) * 8;
            continue;
        }
        ++e.end;
        if (*p != ' ') e.visible = e.end;
    }
    return e;
}

// Every raw value's text stays clear of the next field to its right and its
// padding covers every character any other value of the same reading leaves.
TEST(Conversions, EveryTextFitsItsPlaceAndCoversAnEarlierOne) {
    struct Case {
        const char* name;
        std::function<Reading(unsigned)> convert;
        unsigned first, last;
        int x, limit;  // column of the text and of whatever stands right of it
    };
    const Case cases[] = {
        // Periods below 300 (above 100000 rpm) cannot come from a running
        // engine; their wider numbers are checked for fit separately below.
        {"revs", [](unsigned r) { return ConvertRevs(r); }, 300, 65535, 0, 40},
        {"advance", [](unsigned r) { return ConvertAdvance(r); }, 0, 255, 0, 40},
        {"air", [](unsigned r) { return ConvertAirTemperature(r); }, 0, 255, 0, 40},
        {"throttle", [](unsigned r) { return ConvertThrottle(r); }, 0, 255, 0, 40},
        {"inj angle", [](unsigned r) { return ConvertInjectionAngle(r); }, 0, 255, 0, 40},
        {"injectors", [](unsigned r) { return ConvertInjectors(r); }, 0, 65535, 40, 80},
        {"map", [](unsigned r) { return ConvertManifoldPressure(r); }, 0, 255, 40, 80},
        {"water", [](unsigned r) { return ConvertWaterTemperature(r); }, 0, 255, 40, 80},
        {"battery", [](unsigned r) { return ConvertBattery(r); }, 0, 255, 40, 80},
        {"vae", [](unsigned r) { return ConvertVae(r); }, 0, 65535, 40, 80},
        {"lambda", [](unsigned r) { return ConvertLambdaIntegrator(r); }, 0, 65535, 63, 80},
        {"lambda state", [](unsigned r) { return ConvertLambdaState(r); }, 0, 255, 64, 80},
    };
    for (const auto& c : cases) {
        int shortest_end = 1000, widest_visible = 0;
        auto measure = [&](unsigned raw) {
            Reading r = c.convert(raw);
            ASSERT_LT(std::strlen(r.text), sizeof r.text - 1) << c.name << " " << raw;
            Extent e = ExtentAt(c.x, r.text);
            ASSERT_LE(e.end, c.limit) << c.name << " " << raw << " " << r.text;
            shortest_end = std::min(shortest_end, e.end);
            widest_visible = std::max(widest_visible, e.visible);
        };
        measure(0);
        for (unsigned raw = c.first; raw <= c.last; ++raw) measure(raw);
        EXPECT_GE(shortest_end, widest_visible) << c.name;
    }
    for (unsigned p = 1; p < 300; ++p) ASSERT_LE(ExtentAt(0, ConvertRevs(p).text).end, 40) << p;
}

}  // namespace
