// SPDX-License-Identifier: MIT
// The least a program can do for one V exchange: open the line, make it raw,
// write the command byte, read the four reply bytes, exit. No settings saved
// or restored, no RTS, no output. The benchmark measures micom against it.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

int main() {
  int fd = open("/dev/ttyS2", O_RDWR | O_NOCTTY);
  if (fd < 0) return 1;
  // Raw is the one setting the exchange cannot do without: a line in
  // canonical mode holds the reply back until a newline that never comes.
  termios raw = {};
  cfmakeraw(&raw);
  raw.c_cflag |= CLOCAL | CREAD;
  cfsetspeed(&raw, B57600);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  if (tcsetattr(fd, TCSANOW, &raw) != 0) return 1;
  if (write(fd, "V", 1) != 1) return 1;
  unsigned char reply[4];
  ssize_t got = 0;
  while (got < 4) {
    ssize_t n = read(fd, reply + got, sizeof reply - got);
    if (n <= 0) return 1;
    got += n;
  }
  return 0;
}
