// Keys from stdin. The terminal mode (no echo, key at a time) is set by
// console_open; here a key is only looked at.
#include "platform/keyboard.h"

#include "platform/console_posix.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace {
int waiting_key = -1;     // read by key_waiting, handed out by key_read
bool input_ended = false;  // end of file or error: no key will ever come
}

bool key_waiting() {
    // Keys are polled even while the ECU is silent: the moment to put the
    // screen back after a resize or a continue.
    posix_console_refresh();
    if (waiting_key >= 0) return true;
    if (input_ended) return false;
    pollfd p{STDIN_FILENO, POLLIN, 0};
    int r = poll(&p, 1, 0);
    if (r <= 0) return false;
    if ((p.revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) == 0) return false;
    // Readable may also mean end of input, so take the byte now: a closed
    // stdin then reads as "no key" instead of a key that never stops coming.
    unsigned char c = 0;
    ssize_t n;
    do {
        n = read(STDIN_FILENO, &c, 1);
    } while (n < 0 && errno == EINTR);
    if (n == 1) {
        waiting_key = c;
        return true;
    }
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) input_ended = true;
    return false;
}

bool key_input_ended() { return waiting_key < 0 && input_ended; }

int key_read() {
    if (waiting_key < 0 && !key_waiting()) return -1;
    int c = waiting_key;
    waiting_key = -1;
    return c;
}
