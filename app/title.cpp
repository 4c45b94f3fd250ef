#include "app/title.h"

#include <cstdio>

#include "app/link_line.h"
#include "app/port_messages.h"
#include "app/texts.h"
#include "platform/console.h"
#include "record/recorder.h"
#include "screen/colours.h"

namespace {

char lost_name[kTitleSize / 4];
bool port_lost = false;
bool tone_on = false;

// The title's words after the program's name, each part after " - ".
void StatusText(char* out, std::size_t size, const char* lost_port, const char* recording, unsigned marks,
                const char* stopped, bool tone) {
    int used = 0;
    out[0] = '\0';
    const auto add = [&](const char* format, auto... args) {
        if (used >= 0 && static_cast<std::size_t>(used) < size)
            used += std::snprintf(out + used, size - static_cast<std::size_t>(used), format, args...);
    };
    if (lost_port != nullptr) add("Port lost, waiting for %s", lost_port);
    const char* gap = lost_port != nullptr ? " - " : "";
    if (recording != nullptr) {
        if (stopped != nullptr)
            add("%srecording stopped: %s", gap, stopped);
        else if (marks == 0)
            add("%srecording to %s", gap, recording);
        else
            add("%srecording to %s, %u mark%s", gap, recording, marks, marks == 1 ? "" : "s");
        gap = " - ";
    }
    if (tone) add("%stone on", gap);
}

// The state now, its names made safe.
void StatusNow(char* out, std::size_t size) {
    char recording[kTitleSize / 2];
    const char* path = recorder_path();
    if (path != nullptr) ShowSafely(recording, sizeof recording, path);
    StatusText(out, size, port_lost ? lost_name : nullptr, path != nullptr ? recording : nullptr,
               recorder_marks(), recorder_stopped_reason(), tone_on);
}

}  // namespace

void TitleText(char* out, std::size_t size, const char* lost_port, const char* recording,
               unsigned marks, const char* stopped, bool tone) {
    if (lost_port == nullptr && recording == nullptr && !tone) {
        std::snprintf(out, size, "%s", kTitle);
        return;
    }
    char status[kTitleSize];
    StatusText(status, sizeof status, lost_port, recording, marks, stopped, tone);
    // The port's loss follows the name directly, the rest after " - ".
    std::snprintf(out, size, "%s%s%s", TD_TITLE_PREFIX, lost_port != nullptr ? " " : " - ", status);
}

void TitleNotice(char* out, std::size_t size, std::uint16_t* colour) {
    out[0] = '\0';
    *colour = port_lost || recorder_stopped_reason() != nullptr ? kColourAlarm : kColourGuide;
    if (console_title_shown()) return;
    StatusNow(out, size);
}

void ShowTitle() {
    char recording[kTitleSize / 2];
    const char* path = recorder_path();
    if (path != nullptr) ShowSafely(recording, sizeof recording, path);
    char title[kTitleSize];
    TitleText(title, sizeof title, port_lost ? lost_name : nullptr,
              path != nullptr ? recording : nullptr, recorder_marks(), recorder_stopped_reason(), tone_on);
    console_set_title(title);
    char notice[kMessageWidth + 1];
    std::uint16_t colour = kColourGuide;
    TitleNotice(notice, sizeof notice, &colour);
    LinkStatusNotice(notice, colour);
}

void TitlePortLost(bool lost, const char* port) {
    port_lost = lost;
    if (lost) ShowSafely(lost_name, sizeof lost_name, port);
    ShowTitle();
}

bool TitleSaysPortLost() { return port_lost; }

void TitleTone(bool on) {
    tone_on = on;
    ShowTitle();
}
