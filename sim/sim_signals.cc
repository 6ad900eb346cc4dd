// SPDX-License-Identifier: MIT
#include "sim_signals.h"

#include <sys/signalfd.h>
#include <unistd.h>

#include <initializer_list>

int open_signal_fd(sigset_t* old_mask) {
  sigset_t mask;
  sigemptyset(&mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGCHLD}) sigaddset(&mask, sig);
  if (sigprocmask(SIG_BLOCK, &mask, old_mask) != 0) return -1;
  return signalfd(-1, &mask, SFD_CLOEXEC | SFD_NONBLOCK);
}

int read_signal(int fd) {
  signalfd_siginfo info;
  if (read(fd, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) return 0;
  return static_cast<int>(info.ssi_signo);
}
