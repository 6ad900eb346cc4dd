// SPDX-License-Identifier: MIT
#include "sim_run.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

long now_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}

std::vector<std::string> split(const std::string& text, char sep) {
  std::vector<std::string> words;
  std::string word;
  for (char c : text + sep) {
    if (c != sep) {
      word += c;
    } else if (!word.empty()) {
      words.push_back(word);
      word.clear();
    }
  }
  return words;
}

}  // namespace

std::vector<std::string> micom_command() {
  const char* env = std::getenv("MICOM_UNDER_TEST");
  if (env && *env) return split(env, ' ');
  return {MICOM_BINARY_PATH};
}

bool micom_emulated() { return micom_command().size() > 1; }

std::string without_emulator_lines(const std::string& err) {
  std::string kept;
  for (const std::string& line : split(err, '\n')) {
    if (line.rfind("qemu: uncaught target signal ", 0) != 0) kept += line + "\n";
  }
  return kept;
}

std::string micom_argv0() { return micom_command().back(); }

std::vector<std::string> micom_with(const std::vector<std::string>& args) {
  std::vector<std::string> cmd = micom_command();
  cmd.insert(cmd.end(), args.begin(), args.end());
  return cmd;
}

std::vector<std::string> micom_in_shell(const std::string& script, const std::vector<std::string>& args) {
  std::vector<std::string> cmd = {"bash", "-c", script, "bash"};
  std::vector<std::string> micom = micom_with(args);
  cmd.insert(cmd.end(), micom.begin(), micom.end());
  return cmd;
}

std::string with_reader_gone(const std::string& script) {
  return "fifo=$(mktemp -u) && mkfifo \"$fifo\" && exec 3<>\"$fifo\" 4>\"$fifo\" && rm \"$fifo\" && exec 3<&- && "
         "exec >&4 4>&- && " +
         script;
}

sim_process spawn(const std::vector<std::string>& argv, bool err_on_out) {
  sim_process run;
  std::vector<std::string> copy = argv;
  std::vector<char*> args;
  for (std::string& a : copy) args.push_back(a.data());
  args.push_back(nullptr);

  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return run;
  run.pid = fork();
  if (run.pid == 0) {
    // Its parent outside the group keeps the group from being orphaned, so
    // that a stop signal (Ctrl-Z) stops the command instead of being dropped.
    setpgid(0, 0);
    dup2(out[1], 1);
    dup2(err_on_out ? out[1] : err[1], 2);
    int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);
    execv(args[0], args.data());
    _exit(127);
  }
  setpgid(run.pid, run.pid);  // as the child does, whichever comes first
  close(out[1]);
  close(err[1]);
  run.out_fd = out[0];
  run.err_fd = err[0];
  if (err_on_out) {
    close(err[0]);
    run.err_fd = -1;
  }
  return run;
}

sim_process sim_spawn(const std::vector<std::string>& sim_args, bool err_on_out) {
  std::vector<std::string> argv = {MICOM_SIM_PATH};
  argv.insert(argv.end(), sim_args.begin(), sim_args.end());
  return spawn(argv, err_on_out);
}

std::string temp_path(const char* what) {
  std::string path = std::string("/tmp/micom-e2e-") + what + "-XXXXXX";
  int fd = mkstemp(path.data());
  if (fd >= 0) close(fd);
  return path;
}

sim_result sim_exec(const std::vector<std::string>& sim_args) {
  sim_process run = sim_spawn(sim_args);
  return sim_finish(&run, 20000);
}

sim_process sim_start(const std::vector<std::string>& sim_args, const std::vector<std::string>& command) {
  std::string log_path = temp_path("log");
  std::vector<std::string> args = sim_args;
  args.insert(args.end(), {"--log", log_path, "--"});
  args.insert(args.end(), command.begin(), command.end());
  sim_process run = sim_spawn(args);
  run.log_path = log_path;
  return run;
}

std::string sim_wait_log(const sim_process& run, const std::string& prefix, int timeout_ms) {
  for (long end = now_ms() + timeout_ms;; usleep(20000)) {
    std::vector<std::string> found = lines_starting(read_file(run.log_path), prefix);
    if (!found.empty()) return found.front();
    if (now_ms() > end) return "";
  }
}

sim_result sim_finish(sim_process* run, int timeout_ms) {
  sim_result r;
  long start = now_ms(), end = start + timeout_ms;
  bool killed = false;
  pollfd p[2] = {{run->out_fd, POLLIN, 0}, {run->err_fd, POLLIN, 0}};
  std::string* sink[2] = {&r.out, &r.err};
  while (p[0].fd >= 0 || p[1].fd >= 0) {
    long left = end - now_ms();
    if (left <= 0 && !killed) {
      // The whole group: a micom started by a shell under the sim would
      // otherwise outlive the test.
      kill(-run->pid, SIGKILL);
      killed = true;
      end = now_ms() + 5000;
      continue;
    }
    if (left <= 0) break;
    if (poll(p, 2, static_cast<int>(left)) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (p[i].fd < 0 || !(p[i].revents & (POLLIN | POLLHUP))) continue;
      char buf[4096];
      ssize_t n = read(p[i].fd, buf, sizeof buf);
      if (n > 0) {
        sink[i]->append(buf, n);
      } else {
        close(p[i].fd);
        p[i].fd = -1;
      }
    }
  }
  int status = 0;
  if (killed) kill(-run->pid, SIGKILL);
  waitpid(run->pid, &status, 0);
  r.seconds = (now_ms() - start) / 1000.0;
  r.status = !killed && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (!run->log_path.empty()) {
    r.log = read_file(run->log_path);
    unlink(run->log_path.c_str());
  }
  return r;
}

sim_result sim_run(const std::vector<std::string>& sim_args, const std::vector<std::string>& command, int timeout_ms) {
  sim_process run = sim_start(sim_args, command);
  return sim_finish(&run, timeout_ms);
}

std::string logged_line(const std::string& log, const std::string& when) {
  std::vector<std::string> found = lines_starting(log, "line " + when + ": ");
  return found.empty() ? "" : found.front().substr(("line " + when + ": ").size());
}

std::string field(const std::string& settings, const std::string& name) {
  for (const std::string& word : split(settings, ' ')) {
    if (word.compare(0, name.size() + 1, name + "=") == 0) return word.substr(name.size() + 1);
  }
  return "";
}

std::string expected_stdout(char letter, const std::vector<int>& bytes) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "SEND %c TO MICOM\n", letter);
  std::string text = buf;
  for (int b : bytes) {
    std::snprintf(buf, sizeof buf, "READ DATA(0x%02X)\n", b);
    text += buf;
  }
  return text;
}
