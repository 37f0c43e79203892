// The command-line core against the in-process simulated meter on virtual time: arguments, what
// crosses the wire, what is printed and the exit status.
#include <gtest/gtest.h>
#include <stdio.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "cli/options.h"
#include "cli/run.h"
#include "cli/writers.h"
#include "sim/sim_meter.h"
#include "sim/sim_serial_device.h"
#include "sim/virtual_clock.h"
#include "text/word_text.h"

namespace {

using qm::sim::Fault;
using Lines = std::vector<std::string>;
using namespace qm::cli;

// 2024-05-01T12:00:00Z on the wall clock when the virtual clock starts.
constexpr int64_t kWallStartMs = 1714564800000;

class VirtualLogClock : public LogClock {
 public:
  explicit VirtualLogClock(qm::sim::VirtualClock& clock) : clock_(clock) {}
  uint64_t NowMs() override { return clock_.NowMs(); }
  void SleepUntil(uint64_t ms, const std::atomic<bool>&) override {
    if (onSleep) onSleep(++sleeps);
    if (ms > clock_.NowMs()) clock_.Advance(ms - clock_.NowMs());
  }
  std::chrono::system_clock::time_point WallNow() override {
    return std::chrono::system_clock::time_point(std::chrono::milliseconds(kWallStartMs + clock_.NowMs()));
  }
  std::function<void(int)> onSleep;  // called with the number of the sleep, from 1
  int sleeps = 0;

