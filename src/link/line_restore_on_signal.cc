// SPDX-License-Identifier: MIT
#include "link/line_restore_on_signal.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

int guarded_fd = -1;
termios guarded_settings;
struct sigaction earlier_actions[NSIG];
bool guarded[NSIG];

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
  // Stopped between clearing RTS and setting it again (its SEND line could
  // not be written), the exchange would leave RTS down for the firmware.
  int rts = TIOCM_RTS;
  ioctl(guarded_fd, TIOCMBIS, &rts);
  tcsetattr(guarded_fd, TCSADRAIN, &guarded_settings);
  close(guarded_fd);
  struct sigaction default_action = {};
  default_action.sa_handler = SIG_DFL;
  sigaction(signal_number, &default_action, nullptr);
  // Delivered once the handler returns: the caller sees death by this signal.
  raise(signal_number);
}

}  // namespace

void restore_line_on_signal(int fd, const termios& saved) {
  guarded_fd = fd;
  guarded_settings = saved;
  struct sigaction action = {};
  action.sa_handler = restore_line_and_die;
  // No second signal may cut the restore short.
  sigfillset(&action.sa_mask);
  for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
    guarded[signal_number] = false;
    if (!ends_the_process(signal_number)) continue;
    // Signals the C library keeps for itself cannot be looked at.
    if (sigaction(signal_number, nullptr, &earlier_actions[signal_number]) != 0) continue;
    // Under nohup, or `trap '' PIPE`, the signal must not end the run.
    if (earlier_actions[signal_number].sa_handler == SIG_IGN) continue;
    guarded[signal_number] = sigaction(signal_number, &action, nullptr) == 0;
  }
}

void stop_restoring_line_on_signal() {
  for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
    if (guarded[signal_number]) sigaction(signal_number, &earlier_actions[signal_number], nullptr);
    guarded[signal_number] = false;
  }
  guarded_fd = -1;
}
