// SPDX-License-Identifier: MIT
#include "line_state.h"

#include <gtest/gtest.h>

namespace {

// The fields a test sets; the rest of the termios is zero.
struct line_fields {
  tcflag_t iflag, oflag, cflag, lflag;
  cc_t vmin, vtime;
  speed_t speed;  // input and output alike
};

// A termios holding those fields.
termios termios_of(const line_fields& f) {
  termios t = {};
  t.c_iflag = f.iflag;
  t.c_oflag = f.oflag;
  t.c_cflag = f.cflag;
  t.c_lflag = f.lflag;
  t.c_cc[VMIN] = f.vmin;
  t.c_cc[VTIME] = f.vtime;
  cfsetispeed(&t, f.speed);
  cfsetospeed(&t, f.speed);
  return t;
}

TEST(LineState, TextShowsEveryFieldInHexAndSpeedsInBaud) {
  termios t = termios_of({/*iflag*/ 0, /*oflag*/ 0, /*cflag*/ CS8 | CLOCAL | CREAD, /*lflag*/ 0x8a30, /*vmin*/ 0,
                          /*vtime*/ 1, B57600});
  std::string text = line_state_text(t);
  EXPECT_EQ(text.substr(0, text.find(" cc=")),
            "57600 8N1 raw iflag=0x0 oflag=0x0 cflag=0x18b1 lflag=0x8a30 line=0 vmin=0 vtime=1 ispeed=57600 "
            "ospeed=57600");
  EXPECT_EQ(text.size() - text.find(" cc=") - 4, 2 * sizeof t.c_cc);
}

TEST(LineState, WordsNameSpeedFrameAndMode) {
  termios t = {};
  prior_line_apply(prior_line::cooked_9600_7e1, &t);
  EXPECT_EQ(line_state_words(t), "9600 7E1 cooked");
  t.c_cflag = CS5 | PARENB | PARODD | CSTOPB;
  t.c_lflag = 0;
  cfsetospeed(&t, B115200);
  EXPECT_EQ(line_state_words(t), "115200 5O2 raw");
}

TEST(LineState, CookedPriorIsDistinctFromWhatMicomApplies) {
  termios t = {};
  t.c_lflag = ECHOK | ECHOCTL | ECHOKE;  // the pty's extras, replaced
  t.c_cc[VINTR] = 3;
  prior_line_apply(prior_line::cooked_9600_7e1, &t);
  EXPECT_EQ(t.c_iflag, static_cast<tcflag_t>(ICRNL));
  EXPECT_EQ(t.c_oflag, static_cast<tcflag_t>(OPOST | ONLCR));
  EXPECT_EQ(t.c_cflag, static_cast<tcflag_t>(B9600 | CS7 | PARENB | CREAD));
  EXPECT_EQ(t.c_lflag, static_cast<tcflag_t>(ICANON | ECHO | ECHOE | IEXTEN | ISIG));
  EXPECT_EQ(t.c_cc[VMIN], 1);
  EXPECT_EQ(t.c_cc[VTIME], 0);
  EXPECT_EQ(t.c_cc[VINTR], 3);  // control characters stay as the pty has them
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));

  termios d = t;
  prior_line_apply(prior_line::pty_default, &d);
  EXPECT_EQ(line_state_text(d), line_state_text(t));
}

TEST(LineState, PriorNames) {
  prior_line p;
  EXPECT_TRUE(prior_line_from_name("cooked-9600-7e1", &p));
  EXPECT_EQ(p, prior_line::cooked_9600_7e1);
  EXPECT_TRUE(prior_line_from_name("pty-default", &p));
  EXPECT_EQ(p, prior_line::pty_default);
  EXPECT_FALSE(prior_line_from_name("Cooked-9600-7E1", &p));
}

}  // namespace
