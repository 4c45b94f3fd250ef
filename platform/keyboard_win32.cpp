#include "platform/keyboard.h"

#include <conio.h>

bool key_waiting() { return _kbhit() != 0; }

int key_read() { return _getch(); }

bool key_input_ended() { return false; }
