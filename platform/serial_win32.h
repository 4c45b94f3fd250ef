// Pieces of the Win32 serial implementation shared with the console.
#pragma once

// Closes the open port, if any; for the console's control handler, which
// Windows runs on a thread of its own.
void win32_port_release_from_handler();
