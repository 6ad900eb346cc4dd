// SPDX-License-Identifier: MIT
#include "child_process.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <initializer_list>

namespace {

// In the forked child: the signals as the command expects them, then the
// exec; when that fails, its errno goes to report.
[[noreturn]] void exec_command(const std::vector<char*>& args, const sigset_t& child_mask, int report) {
  // A command outliving a killed sim would hold a line nobody answers.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGCHLD}) signal(sig, SIG_DFL);
  sigprocmask(SIG_SETMASK, &child_mask, nullptr);
  execvp(args[0], args.data());
  int err = errno;
  [[maybe_unused]] ssize_t ignored = write(report, &err, sizeof err);
  _exit(127);
}

// The errno of a failed exec, read from report; 0 when the exec closed it, having run the command.
int exec_error(int report) {
  int err = 0;
  ssize_t n;
  do {
    n = read(report, &err, sizeof err);
  } while (n < 0 && errno == EINTR);
  return n == static_cast<ssize_t>(sizeof err) ? err : 0;
}

}  // namespace

pid_t spawn_command(const std::vector<std::string>& argv, const sigset_t& child_mask, std::string* error) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  // The exec's errno comes back through a pipe that the exec itself closes.
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) {
    *error = std::string("cannot make a pipe: ") + std::strerror(errno);
    return -1;
  }
  pid_t pid = fork();
  if (pid < 0) {
    *error = std::string("cannot fork: ") + std::strerror(errno);
    close(report[0]);
    close(report[1]);
    return -1;
  }
  if (pid == 0) exec_command(args, child_mask, report[1]);
  close(report[1]);
  int err = exec_error(report[0]);
  close(report[0]);
  if (err != 0) {
    waitpid(pid, nullptr, 0);
    *error = "cannot run '" + argv[0] + "': " + std::strerror(err);
    return -1;
  }
  return pid;
}

int exit_code_of(int wait_status) {
  if (WIFSIGNALED(wait_status)) return 128 + WTERMSIG(wait_status);
  return WEXITSTATUS(wait_status);
}