 private:
  qm::sim::VirtualClock& clock_;
};

// The simulated port, with a look at each request before the meter gets it.
struct Device : qm::sim::SimSerialDevice {
  using SimSerialDevice::SimSerialDevice;
  void Write(const std::vector<uint8_t>& bytes) override {
    if (beforeWrite) beforeWrite(bytes);
    SimSerialDevice::Write(bytes);
  }
  std::function<void(const std::vector<uint8_t>&)> beforeWrite;
};

// All that was written to `file`, which is then closed.
std::string Text(FILE* file) {
  std::string text;
  std::rewind(file);
  for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
  std::fclose(file);
  return text;
}

// The program's core with the simulated meter behind "/dev/meter".
struct Cli {
  explicit Cli(qm::sim::MeterConfig config = {}) : meter(config), device(meter, clock) { meter.Freeze(true); }
  int Run(Lines args) {
    Environment env{device, clock, logClock, std::tmpfile(), std::tmpfile(), stop};
    args.insert(args.begin(), {"--port", "/dev/meter"});
    const int code = qm::cli::Run(args, env);
    out = Text(env.out);
    err = Text(env.err);
    return code;
  }
  // Requests sent, as "address function register word" in hex.
  Lines Sent() const {
    Lines lines;
    for (const auto& s : device.Log()) {
      char text[32];
      std::snprintf(text, sizeof text, "%02X %02X %02X%02X %02X%02X", s.bytes[0], s.bytes[1], s.bytes[2],
                    s.bytes[3], s.bytes[4], s.bytes[5]);
      lines.push_back(text);
    }
    return lines;
  }
  qm::sim::VirtualClock clock;
  qm::sim::SimMeter meter;
  Device device;
  VirtualLogClock logClock{clock};
  std::atomic<bool> stop{false};
  std::string out, err;
};

Lines Split(const std::string& text, char separator = '\n') {
  Lines parts;
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
  return parts;
}

TEST(Arguments, EveryGnuSpellingMeansTheSameAndMistakesSayWhat) {
  for (const Lines& args :
       {Lines{"--baud", "19200", "read"}, Lines{"--baud=19200", "read"}, Lines{"-b19200", "read"},
        Lines{"read", "-b", "19200"}, Lines{"--ba", "19200", "read"}}) {
    const auto r = ParseArguments(args);
    EXPECT_EQ(r.error + std::to_string(r.options.baud), "19200") << args[0];
    EXPECT_EQ(r.options.command, Command::Read);
  }
  const auto r = ParseArguments({"-a", "1,2,17", "-Pe", "set", "--", "pt=5"});
  EXPECT_EQ(r.options.addresses, (std::vector<uint8_t>{1, 2, 17}));
  EXPECT_EQ(r.options.parity, qm::link::Parity::Even);
  EXPECT_EQ(r.options.arguments, Lines{"pt=5"});

  const std::pair<Lines, const char*> mistakes[] = {
      {{"read", "--bogus"}, "unknown option --bogus"},
      {{"--t", "5", "read"}, "ambiguous"},  // --timeout or --to
      {{"-a", "1,1", "read"}, "twice"},
      {{"log"}, "needs --interval"},
      {{"scan", "--from", "9", "--to", "3"}, "--from"},
  };
  for (const auto& [args, says] : mistakes)
    EXPECT_NE(ParseArguments(args).error.find(says), std::string::npos) << says;
}

TEST(Arguments, ANumberIsAWholeWordInItsRangeWhereverItIsTyped) {
  using qm::text::Radix;
  using qm::text::ReadInteger;
  // Blanks, signs, trailing letters and numbers past a long's range are refused, not cut short.
  for (const char* word : {"", " 5", "5 ", "+5", "-5", "5x", "0x", "0x-1", "99999999999999999999999"})
    EXPECT_FALSE(ReadInteger(word, 0, 65535)) << "'" << word << "'";
  EXPECT_EQ(ReadInteger("0x0300", 0, 65535), 0x300);
  EXPECT_EQ(ReadInteger("010", 0, 65535), 10) << "leading zeros are decimal, not octal";
  EXPECT_FALSE(ReadInteger("0x10", 0, 65535, Radix::Decimal));
  EXPECT_EQ(ReadInteger("-32768", -32768, 65535), -32768);
  EXPECT_FALSE(ReadInteger("-32769", -32768, 65535));
  EXPECT_EQ(ReadInteger("65535", -32768, 65535), 65535);
  EXPECT_FALSE(ReadInteger("65536", -32768, 65535));
  EXPECT_EQ(qm::text::ReadIntegerList("1,0x11,254", 0, 255), (std::vector<long>{1, 17, 254}));
  for (const char* list : {"1,,2", "1,", ",1", "1;2", "256"})
    EXPECT_FALSE(qm::text::ReadIntegerList(list, 0, 255)) << list;

  // The same reader behind every option and argument, and all of them checked before the port opens.
  EXPECT_EQ(ParseArguments({"-a", "0x11,3", "-t", "0x64", "read"}).options.addresses,
            (std::vector<uint8_t>{17, 3}));
  const auto raw = ParseArguments({"raw", "0x0300", "125"});
  EXPECT_EQ(raw.error, "");
  EXPECT_EQ(raw.options.rawStart, 0x300);
  EXPECT_EQ(raw.options.rawCount, 125);
  Cli cli;
  for (const Lines& wrong : {Lines{"raw", "0x10000", "1"}, Lines{"raw", "-1", "1"}, Lines{"raw", "0", "0"},
                             Lines{"-t", "60001", "read"}, Lines{"-a", "1,", "read"}})
    EXPECT_EQ(cli.Run(wrong), kExitUsage) << wrong[1];
  EXPECT_EQ(cli.Run({"set", "pt=0x10"}), kExitRefused) << "a setting is decimal, as the window shows it";
  EXPECT_EQ(cli.device.OpenCount(), 0);
}

TEST(Arguments, HelpAndVersionNeedNoCommandAndTouchNoPort) {
  Cli cli;
  EXPECT_EQ(cli.Run({"--version"}), kExitOk);
  EXPECT_EQ(cli.out.rfind("qm7410-cli ", 0), 0u) << cli.out;
  EXPECT_EQ(cli.Run({"-h"}), kExitOk);
  EXPECT_EQ(cli.out.rfind("Usage: qm7410-cli", 0), 0u) << cli.out;
  EXPECT_EQ(cli.device.OpenCount(), 0);
}

TEST(Arguments, APortNumberCountsLikeTheWindowsAPathIsKept) {
  setenv("QM7410_COM7", "/tmp/meter-on-seven", 1);
  EXPECT_EQ(DevicePath("7"), "/tmp/meter-on-seven");
  unsetenv("QM7410_COM7");
  EXPECT_EQ(DevicePath("7"), "/dev/ttyS6");
  EXPECT_EQ(DevicePath("/dev/ttyUSB0"), "/dev/ttyUSB0");
}

// A meter with PT 100, CT 50 and powers counted in 0.4 W (settings byte 11 is 1), and these words:
// Ua 22000, Ia 50000, Pa -15000, PFa -5000, F 46811, import active energy 70196 (0x00011234, low
// word first), the same on export, export reactive energy 2.
struct KnownMeter : Cli {
  KnownMeter() : Cli({.pt = 100, .ct = 50, .wiring = 3, .accuracy = 1}) {
    const std::pair<int, int> words[] = {{0, 22000},  {2, 50000},   {4, -15000}, {5, -5000},
                                         {27, 46811}, {33, 0x1234}, {34, 1},     {35, 0x1234},
                                         {36, 1},     {39, 2},      {40, 0}};
    for (const auto& [n, value] : words) meter.SetMeasurementWord(n, static_cast<uint16_t>(value));
  }
};

TEST(Read, JsonCarriesTheWindowsTextsAndSiNumbers) {
  KnownMeter cli;
  ASSERT_EQ(cli.Run({"read", "--format", "json"}), kExitOk) << cli.err;
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(cli.out));
  ASSERT_TRUE(doc.isObject()) << cli.out;
  const QJsonObject meter = doc["meters"][0].toObject();
  EXPECT_EQ(meter["identification"]["title"].toString().toStdString(),
            "VM7410智能电力监测仪------Velmora(1.2.03版)");
  const QJsonObject set = meter["settings"].toObject();
  EXPECT_EQ(set["pt"].toInt(), 100);
  for (const auto& [name, text] :
       {std::pair{"wiring", "3相3线(平衡)"}, {"accuracy", "0.2级"}, {"direction", "normal"}})
    EXPECT_EQ(set[name]["text"].toString().toStdString(), text);

