#include "link/micom_port.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "link/line_restore_on_signal.h"

std::optional<micom_port> micom_port_open() {
  return micom_port_open_path(micom_device_path);
}

std::optional<micom_port> micom_port_open_path(const char* path) {
  micom_port port;
  port.fd = open(path, O_RDWR);
  if (port.fd < 0) return std::nullopt;

  // A line whose settings cannot be read is restored to all zero, as found.
  std::memset(&port.saved, 0, sizeof port.saved);
  tcgetattr(port.fd, &port.saved);
  restore_line_on_signal(port.fd, port.saved);

  termios raw = micom_raw_settings(port.saved);
  // Bytes that came before this run are never part of its reply.
  tcflush(port.fd, TCIFLUSH);
  tcsetattr(port.fd, TCSANOW, &raw);
  return port;
}

void micom_port_close(const micom_port& port) {
  tcsetattr(port.fd, TCSANOW, &port.saved);
  close(port.fd);
  stop_restoring_line_on_signal();
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
