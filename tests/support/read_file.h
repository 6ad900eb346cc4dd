// SPDX-License-Identifier: MIT
// Whole files as text, for tests that read logs, traces and reports, and
// write the files a run finds; the names in a directory.
#pragma once

#include <string>
#include <vector>

// The file's bytes; empty when it cannot be read.
std::string read_file(const std::string& path);

// Replaces the file's bytes with text, making it if need be; false on failure.
bool write_file(const std::string& path, const std::string& text);

// The names in a directory, "." and ".." aside; none when it cannot be read.
std::vector<std::string> directory_entries(const std::string& directory);
