// SPDX-License-Identifier: MIT
// What the simulated MICOM answers to each command byte, and when.
// Knows nothing about the transport: the pty and socket loops feed it the
// bytes they receive and write out the chunks it says are due.
#pragma once

#include <cstddef>
#include <deque>
#include <vector>

// The command letters the MICOM knows, in the order of micom_behaviour::replies.
constexpr char micom_letters[] = "SVWHR";
constexpr int micom_letter_count = 5;  // the letters in micom_letters

// The bytes of one answer.
using micom_reply = std::vector<unsigned char>;

// How the MICOM answers, as the options set it.
struct micom_behaviour {
  // Indexed like micom_letters: the answers to successive commands with that
  // letter, taken in turn; the last one repeats. None: no answer.
  std::vector<micom_reply> replies[micom_letter_count];
  int delay_ms = 0;       // from the command byte to the first reply byte
  int gap_ms = -1;        // -1: the whole reply in one write; else one byte per write, this far apart
  bool silent = false;    // never answer anything
  int hangup_after = -1;  // -1: never; else cut the first answer to this many bytes, then hang up
};

// Index of a command letter in micom_letters, or -1 for any other byte.
int micom_letter_index(unsigned char byte);

// The fixed answers: S -> status 00 00 00 01, V -> version 01 00 02 00 (1.0.2.0),
// W -> 57 41 4B 45 ("WAKE"); H and R -> nothing.
micom_behaviour micom_default_behaviour();

// An answer on its way out.
struct pending_answer {
  std::vector<unsigned char> bytes;
  std::size_t sent = 0;
  long start_ms = 0;  // when its command byte arrived
};

// What the MICOM has received and still has to send.
struct micom_state {
  std::deque<pending_answer> pending;             // answered one after the other
  std::size_t received[micom_letter_count] = {};  // commands so far, per letter
  bool hangup_armed = false;                      // the first command came: hang up once its cut answer is out
};

// A byte arrived at now_ms: queue its answer (if any), the next of its
// letter's replies. Bytes that are not
// command letters are ignored, as are all bytes once a hang-up is armed.
void micom_received(const micom_behaviour& b, micom_state* s, unsigned char byte, long now_ms);

// The bytes to hand to one write() at now_ms (empty: nothing due yet).
// They count as sent.
std::vector<unsigned char> micom_take_due(const micom_behaviour& b, micom_state* s, long now_ms);

// Milliseconds from now_ms until the next chunk is due (0: due now); -1 when nothing is pending.
long micom_next_due_in(const micom_behaviour& b, const micom_state& s, long now_ms);

// True once everything before the hang-up has been handed out.
bool micom_hangup_due(const micom_state& s);
