// Fault byte decoding: statuses, widths, and the camshaft and
// crankshaft rules with the engine stopped and running.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "decode/faults.h"

namespace {

constexpr std::uint16_t kGreen = 10, kRed = 12;

struct Expect {
    const char* text;
    std::uint16_t colour;
    int code;  // what a recording stores
};
const Expect kOk13{"OK           ", kGreen, 0};
const Expect kShort{"Short circuit", kRed, 1};
const Expect kOpen{"Open circuit ", kRed, 2};
const Expect kBlank13{"             ", kGreen, 7};

void ExpectStatus(const SensorStatus& s, Expect want, const std::string& what) {
    EXPECT_STREQ(s.text, want.text) << what;
    EXPECT_EQ(s.colour, want.colour) << what;
    EXPECT_EQ(s.code, want.code) << what;
}

// One sensor per row: which byte combination gives which status.
TEST(Faults, ShortOrOpenSensorsNeedTheirPresentBit) {
    struct Case {
        const char* sensor;
        SensorStatus FaultReport::*field;
        std::uint8_t uniram1, uniram3;
        Expect want;
    };
    const Case cases[] = {
        {"air", &FaultReport::air, 0x04, 0x02, kShort},
        {"air", &FaultReport::air, 0x04, 0x00, kOpen},
        {"air", &FaultReport::air, 0x04, 0xFD, kOpen},
        {"air", &FaultReport::air, 0x00, 0xFF, kOk13},
        {"air", &FaultReport::air, 0xFB, 0xFF, kOk13},
        {"water", &FaultReport::water, 0x10, 0x04, kShort},
        {"water", &FaultReport::water, 0x10, 0xFB, kOpen},
        {"water", &FaultReport::water, 0xEF, 0xFF, kOk13},
        {"map", &FaultReport::map, 0x40, 0x80, kShort},
        {"map", &FaultReport::map, 0x40, 0x7F, kOpen},
        {"map", &FaultReport::map, 0x00, 0x80, kOk13},
        {"map", &FaultReport::map, 0xBF, 0xFF, kOk13},
        {"throttle", &FaultReport::throttle, 0x80, 0x08, kShort},
        {"throttle", &FaultReport::throttle, 0x80, 0xF7, kOpen},
        {"throttle", &FaultReport::throttle, 0x7F, 0xFF, kOk13},
        {"knock", &FaultReport::knock, 0x08, 0x00, {"Pinking", kRed, 3}},
        {"knock", &FaultReport::knock, 0xF7, 0xFF, {"OK     ", kGreen, 0}},
        {"mixture", &FaultReport::mixture, 0x02, 0x01, {"Max lean", kRed, 5}},
        {"mixture", &FaultReport::mixture, 0x02, 0xFE, {"Max rich", kRed, 6}},
        {"mixture", &FaultReport::mixture, 0xFD, 0xFF, {"OK      ", kGreen, 0}},
        {"lambda", &FaultReport::lambda, 0x20, 0x00, {"Faulty", kRed, 4}},
        {"lambda", &FaultReport::lambda, 0xDF, 0xFF, {"OK    ", kGreen, 0}},
    };
    for (const auto& c : cases)
        for (bool running : {false, true}) {
            FaultReport r = DecodeFaults(c.uniram1, 0, c.uniram3, 0, true, running);
            ExpectStatus(r.*c.field, c.want,
                         std::string(c.sensor) + " " + std::to_string(c.uniram1) + "/" +
                             std::to_string(c.uniram3));
            EXPECT_TRUE((r.*c.field).written) << c.sensor;
        }
}

TEST(Faults, CamshaftAndCrankshaftWithTheEngineStopped) {
    struct Case {
        std::uint8_t uniram1, uniram2;
        Expect camshaft, crankshaft;
    };
    const Case cases[] = {
        {0x01, 0x0A, kShort, kOk13},
        {0x01, 0x08, kOpen, kOk13},
        {0x00, 0x0A, kOk13, kOk13},   // the camshaft also needs uniram1 bit 0
        {0x01, 0x02, kOk13, kOk13},   // no fault without uniram2 bit 3
        {0x01, 0x00, kOk13, kOk13},
        {0x00, 0x8A, kOk13, kShort},  // crankshaft whatever uniram1 bit 0 says
        {0x01, 0x8A, kOk13, kShort},
        {0x00, 0x88, kOk13, kOpen},
        {0x01, 0x88, kOk13, kOpen},
        {0x01, 0x82, kOk13, kOk13},
        {0xFF, 0x77, kOk13, kOk13},
    };
    for (const auto& c : cases) {
        FaultReport r = DecodeFaults(c.uniram1, c.uniram2, 0, 0, false, false);
        const std::string what = std::to_string(c.uniram1) + "/" + std::to_string(c.uniram2);
        ExpectStatus(r.camshaft, c.camshaft, "camshaft " + what);
        ExpectStatus(r.crankshaft, c.crankshaft, "crankshaft " + what);
        EXPECT_STREQ(r.note,
                     "Cam & Crank sensor faults can take up to 8 seconds to show.\n"
                     "Reconnecting after disconnected will show as short circuit");
    }
}

TEST(Faults, CamshaftAndCrankshaftBlankWhileTheEngineRuns) {
    for (unsigned u2 : {0x00u, 0x0Au, 0x08u, 0x8Au, 0x88u, 0xFFu}) {
        FaultReport r = DecodeFaults(0xFF, static_cast<std::uint8_t>(u2), 0xFF, 0, true, true);
        ExpectStatus(r.camshaft, kBlank13, "camshaft");
        ExpectStatus(r.crankshaft, kBlank13, "crankshaft");
        EXPECT_TRUE(r.camshaft.written && r.crankshaft.written);
        EXPECT_EQ(std::string(r.note),
                  std::string(59, ' ') + "\nCam & Crank sensors only valid when engine not running    ");
    }
}

TEST(Faults, CatOnlySensorsAreNotWrittenWithoutCatMode) {
    for (bool cat : {false, true}) {
        FaultReport r = DecodeFaults(0xFF, 0, 0xFF, 0, cat, false);
        EXPECT_EQ(r.mixture.written, cat);
        EXPECT_EQ(r.lambda.written, cat);
        EXPECT_TRUE(r.air.written && r.knock.written && r.water.written && r.map.written &&
                    r.throttle.written && r.camshaft.written && r.crankshaft.written);
    }
}

// The places themselves are the dashboard's (dashboard_grid_test.cpp).
TEST(Faults, WidthsOfEveryStatusFitTheirPlaces) {
    struct Case {
        const char* sensor;
        SensorStatus FaultReport::*field;
        int x, y;  // the dashboard's place
        std::size_t width;
        int limit;  // column of whatever stands to its right
    };
    const Case cases[] = {
        {"mixture", &FaultReport::mixture, 21, 18, 8, 31},
        {"air", &FaultReport::air, 21, 13, 13, 40},
        {"knock", &FaultReport::knock, 65, 13, 7, 80},
        {"water", &FaultReport::water, 21, 14, 13, 40},
        {"lambda", &FaultReport::lambda, 21, 19, 6, 31},
        {"map", &FaultReport::map, 21, 15, 13, 40},
        {"throttle", &FaultReport::throttle, 65, 14, 13, 80},
        {"camshaft", &FaultReport::camshaft, 65, 15, 13, 80},
        {"crankshaft", &FaultReport::crankshaft, 65, 16, 13, 80},
    };
    // Every byte value of each status byte, both flags: one fixed width per place.
    for (unsigned b = 0; b < 256; ++b)
        for (bool running : {false, true}) {
            const auto u = static_cast<std::uint8_t>(b);
            const FaultReport reports[] = {DecodeFaults(u, u, u, 0, true, running),
                                           DecodeFaults(u, u, 0, 0, true, running),
                                           DecodeFaults(u, u, 0xFF, 0, true, running),
                                           DecodeFaults(u, 0x08, 0, 0, true, running),
                                           DecodeFaults(u, 0x88, 0, 0, true, running)};
            for (const auto& r : reports)
                for (const auto& c : cases) {
                    const SensorStatus& s = r.*c.field;
                    ASSERT_EQ(std::strlen(s.text), c.width) << c.sensor << " " << s.text;
                    ASSERT_LE(c.x + static_cast<int>(c.width), c.limit) << c.sensor;
                }
        }
}

TEST(Faults, InfoLineShowsTheFourBytesInLowerCaseHex) {
    struct Case {
        std::uint8_t u1, u2, u3, uS;
        const char* info;
    };
    for (Case c : {Case{0, 0, 0, 0, "Info only, uniram 1, 2, 3, S: 00, 00, 00, 00"},
                   Case{0x01, 0x8A, 0x7F, 0xAB, "Info only, uniram 1, 2, 3, S: 01, 8a, 7f, ab"},
                   Case{0xFF, 0xFF, 0xFF, 0xFF, "Info only, uniram 1, 2, 3, S: ff, ff, ff, ff"}}) {
        EXPECT_STREQ(DecodeFaults(c.u1, c.u2, c.u3, c.uS, false, false).info, c.info);
        EXPECT_STREQ(DecodeFaults(c.u1, c.u2, c.u3, c.uS, true, true).info, c.info);
    }
}

TEST(Faults, SilentEcuShowsEveryOk) {
    FaultReport r = DecodeFaults(0, 0, 0, 0, true, false);
    for (const SensorStatus* s : {&r.mixture, &r.air, &r.knock, &r.water, &r.lambda, &r.map,
                                  &r.throttle, &r.camshaft, &r.crankshaft}) {
        EXPECT_EQ(std::string(s->text).rfind("OK", 0), 0u) << s->text;
        EXPECT_EQ(s->colour, kGreen);
    }
}

}  // namespace
