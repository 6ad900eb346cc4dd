// SPDX-License-Identifier: MIT
// A pty standing in for the line, left in a state no run would leave behind,
// for the tests of the port and of its guard.
#pragma once

#include <gtest/gtest.h>
#include <termios.h>

#include <optional>
#include <string>

#include "link/micom_port.h"
#include "pty_line.h"

class MicomPortTest : public testing::Test {
 protected:
  void SetUp() override {
    line = open_pty_line();
    prior = set_distinctive_state(line);
  }
  void TearDown() override { close_pty_line(line); }

  std::optional<micom_port> open_line() { return micom_port_open_path(line.path.c_str(), line.lock_directory.c_str()); }

  // The lock file other programs look for while a run has the line.
  std::string lock_file() const { return line.lock_directory + "/LCK.." + line.path.substr(line.path.rfind('/') + 1); }

  micom_port open_port() {
    std::optional<micom_port> port = open_line();
    EXPECT_TRUE(port.has_value());
    return *port;
  }

  pty_line line;
  termios prior;
};
