#include "app/dialer.h"
#include "app/link_line.h"
#include "app/title.h"
#include "decode/passes.h"
#include "history/history.h"
#include "history/page.h"
#include "link/link.h"
#include "platform/file.h"
#include "platform/keyboard.h"
#include "platform/sleep.h"
#include "record/recorder.h"
#include "screen/console_writer.h"
#include "screen/frame.h"

namespace {

constexpr int kNoKey = -1;
constexpr int kTab = '\t';

// Module state: the history, and the page that shows it.
History history;
int since_seconds = 0;  // clock time of day the count began
bool page_shown = false;
int page_columns = 0;   // the width the page was drawn for
bool tone = false;

void ResetHistory(bool cat_mode) {
    HistoryReset(history, cat_mode, clock_ms());
    const LocalTime t = local_time_now();
    since_seconds = t.hour * 3600 + t.minute * 60 + t.second;
}

int PageColumns() {
    const int columns = console_columns();
    return columns < kPageMinColumns ? kPageMinColumns : (columns > kPageMaxColumns ? kPageMaxColumns : columns);
}

// Draws the page on its own screen; `fresh` clears it first (shown anew,
// reset, or the terminal's width changed).
void DrawPage(ConsoleHandle console, bool fresh) {
    const int columns = PageColumns();
    console_select_screen(kScreenPage);
    if (fresh || columns != page_columns) console_clear();
    page_columns = columns;
    char notice[kPageMaxColumns + 1];
    PageLook look{columns, console_utf8(), since_seconds, notice, kColourGuide};
    TitleNotice(notice, sizeof notice, &look.notice_colour);
    DrawHistoryPage(console, history, look);
    console_select_screen(kScreenDashboard);
}

void TogglePage(ConsoleHandle console) {
    page_shown = !page_shown;
    if (page_shown) DrawPage(console, true);
    console_show_screen(page_shown ? kScreenPage : kScreenDashboard);
}

// What a read key does at once; q and Q only as the last key read, after
// the cycle. A mark read during a cycle goes on the row after that cycle's,
// as one read between cycles does.
struct KeyState {
    ConsoleHandle console;
    bool cat_mode;
    int last_key;
    bool in_cycle;
    bool mark_owed;
};
KeyState keys = {nullptr, false, kNoKey, false, false};

void Mark() {
    recorder_mark();
    ShowTitle();
}

void ActOn(int key) {
    keys.last_key = key;
    if ((key == 'm' || key == ' ') && recorder_active()) {
        if (keys.in_cycle)
            keys.mark_owed = true;
        else
            Mark();
    } else if (key == 'h' || key == kTab) {
        TogglePage(keys.console);
    } else if (key == 'r') {
        ResetHistory(keys.cat_mode);
        if (page_shown) DrawPage(keys.console, true);
    } else if (key == 'b') {
        tone = !tone;
        TitleTone(tone);
    }
}

// After each exchange. A request left unanswered has just cost its read
// time-outs and a silent cycle takes 14 s, so the keys read then act at
// once: the page comes and goes while the ECU is silent too.
void AfterExchange(bool answered, bool port_lost) {
    LinkStatusAfterExchange(answered, port_lost);
    if (answered || port_lost) return;
    while (key_waiting()) ActOn(key_read());
}

}  // namespace

void ShutDown(ConsoleHandle console) {
    // The port goes first: the console is the last thing the program owns.
    link_close();
    recorder_finish();
    // The program ends on the dashboard, as it began.
    if (page_shown) console_show_screen(kScreenDashboard);
    page_shown = false;
    PrintColour(console, "\n\n\n", 0, 22, kColourText);
    console_close(console);
}

int MainLoop(ConsoleHandle console, bool cat_mode, bool tone_asked) {
    tone = tone_asked;
    DrawFrame(console, cat_mode);
    LinkStatusStart(console);
    link_on_exchange(AfterExchange);
    ResetHistory(cat_mode);
    TitleTone(tone);

    keys = {console, cat_mode, kNoKey, false, false};
    int spinner = 0;
    for (;;) {
        // Every waiting key is read before the next cycle; only the last one
        // read can quit.
        if (key_waiting()) {
            ActOn(key_read());
            continue;
        }
        if (keys.last_key == 'q' || keys.last_key == 'Q') break;

        PrintColour(console, kSpinnerGlyphs[spinner], kSpinnerColumn, kSpinnerRow, kColourWarning);
        spinner = (spinner + 1) % kSpinnerGlyphCount;

        // The cycle's pace is the ECU's: no pause between cycles.
        CycleRecord record{};
        const std::uint64_t cycle_start = clock_ms();
        link_tally_reset();
        keys.in_cycle = true;
        const bool engine_running = ShowLiveData(console, cat_mode, &record);
        ShowSensorFaults(console, cat_mode, engine_running, &record);
        keys.in_cycle = false;
        if (recorder_active()) {
            recorder_cycle(record, link_tally().answered, cycle_start, clock_ms());
            if (!recorder_active()) ShowTitle();  // a write failed: say the recording stopped
        }
        if (keys.mark_owed) Mark();
        keys.mark_owed = false;
        LinkStatusAfterCycle(link_tally(), static_cast<std::uint32_t>(clock_ms() - cycle_start));
        const bool ring = HistoryAdd(history, {&record, link_tally(), cycle_start, TitleSaysPortLost()});
        if (ring && tone) console_bell();
        if (page_shown) DrawPage(console, false);
    }

    ShutDown(console);
    return 0;
}
