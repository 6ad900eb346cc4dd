// SPDX-License-Identifier: MIT
// What micom-sim's log says the simulated microcontroller received.
#pragma once

#include <string>
#include <vector>

// The bytes of the log's "rx 0xNN t=..." lines, in order.
std::vector<unsigned> sim_received_bytes(const std::string& log);