  std::map<std::string, QJsonObject> byName;
  for (const auto& v : meter["values"].toArray())
    byName[v.toObject()["name"].toString().toStdString()] = v.toObject();
  EXPECT_EQ(byName.size(), 33u);  // every value, each name once
  const std::tuple<const char*, const char*, double, const char*> expected[] = {
      {"Ua", "22.00 KV", 22000, "V"},              // 220 V on the secondary, PT 100
      {"Ia", "250.000 A", 250, "A"},               // 5 A, CT 50
      {"Pa", "-30.000 MW", -30000000, "W"},        // -15000 x 0.4 W x 100 x 50
      {"PFa", "-0.5000", -0.5, ""},                //
      {"F", "50.000 Hz", 50.00023343, "Hz"},       // 46811 x 0.00106813
      {"EPimp", "350.980 MWh", 350980000, "Wh"},   // 70196 Wh x 100 x 50
      {"EPexp", "-350.980 MWh", 350980000, "Wh"},  // the minus is the window's way to show export
      {"EQexp", "-10.000 KVarh", 10000, "varh"},
  };
  for (const auto& [name, text, value, unit] : expected) {
    const QJsonObject v = byName[name];
    EXPECT_EQ(v["text"].toString() + " " + v["unit"].toString(), QString(text) + " " + unit);
    EXPECT_DOUBLE_EQ(v["value"].toDouble(), value) << name;
  }
}

