// Results of the toolkit's calls, returned as values: a Status per call and
// findings (one per problem found or fixed) for reading and auditing.  The
// caller turns them into its own messages.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace drawingdb {

using Handle = std::uint64_t;  // 0 is "no object"

enum class StatusCode : std::uint8_t {
  Ok,
  BadFile,         // the bytes are not a file of the format (syntax, truncation)
  NotSupported,    // a format or release the toolkit cannot read or write (yet)
  OutOfRange,      // a count, size or value beyond what the file can hold
  WriteFailed,     // the byte sink refused the bytes
  NotFound,        // a named object is missing
};

struct Status {
  StatusCode code = StatusCode::Ok;
  std::string detail;  // what went wrong and where (line or byte offset)

  bool ok() const { return code == StatusCode::Ok; }
  static Status fail(StatusCode c, std::string what) { return Status{c, std::move(what)}; }
};

// One problem found by reading or auditing a database.
struct Finding {
  std::string code;   // short stable key, "bad-owner", "unknown-group"
  Handle handle = 0;  // the object concerned, 0 for the file or header
  std::string field;  // member or group concerned, may be empty
  bool fixed = false; // the problem was repaired in the database
  std::string detail; // human-readable text for reports
};

}  // namespace drawingdb
