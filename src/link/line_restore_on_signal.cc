#include "link/line_restore_on_signal.h"

#include <signal.h>
#include <unistd.h>

namespace {

constexpr int guarded_signals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int guarded_signal_count = sizeof guarded_signals / sizeof guarded_signals[0];

int guarded_fd = -1;
termios guarded_settings;
struct sigaction earlier_actions[guarded_signal_count];

// Only async-signal-safe calls. Restoring twice is harmless, so it does not
// matter whether the normal close has already begun.
void restore_line_and_die(int signal_number) {
  tcsetattr(guarded_fd, TCSANOW, &guarded_settings);
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
  sigemptyset(&action.sa_mask);
  for (int signal_number : guarded_signals) sigaddset(&action.sa_mask, signal_number);
  for (int i = 0; i < guarded_signal_count; ++i) {
    sigaction(guarded_signals[i], nullptr, &earlier_actions[i]);
    // Under nohup, a hang-up must not end the run.
    if (earlier_actions[i].sa_handler == SIG_IGN) continue;
    sigaction(guarded_signals[i], &action, nullptr);
  }
}

void stop_restoring_line_on_signal() {
  for (int i = 0; i < guarded_signal_count; ++i) {
    sigaction(guarded_signals[i], &earlier_actions[i], nullptr);
  }
  guarded_fd = -1;
}
