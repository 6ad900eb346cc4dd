// SPDX-License-Identifier: MIT
#include "socket_transport.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "answer_loop.h"
#include "sim_signals.h"

namespace {

int listen_at(const std::string& path, std::string* error) {
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

// A new pseudo-terminal whose slave is linked at path; its master, or -1.
// The sim holds the slave open too until the peer has sent something: the
// master of a slave nobody holds reads as hung up.
int pty_linked_at(const std::string& path, int* own_slave, std::string* error) {
  int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  const char* slave = master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ? nullptr : ptsname(master);
  if (slave) *own_slave = open(slave, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (!slave || *own_slave < 0 || symlink(slave, path.c_str()) != 0) {
    *error = "cannot link a pseudo-terminal at " + path + ": " + std::strerror(errno);
    if (master >= 0) close(master);
    return -1;
  }
  termios raw;
  tcgetattr(*own_slave, &raw);
  cfmakeraw(&raw);
  tcsetattr(*own_slave, TCSANOW, &raw);
  return master;
}

// Bytes out; false once the peer is gone.
bool send_bytes(int conn, const std::vector<unsigned char>& bytes) {
  return write(conn, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

// Waits for a peer at the listening socket; returns the signal that ended
// the wait, 0 when fd is ready, -1 on a poll failure.
int wait_ready(int fd, int sigfd, long timeout) {
  pollfd p[2] = {{sigfd, POLLIN, 0}, {fd, POLLIN, 0}};
  int n = poll(p, 2, static_cast<int>(timeout));
  if (n < 0) return errno == EINTR ? 0 : -1;
  if (p[0].revents & POLLIN) {
    int sig = read_signal(sigfd);
    if (sig != 0 && sig != SIGCHLD) return sig;
  }
  return 0;
}

int accept_peer(int listener, int sigfd) {
  int conn = -1;
  while (conn < 0) {
    int r = wait_ready(listener, sigfd, -1);
    if (r != 0) return r < 0 ? -2 : -128 - r;
    conn = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  }
  return conn;
}

// A session on the socket or linked pseudo-terminal, for the answer loop's functions.
struct socket_session {
  int conn;
  // The sim's own hold on a pseudo-terminal's slave, let go once the peer
  // has shown itself, so that its close reads as the end; else -1.
  int own_slave;
  int sigfd;
  sim_log* log;
};

bool socket_send(void* context, const std::vector<unsigned char>& chunk) {
  return send_bytes(static_cast<socket_session*>(context)->conn, chunk);
}

// A signal other than SIGCHLD ends the session with 128 + the signal.
int socket_signalled(void* context) {
  int sig = read_signal(static_cast<socket_session*>(context)->sigfd);
  return sig != 0 && sig != SIGCHLD ? 128 + sig : -1;
}

// The first bytes let the sim's hold on the slave go; the peer's close ends the session with 0.
int socket_read_done(void* context, ssize_t got) {
  auto* s = static_cast<socket_session*>(context);
  if (got > 0 && s->own_slave >= 0) {
    close(s->own_slave);
    s->own_slave = -1;
  }
  if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
    log_event(s->log, "peer closed t=%.3f", log_seconds(*s->log));
    return 0;
  }
  return -1;
}

// Answers the peer until it closes (0) or a signal comes (128 + the signal); 2 when poll failed.
int serve(const sim_options& o, socket_session* s) {
  log_event(s->log, "connected t=%.3f", log_seconds(*s->log));
  if (!o.stale.empty()) {
    if (!send_bytes(s->conn, o.stale)) return 0;
    for (unsigned char b : o.stale) log_event(s->log, "stale 0x%02x t=%.3f", b, log_seconds(*s->log));
  }
  answer_transport t = {};
  t.context = s;
  t.line = &s->conn;
  t.signals = s->sigfd;
  t.signals_first = true;
  t.send = socket_send;
  t.signalled = socket_signalled;
  t.read_done = socket_read_done;
  int end = answer_until_end(o.micom, t, s->log);
  return end < 0 ? 2 : end;
}

}  // namespace

int run_socket_session(const sim_options& o, sim_log* log) {
  sigset_t old_mask;
  int sigfd = open_signal_fd(&old_mask);
  std::string error;
  int own_slave = -1;
  int listener = sigfd < 0              ? -1
                 : o.socket_is_pty_link ? pty_linked_at(o.socket_path, &own_slave, &error)
                                        : listen_at(o.socket_path, &error);
  if (listener < 0) {
    std::fprintf(stderr, "micom-sim: %s\n", sigfd < 0 ? "cannot take signals" : error.c_str());
    return 2;
  }
  // A peer gone while a reply is written ends the session, not the sim.
  signal(SIGPIPE, SIG_IGN);
  log_event(log, "listening path=%s", o.socket_path.c_str());
  int conn = o.socket_is_pty_link ? listener : accept_peer(listener, sigfd);
  socket_session s = {conn, own_slave, sigfd, log};
  int code = conn < 0 ? -conn : serve(o, &s);
  if (code > 128) log_event(log, "exit signal=%d", code - 128);
  if (o.summary) print_summary(*log, o.log_path);
  unlink(o.socket_path.c_str());
  return code;
}
