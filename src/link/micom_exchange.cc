// SPDX-License-Identifier: MIT
#include "link/micom_exchange.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

namespace {

// Carries the command byte out, then takes the reply in from its front.
// Ten bytes, the size the exchange has always had; the read stops at
// micom_reply_length (4), so the rest is slack that is never filled.
unsigned char exchange_buffer[10];

// A hung-up line (adapter unplugged, far end closed) answers every read at
// once with 0 bytes, which would otherwise look like silence forever.
bool line_hung_up(int fd) {
  pollfd line = {fd, POLLIN, 0};
  return poll(&line, 1, 0) > 0 && (line.revents & (POLLHUP | POLLERR)) != 0;
}

}  // namespace

void micom_send_command(const micom_port& port, char letter) {
  int rts = TIOCM_RTS;
  ioctl(port.fd, TIOCMBIC, &rts);
  std::printf("SEND %c TO MICOM\n", letter);
  exchange_buffer[0] = static_cast<unsigned char>(letter);
  // The firmware expects RTS back right after the write, without waiting for
  // the byte to leave the UART.
  [[maybe_unused]] ssize_t written = write(port.fd, exchange_buffer, 1);
  ioctl(port.fd, TIOCMBIS, &rts);
}

bool command_expects_reply(char letter) { return letter != 'H' && letter != 'R'; }

micom_reply micom_read_reply(const micom_port& port) {
  int count = 0;
  while (count < micom_reply_length) {
    ssize_t got = read(port.fd, exchange_buffer + count, 1);
    if (got == 0 && !line_hung_up(port.fd)) continue;  // 0.1 s of silence
    if (got <= 0) break;
    ++count;
  }
  return {exchange_buffer, count};
}

void micom_print_reply(const unsigned char* bytes, int count) {
  for (int i = 0; i < count; ++i) std::printf("READ DATA(0x%02X)\n", bytes[i]);
}
