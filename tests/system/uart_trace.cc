// SPDX-License-Identifier: MIT
#include "uart_trace.h"

#include <cstdio>
#include <cstring>
#include <sstream>

std::vector<uart_access> parse_serial_trace(const std::string& trace) {
  std::vector<uart_access> accesses;
  std::istringstream lines(trace);
  std::string line;
  while (std::getline(lines, line)) {
    // "serial_write write addr 0x03 val 0x93", perhaps after a "pid@time:" prefix.
    const char* event = std::strstr(line.c_str(), "serial_");
    char kind[6];
    unsigned offset, value;
    if (event && std::sscanf(event, "serial_%5s %*s addr 0x%x val 0x%x", kind, &offset, &value) == 3) {
      bool read = std::strcmp(kind, "read") == 0;
      if (read || std::strcmp(kind, "write") == 0) accesses.push_back({read, offset, value});
    }
  }
  return accesses;
}

std::vector<uart_access> parse_mmio_trace(const std::string& trace, unsigned long base, unsigned reg_shift) {
  std::vector<uart_access> accesses;
  const unsigned long end = base + (8ul << reg_shift);
  std::istringstream lines(trace);
  std::string line;
  while (std::getline(lines, line)) {
    // "memory_region_ops_write cpu 0 mr 0x55d0c0 addr 0x1c2880c value 0x93 size 1 name 'serial'"
    const char* event = std::strstr(line.c_str(), "memory_region_ops_");
    char kind[6];
    unsigned long addr, value;
    if (event &&
        std::sscanf(event, "memory_region_ops_%5s cpu %*d mr %*s addr 0x%lx value 0x%lx", kind, &addr, &value) == 3 &&
        addr >= base && addr < end) {
      bool read = std::strcmp(kind, "read") == 0;
      if (read || std::strcmp(kind, "write") == 0) {
        accesses.push_back({read, static_cast<unsigned>((addr - base) >> reg_shift), static_cast<unsigned>(value)});
      }
    }
  }
  return accesses;
}

std::string uart_frame(unsigned lcr) {
  const char* parity = "N";
  if (lcr & 0x08) {
    static const char* const kinds[] = {"O", "E", "M", "S"};  // by the even and stick bits
    parity = kinds[(lcr >> 4) & 3];
  }
  return std::to_string(5 + (lcr & 3)) + parity + ((lcr & 0x04) ? "2" : "1");
}

namespace {

struct registers {
  uart_line line{0, 0};
  unsigned mcr = 0;
};

void apply(registers* r, const uart_access& w) {
  bool dlab = r->line.lcr & uart_lcr_dlab;
  if (w.offset == uart_thr_dll && dlab) {
    r->line.divisor = (r->line.divisor & 0xff00) | w.value;
  } else if (w.offset == uart_ier_dlm && dlab) {
    r->line.divisor = (r->line.divisor & 0x00ff) | (w.value << 8);
  } else if (w.offset == uart_lcr) {
    r->line.lcr = w.value;
  } else if (w.offset == uart_mcr) {
    r->mcr = w.value;
  }
}

// What the driver did after the byte at index sent of the run's accesses:
// the next MCR write, then the LSR reads up to the next DLAB write.
void follow(const std::vector<uart_access>& run, std::size_t sent, uart_sent_byte* b) {
  std::size_t i = sent + 1;
  for (; i < run.size() && b->next_mcr < 0; ++i) {
    if (!run[i].read && run[i].offset == uart_mcr) b->next_mcr = static_cast<int>(run[i].value);
  }
  for (; i < run.size(); ++i) {
    const uart_access& a = run[i];
    if (!a.read && a.offset == uart_lcr && (a.value & uart_lcr_dlab)) break;
    if (a.read && a.offset == uart_lsr) b->lsr_before_divisor = static_cast<int>(a.value);
  }
}

}  // namespace

uart_run uart_run_of(const std::vector<uart_access>& accesses, unsigned mark) {
  uart_run run{false, {0, 0}, {0, 0}, {}, {}};
  std::vector<uart_access> inside;   // the run's accesses
  std::vector<std::size_t> sent_at;  // where in them each sent byte is
  registers r;
  bool started = false;
  for (const uart_access& a : accesses) {
    bool scratch_write = !a.read && a.offset == uart_scr;
    if (scratch_write && a.value == mark && !started) {
      started = true;
      run.before = r.line;
      continue;
    }
    if (scratch_write && a.value == (mark | uart_mark_end) && started) {
      run.found = true;
      run.after = r.line;
      break;
    }
    if (started) {
      if (!a.read && a.offset == uart_thr_dll && !(r.line.lcr & uart_lcr_dlab)) {
        run.sent.push_back({a.value, r.mcr, r.line, -1, -1});
        sent_at.push_back(inside.size());
      }
      if (a.read && a.offset == uart_msr) run.msr_reads.push_back(a.value);
      inside.push_back(a);
    }
    if (!a.read) apply(&r, a);
  }
  for (std::size_t k = 0; k < run.sent.size(); ++k) follow(inside, sent_at[k], &run.sent[k]);
  return run;
}
