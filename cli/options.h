#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/parity.h"

namespace qm::cli {

// What the exit status says went wrong.
enum ExitCode {
  kExitOk = 0,
  kExitFailure = 1,  // anything else: an output file that cannot be written, say
  kExitUsage = 2,    // the command line
  kExitPort = 3,     // the serial port cannot be opened, or went away
  kExitNoReply = 4,  // a meter did not answer, or not with a valid reply
  kExitRefused = 5,  // a value refused before sending, or not taken by the meter
};

enum class Command { None, Read, Log, Identify, Scan, Set, EnergyReset, Raw, Doctor };
enum class Format { Default, Table, Json, Csv, Jsonl };

struct Options {
  Command command = Command::None;
  std::string port = "1";  // a port number as the window counts them, or a device path
  int32_t baud = 9600;
  link::Parity parity = link::Parity::None;
  bool baudGiven = false;  // the doctor then tries only that rate
  bool parityGiven = false;
  std::vector<uint8_t> addresses{1};
  bool addressGiven = false;
  std::optional<uint32_t> timeoutMs;  // default: the window's reply wait for the request
  std::optional<int> retries;
  Format format = Format::Default;
  std::optional<double> intervalS;
  std::optional<long> count;
  std::string output;
  std::optional<int> scanFrom;
  std::optional<int> scanTo;
  bool verbose = false;
  bool echo = false;   // the line hands back what it sends; drop the echo of every request
  bool trace = false;  // every frame in and out on standard error, in words
  bool quick = false;  // doctor: the first few addresses only
  bool all = false;    // doctor: every address at every setting, not only up to the first meter
  bool help = false;
  bool version = false;
  std::vector<std::string> arguments;  // the command's own words: set's NAME=VALUE, raw's numbers
  uint16_t rawStart = 0;               // raw's numbers, checked with the options
  uint16_t rawCount = 0;
};

struct ParseResult {
  Options options;
  std::string error;  // one line; empty when the command line is good
};

// GNU-style options anywhere on the line ("--baud 19200", "--baud=19200", "-b19200", unambiguous
// abbreviations of long options, "--" to end them), one command word and its arguments.
ParseResult ParseArguments(const std::vector<std::string>& args);

// The device a --port value names: a number maps as the window's port numbers do, anything else is
// a path used as it is.
std::string DevicePath(const std::string& port);

const char* CommandName(Command command);
std::string HelpText();
std::string VersionText();

}  // namespace qm::cli