TEST(Set, EachWriteIsReadBackBeforeTheNext) {
  Cli cli;
  ASSERT_EQ(cli.Run({"set", "direction=reversed", "pt=100", "ct=50", "wiring=3相3线(平衡)", "accuracy=0.2"}),
            kExitOk)
      << cli.err;
  const std::string back = "01 03 0300 001A";
  EXPECT_EQ(cli.Sent(), (Lines{"01 06 030E 0064", back, "01 06 0312 0032", back, "01 06 0002 0003", back,
                               "01 06 0022 0001", back, "01 06 0026 0001", back}));
  EXPECT_EQ(Split(cli.out),
            (Lines{"meter 1: pt = 100, read back", "meter 1: ct = 50, read back",
                   "meter 1: wiring = 3 3相3线(平衡), read back", "meter 1: accuracy = 0.2级, read back",
                   "meter 1: direction = reversed, read back"}));
}

TEST(Set, RefusedValuesAreExplainedAndNothingIsSent) {
  const std::pair<Lines, const char*> cases[] = {
      {{"set", "pt=0"}, "the PT ratio must be 1..64000"},
      {{"set", "accuracy=0.3"}, "0.5级 or 0.2级"},
      {{"set", "baud=9601"}, "1200, 2400, 4800, 9600 or 19200"},
      {{"set", "pt=5", "pt=6"}, "twice"},
      {{"-a", "1,2", "set", "address=3"}, "several meters"},
      {{"set", "pt=100", "ct=0"}, "refused ct=0"},  // a good value before a bad one is not sent either
      {{"set", "volts=5"}, "'volts=5' is not NAME=VALUE"},
      {{"set", "pt"}, "'pt' is not NAME=VALUE"},
  };
  Cli cli;
  for (const auto& [args, says] : cases) {
    EXPECT_EQ(cli.Run(args), kExitRefused) << says;
    EXPECT_NE(cli.err.find(says), std::string::npos) << cli.err;
    EXPECT_NE(cli.err.find("; nothing was sent"), std::string::npos) << cli.err;
  }
  EXPECT_EQ(cli.device.OpenCount(), 0);
}

TEST(Set, AValueTheMeterRefusesOrDoesNotKeepIsReported) {
  Cli refusing;
  refusing.meter.InjectFault(Fault::Exception);
  EXPECT_EQ(refusing.Run({"set", "pt=100", "ct=50"}), kExitRefused);
  EXPECT_EQ(refusing.err, "qm7410-cli: meter 1: pt=100 refused by the meter: exception 4 (device failure)\n");
  EXPECT_EQ(refusing.Sent().size(), 1u);  // the CT ratio is not tried after that

  Cli forgetting;  // confirms the write, yet its memory keeps the old ratio
  forgetting.device.beforeWrite = [&](const std::vector<uint8_t>& b) {
    if (b[1] == 0x03) forgetting.meter.SetWord(0x030E, 1);
  };
  EXPECT_EQ(forgetting.Run({"set", "pt=100"}), kExitRefused);
  EXPECT_EQ(forgetting.err, "qm7410-cli: meter 1: pt reads back as 1, not 100\n");
}

TEST(EnergyReset, EachWriteIsConfirmedAndAMissingOneLeavesTheSwitchOff) {
  KnownMeter cli;
  cli.meter.InjectFault(Fault::None);  // the switch is confirmed, the first clearing is not
  cli.meter.InjectFault(Fault::Silence, 3);
  EXPECT_EQ(cli.Run({"energy-reset"}), kExitNoReply);
  EXPECT_EQ(cli.Sent(), (Lines{"01 06 0004 0001", "01 06 001A 0000", "01 06 001A 0000", "01 06 001A 0000",
                               "01 06 0004 0000"}));
  EXPECT_NE(cli.err.find("write 2 of 4 not confirmed: no reply in 3 attempts"), std::string::npos);
  // A missing second clearing leaves the switch off too.
  cli.device.ClearLog();
  cli.meter.InjectFault(Fault::None);
  cli.meter.InjectFault(Fault::None);
  cli.meter.InjectFault(Fault::Silence, 3);
  EXPECT_EQ(cli.Run({"energy-reset"}), kExitNoReply);
  EXPECT_EQ(cli.Sent(), (Lines{"01 06 0004 0001", "01 06 001A 0000", "01 06 001C 0000", "01 06 001C 0000",
                               "01 06 001C 0000", "01 06 0004 0000"}));
  ASSERT_EQ(cli.Run({"energy-reset"}), kExitOk) << cli.err;
  EXPECT_EQ(cli.meter.Energy(0) + cli.meter.Energy(1), 0u);
  EXPECT_EQ(cli.out, "meter 1: energy counters cleared\n");
}

