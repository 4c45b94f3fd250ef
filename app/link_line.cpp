#include "app/link_line.h"

#include <cstdio>
#include <cstring>

#include "platform/sleep.h"
#include "screen/console_writer.h"

namespace {

// Beyond this the adapter's delay shows in the refresh rate.
constexpr int kLatencyWorthTelling = 2;
// A silent exchange waits out two 350 ms read time-outs: nothing for this
// long is no late byte.
constexpr std::uint32_t kSilentMs = 700;
// Percent off the asked speed at which a UART no longer reads the ECU's bytes.
constexpr std::uint32_t kSpeedTolerancePercent = 3;

StatusLine Line(const char* text, std::uint16_t colour) {
    StatusLine line{};
    std::snprintf(line.text, sizeof line.text, "%-*.*s", kMessageWidth, kMessageWidth, text);
    line.colour = colour;
    return line;
}

// Module state: where the rows go and what they last said.
ConsoleHandle console = nullptr;
RateWindow window = {};
char lost_port[128];
bool port_lost = false;
bool adapter_line_shown = false;
// What the title says, for row 20 while the adapter has nothing to say.
char notice[kMessageWidth + 1];
std::uint16_t notice_colour = kColourGuide;
bool notice_shown = false;
// The link's own count of the cycle under way (since the port came back, in
// the cycle it did), and when the ECU last answered.
LinkTally cycle = {0, 0};
bool came_back = false;
std::uint64_t last_answer_ms = 0;
bool ever_answered = false;

LinkSilence SilenceNow() {
    const std::uint64_t ms = clock_ms() - last_answer_ms;
    return {ms > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(ms), ever_answered};
}

// "0.7 s", "14 s", "25 min".
void Duration(char* out, std::size_t size, std::uint32_t ms) {
    if (ms < 10000)
        std::snprintf(out, size, "%u.%u s", static_cast<unsigned>(ms / 1000), static_cast<unsigned>(ms / 100 % 10));
    else if (ms < 1000u * 600)
        std::snprintf(out, size, "%u s", static_cast<unsigned>(ms / 1000));
    else
        std::snprintf(out, size, "%u min", static_cast<unsigned>(ms / 60000));
}

StatusLine SilentLine(LinkSilence silence) {
    char took[24];
    Duration(took, sizeof took, silence.ms);
    char text[128];
    std::snprintf(text, sizeof text,
                  silence.ever_answered ? "No answer from the ECU for %s: check the cable, the ignition and the port"
                                        : "No answer from the ECU yet (%s): check the cable, the ignition and the port",
                  took);
    return Line(text, kColourAlarm);
}

StatusLine PartLine(LinkTally tally) {
    char text[128];
    std::snprintf(text, sizeof text, "ECU answered %u of %u requests: check the cable and its contacts",
                  static_cast<unsigned>(tally.answered), static_cast<unsigned>(tally.requests));
    return Line(text, kColourWarning);
}

void Show(const StatusLine& line, std::int16_t row) { PrintColour(console, line.text, 0, row, line.colour); }

void ShowNotice() {
    if (console == nullptr || adapter_line_shown) return;
    if (notice[0] == '\0') {
        if (notice_shown) Show(Line("", kColourNormal), kAdapterLineRow);
        notice_shown = false;
        return;
    }
    Show(Line(notice, notice_colour), kAdapterLineRow);
    notice_shown = true;
}

void ShowAdapterLine() {
    const char* port = link_port_name();
    const StatusLine line =
        AdapterLineFor(port_line_speed(rs232), port_latency_timer_ms(port), port, kThisSystem);
    if (line.text[0] == '\0') {
        // A good adapter plugged in where a bad one was: its warning goes.
        if (adapter_line_shown) Show(Line("", kColourNormal), kAdapterLineRow);
        adapter_line_shown = false;
        ShowNotice();
        return;
    }
    Show(line, kAdapterLineRow);
    adapter_line_shown = true;
    notice_shown = false;
}

}  // namespace

void RateWindowAdd(RateWindow& w, std::uint32_t period_ms) {
    w.period_ms[w.next] = period_ms;
    w.next = (w.next + 1) % kRateWindowCycles;
    if (w.count < kRateWindowCycles) ++w.count;
}

std::uint32_t RateWindowMean(const RateWindow& w) {
    if (w.count == 0) return 0;
    std::uint64_t sum = 0;
    for (int i = 0; i < w.count; ++i) sum += w.period_ms[i];
    const auto count = static_cast<std::uint64_t>(w.count);
    return static_cast<std::uint32_t>((sum + count / 2) / count);
}

