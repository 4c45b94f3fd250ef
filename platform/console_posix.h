// Pieces of the POSIX console shared with the other POSIX platform files.
#pragma once

// Brings the terminal up to date after it changed under the program (a
// resize, a stop and continue). Cheap when nothing happened: the key poll
// calls it, so the screen comes back even while no text is written.
void posix_console_refresh();
