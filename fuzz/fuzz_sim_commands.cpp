// What qm7410-sim reads on its command channel: any lines, applied to one simulated meter.
//
// Input: text, one command per line.
#include <sstream>
#include <string>

#include "fuzz/fuzz_check.h"
#include "sim/sim_commands.h"
#include "sim/sim_meter.h"

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qm::sim::SimMeter meter;
  std::string text(reinterpret_cast<const char*>(data), size);
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    bool quit = false;
    const std::string answer = qm::sim::RunCommand(meter, line, quit);
    FUZZ_CHECK(answer.rfind("ok", 0) == 0 || answer.rfind("error: ", 0) == 0, "answer '%s'", answer.c_str());
    std::istringstream words(line);
    std::string first;
    words >> first;
    const bool quitting = Lower(first) == "quit" || Lower(first) == "exit";
    FUZZ_CHECK(quit == quitting, "'%s' %s", line.c_str(), quit ? "quits" : "does not quit");

    // What a command says it did is what the meter holds.
    std::istringstream said(answer);
    std::string ok, verb;
    long a = 0, b = 0;
    said >> ok >> verb;
    if (ok == "ok" && verb == "set" && (said >> a >> b))
      FUZZ_CHECK(meter.Word(static_cast<uint16_t>(a)) == b, "%s", answer.c_str());
    if (ok == "ok" && verb == "measure" && (said >> a >> b))
      FUZZ_CHECK(a >= 0 && a <= 40 && meter.Word(static_cast<uint16_t>(2 * a)) == b, "%s", answer.c_str());
    if (ok == "ok" && verb == "fault") FUZZ_CHECK(meter.PendingFaults() > 0);
  }
  return 0;
}
