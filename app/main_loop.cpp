#include "app/dialer.h"
#include "link/link.h"
#include "screen/console_writer.h"

void ShutDown(ConsoleHandle console) {
    link_close();
    PrintColour(console, "\n\n\n", 0, 22, kColourText);
    console_close(console);
}

int MainLoop(ConsoleHandle console, bool cat_mode, char (&line)[kLineBufferSize]) {
    (void)cat_mode;
    (void)line;
    ShutDown(console);
    return 0;
}
