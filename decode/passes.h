// The two passes of a dashboard cycle: each requests its registers and
// writes every text right after its own requests, so a slow ECU fills the
// screen row by row.
#pragma once
#include "platform/console.h"

// Live parameters. Also shows the camshaft and crankshaft labels while the
// engine is stopped and blanks them while it runs. Returns whether the
// engine is running.
bool ShowLiveData(ConsoleHandle console, bool cat_mode);

// Sensor faults, the info line and the footer.
void ShowSensorFaults(ConsoleHandle console, bool cat_mode, bool engine_running);
