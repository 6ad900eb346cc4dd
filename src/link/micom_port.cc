// SPDX-License-Identifier: MIT
#include "link/micom_port.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>

#include "link/line_restore_on_signal.h"

std::optional<micom_port> micom_port_open() { return micom_port_open_path(micom_device_path, uucp_lock_directory); }

namespace {

// Another program has claimed the line for itself (TIOCEXCL). The kernel lets
// root open it all the same; the tool must not break into that program's
// exchange.
bool held_exclusively(int fd) {
  int exclusive = 0;
  return ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
}

}  // namespace

std::optional<micom_port> micom_port_open_path(const char* path, const char* lock_directory) {
  micom_port port;
  // Never the controlling terminal: run as a session leader (setsid, a
  // service), the tool would take the line, and its exit would hang the line
  // up under every other program holding it and drop its modem lines.
  port.fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (port.fd < 0) return std::nullopt;

  // Non-blocking was for the open alone: with -clocal on the line and no
  // carrier from the microcontroller, a blocking open waits forever. The
  // exchange's reads block, timed by VTIME.
  // Runs on one line take turns: a second run waits at the lock, before it
  // saves anything, and so saves what the first one put back. The kernel
  // drops the lock however a run ends. With its turn, the run also claims the
  // line from, and for, the programs that go by lock files instead.
  if (fcntl(port.fd, F_SETFL, 0) != 0 || flock(port.fd, LOCK_EX) != 0 ||
      !uucp_lock_take(lock_directory, path, &port.lock)) {
    close(port.fd);
    return std::nullopt;
  }
  // Settings that cannot be read mean no working line: a plain file, a null
  // device, or a ttyS slot with no UART behind it. Nothing may be sent there.
  std::memset(&port.saved, 0, sizeof port.saved);
  if (tcgetattr(port.fd, &port.saved) != 0 || held_exclusively(port.fd)) {
    uucp_lock_release(port.lock);
    close(port.fd);
    return std::nullopt;
  }
  restore_line_on_signal(port.fd, port.saved, port.lock);

  termios raw = micom_raw_settings(port.saved);
  // Bytes that came before this run are never part of its reply.
  tcflush(port.fd, TCIFLUSH);
  tcsetattr(port.fd, TCSANOW, &raw);
  return port;
}

void micom_port_close(const micom_port& port) {
  // After H or R the command byte may still be leaving the UART; the saved
  // speed must not take over halfway through it.
  tcsetattr(port.fd, TCSADRAIN, &port.saved);
  // Only now may a program that goes by lock files take the line.
  uucp_lock_release(port.lock);
  stop_restoring_line_on_signal();
  close(port.fd);
}

termios micom_raw_settings(const termios& saved) {
  termios raw = saved;
  raw.c_iflag = 0;
  raw.c_oflag = 0;
  // Replaced whole: no parity, one stop bit, no hardware flow control, no
  // hang-up on close. CREAD, because a UART driver drops every received byte
  // without it.
  raw.c_cflag = B57600 | CS8 | CLOCAL | CREAD;
  raw.c_lflag = saved.c_lflag & ~(ICANON | ECHO | ISIG);
  // A read returns as soon as a byte is there, or empty after 0.1 s of silence.
  raw.c_cc[VMIN] = 0;
  raw.c_cc[VTIME] = 1;
  return raw;
}
