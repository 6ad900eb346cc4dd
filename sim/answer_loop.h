// SPDX-License-Identifier: MIT
// The MICOM's side of a session, whatever carries it: the answers' due chunks
// written out, a wait for bytes or a signal, the bytes received handed to the
// MICOM. A transport passes in what it does its own way.
#pragma once

#include <sys/types.h>

#include <vector>

#include "micom_behaviour.h"
#include "sim_log.h"

// The transport's part in the loop; context goes back to each function.
struct answer_transport {
  void* context;
  const int* line;     // the descriptor the bytes come in by; -1 once gone (a pseudo-terminal hung up)
  int signals;         // the signalfd
  bool signals_first;  // signals are taken before the bytes that came with them, not after
  // Writes a chunk of an answer; false once the peer is gone, which ends the session with 0.
  bool (*send)(void* context, const std::vector<unsigned char>& chunk);
  // How long to wait, given the next answer's due time (-1: none pending); nullptr: that time.
  long (*wait_ms)(void* context, const micom_state& state, long due_in);
  // Takes the signals that came: the session's end code, or -1 to go on.
  int (*signalled)(void* context);
  // Sees what a read from the line returned (errno as read() left it): the end code, or -1 to go on. May be nullptr.
  int (*read_done)(void* context, ssize_t got);
  // Logs one byte received; nullptr: log_received with nothing after the byte.
  void (*log_byte)(void* context, unsigned char byte);
};

// Answers until the transport ends the session: returns its end code, or -1 when poll failed.
int answer_until_end(const micom_behaviour& micom, const answer_transport& t, sim_log* log);
