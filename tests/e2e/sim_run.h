// SPDX-License-Identifier: MIT
// Running micom-sim (and micom under it) from a test, and reading its log.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "read_file.h"
#include "sim_log_reading.h"

struct sim_process {  // a started sim; sim_finish reaps it and removes its log
  pid_t pid = -1;
  int out_fd = -1;  // the sim's standard output (the command's passes through)
  int err_fd = -1;
  std::string log_path;
};

struct sim_result {
  std::string out;
  std::string err;
  std::string log;
  int status = -1;  // the sim's exit status; -1 when it had to be killed
  double seconds = 0;
};

// The command that runs the micom under test: MICOM_UNDER_TEST from the
// environment (words split at spaces, e.g. "qemu-arm /path/micom") or the
// micom of this build.
std::vector<std::string> micom_command();

// True when the micom under test runs through a user-mode emulator.
bool micom_emulated();

// Standard error without the emulator's own report of a guest killed by a
// core-dumping signal ("qemu: uncaught target signal ...").
std::string without_emulator_lines(const std::string& err);

// argv[0] as the micom under test receives it: the last word of its command.
std::string micom_argv0();

// micom_command() followed by args.
std::vector<std::string> micom_with(const std::vector<std::string>& args);

// A bash script that runs the micom under test as "$@", with args after it:
// micom_in_shell("exec \"$@\" >&-", {"v"}) runs micom v with standard output closed.
std::vector<std::string> micom_in_shell(const std::string& script, const std::vector<std::string>& args);

// The script, run with standard output on a pipe that no process reads any more.
std::string with_reader_gone(const std::string& script);

// Starts a program (argv[0] a path) with standard input on /dev/null; log_path
// is left empty. It leads a process group of its own, as a shell's job would.
// With err_on_out its standard error is the pipe of its standard output
// (err_fd -1), as under 2>&1 or on a terminal.
sim_process spawn(const std::vector<std::string>& argv, bool err_on_out = false);

// spawn() of micom-sim with exactly these arguments.
sim_process sim_spawn(const std::vector<std::string>& sim_args, bool err_on_out = false);

// micom-sim with exactly these arguments, run to its end (20 s at most).
sim_result sim_exec(const std::vector<std::string>& sim_args);

// Starts micom-sim sim_args --log TMP -- command.
sim_process sim_start(const std::vector<std::string>& sim_args, const std::vector<std::string>& command);

// The first log line starting with prefix, waiting up to timeout_ms for it; "" if none came.
std::string sim_wait_log(const sim_process& run, const std::string& prefix, int timeout_ms);

// Collects the output and the status; kills the sim if it outlives timeout_ms.
sim_result sim_finish(sim_process* run, int timeout_ms);

// sim_start + sim_finish.
sim_result sim_run(const std::vector<std::string>& sim_args, const std::vector<std::string>& command,
                   int timeout_ms = 20000);

// A new empty file under /tmp, e.g. for a log or a trace.
std::string temp_path(const char* what);

// The settings text of "line before: ...", "line during: ..." or "line after: ..." ("" if absent).
std::string logged_line(const std::string& log, const std::string& when);

// One field of a settings text, e.g. field(text, "cflag") -> "0x18b1".
std::string field(const std::string& settings, const std::string& name);

// "READ DATA(0x..)" lines for these bytes, after "SEND <letter> TO MICOM".
std::string expected_stdout(char letter, const std::vector<int>& bytes);