StatusLine LinkLineFor(LinkTally tally, std::uint32_t mean_period_ms, const char* lost, PortSystem system,
                       LinkSilence silence) {
    char text[128];
    if (lost != nullptr) {
        PortInText(text, sizeof text, "Port lost: waiting for ", lost, "", system, kMessageWidth);
        return Line(text, kColourAlarm);
    }
    if (tally.answered == 0 && tally.requests > 0) return SilentLine(silence);
    if (tally.answered < tally.requests) return PartLine(tally);
    const std::uint32_t period = mean_period_ms > 0 ? mean_period_ms : 1;
    std::snprintf(text, sizeof text, "ECU answering: %.1f updates a second (%u ms)", 1000.0 / period,
                  static_cast<unsigned>(period));
    return Line(text, kColourNormal);
}

StatusLine LinkLineAfterExchange(LinkTally so_far, bool answered, LinkSilence silence) {
    if (answered) return StatusLine{};
    return silence.ms >= kSilentMs ? SilentLine(silence) : PartLine(so_far);
}

std::uint32_t WrongLineSpeed(const LineSpeedReport& report, std::int32_t asked) {
    if (report.read_back == 0 || asked <= 0) return 0;
    if (report.listed_rates_only && !report.refused) return 0;
    const auto want = static_cast<std::uint64_t>(asked);
    const std::uint64_t got = report.read_back;
    const std::uint64_t off = got > want ? got - want : want - got;
    return off * 100 > want * kSpeedTolerancePercent ? report.read_back : 0;
}

StatusLine AdapterLineFor(const LineSpeedReport& report, int latency_ms, const char* port, PortSystem system) {
    char text[128];
    if (const std::uint32_t speed = WrongLineSpeed(report, kEcuBaud)) {
        std::snprintf(text, sizeof text, "This adapter runs at %u baud, not %d: it cannot talk to the ECU (README)",
                      static_cast<unsigned>(speed), static_cast<int>(kEcuBaud));
        return Line(text, kColourAlarm);
    }
    if (latency_ms <= kLatencyWorthTelling) return StatusLine{};
    if (system == PortSystem::kWindows) {
        char before[48];
        constexpr std::size_t kAfterLength = sizeof ">Port Settings>Advanced>Latency Timer=1" - 1;
        std::snprintf(before, sizeof before, "Answers wait %d ms: Device Manager>", latency_ms);
        // COM100 and above: shorter words, so the line still ends in its "=1".
        if (std::strlen(before) + std::strlen(port) + kAfterLength > static_cast<std::size_t>(kMessageWidth))
            std::snprintf(before, sizeof before, "%d ms wait: Device Manager>", latency_ms);
        PortInText(text, sizeof text, before, port, ">Port Settings>Advanced>Latency Timer=1", system,
                   kMessageWidth);
    } else {
        std::snprintf(text, sizeof text, "Answers wait %d ms (the adapter's latency timer): see README, USB latency",
                      latency_ms);
    }
    return Line(text, kColourWarning);
}

// The link's report of one exchange.
void LinkStatusAfterExchange(bool answered, bool lost) {
    if (lost || port_lost) return;  // the lost port's line stands
    ++cycle.requests;
    if (answered) {
        ++cycle.answered;
        ever_answered = true;
        last_answer_ms = clock_ms();
    }
    const StatusLine line = LinkLineAfterExchange(cycle, answered, SilenceNow());
    if (line.text[0] != '\0' && console != nullptr) Show(line, kLinkLineRow);
}

void LinkStatusStart(ConsoleHandle handle) {
    console = handle;
    window = RateWindow{};
    port_lost = false;
    adapter_line_shown = false;
    notice_shown = false;
    cycle = {0, 0};
    came_back = false;
    ever_answered = false;
    last_answer_ms = clock_ms();
    link_on_exchange(LinkStatusAfterExchange);
    ShowAdapterLine();
}

void LinkStatusAfterCycle(LinkTally tally, std::uint32_t period_ms) {
    // The cycle the port came back in: its lost part is no answer missed.
    const LinkTally counted = came_back ? cycle : tally;
    const bool whole = !came_back && counted.answered == counted.requests;
    cycle = {0, 0};
    if (port_lost || !whole)
        window = RateWindow{};
    else
        RateWindowAdd(window, period_ms);
    const bool quiet = came_back && counted.answered == counted.requests;
    came_back = false;
    if (quiet) return;  // nothing said till a whole cycle is over
    Show(LinkLineFor(counted, RateWindowMean(window), port_lost ? lost_port : nullptr, kThisSystem, SilenceNow()),
         kLinkLineRow);
}

void LinkStatusNotice(const char* text, std::uint16_t colour) {
    std::snprintf(notice, sizeof notice, "%s", text);
    notice_colour = colour;
    ShowNotice();
}

void LinkStatusPortLoss(bool lost, const char* port) {
    port_lost = lost;
    std::snprintf(lost_port, sizeof lost_port, "%s", port);
    if (!lost) {
        came_back = true;
        cycle = {0, 0};
    }
    if (console == nullptr) return;
    if (lost) {
        Show(LinkLineFor({}, 0, lost_port, kThisSystem), kLinkLineRow);
    } else {
        Show(Line("", kColourNormal), kLinkLineRow);
        ShowAdapterLine();
    }
}
