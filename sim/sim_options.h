// micom-sim's command line.
#pragma once

#include <string>
#include <vector>

#include "line_state.h"
#include "micom_behaviour.h"

enum class DeviceNode {
  tty,        // /dev/ttyS2 is the pseudo-terminal slave
  none,       // no /dev/ttyS2 at all
  directory,  // /dev/ttyS2 is an empty directory
};

struct SimOptions {
  MicomBehaviour micom = micom_default_behaviour();
  std::vector<unsigned char> stale;  // written to the line before the command starts
  PriorLine prior = PriorLine::pty_default;
  DeviceNode device = DeviceNode::tty;
  std::string log_path;     // empty: standard error
  std::string socket_path;  // set: serve a unix socket instead of running a command
  std::vector<std::string> command;
  bool help = false;
};

// Parses argv[1..]. On a mistake returns false with a one-line message in *error.
bool parse_sim_options(int argc, const char* const* argv, SimOptions* out, std::string* error);

// Parses a string of hex digit pairs ("0102A5ff"); false for anything else.
bool parse_hex_bytes(const std::string& text, std::vector<unsigned char>* out);
