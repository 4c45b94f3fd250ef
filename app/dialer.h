// The program driver: start-up, main loop and shutdown.
#pragma once
#include "platform/console.h"

// Longest port argument accepted: "com", the argument and the terminator
// must fit the 128-character line buffer.
constexpr int kLineBufferSize = 128;
constexpr int kMaxPortArgument = kLineBufferSize - 4;

struct StartUpOutcome {
    bool run;          // false: the program ends with exit_code
    int exit_code;
    ConsoleHandle console;
    bool cat_mode;
    bool tone;  // --beep
};

// Console set-up, argument checks, help or opening of the port. On success
// the port is open in the link and the caller goes on with MainLoop.
StartUpOutcome StartUp(int argc, char** argv, char (&line)[kLineBufferSize]);

// Draws the frame, cycles until q or Q (h or Tab switch to the history page
// and back, r resets the history, b switches the tone, m and space mark the
// recording), shuts down; returns the exit code. `tone`: the tone starts on.
int MainLoop(ConsoleHandle console, bool cat_mode, bool tone = false);

// Closes the port, leaves the cursor below the dashboard, closes the console.
void ShutDown(ConsoleHandle console);

// The whole program.
int RunDialer(int argc, char** argv);

// The part of a program path after its last backslash (and, off Windows,
// after its last slash too).
const char* ProgramBaseName(const char* path);
