// SPDX-License-Identifier: MIT
// micom-sim's command line.
#pragma once

#include <string>
#include <vector>

#include "dev_namespace.h"
#include "line_state.h"
#include "micom_behaviour.h"

// What the command line asks of the sim.
struct sim_options {
  micom_behaviour micom = micom_default_behaviour();
  std::vector<unsigned char> stale;  // written to the line before the command starts
  prior_line prior = prior_line::pty_default;
  device_node device = device_node::tty;
  bool exclusive = false;            // the sim holds the line with TIOCEXCL
  bool hangup_closes_only = false;   // the hang-up closes the master alone: reads fail with EIO
  std::string log_path;              // empty: standard error
  std::string socket_path;           // set: serve a unix socket instead of running a command
  bool socket_is_pty_link = false;   // --pty-link: socket_path is a link to a pseudo-terminal slave instead
  std::vector<std::string> command;  // what runs on the line, after --
  bool summary = false;              // one line on standard error at the end: received, sent, where the log is
  bool help = false;                 // --help: print the manual, nothing else
};

// One option, declared once: how it is spelled, applied, checked against the
// transport and shown under OPTIONS in --help.
struct sim_option {
  const char* name;   // "--gap"
  const char* value;  // the word for its value in --help ("MS"); nullptr: a flag, which takes none
  // nullptr: fits every transport; else whether the parsed options use it, which
  // only a command on the pseudo-terminal can (--socket and --pty-link refuse it).
  bool (*pty_only)(const sim_options& o);
  const char* help;  // its lines under OPTIONS, without their indent
  // Applies it (a flag gets an empty value); false with *error set for a bad value.
  bool (*apply)(const std::string& value, sim_options* o, std::string* error);
  const char* alias = nullptr;  // a second spelling that --help does not show
};

// Every option, in the order --help lists them.
extern const sim_option sim_option_table[];
// The number of rows in sim_option_table.
extern const int sim_option_count;

// Parses argv[1..]. On a mistake returns false with a one-line message in *error.
bool parse_sim_options(int argc, const char* const* argv, sim_options* out, std::string* error);
