// What the dashboard's numbers are worth: the link line (row 21) says how
// many of a cycle's requests the ECU answered and how fast the cycles come;
// the adapter line (row 20) says when the adapter's driver reports a line
// speed the ECU cannot hear, or holds answers back. Both rows are ones the
// dashboard leaves empty.
#pragma once
#include <cstdint>

#include "app/port_messages.h"
#include "link/link.h"
#include "platform/console.h"

constexpr std::int16_t kAdapterLineRow = 20;
constexpr std::int16_t kLinkLineRow = 21;

// One row's text, padded to the full width so that it covers any other
// text of the row; empty when the row has nothing to say.
struct StatusLine {
    char text[kMessageWidth + 1];
    std::uint16_t colour;
};

// The periods of the last few wholly answered cycles: the refresh rate is
// measured, not assumed, and follows a change within a second or two.
constexpr int kRateWindowCycles = 8;
struct RateWindow {
    std::uint32_t period_ms[kRateWindowCycles];
    int count;
    int next;
};
void RateWindowAdd(RateWindow& window, std::uint32_t period_ms);
// The mean period, 0 when the window is empty.
std::uint32_t RateWindowMean(const RateWindow& window);

// How long the ECU has said nothing: since its last answer, or since the
// dashboard started when it has not answered yet.
struct LinkSilence {
    std::uint32_t ms;
    bool ever_answered;
};

// The link line for a cycle's tally: green with the rate when every request
// was answered, red when none was (with how long the ECU has been silent),
// yellow in between; red while the port is lost (`lost_port` names it, null
// when it is not lost).
StatusLine LinkLineFor(LinkTally tally, std::uint32_t mean_period_ms, const char* lost_port,
                       PortSystem system, LinkSilence silence = {});

// The link line right after an exchange of the cycle under way (`so_far`
// counts it) went unanswered: red once nothing has come for as long as a
// silent exchange takes, yellow before that. An answered exchange changes
// nothing (an empty text): only a whole cycle turns the line green.
StatusLine LinkLineAfterExchange(LinkTally so_far, bool answered, LinkSilence silence);

// The speed the line really runs at when the driver's report shows it is
// more than 3 % away from `asked`; 0 when it is not, or is not known.
std::uint32_t WrongLineSpeed(const LineSpeedReport& report, std::int32_t asked);

// The adapter line: red when the speed is wrong, else yellow when the
// adapter holds answers longer than 2 ms (`latency_ms`, -1 unknown), else
// empty.
StatusLine AdapterLineFor(const LineSpeedReport& report, int latency_ms, const char* port,
                          PortSystem system);

// Driven by the main loop: the adapter line once the frame is drawn, the
// link line after every cycle; and by the link after every exchange (the
// start makes LinkStatusAfterExchange the link's exchange handler; whoever
// takes that place calls it).
void LinkStatusStart(ConsoleHandle console);
void LinkStatusAfterCycle(LinkTally tally, std::uint32_t period_ms);
void LinkStatusAfterExchange(bool answered, bool port_lost);

// What the title says, for a console without a title bar: shown on the
// adapter line's row while the adapter has nothing to say ("": nothing).
void LinkStatusNotice(const char* text, std::uint16_t colour);

// Told by the link when the port goes away and when it is back: the link
// line says so at once, and a new adapter's line speed and latency are read.
// The cycle in which it came back counts only the exchanges since.
void LinkStatusPortLoss(bool lost, const char* port);
