// The pieces of the IGES files the benchmarks generate: fixed-column
// records, directory fields and parameter data packed at its delimiters.
#pragma once

#include <cstdio>
#include <string>

namespace bench {

// One 80-column record of the section with its sequence number.
inline void putIgesRecord(std::FILE* f, const std::string& body, char section, long sequence) {
  std::string line = body.substr(0, 72);
  line.resize(72, ' ');
  std::fprintf(f, "%s%c%7ld\n", line.c_str(), section, sequence);
}

// A directory entry field of eight columns.
inline std::string igesField(long v) {
  char t[24];
  std::snprintf(t, sizeof t, "%8ld", v);
  return t;
}

// The parameter records of one entity: its data packed into 64 columns at
// the delimiters, each record ending with the entity's DE number.
inline void appendIgesParameters(std::string& out, const std::string& data, long de, long& p, long& lines) {
  lines = 0;
  std::size_t at = 0;
  while (at < data.size()) {
    std::size_t end = at;
    while (end < data.size()) {
      const std::size_t next = data.find_first_of(",;", end);
      const std::size_t stop = next == std::string::npos ? data.size() : next + 1;
      if (stop - at > 64 && end > at) break;
      end = stop;
    }
    std::string body = data.substr(at, end - at);
    body.resize(64, ' ');
    char line[96];
    std::snprintf(line, sizeof line, "%s%8ld%c%7ld\n", body.c_str(), de, 'P', ++p);
    out += line;
    ++lines;
    at = end;
  }
}

}  // namespace bench
