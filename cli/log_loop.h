#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/meter_link.h"
#include "cli/options.h"

namespace qm::cli {

// The log's time: a steady clock that paces the rows and the wall clock that stamps them.
class LogClock {
 public:
  virtual ~LogClock() = default;
  virtual uint64_t NowMs() = 0;
  // Returns at `ms` on the steady clock, or sooner once `stop` is set.
  virtual void SleepUntil(uint64_t ms, const std::atomic<bool>& stop) = 0;
  virtual std::chrono::system_clock::time_point WallNow() = 0;
};

struct LogPlan {
  double intervalS = 1;
  std::optional<long> count;  // rows per meter; none: until stopped
  Format format = Format::Csv;
};

struct LogSummary {
  long rows = 0;
  long failures = 0;
  std::string writeError;  // the output could not be written; the log ended there
  std::string portError;   // the serial port went away; the log ended there
};

// Opens `path` to append a log to it: a new or empty file gets the header first; an existing one
// must be a log of the same columns. Null with the reason in `error` otherwise.
std::FILE* OpenLogFile(const std::string& path, Format format, std::string& error);

// One row per meter and interval, each flushed as written. A failed read is reported on `err` with
// its reason, counted, and makes no row. `stop` ends the log after the row being read. The log ends
// early when its output cannot be written or the port goes away.
LogSummary RunLog(MeterLink& port, const std::vector<uint8_t>& addresses, const LogPlan& plan,
                  LogClock& clock, std::FILE* out, std::FILE* err, const std::atomic<bool>& stop);

}  // namespace qm::cli
