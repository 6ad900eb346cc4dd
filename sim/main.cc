// SPDX-License-Identifier: MIT
// micom-sim: stands in for the board's microcontroller so that micom can be
// run and checked on any Linux machine.
#include <fcntl.h>

#include <cstdio>
#include <string>

#include "pty_transport.h"
#include "sim_help.h"
#include "sim_log.h"
#include "sim_options.h"
#include "socket_transport.h"

int main(int argc, char** argv) {
  sim_options o;
  std::string error;
  if (!parse_sim_options(argc, argv, &o, &error)) {
    // argv[0] as started: a command the user can type (./try starts the sim as itself).
    std::fprintf(stderr, "micom-sim: %s; see %s --help\n", error.c_str(), argv[0]);
    return 2;
  }
  if (o.help) {
    std::fputs(sim_help_text().c_str(), stdout);
    return 0;
  }
  sim_log log;
  log.start_ms = monotonic_ms();
  if (!o.log_path.empty()) {
    log.fd = open(o.log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (log.fd < 0) {
      std::perror(("micom-sim: cannot write " + o.log_path).c_str());
      return 2;
    }
  }
  return o.socket_path.empty() ? run_pty_session(o, &log) : run_socket_session(o, &log);
}
