#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "options.h"

namespace {

using Args = std::vector<std::string>;

TEST(Options, GoodCommandLines) {
    {
        ecusim::ParsedOptions p = ecusim::ParseOptions({});
        EXPECT_EQ(p.error, "");
        EXPECT_EQ(p.options.scenario, ecusim::Scenario::kDrive);
        EXPECT_FALSE(p.options.pace);
        EXPECT_TRUE(p.options.device.empty());
    }
    {
        ecusim::ParsedOptions p = ecusim::ParseOptions(
            {"--scenario=faults", "--set", "15=0x04", "--set=0x11=2", "--set", "010=0XfF", "--pace", "--trace",
             "--device", "/dev/ttyUSB0", "--speed", "2.5", "--time=30"});
        ASSERT_EQ(p.error, "");
        const ecusim::SimOptions& o = p.options;
        EXPECT_EQ(o.scenario, ecusim::Scenario::kFaults);
        ASSERT_EQ(o.overrides.size(), 3u);
        EXPECT_EQ(o.overrides[0].address, 15);
        EXPECT_EQ(o.overrides[0].value, 4);
        EXPECT_EQ(o.overrides[1].address, 0x11);
        EXPECT_EQ(o.overrides[1].value, 2);
        // A leading zero is decimal, never octal.
        EXPECT_EQ(o.overrides[2].address, 10);
        EXPECT_EQ(o.overrides[2].value, 255);
        EXPECT_TRUE(o.pace);
        EXPECT_TRUE(o.trace);
        EXPECT_EQ(o.device, "/dev/ttyUSB0");
        EXPECT_DOUBLE_EQ(o.speed, 2.5);
        ASSERT_TRUE(o.frozen_at.has_value());
        EXPECT_DOUBLE_EQ(*o.frozen_at, 30);
    }
    {
        ecusim::ParsedOptions p = ecusim::ParseOptions({"--link=/tmp/ecu", "--unplug", "10:5", "--unplug=0.5:2.5"});
        ASSERT_EQ(p.error, "");
        EXPECT_EQ(p.options.link, "/tmp/ecu");
        ASSERT_EQ(p.options.unplugs.size(), 2u);
        EXPECT_DOUBLE_EQ(p.options.unplugs[1].at, 0.5);
        EXPECT_DOUBLE_EQ(p.options.unplugs[1].span, 2.5);
    }
    {
        ecusim::ParsedOptions p = ecusim::ParseOptions({"--replay=drive.csv", "--speed", "4", "--pace"});
        ASSERT_EQ(p.error, "");
        EXPECT_EQ(p.options.replay, "drive.csv");
    }
    {
        // Everything after "--" is the command, options included.
        ecusim::ParsedOptions p =
            ecusim::ParseOptions({"--scenario", "idle", "--", "prog", "{port}", "--pace", "--"});
        ASSERT_EQ(p.error, "");
        EXPECT_EQ(p.options.command, (Args{"prog", "{port}", "--pace", "--"}));
        EXPECT_FALSE(p.options.pace);
    }
    for (const auto& info : ecusim::AllScenarios()) {
        ecusim::ParsedOptions p = ecusim::ParseOptions({"--scenario", std::string(info.name)});
        EXPECT_EQ(p.error, "") << info.name;
        EXPECT_EQ(p.options.scenario, info.scenario);
    }
}

TEST(Options, BadCommandLinesSayWhatIsWrong) {
    const struct {
        Args args;
        const char* mentions;
    } kCases[] = {
        {{"--scenario", "nope"}, "unknown scenario 'nope'"},
        {{"--scenario"}, "--scenario needs"},
        {{"--set", "15"}, "bad --set '15'"},
        {{"--set", "256=1"}, "bad --set"},
        {{"--set", "1=256"}, "bad --set"},
        {{"--set", "x=1"}, "bad --set"},
        {{"--set", "1="}, "bad --set"},
        {{"--set", "=1"}, "bad --set"},
        {{"--set", "-1=1"}, "bad --set"},
        {{"--set", "0x=1"}, "bad --set"},
        {{"--set"}, "--set needs"},
        {{"--device"}, "--device needs"},
        {{"--speed", "0"}, "--speed"},
        {{"--speed", "fast"}, "--speed"},
        {{"--time", "-1"}, "--time"},
        {{"--pace=yes"}, "--pace takes no value"},
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"idle"}, "unknown option 'idle'"},
        {{"--"}, "'--' must be followed by a command"},
        {{"--unplug", "10"}, "--unplug needs AT:FOR"},
        {{"--unplug", "10:0"}, "--unplug needs AT:FOR"},
        {{"--link", "/tmp/ecu", "--device", "/dev/ttyUSB0"}, "a real --device is unplugged by hand"},
        {{"--replay"}, "--replay needs a recording"},
        {{"--replay", "a.csv", "--scenario", "idle"}, "give one of them"},
        {{"--time", "3", "--replay", "a.csv"}, "a recording is played from its start"},
        {{"--replay", "a.csv", "--replay", "b.csv"}, "--replay given twice"},
        {{"--step"}, "give --replay FILE too"},
    };
    for (const auto& c : kCases) {
        ecusim::ParsedOptions p = ecusim::ParseOptions(c.args);
        EXPECT_NE(p.error.find(c.mentions), std::string::npos)
            << "args " << ::testing::PrintToString(c.args) << " gave '" << p.error << "'";
    }
}

}  // namespace
