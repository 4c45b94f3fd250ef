#include "app/dialer.h"
#include "app/link_line.h"
#include "app/title.h"
#include "decode/passes.h"
#include "link/link.h"
#include "platform/keyboard.h"
#include "platform/sleep.h"
#include "record/recorder.h"
#include "screen/console_writer.h"
#include "screen/frame.h"

namespace {
constexpr int kNoKey = -1;
}

void ShutDown(ConsoleHandle console) {
    // The port goes first: the console is the last thing the program owns.
    link_close();
    recorder_finish();
    PrintColour(console, "\n\n\n", 0, 22, kColourText);
    console_close(console);
}

int MainLoop(ConsoleHandle console, bool cat_mode) {
    DrawFrame(console, cat_mode);
    LinkStatusStart(console);

    int last_key = kNoKey;
    int spinner = 0;
    for (;;) {
        // Every waiting key is read before the next cycle; only the last counts.
        if (key_waiting()) {
            last_key = key_read();
            if ((last_key == 'm' || last_key == ' ') && recorder_active()) {
                recorder_mark();
                ShowTitle();
            }
            continue;
        }
        if (last_key == 'q' || last_key == 'Q') break;

        PrintColour(console, kSpinnerGlyphs[spinner], kSpinnerColumn, kSpinnerRow, kColourWarning);
        spinner = (spinner + 1) % kSpinnerGlyphCount;

        // The cycle's pace is the ECU's: no pause between cycles.
        CycleRecord record{};
        const std::uint64_t cycle_start = clock_ms();
        link_tally_reset();
        const bool engine_running = ShowLiveData(console, cat_mode, &record);
        ShowSensorFaults(console, cat_mode, engine_running, &record);
        if (recorder_active()) {
            recorder_cycle(record, link_tally().answered, cycle_start, clock_ms());
            if (!recorder_active()) ShowTitle();  // a write failed: say the recording stopped
        }
        LinkStatusAfterCycle(link_tally(), static_cast<std::uint32_t>(clock_ms() - cycle_start));
    }

    ShutDown(console);
    return 0;
}
