// SPDX-License-Identifier: MIT
#include "pty_line.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "read_file.h"

pty_line open_pty_line() {
  pty_line line;
  line.far_end = posix_openpt(O_RDWR | O_NOCTTY);
  EXPECT_GE(line.far_end, 0);
  EXPECT_EQ(grantpt(line.far_end), 0);
  EXPECT_EQ(unlockpt(line.far_end), 0);
  line.path = ptsname(line.far_end);
  line.observer = open(line.path.c_str(), O_RDWR | O_NOCTTY);
  EXPECT_GE(line.observer, 0);
  char lock_directory[] = "/tmp/micom-lock-XXXXXX";
  EXPECT_NE(mkdtemp(lock_directory), nullptr);
  line.lock_directory = lock_directory;
  return line;
}

void close_pty_line(pty_line& line) {
  if (line.observer >= 0) close(line.observer);
  hang_up(line);
  for (const std::string& name : directory_entries(line.lock_directory)) {
    unlink((line.lock_directory + "/" + name).c_str());
  }
  rmdir(line.lock_directory.c_str());
}

std::string lock_text(pid_t pid) {
  char text[16];
  std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
  return text;
}

termios set_distinctive_state(const pty_line& line) {
  termios state = line_settings(line);
  state.c_iflag = ICRNL | IXON;
  state.c_oflag = OPOST | ONLCR;
  state.c_cflag = CS7 | PARENB | CSTOPB | CREAD | HUPCL;
  state.c_lflag = ICANON | ECHO | ECHOE | IEXTEN | ISIG;
  state.c_cc[VMIN] = 1;
  state.c_cc[VTIME] = 0;
  cfsetispeed(&state, B9600);
  cfsetospeed(&state, B9600);
  EXPECT_EQ(tcsetattr(line.observer, TCSANOW, &state), 0);
  return line_settings(line);
}

termios line_settings(const pty_line& line) {
  termios settings = {};
  EXPECT_EQ(tcgetattr(line.observer, &settings), 0);
  return settings;
}

int bytes_waiting(const pty_line& line) {
  int count = -1;
  EXPECT_EQ(ioctl(line.observer, FIONREAD, &count), 0);
  return count;
}

void wait_until_taken(const pty_line& line) {
  // The pty hands written bytes to the line a moment later, so empty must
  // hold for a while before it counts.
  int empty_polls = 0;
  for (int i = 0; i < 2000 && empty_polls < 10; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    empty_polls = bytes_waiting(line) == 0 ? empty_polls + 1 : 0;
  }
}

void hang_up(pty_line& line) {
  if (line.far_end >= 0) close(line.far_end);
  line.far_end = -1;
}

void expect_same_settings(const termios& expected, const termios& actual) {
  EXPECT_EQ(expected.c_iflag, actual.c_iflag);
  EXPECT_EQ(expected.c_oflag, actual.c_oflag);
  EXPECT_EQ(expected.c_cflag, actual.c_cflag);
  EXPECT_EQ(expected.c_lflag, actual.c_lflag);
  EXPECT_EQ(expected.c_line, actual.c_line);
  for (int i = 0; i < NCCS; ++i) EXPECT_EQ(expected.c_cc[i], actual.c_cc[i]) << "c_cc[" << i << "]";
  EXPECT_EQ(cfgetispeed(&expected), cfgetispeed(&actual));
  EXPECT_EQ(cfgetospeed(&expected), cfgetospeed(&actual));
}
