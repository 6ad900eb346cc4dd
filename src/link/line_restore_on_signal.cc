// SPDX-License-Identifier: MIT
#include "link/line_restore_on_signal.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

volatile sig_atomic_t guarded_fd = -1;
termios guarded_settings;
uucp_lock guarded_lock;

// The signals that end a process by default, the uncatchable SIGKILL aside.
bool ends_the_process(int signal_number) {
  switch (signal_number) {
    case SIGKILL:
    case SIGSTOP:
    case SIGTSTP:
    case SIGTTIN:
    case SIGTTOU:
    case SIGCONT:
    case SIGCHLD:
    case SIGURG:
    case SIGWINCH:
      return false;
    default:
      return true;
  }
}

// Only async-signal-safe calls. Restoring twice is harmless, so it does not
// matter whether the normal close has already begun.
void restore_line_and_die(int signal_number) {
  const int fd = guarded_fd;
  if (fd >= 0) {
    // Stopped between clearing RTS and setting it again (its SEND line could
    // not be written), the exchange would leave RTS down for the firmware.
    int rts = TIOCM_RTS;
    ioctl(fd, TIOCMBIS, &rts);
    tcsetattr(fd, TCSADRAIN, &guarded_settings);
    uucp_lock_release(guarded_lock);
    close(fd);
  }
  struct sigaction default_action = {};
  default_action.sa_handler = SIG_DFL;
  sigaction(signal_number, &default_action, nullptr);
  // Delivered once the handler returns: the caller sees death by this signal.
  raise(signal_number);
}

}  // namespace

void restore_line_on_signal(int fd, const termios& saved, const uucp_lock& lock) {
  guarded_settings = saved;
  guarded_lock = lock;
  guarded_fd = fd;
  struct sigaction action = {};
  action.sa_handler = restore_line_and_die;
  // No second signal may cut the restore short.
  sigfillset(&action.sa_mask);
  // One pass, each signal set and its earlier action read in the same call.
  // Blocked meanwhile, a signal cannot find its handler half-way changed.
  sigset_t all, earlier_mask;
  sigfillset(&all);
  sigprocmask(SIG_BLOCK, &all, &earlier_mask);
  for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
    if (!ends_the_process(signal_number)) continue;
    struct sigaction earlier;
    // Signals the C library keeps for itself are refused.
    if (sigaction(signal_number, &action, &earlier) != 0) continue;
    // Under nohup, or `trap '' PIPE`, the signal must not end the run; put
    // back ignored, one that came meanwhile is discarded.
    if (earlier.sa_handler == SIG_IGN) sigaction(signal_number, &earlier, nullptr);
  }
  sigprocmask(SIG_SETMASK, &earlier_mask, nullptr);
}

void stop_restoring_line_on_signal() { guarded_fd = -1; }
