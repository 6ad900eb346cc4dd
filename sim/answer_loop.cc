// SPDX-License-Identifier: MIT
#include "answer_loop.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace {

// Writes every chunk due now; false once the peer is gone.
bool send_due(const micom_behaviour& micom, micom_state* state, const answer_transport& t, sim_log* log) {
  for (auto chunk = micom_take_due(micom, state, monotonic_ms()); !chunk.empty();
       chunk = micom_take_due(micom, state, monotonic_ms())) {
    if (!t.send(t.context, chunk)) return false;
    log_sent(log, chunk);
  }
  return true;
}

// Reads what the line holds and hands it to the MICOM byte by byte: the transport's end code, or -1.
int receive(const micom_behaviour& micom, micom_state* state, const answer_transport& t, sim_log* log) {
  unsigned char buf[64];
  ssize_t got = read(*t.line, buf, sizeof buf);
  int end = t.read_done ? t.read_done(t.context, got) : -1;
  if (end >= 0) return end;
  for (ssize_t i = 0; i < got; ++i) {
    if (t.log_byte) {
      t.log_byte(t.context, buf[i]);
    } else {
      log_received(log, buf[i], "");
    }
    micom_received(micom, state, buf[i], monotonic_ms());
  }
  return -1;
}

}  // namespace

int answer_until_end(const micom_behaviour& micom, const answer_transport& t, sim_log* log) {
  micom_state state;
  for (;;) {
    if (!send_due(micom, &state, t, log)) return 0;
    long due_in = micom_next_due_in(micom, state, monotonic_ms());
    long timeout = t.wait_ms ? t.wait_ms(t.context, state, due_in) : due_in;
    pollfd p[2] = {{t.signals, POLLIN, 0}, {*t.line, POLLIN, 0}};
    int n = poll(p, *t.line >= 0 ? 2 : 1, static_cast<int>(timeout));
    if (n < 0 && errno != EINTR) return -1;
    const bool signalled = n > 0 && (p[0].revents & POLLIN);
    const bool readable = n > 0 && p[1].revents != 0;  // bytes, or the peer's end
    int end = signalled && t.signals_first ? t.signalled(t.context) : -1;
    if (end < 0 && readable) end = receive(micom, &state, t, log);
    if (end < 0 && signalled && !t.signals_first) end = t.signalled(t.context);
    if (end >= 0) return end;
  }
}
