// SPDX-License-Identifier: MIT
#include "pty_transport.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "answer_loop.h"
#include "child_process.h"
#include "dev_namespace.h"
#include "line_state.h"
#include "sim_signals.h"

namespace {

constexpr int poll_ms = 10;
constexpr int quiet_polls = 5;  // this many empty looks in a row count as "consumed"
constexpr char line_during_unknown[] =
    "unknown (as before the command when the sim looked: already put back, or never changed)";

// What the log shows for settings that could not be read: the line is gone.
std::string unavailable_text() { return std::string("unavailable (") + std::strerror(errno) + ")"; }

// The line's settings as the log shows them.
std::string line_text(int slave) {
  termios t;
  return tcgetattr(slave, &t) == 0 ? line_state_text(t) : unavailable_text();
}

int input_waiting(int slave) {
  int n = 0;
  return ioctl(slave, TIOCINQ, &n) == 0 ? n : 0;
}

// Reads and forgets what the line sends back, e.g. the echo of stale bytes
// under a prior state with ECHO. Returns the byte count.
int discard_output(int master) {
  int total = 0;
  pollfd p = {master, POLLIN, 0};
  unsigned char buf[256];
  while (poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) {
    ssize_t n = read(master, buf, sizeof buf);
    if (n <= 0) break;
    total += static_cast<int>(n);
  }
  return total;
}

// Puts bytes into the line's input before the command runs and waits until
// the line discipline holds them: its input count has stopped changing (and
// covers them all when the prior state is not canonical, where the count is
// exact) and the echo, if any, has stopped.
void put_stale(const sim_line& line, const std::vector<unsigned char>& stale, sim_log* log) {
  for (unsigned char b : stale) log_event(log, "stale 0x%02x t=%.3f", b, log_seconds(*log));
  [[maybe_unused]] ssize_t ignored = write(line.master, stale.data(), stale.size());
  termios t;
  bool canonical = tcgetattr(line.slave, &t) == 0 && (t.c_lflag & ICANON);
  int echoed = 0, last = -1, quiet = 0;
  for (long deadline = monotonic_ms() + 3000; monotonic_ms() < deadline && quiet < 20;) {
    usleep(poll_ms * 1000);
    int got = discard_output(line.master);
    int now = input_waiting(line.slave);
    echoed += got;
    bool complete = canonical || now >= static_cast<int>(stale.size());
    quiet = got == 0 && now == last && complete ? quiet + 1 : 0;
    last = now;
  }
  log_event(log, "stale settled waiting=%d echo-discarded=%d", last, echoed);
}

// After the command is gone: what it wrote last may still be on its way.
void log_late_bytes(int master, sim_log* log) {
  pollfd p = {master, POLLIN, 0};
  unsigned char buf[64];
  while (poll(&p, 1, 100) > 0 && (p.revents & POLLIN)) {
    ssize_t n = read(master, buf, sizeof buf);
    if (n <= 0) break;
    for (ssize_t i = 0; i < n; ++i) log_received(log, buf[i], "");
  }
}

// The line's settings when the command wrote a byte, as far as the sim can
// tell. It reads them only once the byte has come, by when the command may
// have put back what it found (micom does so right after H and R): settings
// equal to those from before the command are therefore no evidence of what
// was in force, and are given as unknown. *how is the summary's part.
std::string line_during(const std::string& before, int slave, std::string* how) {
  termios t;
  const bool readable = tcgetattr(slave, &t) == 0;
  std::string now = readable ? line_state_text(t) : unavailable_text();
  if (now == before) {
    *how = "(line settings unknown)";
    return line_during_unknown;
  }
  *how = readable ? "at " + line_state_words(t) : "(line unavailable)";
  return now;
}

// A session on the pseudo-terminal, for the answer loop's functions.
struct pty_session {
  const sim_options* o;
  sim_line* line;
  std::string before;  // the line's settings before the command started
  int sigfd = -1;
  pid_t child = -1;
  sim_log* log;
  int status = 0;  // the command's wait status, once it has ended
  int quiet = 0;   // empty looks at the line's input in a row, while a hang-up is due
};

bool pty_send(void* context, const std::vector<unsigned char>& chunk) {
  auto* s = static_cast<pty_session*>(context);
  [[maybe_unused]] ssize_t ignored = write(s->line->master, chunk.data(), chunk.size());
  return true;
}

// Hangs up once it is due and the command has read what was sent; waits in
// short steps until then.
long pty_wait_ms(void* context, const micom_state& state, long due_in) {
  auto* s = static_cast<pty_session*>(context);
  if (s->line->master < 0 || !micom_hangup_due(state)) return due_in;
  // Hang up only once the tool has read what was sent, so that it sees
  // those bytes and then the hang-up, not a hang-up that swallowed them.
  s->quiet = input_waiting(s->line->slave) == 0 ? s->quiet + 1 : 0;
  if (s->quiet < quiet_polls) return poll_ms;
  // Hang the slave up first, as a modem or an unplugged adapter does:
  // its reads then return 0 and poll says POLLHUP. Closing the master
  // alone would mostly show the tool EIO instead, which is what
  // --read-error-after asks for. Needs CAP_SYS_ADMIN; without it the
  // close is the hang-up.
  int vhangup = s->o->hangup_closes_only ? -1 : ioctl(s->line->slave, TIOCVHANGUP);
  close(s->line->master);
  s->line->master = -1;
  log_event(s->log, "hangup%s t=%.3f", vhangup == 0 ? "" : " (master closed only)", log_seconds(*s->log));
  return due_in;
}

// Passes SIGINT, SIGTERM and SIGHUP on to the command; ends the session with 0 once the command has ended.
int pty_signalled(void* context) {
  auto* s = static_cast<pty_session*>(context);
  for (int sig = read_signal(s->sigfd); sig != 0; sig = read_signal(s->sigfd)) {
    if (sig != SIGCHLD) {
      kill(s->child, sig);
      log_event(s->log, "signal %d forwarded t=%.3f", sig, log_seconds(*s->log));
      continue;
    }
    if (waitpid(s->child, &s->status, WNOHANG) == s->child) return 0;
  }
  return -1;
}

// The byte, then the line's settings when the command wrote it.
void pty_log_byte(void* context, unsigned char byte) {
  auto* s = static_cast<pty_session*>(context);
  std::string how, during = line_during(s->before, s->line->slave, &how);
  log_received(s->log, byte, how);
  log_event(s->log, "line during: %s", during.c_str());
}

// Puts the line in its prior state, logs it and puts the stale bytes on it;
// returns its settings as the command finds them.
std::string prepare_line(const sim_options& o, const sim_line& line, sim_log* log) {
  termios t;
  if (tcgetattr(line.master, &t) == 0) {
    prior_line_apply(o.prior, &t);
    tcsetattr(line.master, TCSANOW, &t);
  }
  std::string before = line_text(line.slave);
  log_event(log, "line before: %s", before.c_str());
  if (!o.stale.empty()) put_stale(line, o.stale, log);
  return before;
}

// Answers the command until it ends; false when it could not be started (a message is on standard error).
bool run_command(pty_session* s) {
  sigset_t old_mask;
  s->sigfd = open_signal_fd(&old_mask);
  if (s->sigfd < 0) {
    std::fprintf(stderr, "micom-sim: cannot take signals: %s\n", std::strerror(errno));
    return false;
  }
  std::string error;
  s->child = spawn_command(s->o->command, old_mask, &error);
  if (s->child < 0) {
    std::fprintf(stderr, "micom-sim: %s\n", error.c_str());
    return false;
  }
  log_event(s->log, "child pid=%d", static_cast<int>(s->child));
  answer_transport t = {};
  t.context = s;
  t.line = &s->line->master;
  t.signals = s->sigfd;
  t.send = pty_send;
  t.wait_ms = pty_wait_ms;
  t.signalled = pty_signalled;
  t.log_byte = pty_log_byte;
  if (answer_until_end(s->o->micom, t, s->log) < 0) {
    std::fprintf(stderr, "micom-sim: poll failed: %s\n", std::strerror(errno));
    kill(s->child, SIGKILL);
    waitpid(s->child, &s->status, 0);
  }
  return true;
}

// Logs the end of the session: late bytes, the line after, how the command ended. Returns the sim's exit status.
int finish_session(const sim_options& o, const sim_line& line, int status, sim_log* log) {
  if (line.master >= 0) log_late_bytes(line.master, log);
  log_event(log, "line after: %s", line_text(line.slave).c_str());
  int code = exit_code_of(status);
  if (WIFSIGNALED(status)) {
    log_event(log, "exit signal=%d", WTERMSIG(status));
  } else {
    log_event(log, "exit status=%d", code);
  }
  if (o.summary) print_summary(*log, o.log_path);
  return code;
}

}  // namespace

int run_pty_session(const sim_options& o, sim_log* log) {
  sim_line line;
  std::string error;
  if (!enter_private_dev(o.device, o.exclusive, &line, &error)) {
    std::fprintf(stderr, "micom-sim: %s\n", error.c_str());
    return 2;
  }
  pty_session s = {&o, &line, prepare_line(o, line, log), -1, -1, log};
  if (!run_command(&s)) return 2;
  return finish_session(o, line, s.status, log);
}
