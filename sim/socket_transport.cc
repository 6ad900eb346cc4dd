// SPDX-License-Identifier: MIT
#include "socket_transport.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "sim_signals.h"

static int listen_at(const std::string& path, std::string* error) {
  sockaddr_un addr = {};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) {
    *error = "socket path too long: " + path;
    return -1;
  }
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 1) != 0) {
    *error = "cannot listen on " + path + ": " + std::strerror(errno);
    if (fd >= 0) close(fd);
    return -1;
  }
  return fd;
}

// Bytes out; false once the peer is gone.
static bool send_bytes(int conn, const std::vector<unsigned char>& bytes) {
  return send(conn, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

// Waits for the listening socket or the connection; returns the signal that
// ended the wait, 0 when fd is ready, -1 on a poll failure.
static int wait_ready(int fd, int sigfd, long timeout) {
  pollfd p[2] = {{sigfd, POLLIN, 0}, {fd, POLLIN, 0}};
  int n = poll(p, 2, static_cast<int>(timeout));
  if (n < 0) return errno == EINTR ? 0 : -1;
  if (p[0].revents & POLLIN) {
    int sig = read_signal(sigfd);
    if (sig != 0 && sig != SIGCHLD) return sig;
  }
  return 0;
}

static int serve(const SimOptions& o, int listener, int sigfd, SimLog* log) {
  int conn = -1;
  while (conn < 0) {
    int r = wait_ready(listener, sigfd, -1);
    if (r != 0) return r < 0 ? 2 : 128 + r;
    conn = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  }
  log_event(log, "connected t=%.3f", log_seconds(*log));
  if (!o.stale.empty()) {
    if (!send_bytes(conn, o.stale)) return 0;
    for (unsigned char b : o.stale) log_event(log, "stale 0x%02x t=%.3f", b, log_seconds(*log));
  }
  MicomState state;
  for (;;) {
    for (auto chunk = micom_take_due(o.micom, &state, monotonic_ms()); !chunk.empty();
         chunk = micom_take_due(o.micom, &state, monotonic_ms())) {
      if (!send_bytes(conn, chunk)) return 0;
      log_sent(log, chunk);
    }
    int r = wait_ready(conn, sigfd, micom_next_due_in(o.micom, state, monotonic_ms()));
    if (r != 0) return r < 0 ? 2 : 128 + r;
    unsigned char buf[64];
    ssize_t got = recv(conn, buf, sizeof buf, 0);
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
      log_event(log, "peer closed t=%.3f", log_seconds(*log));
      return 0;
    }
    for (ssize_t i = 0; i < got; ++i) {
      log_received(log, buf[i], "");
      micom_received(o.micom, &state, buf[i], monotonic_ms());
    }
  }
}

int run_socket_session(const SimOptions& o, SimLog* log) {
  sigset_t old_mask;
  int sigfd = open_signal_fd(&old_mask);
  std::string error;
  int listener = sigfd < 0 ? -1 : listen_at(o.socket_path, &error);
  if (listener < 0) {
    std::fprintf(stderr, "micom-sim: %s\n", sigfd < 0 ? "cannot take signals" : error.c_str());
    return 2;
  }
  log_event(log, "listening path=%s", o.socket_path.c_str());
  int code = serve(o, listener, sigfd, log);
  if (code > 128) log_event(log, "exit signal=%d", code - 128);
  if (o.summary) print_summary(*log, o.log_path);
  unlink(o.socket_path.c_str());
  return code;
}
