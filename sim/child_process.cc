// SPDX-License-Identifier: MIT
#include "child_process.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

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
  if (pid == 0) {
    // A command outliving a killed sim would hold a line nobody answers.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGCHLD}) signal(sig, SIG_DFL);
    sigprocmask(SIG_SETMASK, &child_mask, nullptr);
    execvp(args[0], args.data());
    int err = errno;
    [[maybe_unused]] ssize_t ignored = write(report[1], &err, sizeof err);
    _exit(127);
  }
  close(report[1]);
  int err = 0;
  ssize_t n;
  do {
    n = read(report[0], &err, sizeof err);
  } while (n < 0 && errno == EINTR);
  close(report[0]);
  if (n == static_cast<ssize_t>(sizeof err)) {
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
