// SPDX-License-Identifier: MIT
#include "sim_log.h"

#include <cstdio>
#include <sstream>

std::vector<unsigned> sim_received_bytes(const std::string& log) {
  std::vector<unsigned> bytes;
  std::istringstream lines(log);
  std::string line;
  unsigned byte;
  while (std::getline(lines, line)) {
    if (std::sscanf(line.c_str(), "rx 0x%x t=", &byte) == 1) bytes.push_back(byte);
  }
  return bytes;
}
