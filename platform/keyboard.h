// Keyboard polling: _kbhit/_getch on Windows, stdin on POSIX.
#pragma once

// True when a key is waiting; never blocks. End of input means no key.
bool key_waiting();

// Reads one key without echo; call only after key_waiting() said true.
int key_read();

// True when no key can ever come (POSIX: standard input at end of file).
bool key_input_ended();
