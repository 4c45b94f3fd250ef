#include <gtest/gtest.h>

#include "fakes/fakes.h"
#include "link/link.h"

namespace {

using Reads = std::deque<std::optional<std::uint8_t>>;

struct ExchangeCase {
    const char* name;
    Reads answer;
    std::int32_t expected;
};

class LinkExchange : public ::testing::TestWithParam<ExchangeCase> {};

TEST_P(LinkExchange, KeepsTheSecondByteOnly) {
    fake::Reset();
    fake::port.present = {"com5"};
    ASSERT_NE(serial_setcomms(kEcuBaud, "com5"), nullptr);
    const auto& c = GetParam();
    fake::port.ecu = [&](std::uint8_t) {
        return std::vector<std::optional<std::uint8_t>>(c.answer.begin(), c.answer.end());
    };
    link_tally_reset();
    EXPECT_EQ(GetECUByte(7), c.expected);
    // Only a request whose echo and register byte both came counts as answered.
    EXPECT_EQ(link_tally().requests, 1u);
    EXPECT_EQ(link_tally().answered, c.answer.size() >= 2 && c.answer[0] && c.answer[1] ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, LinkExchange,
    ::testing::Values(ExchangeCase{"EchoThenValue", {0x07, 0xAB}, 0xAB},
                      ExchangeCase{"ValueZeroLikeSilence", {0x07, 0x00}, 0},
                      ExchangeCase{"OneByteOnlyGivesZero", {0x07}, 0},
                      ExchangeCase{"Silent", {}, 0},
                      ExchangeCase{"FirstTimedOutSecondCame", {std::nullopt, 0x42}, 0x42},
                      ExchangeCase{"ThirdByteIgnored", {0x07, 0x11, 0x22}, 0x11},
                      ExchangeCase{"HighValueZeroExtended", {0x07, 0xFF}, 255}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Link, ExchangeOrderPurgeWriteSleepReadRead) {
    fake::Reset();
    fake::port.present = {"com5"};
    serial_setcomms(kEcuBaud, "com5");
    fake::port.ecu = fake::EchoEcu({});
    fake::events.clear();
    GetECUByte(0x115);
    EXPECT_EQ(fake::events, (std::vector<std::string>{"purge", "write 0x15", "sleep 10", "read", "read"}));
}

TEST(Link, StaleBytesBeforeARequestAreDropped) {
    fake::Reset();
    fake::port.present = {"com5"};
    serial_setcomms(kEcuBaud, "com5");
    fake::port.reads = {0x99, 0x98};  // a late answer to an earlier request
    EXPECT_EQ(GetECUByte(3), 0);
}

TEST(Link, SetcommsOpensConfiguresAndReportsFailureAsNull) {
    fake::Reset();
    fake::port.present = {"com5"};
    EXPECT_EQ(serial_setcomms(kEcuBaud, "com9"), nullptr);
    EXPECT_EQ(rs232, port_invalid());
    EXPECT_EQ(fake::events, (std::vector<std::string>{"open com9"}));  // nothing configured

    fake::events.clear();
    PortHandle h = serial_setcomms(kEcuBaud, "com5");
    EXPECT_NE(h, nullptr);
    EXPECT_EQ(h, rs232);
    EXPECT_EQ(fake::events, (std::vector<std::string>{"open com5", "configure 7812"}));
}

TEST(Link, CountsFollowTheLastExchange) {
    fake::Reset();
    fake::port.present = {"com5"};
    serial_setcomms(kEcuBaud, "com5");
    fake::port.ecu = fake::EchoEcu({0, 5});
    GetECUByte(1);
    EXPECT_EQ(txcount, 1u);
    EXPECT_EQ(rxcount, 1u);
    fake::port.ecu = [](std::uint8_t r) { return std::vector<std::optional<std::uint8_t>>{r}; };
    GetECUByte(1);
    EXPECT_EQ(rxcount, 0u);
}

// Unplugged: closed at once, silent-ECU pacing while gone, the same name
// tried at most once a second before an exchange, real values once back.
TEST(Link, VanishedPortIsClosedAndTheSameNameReopened) {
    fake::Reset();
    static std::vector<std::string> told;
    link_on_port_loss([](bool lost, const char* name) { told.push_back((lost ? "lost " : "back ") + std::string(name)); });
    fake::port.present = {"com5"};
    serial_setcomms(kEcuBaud, "com5");
    fake::port.ecu = fake::EchoEcu({0, 0x42});
    fake::port.vanished = true;
    fake::port.present.clear();
    EXPECT_EQ(GetECUByte(1), 0x42);  // the exchange that finds out
    EXPECT_EQ(fake::EventsStartingWith("close").size(), 1u);
    const std::uint64_t lost_at = fake::clock_ms;
    for (int i = 0; i < 250; ++i) EXPECT_EQ(GetECUByte(1), 0);
    EXPECT_EQ(fake::clock_ms - lost_at, 250u * 10u);              // the pause alone: no answer to wait for
    EXPECT_EQ(fake::EventsStartingWith("open").size(), 1u + 2u);  // after 1 s and 2 s
    fake::port.present = {"com5"};                                 // plugged in again
    int zeros = 0;
    while (GetECUByte(1) == 0 && zeros < 1000) ++zeros;
    EXPECT_EQ(zeros, 50);                                          // the next try, 1 s after the last
    EXPECT_EQ(told, (std::vector<std::string>{"lost com5", "back com5"}));
}

TEST(Link, CloseOnlyWhatWasOpened) {
    fake::Reset();
    link_close();
    EXPECT_TRUE(fake::EventsStartingWith("close").empty());
    fake::port.present = {"com5"};
    serial_setcomms(kEcuBaud, "com5");
    link_close();
    EXPECT_EQ(fake::EventsStartingWith("close").size(), 1u);
    EXPECT_EQ(rs232, nullptr);
}

}  // namespace
