// SPDX-License-Identifier: MIT
// Whole files as text, for tests that read logs, traces and reports.
#pragma once

#include <string>

// The file's bytes; empty when it cannot be read.
std::string read_file(const std::string& path);