TEST(Log, AFailedReadMakesNoRowAndIsCounted) {
  KnownMeter cli;
  // The second interval's settings read gets no answer in any of its three attempts.
  cli.logClock.onSleep = [&](int n) {
    if (n == 1) cli.meter.InjectFault(Fault::Silence, 3);
  };
  EXPECT_EQ(cli.Run({"log", "--interval", "10", "--count", "3"}), kExitNoReply);
  const Lines rows = Split(cli.out);
  ASSERT_EQ(rows.size(), 3u) << cli.out;
  EXPECT_EQ(rows[0].substr(0, 37), "time,address,Ua_V,Uca_V,Ia_A,Pa_W,PFa");
  EXPECT_EQ(rows[2].substr(0, 20), "2024-05-01T12:00:20.");  // on the 10 s grid
  const Lines first = Split(rows[1], ',');
  ASSERT_EQ(first.size(), 2u + 33u);
  EXPECT_EQ(first[0].substr(0, 20) + " " + first[1] + " " + first[2] + " " + first[4],
            "2024-05-01T12:00:00. 1 22000 250");
  const Lines err = Split(cli.err);
  ASSERT_EQ(err.size(), 2u) << cli.err;
  EXPECT_EQ(err[0].substr(0, 32) + err[0].substr(err[0].find(" meter")),
            "qm7410-cli: 2024-05-01T12:00:10. meter 1: settings block: no reply in 3 attempts");
  EXPECT_EQ(err[1], "qm7410-cli: log ended: 2 rows, 1 failed read");
}

TEST(Log, AppendingKeepsTheHeaderAndRefusesAForeignFile) {
  const std::string path = testing::TempDir() + "cli-log-" + std::to_string(getpid());
  std::filesystem::remove(path);
  Cli cli;
  for (int run = 0; run < 2; ++run) ASSERT_EQ(cli.Run({"log", "-i", "1", "-n", "1", "-o", path}), kExitOk);
  // A log cut off inside a row goes on from a new line.
  std::ofstream(path, std::ios::app) << "2024-05-01T12:00:01.000Z,1,22";
  ASSERT_EQ(cli.Run({"log", "-i", "1", "-n", "1", "-o", path}), kExitOk) << cli.err;
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  const Lines lines = Split(text.str());
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0].substr(0, 12), "time,address");
  EXPECT_EQ(lines[3], "2024-05-01T12:00:01.000Z,1,22");
  EXPECT_EQ(Split(lines[4], ',').size(), 35u);

  Cli jsonl;  // JSON lines do not go into a CSV log
  EXPECT_EQ(jsonl.Run({"log", "-i", "1", "-f", "jsonl", "-o", path}), 1) << "the exit status --help gives";
  EXPECT_NE(jsonl.err.find("not appending"), std::string::npos);
  std::filesystem::remove(path);
}

// The log outlives a port that goes away (an adapter pulled and plugged back, a gateway restarted):
// the gap is a failed read, told with its reason, and the port is opened again for the next row.
TEST(Port, ALogOpensAPortThatWentAwayAgainAndCountsTheGap) {
  Cli cli;
  int sleeps = 0;
  cli.logClock.onSleep = [&](int) {
    if (++sleeps == 1) cli.device.Unplug();
  };
  EXPECT_EQ(cli.Run({"log", "-i", "1", "-n", "3"}), kExitNoReply);
  EXPECT_NE(cli.err.find("已断开"), std::string::npos) << cli.err;
  EXPECT_NE(cli.err.find("log ended: 2 rows, 1 failed read"), std::string::npos) << cli.err;
  EXPECT_EQ(cli.device.OpenCount(), 2);
}

