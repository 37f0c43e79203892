#include "cli/log_loop.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>

#include "cli/reading.h"
#include "cli/writers.h"

namespace qm::cli {
namespace {

bool Put(std::FILE* out, const std::string& text, std::string& error) {
  if (std::fwrite(text.data(), 1, text.size(), out) != text.size() || std::fflush(out) != 0) {
    error = std::strerror(errno);
    return false;
  }
  return true;
}

std::string FirstLine(std::FILE* f) {
  std::string line;
  std::rewind(f);
  for (int c; (c = std::fgetc(f)) != EOF && c != '\n';) line += static_cast<char>(c);
  return line;
}

}  // namespace

std::FILE* OpenLogFile(const std::string& path, Format format, std::string& error) {
  std::FILE* f = std::fopen(path.c_str(), "a+");
  if (!f) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  std::fseek(f, 0, SEEK_END);
  const long size = std::ftell(f);
  std::string prefix;
  if (size <= 0) {
    prefix += LogHeader(format);
  } else {
    const std::string first = FirstLine(f);
    const std::string header = LogHeader(format);
    const bool same = format == Format::Csv ? first + "\n" == header : !first.empty() && first[0] == '{';
    if (!same) {
      std::fclose(f);
      error = path + " holds something else than a " + (format == Format::Csv ? "CSV" : "JSON lines") +
              " log of these columns; not appending to it";
      return nullptr;
    }
    std::fseek(f, -1, SEEK_END);
    if (std::fgetc(f) != '\n') prefix += '\n';  // an earlier log was cut off inside a row
  }
  std::fseek(f, 0, SEEK_END);
  if (!prefix.empty() && !Put(f, prefix, error)) {
    error = "cannot write " + path + ": " + error;
    std::fclose(f);
    return nullptr;
  }
  return f;
}

namespace {

void Loop(MeterLink& port, const std::vector<uint8_t>& addresses, const LogPlan& plan, LogClock& clock,
          std::FILE* out, std::FILE* err, const std::atomic<bool>& stop, LogSummary& summary) {
  const uint64_t intervalMs = static_cast<uint64_t>(std::llround(plan.intervalS * 1000.0));
  const uint64_t start = clock.NowMs();
  std::map<uint8_t, int32_t> multipliers;  // kept per meter for a decade the table does not have
  uint64_t tick = 0;
  for (long done = 0; !plan.count || done < *plan.count; ++done) {
    for (uint8_t address : addresses) {
      if (stop) break;
      MeterReading m;
      m.address = address;
      std::string error;
      const auto known = multipliers.find(address);
      const bool ok = ReadSettings(port, m, known == multipliers.end() ? 1 : known->second, error) &&
                      ReadMeasurements(port, m, error);
      const auto time = clock.WallNow();
      if (!ok) {
        ++summary.failures;
        std::fprintf(err, "qm7410-cli: %s meter %d: %s\n", Rfc3339(time).c_str(), address, error.c_str());
        continue;
      }
      multipliers[address] = m.settings.energyMultiplier;
      if (!Put(out, LogRow(plan.format, time, m), summary.writeError)) return;
      ++summary.rows;
    }
    if (stop || (plan.count && done + 1 >= *plan.count)) break;
    // Rows keep to the interval's grid; a row that took longer than the interval is followed at
    // once by the next, without a burst to catch up.
    if (intervalMs == 0) continue;
    const uint64_t now = clock.NowMs();
    tick = std::max(tick + 1, (now - start) / intervalMs + ((now - start) % intervalMs ? 1 : 0));
    clock.SleepUntil(start + tick * intervalMs, stop);
  }
}

}  // namespace

LogSummary RunLog(MeterLink& port, const std::vector<uint8_t>& addresses, const LogPlan& plan,
                  LogClock& clock, std::FILE* out, std::FILE* err, const std::atomic<bool>& stop) {
  LogSummary summary;
  try {
    Loop(port, addresses, plan, clock, out, err, stop, summary);
  } catch (const link::CommError& e) {
    summary.portError = e.what();
  }
  return summary;
}

}  // namespace qm::cli
