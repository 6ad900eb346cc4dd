// SPDX-License-Identifier: MIT
#include "line_state.h"

#include <cstdio>

bool prior_line_from_name(const std::string& name, prior_line* out) {
  if (name == "pty-default") {
    *out = prior_line::pty_default;
  } else if (name == "cooked-9600-7e1") {
    *out = prior_line::cooked_9600_7e1;
  } else {
    return false;
  }
  return true;
}

void prior_line_apply(prior_line prior, termios* t) {
  if (prior == prior_line::pty_default) return;
  t->c_iflag = ICRNL;
  t->c_oflag = OPOST | ONLCR;
  t->c_cflag = CS7 | PARENB | CREAD;
  t->c_lflag = ICANON | ECHO | ECHOE | IEXTEN | ISIG;
  t->c_cc[VMIN] = 1;
  t->c_cc[VTIME] = 0;
  cfsetispeed(t, B9600);
  cfsetospeed(t, B9600);
}

namespace {

// The baud rate of a speed code.
unsigned long baud(speed_t s) {
  static const struct {
    speed_t code;
    unsigned long baud;
  } table[] = {
      {B0, 0},         {B50, 50},       {B75, 75},         {B110, 110},       {B134, 134},
      {B150, 150},     {B200, 200},     {B300, 300},       {B600, 600},       {B1200, 1200},
      {B1800, 1800},   {B2400, 2400},   {B4800, 4800},     {B9600, 9600},     {B19200, 19200},
      {B38400, 38400}, {B57600, 57600}, {B115200, 115200}, {B230400, 230400}, {B460800, 460800},
  };
  for (const auto& e : table) {
    if (e.code == s) return e.baud;
  }
  return s;  // an unusual code is shown as it is
}

}  // namespace

std::string line_state_words(const termios& t) {
  static const struct {
    tcflag_t size;
    int bits;
  } sizes[] = {{CS5, 5}, {CS6, 6}, {CS7, 7}, {CS8, 8}};
  int bits = 8;
  for (const auto& s : sizes) {
    if ((t.c_cflag & CSIZE) == s.size) bits = s.bits;
  }
  char parity = !(t.c_cflag & PARENB) ? 'N' : (t.c_cflag & PARODD) ? 'O' : 'E';
  char buf[64];
  std::snprintf(buf, sizeof buf, "%lu %d%c%d %s", baud(cfgetospeed(&t)), bits, parity, (t.c_cflag & CSTOPB) ? 2 : 1,
                (t.c_lflag & ICANON) ? "cooked" : "raw");
  return buf;
}

std::string line_state_text(const termios& t) {
  char buf[256];
  std::snprintf(buf, sizeof buf,
                "%s iflag=0x%x oflag=0x%x cflag=0x%x lflag=0x%x line=%u vmin=%u vtime=%u ispeed=%lu ospeed=%lu cc=",
                line_state_words(t).c_str(), t.c_iflag, t.c_oflag, t.c_cflag, t.c_lflag, t.c_line, t.c_cc[VMIN],
                t.c_cc[VTIME], baud(cfgetispeed(&t)), baud(cfgetospeed(&t)));
  std::string text = buf;
  for (unsigned char c : t.c_cc) {
    std::snprintf(buf, sizeof buf, "%02x", c);
    text += buf;
  }
  return text;
}
