// Cost per record of reading an EDX file on generated files of 10k, 100k
// and 1M records, in three shapes:
// - groups: groups of 20 records (points, lines, circles and a composite
//   segment of lines and arcs), the drawing's usual shape;
// - one group: every record a member of a single group (a long son list);
// - nested: groups inside groups up to the nesting bound, repeated, each
//   holding a few records (every block's content is inside many others).
// The parse (compression, blocks, records) and the element table made from
// the records are timed apart; the time per record of each column must stay
// flat from 10k to 1M.  Times are processor times of this program.
#include <fcntl.h>
#include <unistd.h>

#include <ctime>
#include <cstdint>
#include <cstdio>
#include <string>

#include "driver/messages.h"
#include "driver/run_state.h"
#include "elements/element_table.h"
#include "transfer/edx_parser.h"
#include "transfer/edx_table.h"

namespace {

// Processor time of the process: the machine may be shared.
struct Clock {
  using time_point = std::clock_t;
  static time_point now() { return std::clock(); }
};

double secondsSince(Clock::time_point start) {
  return static_cast<double>(Clock::now() - start) / CLOCKS_PER_SEC;
}

// Appends about `count` records; returns how many were written.
long writeRecord(std::string& out, long i) {
  const double x = static_cast<double>(i % 1000), y = static_cast<double>(i / 1000);
  char text[256];  // ten numbers of up to 13 characters and the record around them
  switch (i % 4) {
    case 0: std::snprintf(text, sizeof text, " .P(%g, %g, 0)\n", x, y); break;
    case 1: std::snprintf(text, sizeof text, " .L(%g,%g,0) (%g,%g,0)\n", x, y, x + 1, y); break;
    case 2: std::snprintf(text, sizeof text, " .C(%g,%g,0)(0.5,0,0)\n", x, y); break;
    default:
      std::snprintf(text, sizeof text, " {0:UT1024{def}{(%g,%g,0),1,(%g,%g,0),19,(%g,%g,0),(%g,%g,0),(%g,%g,0)}}\n",
                    x, y, x + 1, y, x + 1.5, y + 0.5, x + 1.5, y + 0.5, x + 1, y + 1);
      out += text;
      return 3;  // the segment, its line and its arc
  }
  out += text;
  return 1;
}

std::string groups(long count) {
  std::string out;
  long written = 0;
  for (long g = 0; written < count; ++g) {
    out += "{0:\"g" + std::to_string(g) + "\"{";
    ++written;
    for (long k = 0; k < 19 && written < count; ++k) written += writeRecord(out, written);
    out += "}}\n";
  }
  return out;
}

std::string oneGroup(long count) {
  std::string out = "{0:\"all\"{";
  for (long written = 1; written < count;) written += writeRecord(out, written);
  return out + "}}\n";
}

std::string nested(long count) {
  std::string out;
  long written = 0;
  while (written < count) {
    int depth = 0;
    for (; depth < kEdxMaxNesting - 2 && written < count; ++depth) {
      out += "{0:\"n\"{";
      ++written;
      for (int k = 0; k < 3 && written < count; ++k) written += writeRecord(out, written);
      out += "}";
    }
    for (; depth > 0; --depth) out += "}";
    out += "\n";
  }
  return out;
}

struct Timing {
  double parse = 0, load = 0;
  std::size_t records = 0;
};

Timing run(const std::string& text) {
  Timing t;
  // The parser's one report line per file is not part of the measure.
  std::fflush(stdout);
  const int saved = dup(1);
  const int null = open("/dev/null", O_WRONLY);
  if (null >= 0) dup2(null, 1);
  resetEdxParser();
  EdxBuffer buffer;
  buffer.fileName = "bench.edx";
  buffer.length = static_cast<std::int32_t>(text.size());
  buffer.text = text;
  auto start = Clock::now();
  parseEdxFile(buffer);
  t.parse = secondsSince(start);
  t.records = edxParser().records.size();
  start = Clock::now();
  loadEdxText("bench.edx", text);
  t.load = secondsSince(start) - t.parse;  // the load parses again
  std::fflush(stdout);
  if (saved >= 0) dup2(saved, 1);
  if (saved >= 0) close(saved);
  if (null >= 0) close(null);
  freeTable();
  resetEdxParser();
  return t;
}

}  // namespace

int main() {
  resetRunState();
  runState().runMode = RunModeBit::kOutput;
  mfaSetMessageLevel(0);
  std::printf("%-9s %9s | %-17s | %-17s\n", "shape", "records", "parse", "element table");
  std::printf("%-9s %9s | %-17s | %-17s\n", "", "", "ms  ns/record", "ms  ns/record");
  struct Shape {
    const char* name;
    std::string (*make)(long);
  };
  const Shape shapes[] = {{"groups", groups}, {"one group", oneGroup}, {"nested", nested}};
  for (const Shape& shape : shapes) {
    for (long n : {10000L, 100000L, 1000000L}) {
      const Timing t = run(shape.make(n));
      const double records = static_cast<double>(t.records > 0 ? t.records : 1);
      std::printf("%-9s %9zu | %7.1f %9.1f | %7.1f %9.1f\n", shape.name, t.records, t.parse * 1e3,
                  t.parse * 1e9 / records, t.load * 1e3, t.load * 1e9 / records);
    }
  }
  return 0;
}
