// SPDX-License-Identifier: MIT
#include "micom_behaviour.h"

#include <algorithm>
#include <cstring>

int micom_letter_index(unsigned char byte) {
  const char* p = byte ? std::strchr(micom_letters, byte) : nullptr;
  return p ? static_cast<int>(p - micom_letters) : -1;
}

micom_behaviour micom_default_behaviour() {
  micom_behaviour b;
  b.replies[micom_letter_index('S')] = {{0x00, 0x00, 0x00, 0x01}};
  b.replies[micom_letter_index('V')] = {{0x01, 0x00, 0x02, 0x00}};
  b.replies[micom_letter_index('W')] = {{0x57, 0x41, 0x4B, 0x45}};
  return b;
}

void micom_received(const micom_behaviour& b, micom_state* s, unsigned char byte, long now_ms) {
  int i = micom_letter_index(byte);
  // Once the hang-up is armed the line is about to go away: nothing more is answered.
  if (i < 0 || s->hangup_armed) return;
  const std::vector<micom_reply>& replies = b.replies[i];
  std::size_t turn = s->received[i]++;
  pending_answer a;
  if (!b.silent && !replies.empty()) a.bytes = replies[std::min(turn, replies.size() - 1)];
  a.start_ms = now_ms;
  if (b.hangup_after >= 0) {
    if (a.bytes.size() > static_cast<std::size_t>(b.hangup_after)) a.bytes.resize(b.hangup_after);
    s->hangup_armed = true;
  }
  if (!a.bytes.empty()) s->pending.push_back(a);
}

namespace {

// When byte number `index` of an answer is due, relative to its command byte.
long byte_due_ms(const micom_behaviour& b, std::size_t index) {
  long gap = b.gap_ms < 0 ? 0 : b.gap_ms;
  return b.delay_ms + static_cast<long>(index) * gap;
}

}  // namespace

std::vector<unsigned char> micom_take_due(const micom_behaviour& b, micom_state* s, long now_ms) {
  std::vector<unsigned char> chunk;
  if (s->pending.empty()) return chunk;
  pending_answer& a = s->pending.front();
  std::size_t limit = b.gap_ms < 0 ? a.bytes.size() : a.sent + 1;
  while (a.sent < limit && a.start_ms + byte_due_ms(b, a.sent) <= now_ms) {
    chunk.push_back(a.bytes[a.sent++]);
  }
  if (a.sent == a.bytes.size()) s->pending.pop_front();
  return chunk;
}

long micom_next_due_in(const micom_behaviour& b, const micom_state& s, long now_ms) {
  if (s.pending.empty()) return -1;
  const pending_answer& a = s.pending.front();
  long wait = a.start_ms + byte_due_ms(b, a.sent) - now_ms;
  return wait < 0 ? 0 : wait;
}

bool micom_hangup_due(const micom_state& s) { return s.hangup_armed && s.pending.empty(); }
