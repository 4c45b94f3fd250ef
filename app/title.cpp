#include "app/title.h"

#include <cstdio>

#include "app/port_messages.h"
#include "app/texts.h"
#include "platform/console.h"
#include "record/recorder.h"

namespace {

char lost_name[kTitleSize / 4];
bool port_lost = false;

}  // namespace

void TitleText(char* out, std::size_t size, const char* lost_port, const char* recording,
               unsigned marks, const char* stopped) {
    if (lost_port == nullptr && recording == nullptr) {
        std::snprintf(out, size, "%s", kTitle);
        return;
    }
    int used = std::snprintf(out, size, "%s", TD_TITLE_PREFIX);
    const auto add = [&](const char* format, auto... args) {
        if (used >= 0 && static_cast<std::size_t>(used) < size)
            used += std::snprintf(out + used, size - static_cast<std::size_t>(used), format, args...);
    };
    if (lost_port != nullptr) add(" Port lost, waiting for %s", lost_port);
    if (recording == nullptr) return;
    if (stopped != nullptr)
        add(" - recording stopped: %s", stopped);
    else if (marks == 0)
        add(" - recording to %s", recording);
    else
        add(" - recording to %s, %u mark%s", recording, marks, marks == 1 ? "" : "s");
}

void ShowTitle() {
    char recording[kTitleSize / 2];
    const char* path = recorder_path();
    if (path != nullptr) ShowSafely(recording, sizeof recording, path);
    char title[kTitleSize];
    TitleText(title, sizeof title, port_lost ? lost_name : nullptr,
              path != nullptr ? recording : nullptr, recorder_marks(), recorder_stopped_reason());
    console_set_title(title);
}

void TitlePortLost(bool lost, const char* port) {
    port_lost = lost;
    if (lost) ShowSafely(lost_name, sizeof lost_name, port);
    ShowTitle();
}
