// SPDX-License-Identifier: MIT
// Reading micom-sim's log (one event per line) in tests.
#pragma once

#include <string>
#include <vector>

// The non-empty lines of a log (or any text) that start with prefix.
std::vector<std::string> lines_starting(const std::string& text, const std::string& prefix);

// The byte values of the log's "rx 0x.." or "tx 0x.." events, in order.
std::vector<int> logged_bytes(const std::string& log, const std::string& tag);