TEST(Raw, ReadsTheRegistersAsTheyAre) {
  Cli cli;
  EXPECT_EQ(cli.Run({"raw", "0", "126"}), kExitUsage);  // more than a reply can carry
  ASSERT_EQ(cli.Run({"raw", "0x0300", "2", "-f", "csv"}), kExitOk) << cli.err;
  EXPECT_EQ(cli.Sent(), Lines{"01 03 0300 0002"});
  EXPECT_EQ(cli.out, "address,index,value\n1,0,1\n1,1,0\n");  // the address word, the wiring word
}

TEST(Formatting, NumbersAreShortAndPlainTextIsEscaped) {
  EXPECT_EQ(
      PlainNumber(22001 / 100.0) + " " + PlainNumber(-0.5) + " " + PlainNumber(1e7) + " " + PlainNumber(-0.0),
      "220.01 -0.5 10000000 0");
  EXPECT_EQ(CsvField("a,\"b\""), "\"a,\"\"b\"\"\"");
  EXPECT_EQ(JsonString("a\"\\\n\x01"), "\"a\\\"\\\\\\n\\u0001\"");
}

}  // namespace

namespace {

constexpr auto npos = std::string::npos;

// With nothing known the doctor finds a meter moved to 4800 baud, even parity, address 23. It tries
// 9600 and 19200 first, each with no, even and odd parity, then 4800 without parity, probing
// addresses 1 to 254 and 0, and takes no longer than a probe's wait per address at each setting:
// 15 characters on the line (request and one-word reply) and 60 ms for the meter to turn round.
TEST(Doctor, FindsAMeterAt4800BaudEvenParityAddress23WithinItsBound) {
  qm::sim::MeterConfig config;
  config.address = 23;
  config.baud = 4800;
  config.parity = qm::link::Parity::Even;
  Cli cli(config);
  ASSERT_EQ(cli.Run({"doctor"}), kExitOk) << cli.err;
  const Lines out = Split(cli.out);
  ASSERT_GE(out.size(), 10u) << cli.out;
  EXPECT_EQ(
      Lines(out.begin() + 1, out.begin() + 9),
      (Lines{"9600 baud, no parity: silence (255 probes)", "9600 baud, even parity: silence (255 probes)",
             "9600 baud, odd parity: silence (255 probes)", "19200 baud, no parity: silence (255 probes)",
             "19200 baud, even parity: silence (255 probes)", "19200 baud, odd parity: silence (255 probes)",
             "4800 baud, no parity: silence (255 probes)", "address 23 answers at 4800 baud, even parity"}));
  // Probe waits in ms: 9600 baud 16 + 60 without parity, 18 + 60 with; 19200 baud 8 + 60 and 9 + 60;
  // 4800 baud 32 + 60 and 35 + 60. The search ends at the 23rd probe at 4800 baud, even parity; the
  // line check after it (ten reads of the settings block, a second of listening) takes under 3 s.
  const uint64_t search = 255 * (76 + 78 + 78 + 68 + 69 + 69 + 92) + 23 * 95;
  EXPECT_LE(cli.clock.NowMs(), search + 3000);
  EXPECT_EQ(out.back(),
            "the line looks healthy: 10 reads back to back, no echo, no stray bytes, no traffic from others");
}

// Bytes at another rate arrive garbled; a meter answering only some probes at a setting, or the
// request's own bytes coming back, each get their words.
TEST(Doctor, SaysWhatTheLineDeliveredAtEachSetting) {
  qm::sim::MeterConfig config;
  config.baud = 19200;
  Cli cli(config);
  cli.device.SetEcho(true);
  // At 9600 baud the meter is deaf; the echo comes back whatever the rate.
  ASSERT_EQ(cli.Run({"doctor", "--quick", "-P", "N"}), kExitOk) << cli.err;
  const Lines out = Split(cli.out);
  ASSERT_GE(out.size(), 4u) << cli.out;
  EXPECT_EQ(out[1], "9600 baud, no parity: silence (8 probes)");  // the echo dropped from the first probe on
  EXPECT_EQ(out[2], "address 1 answers at 19200 baud, no parity");
  EXPECT_NE(cli.out.find("this adapter echoes what it sends; use --echo"), npos) << cli.out;
  EXPECT_NE(cli.err.find("the line echoes what it sends"), npos) << cli.err;
}

// A 2-wire adapter hands back every request. With --echo exactly the echo is dropped, so a read and
// a write go through it; and a write whose only "reply" is its own echo is not taken as confirmed.
TEST(Echo, TheEchoOfAWriteIsNeverTakenForItsReply) {
  Cli cli;
  cli.device.SetEcho(true);
  EXPECT_EQ(cli.Run({"--echo", "identify"}), kExitOk) << cli.err;
  EXPECT_EQ(cli.Run({"--echo", "set", "pt=100"}), kExitOk) << cli.err;
  cli.meter.InjectFault(Fault::Silence, 1);
  EXPECT_EQ(cli.Run({"--echo", "-r", "0", "set", "ct=5"}), kExitNoReply);
  EXPECT_NE(cli.err.find("meter 1: ct=5 not confirmed: no reply"), npos) << cli.err;
}

// Without --echo the first read shows the echo (the request comes back before its reply); it is
// told once, and the writes after it are judged without it.
TEST(Echo, AReadTeachesTheEchoAndLaterWritesAreJudgedWithoutIt) {
  Cli cli;
  cli.device.SetEcho(true);
  cli.device.beforeWrite = [&](const std::vector<uint8_t>& request) {
    if (request[1] == 0x06 && request[3] == 0x12) cli.meter.InjectFault(Fault::Silence, 1);  // the CT write
  };
  EXPECT_EQ(cli.Run({"-r", "0", "set", "pt=100", "ct=5"}), kExitNoReply);
  EXPECT_EQ(Split(cli.out), Lines{"meter 1: pt = 100, read back"});
  EXPECT_NE(cli.err.find("ct=5 not confirmed: no reply"), npos) << cli.err;
  const size_t first = cli.err.find("the line echoes what it sends");
  EXPECT_TRUE(first != npos && cli.err.find("the line echoes", first + 1) == npos) << cli.err;
}

// The trace of a read and of a write the meter does not answer, as a support request carries it.
TEST(Trace, EveryFrameInAndOutInWords) {
  Cli cli;
  ASSERT_EQ(cli.Run({"--trace", "identify"}), kExitOk) << cli.err;
  // 8 + 9 bytes at 9600 baud take 17.7 ms, and the meter turns round in 5.
  EXPECT_EQ(
      cli.err,
      "       0 ms > 01 03 03 E0 00 02 C5 B9  read 2 registers from 0x03E0 (identification) at slave 1\n"
      "      23 ms < 01 03 04 1C F2 04 B3 1F 25 (9 bytes)\n"
      "      23 ms = reply: 4 data bytes, CRC ok\n");
  cli.meter.InjectFault(Fault::Silence, 1);
  const uint64_t start = cli.clock.NowMs();
  EXPECT_EQ(cli.Run({"--trace", "-r", "0", "-t", "300", "set", "pt=100"}), kExitNoReply);
  const Lines lines = Split(cli.err);
  ASSERT_EQ(lines.size(), 3u) << cli.err;
  EXPECT_EQ(start, 23u);
  EXPECT_EQ(lines[0], "      23 ms > 01 06 03 0E 00 64 E9 A6  write 100 to 0x030E (PT ratio) at slave 1");
  EXPECT_EQ(lines[1], "     323 ms = no reply in 300 ms");
  EXPECT_EQ(lines[2], "qm7410-cli: meter 1: pt=100 not confirmed: no reply");
}

}  // namespace
