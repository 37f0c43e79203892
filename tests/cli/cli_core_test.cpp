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

#include "cli/log_loop.h"
#include "cli/options.h"
#include "cli/run.h"
#include "cli/set_plan.h"
#include "cli/writers.h"
#include "sim/sim_meter.h"
#include "tests/support/sim_input_wait.h"

namespace {

using qm::cli::Format;
using qm::sim::Fault;
using Lines = std::vector<std::string>;

// 2024-05-01T12:00:00Z on the wall clock when the virtual clock starts.
constexpr int64_t kWallStartMs = 1714564800000;

class VirtualLogClock : public qm::cli::LogClock {
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

// The program's core with the simulated meter behind "/dev/meter".
struct Cli {
  explicit Cli(qm::sim::MeterConfig config = {}) : meter(config), device(meter, clock), wait(device, clock) {
    meter.Freeze(true);
  }
  int Run(const Lines& args) {
    char* outText = nullptr;
    char* errText = nullptr;
    size_t outSize = 0, errSize = 0;
    FILE* outFile = open_memstream(&outText, &outSize);
    FILE* errFile = open_memstream(&errText, &errSize);
    qm::cli::Environment env{device, wait, logClock, outFile, errFile, stop};
    Lines all{"--port", "/dev/meter"};
    all.insert(all.end(), args.begin(), args.end());
    const int code = qm::cli::Run(all, env);
    std::fclose(outFile);
    std::fclose(errFile);
    out.assign(outText, outSize);
    err.assign(errText, errSize);
    std::free(outText);
    std::free(errText);
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
  qm::sim::SimSerialDevice device;
  qm::test::SimInputWait wait;
  VirtualLogClock logClock{clock};
  std::atomic<bool> stop{false};
  std::string out, err;
};

Lines SplitLines(const std::string& text) {
  Lines lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

Lines SplitCsv(const std::string& line) {
  Lines fields;
  std::string field;
  bool quoted = false;
  for (char c : line) {
    if (c == '"')
      quoted = !quoted;
    else if (c == ',' && !quoted)
      fields.push_back(std::exchange(field, {}));
    else
      field += c;
  }
  fields.push_back(field);
  return fields;
}

bool IsNumber(const std::string& text) {
  if (text.empty()) return false;
  char* end = nullptr;
  std::strtod(text.c_str(), &end);
  return *end == '\0';
}

// --- Arguments -------------------------------------------------------------------------------

TEST(Arguments, EveryGnuSpellingOfAnOptionMeansTheSame) {
  for (const Lines& args :
       {Lines{"--baud", "19200", "read"}, Lines{"--baud=19200", "read"}, Lines{"-b19200", "read"},
        Lines{"read", "-b", "19200"}, Lines{"--ba", "19200", "read"}}) {
    const auto r = qm::cli::ParseArguments(args);
    EXPECT_EQ(r.error, "") << args[0];
    EXPECT_EQ(r.options.baud, 19200) << args[0];
    EXPECT_EQ(r.options.command, qm::cli::Command::Read);
  }
  const auto r = qm::cli::ParseArguments({"-a", "1,2,17", "-Pe", "set", "--", "pt=5"});
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.options.addresses, (std::vector<uint8_t>{1, 2, 17}));
  EXPECT_EQ(r.options.parity, 'E');
  EXPECT_EQ(r.options.arguments, Lines{"pt=5"});
}

TEST(Arguments, MistakesAreUsageErrorsThatSayWhat) {
  const struct {
    Lines args;
    const char* says;
  } cases[] = {
      {{"read", "--bogus"}, "unknown option --bogus"},
      {{"--t", "5", "read"}, "ambiguous"},  // --timeout or --to
      {{"read", "--port"}, "wants a value"},
      {{"--baud", "9601", "read"}, "--baud must be"},
      {{"--parity", "X", "read"}, "--parity must be"},
      {{"-a", "1,1", "read"}, "twice"},
      {{"-a", "256", "read"}, "0..255"},
      {{"fly"}, "unknown command"},
      {{}, "no command"},
      {{"read", "--interval", "5"}, "does not go with read"},
      {{"log"}, "needs --interval"},
      {{"log", "-i", "1", "-f", "table"}, "csv or jsonl"},
      {{"read", "-f", "jsonl"}, "table, json or csv"},
      {{"scan", "--from", "9", "--to", "3"}, "--from"},
      {{"scan", "-a", "3"}, "does not go with scan"},
      {{"set"}, "NAME=VALUE"},
      {{"read", "extra"}, "no argument"},
      {{"log", "-i", "-1"}, "--interval"},
      {{"-p", "0", "read"}, "start at 1"},
  };
  for (const auto& c : cases) {
    const auto r = qm::cli::ParseArguments(c.args);
    EXPECT_NE(r.error.find(c.says), std::string::npos)
        << (c.args.empty() ? "" : c.args[0]) << ": " << r.error;
  }
  Cli cli;
  EXPECT_EQ(cli.Run({"read", "--bogus"}), qm::cli::kExitUsage);
  EXPECT_EQ(cli.err, "qm7410-cli: unknown option --bogus (see qm7410-cli --help)\n");
  EXPECT_EQ(cli.device.OpenCount(), 0);
}

TEST(Arguments, APortNumberCountsLikeTheWindowsAPathIsKept) {
  setenv("QM7410_COM7", "/tmp/meter-on-seven", 1);
  EXPECT_EQ(qm::cli::DevicePath("7"), "/tmp/meter-on-seven");
  unsetenv("QM7410_COM7");
  EXPECT_EQ(qm::cli::DevicePath("7"), "/dev/ttyS6");
  EXPECT_EQ(qm::cli::DevicePath("/dev/ttyUSB0"), "/dev/ttyUSB0");
}

// --- read ------------------------------------------------------------------------------------

// A meter with PT 100, CT 50 and powers counted in 0.4 W (settings byte 11 is 1), and these words:
// Ua 22000, Ia 50000, Pa -15000, PFa -5000, F 46811, import active energy 70196 (0x00011234, low
// word first), the same on export, export reactive energy 2.
qm::sim::MeterConfig KnownConfig() {
  qm::sim::MeterConfig config;
  config.pt = 100;
  config.ct = 50;
  config.wiring = 3;
  config.accuracy = 1;
  return config;
}

struct KnownMeter : Cli {
  KnownMeter() : Cli(KnownConfig()) {
    meter.SetMeasurementWord(0, 22000);
    meter.SetMeasurementWord(2, 50000);
    meter.SetMeasurementWord(4, static_cast<uint16_t>(-15000));
    meter.SetMeasurementWord(5, static_cast<uint16_t>(-5000));
    meter.SetMeasurementWord(27, 46811);
    for (int w : {33, 35}) {
      meter.SetMeasurementWord(w, 0x1234);
      meter.SetMeasurementWord(w + 1, 0x0001);
    }
    meter.SetMeasurementWord(39, 2);
    meter.SetMeasurementWord(40, 0);
  }
};

TEST(Read, JsonCarriesTheWindowsTextsAndSiNumbers) {
  KnownMeter cli;
  ASSERT_EQ(cli.Run({"read", "--format", "json"}), qm::cli::kExitOk) << cli.err;
  // Identification, settings and measurements, in that order.
  EXPECT_EQ(cli.Sent(), (Lines{"01 03 03E0 0002", "01 03 0300 001A", "01 03 0000 0029"}));

  QJsonParseError error;
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(cli.out), &error);
  ASSERT_EQ(error.error, QJsonParseError::NoError) << cli.out;
  const QJsonObject meter = doc["meters"][0].toObject();
  EXPECT_EQ(meter["address"].toInt(), 1);
  EXPECT_EQ(meter["identification"]["title"].toString().toStdString(),
            "VM7410智能电力监测仪------Velmora(1.2.03版)");
  EXPECT_EQ(meter["settings"]["pt"].toInt(), 100);
  EXPECT_EQ(meter["settings"]["wiring"]["text"].toString().toStdString(), "3相3线(平衡)");
  EXPECT_EQ(meter["settings"]["accuracy"]["text"].toString().toStdString(), "0.2级");
  EXPECT_EQ(meter["settings"]["direction"]["text"].toString(), "normal");

  const QJsonArray values = meter["values"].toArray();
  ASSERT_EQ(values.size(), 33);
  std::map<std::string, QJsonObject> byName;
  for (const auto& v : values) byName[v.toObject()["name"].toString().toStdString()] = v.toObject();
  const struct {
    const char* name;
    const char* text;
    double value;
    const char* unit;
  } expected[] = {
      {"Ua", "22.00 KV", 22000, "V"},              // 220 V on the secondary, PT 100
      {"Ia", "250.000 A", 250, "A"},               // 5 A, CT 50
      {"Pa", "-30.000 MW", -30000000, "W"},        // -15000 x 0.4 W x 100 x 50
      {"PFa", "-0.5000", -0.5, ""},                //
      {"F", "50.000 Hz", 50.00023343, "Hz"},       // 46811 x 0.00106813
      {"EPimp", "350.980 MWh", 350980000, "Wh"},   // 70196 Wh x 100 x 50
      {"EPexp", "-350.980 MWh", 350980000, "Wh"},  // the minus is the window's way to show export
      {"EQexp", "-10.000 KVarh", 10000, "varh"},
  };
  for (const auto& e : expected) {
    const QJsonObject v = byName[e.name];
    EXPECT_EQ(v["text"].toString().toStdString(), e.text) << e.name;
    EXPECT_DOUBLE_EQ(v["value"].toDouble(), e.value) << e.name;
    EXPECT_EQ(v["unit"].toString().toStdString(), e.unit) << e.name;
  }
  EXPECT_EQ(byName.size(), 33u);  // every name once
}

TEST(Read, CsvHasOneHeaderAndANumberInEveryValueField) {
  KnownMeter cli;
  ASSERT_EQ(cli.Run({"read", "-f", "csv"}), qm::cli::kExitOk);
  const Lines lines = SplitLines(cli.out);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "address,name,text,value,unit");
  EXPECT_EQ(std::count(lines.begin(), lines.end(), lines[0]), 1);
  for (size_t i = 1; i < lines.size(); ++i) {
    const Lines f = SplitCsv(lines[i]);
    ASSERT_EQ(f.size(), 5u) << lines[i];
    EXPECT_EQ(f[0], "1");
    EXPECT_TRUE(IsNumber(f[3])) << lines[i];
  }
  EXPECT_NE(std::find(lines.begin(), lines.end(), "1,Ua,22.00 KV,22000,V"), lines.end()) << cli.out;
  EXPECT_NE(std::find(lines.begin(), lines.end(), "1,wiring,3相3线(平衡),3,"), lines.end()) << cli.out;
  EXPECT_EQ(lines.size(), 1u + 7u + 33u);  // model, version, PT, CT, wiring, accuracy, direction
}

TEST(Read, TableShowsTheTitleAndEachValueOnItsLine) {
  KnownMeter cli;
  ASSERT_EQ(cli.Run({"read"}), qm::cli::kExitOk);
  EXPECT_NE(cli.out.find("VM7410智能电力监测仪------Velmora(1.2.03版)"), std::string::npos);
  EXPECT_NE(cli.out.find("  EPexp  -350.980 MWh        350980000             Wh\n"), std::string::npos)
      << cli.out;
}

TEST(Read, AMeterThatDoesNotAnswerIsNamedAndTheStatusSaysNoReply) {
  Cli cli;
  EXPECT_EQ(cli.Run({"-a", "9", "--retries", "1", "read"}), qm::cli::kExitNoReply);
  EXPECT_EQ(cli.err, "qm7410-cli: meter 9 on /dev/meter: identification: no reply in 2 attempts\n");
  EXPECT_EQ(cli.Sent().size(), 2u);
}

// --- set -------------------------------------------------------------------------------------

TEST(Set, EachWriteIsReadBackBeforeTheNext) {
  Cli cli;
  ASSERT_EQ(cli.Run({"set", "direction=reversed", "pt=100", "ct=50", "wiring=3相3线(平衡)", "accuracy=0.2"}),
            qm::cli::kExitOk)
      << cli.err;
  const std::string settingsRead = "01 03 0300 001A";
  EXPECT_EQ(cli.Sent(),
            (Lines{"01 06 030E 0064", settingsRead, "01 06 0312 0032", settingsRead, "01 06 0002 0003",
                   settingsRead, "01 06 0022 0001", settingsRead, "01 06 0026 0001", settingsRead}));
  EXPECT_EQ(cli.meter.Word(0x030E), 100);
  EXPECT_EQ(cli.meter.Byte(0x0303), 3);
  EXPECT_EQ(SplitLines(cli.out),
            (Lines{"meter 1: pt = 100, read back", "meter 1: ct = 50, read back",
                   "meter 1: wiring = 3 3相3线(平衡), read back", "meter 1: accuracy = 0.2级, read back",
                   "meter 1: direction = reversed, read back"}));
}

TEST(Set, AddressAndBaudAreReadBackWhereTheMeterNowAnswers) {
  Cli cli;
  ASSERT_EQ(cli.Run({"set", "baud=19200", "address=7"}), qm::cli::kExitOk) << cli.err;
  EXPECT_EQ(cli.Sent(), (Lines{"01 06 0000 0007", "07 03 0300 001A", "07 06 0308 0004", "07 03 0300 001A"}));
  const auto& log = cli.device.Log();
  EXPECT_EQ(log[2].line.baud, 9600);   // the baud write goes out at the old rate
  EXPECT_EQ(log[3].line.baud, 19200);  // its read-back at the new one
  EXPECT_EQ(cli.meter.Address(), 7);
  EXPECT_EQ(cli.meter.Baud(), 19200);
}

TEST(Set, RefusedValuesAreExplainedAndNothingIsSent) {
  const struct {
    Lines args;
    const char* says;
  } cases[] = {
      {{"set", "pt=0"}, "the PT ratio must be 1..64000"},
      {{"set", "ct=64001"}, "the CT ratio must be 1..64000"},
      {{"set", "pt=1e3"}, "the PT ratio"},
      {{"set", "wiring=6"}, "the wiring mode must be 0..5"},
      {{"set", "accuracy=0.3"}, "0.5级 or 0.2级"},
      {{"set", "direction=up"}, "normal or reversed"},
      {{"set", "address=256"}, "0..255"},
      {{"set", "baud=9601"}, "1200, 2400, 4800, 9600 or 19200"},
      {{"set", "pt=5", "pt=6"}, "twice"},
      {{"set", "colour=red"}, "not NAME=VALUE"},
      {{"-a", "1,2", "set", "address=3"}, "several meters"},
      {{"set", "pt=100", "ct=0"}, "refused ct=0"},  // a good value before a bad one is not sent either
  };
  for (const auto& c : cases) {
    Cli cli;
    EXPECT_EQ(cli.Run(c.args), qm::cli::kExitRefused) << c.says;
    EXPECT_NE(cli.err.find(c.says), std::string::npos) << cli.err;
    EXPECT_NE(cli.err.find("nothing was sent"), std::string::npos) << cli.err;
    EXPECT_EQ(cli.device.OpenCount(), 0) << c.says;
  }
}

TEST(Set, AValueTheMeterRefusesOrDoesNotKeepIsReported) {
  Cli refusing;
  refusing.meter.InjectFault(Fault::Exception);
  EXPECT_EQ(refusing.Run({"set", "pt=100", "ct=50"}), qm::cli::kExitRefused);
  EXPECT_EQ(refusing.err, "qm7410-cli: meter 1: pt=100 refused by the meter: exception 4 (device failure)\n");
  EXPECT_EQ(refusing.Sent().size(), 1u);  // the CT ratio is not tried after that

  // Confirms the write, then the meter's own memory still holds the old ratio.
  Cli forgetting;
  qm::sim::SimMeter& meter = forgetting.meter;
  struct Forget : qm::link::SerialDevice {
    qm::sim::SimSerialDevice& inner;
    qm::sim::SimMeter& meter;
    Forget(qm::sim::SimSerialDevice& d, qm::sim::SimMeter& m) : inner(d), meter(m) {}
    void Open(const std::string& p, const qm::link::LineSettings& s) override { inner.Open(p, s); }
    void Close() override { inner.Close(); }
    bool IsOpen() const override { return inner.IsOpen(); }
    void Apply(const qm::link::LineSettings& s) override { inner.Apply(s); }
    void Write(const std::vector<uint8_t>& b) override {
      if (b[1] == 0x03) meter.SetWord(0x030E, 1);  // the PT write did not stick
      inner.Write(b);
    }
    int BytesWaiting() override { return inner.BytesWaiting(); }
    std::vector<uint8_t> ReadAll() override { return inner.ReadAll(); }
    void DiscardInput() override { inner.DiscardInput(); }
  } forget(forgetting.device, meter);
  char* text = nullptr;
  size_t size = 0;
  FILE* err = open_memstream(&text, &size);
  qm::cli::Environment env{forget, forgetting.wait, forgetting.logClock, stdout, err, forgetting.stop};
  EXPECT_EQ(qm::cli::Run(Lines{"-p", "/dev/meter", "set", "pt=100"}, env), qm::cli::kExitRefused);
  std::fclose(err);
  EXPECT_EQ(std::string(text, size), "qm7410-cli: meter 1: pt reads back as 1, not 100\n");
  std::free(text);
}

// --- energy-reset ----------------------------------------------------------------------------

TEST(EnergyReset, TheSwitchFramesTheClearingAndEachWriteIsConfirmed) {
  KnownMeter cli;
  ASSERT_EQ(cli.Run({"energy-reset"}), qm::cli::kExitOk) << cli.err;
  EXPECT_EQ(cli.Sent(), (Lines{"01 06 0004 0001", "01 06 001A 0000", "01 06 001C 0000", "01 06 0004 0000"}));
  EXPECT_EQ(cli.meter.Energy(0), 0u);
  EXPECT_EQ(cli.meter.Energy(1), 0u);
  EXPECT_EQ(cli.out, "meter 1: energy counters cleared\n");
}

TEST(EnergyReset, AMissingConfirmationStopsItAndLeavesTheSwitchOff) {
  KnownMeter cli;
  cli.meter.InjectFault(Fault::None);  // the switch is confirmed
  cli.meter.InjectFault(Fault::Silence, 3);
  EXPECT_EQ(cli.Run({"energy-reset"}), qm::cli::kExitNoReply);
  EXPECT_EQ(cli.Sent(), (Lines{"01 06 0004 0001", "01 06 001A 0000", "01 06 001A 0000", "01 06 001A 0000",
                               "01 06 0004 0000"}));
  EXPECT_EQ(cli.meter.Word(0x0304), 0);
  EXPECT_NE(cli.err.find("write 2 of 4 not confirmed: no reply in 3 attempts"), std::string::npos) << cli.err;
}

// --- log -------------------------------------------------------------------------------------

TEST(Log, AFailedReadMakesNoRowAndIsCounted) {
  KnownMeter cli;
  // The second interval's settings read gets no answer in any of its three attempts.
  cli.logClock.onSleep = [&](int n) {
    if (n == 1) cli.meter.InjectFault(Fault::Silence, 3);
  };
  EXPECT_EQ(cli.Run({"log", "--interval", "10", "--count", "3"}), qm::cli::kExitNoReply);
  const Lines rows = SplitLines(cli.out);
  ASSERT_EQ(rows.size(), 3u) << cli.out;
  EXPECT_EQ(rows[0].substr(0, 37), "time,address,Ua_V,Uca_V,Ia_A,Pa_W,PFa");
  EXPECT_EQ(rows[1].substr(0, 20), "2024-05-01T12:00:00.");
  EXPECT_EQ(rows[2].substr(0, 20), "2024-05-01T12:00:20.");  // on the 10 s grid
  const Lines first = SplitCsv(rows[1]);
  EXPECT_EQ(first.size(), 2u + 33u);
  EXPECT_EQ(first[1], "1");
  EXPECT_EQ(first[2], "22000");
  EXPECT_EQ(first[4], "250");
  const Lines err = SplitLines(cli.err);
  ASSERT_EQ(err.size(), 2u) << cli.err;
  EXPECT_EQ(err[0].substr(0, 32), "qm7410-cli: 2024-05-01T12:00:10.") << err[0];
  EXPECT_NE(err[0].find("meter 1: settings block: no reply in 3 attempts"), std::string::npos) << err[0];
  EXPECT_EQ(err[1], "qm7410-cli: log ended: 2 rows, 1 failed read");
}

TEST(Log, JsonLinesNameEveryFieldWithItsUnit) {
  KnownMeter cli;
  ASSERT_EQ(cli.Run({"log", "-i", "1", "-n", "2", "-f", "jsonl"}), qm::cli::kExitOk);
  const Lines rows = SplitLines(cli.out);
  ASSERT_EQ(rows.size(), 2u);
  for (const std::string& row : rows) {
    const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(row)).object();
    EXPECT_EQ(o.size(), 2 + 33) << row;
    EXPECT_DOUBLE_EQ(o["Pa_W"].toDouble(), -30000000);
    EXPECT_DOUBLE_EQ(o["PFa"].toDouble(), -0.5);
    EXPECT_DOUBLE_EQ(o["EQexp_varh"].toDouble(), 10000);
    EXPECT_TRUE(o["time"].toString().endsWith("Z"));
  }
}

TEST(Log, StopEndsAfterTheCurrentRowWithASummary) {
  Cli cli;
  cli.logClock.onSleep = [&](int n) {
    if (n == 2) cli.stop = true;
  };
  EXPECT_EQ(cli.Run({"log", "-i", "5"}), qm::cli::kExitOk);
  EXPECT_EQ(SplitLines(cli.out).size(), 1u + 2u);
  EXPECT_EQ(cli.err, "qm7410-cli: log ended: 2 rows, 0 failed reads\n");
}

TEST(Log, AppendingKeepsTheHeaderAndRefusesAForeignFile) {
  const std::string path =
      (std::filesystem::temp_directory_path() / ("cli-log-" + std::to_string(getpid()))).string();
  std::filesystem::remove(path);
  for (int run = 0; run < 2; ++run) {
    Cli cli;
    ASSERT_EQ(cli.Run({"log", "-i", "1", "-n", "1", "-o", path}), qm::cli::kExitOk) << cli.err;
    EXPECT_EQ(cli.out, "");
  }
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  const Lines lines = SplitLines(text.str());
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].substr(0, 12), "time,address");
  EXPECT_EQ(lines[2].substr(0, 4), "2024");

  Cli jsonl;  // JSON lines do not go into a CSV log
  EXPECT_EQ(jsonl.Run({"log", "-i", "1", "-f", "jsonl", "-o", path}), qm::cli::kExitFailure);
  EXPECT_NE(jsonl.err.find("not appending"), std::string::npos);
  EXPECT_EQ(jsonl.device.OpenCount(), 0);

  // A log cut off inside a row goes on from a new line.
  std::ofstream(path, std::ios::app) << "2024-05-01T12:00:01.000Z,1,22";
  Cli again;
  ASSERT_EQ(again.Run({"log", "-i", "1", "-n", "1", "-o", path}), qm::cli::kExitOk);
  std::ifstream in2(path);
  std::stringstream text2;
  text2 << in2.rdbuf();
  const Lines after = SplitLines(text2.str());
  ASSERT_EQ(after.size(), 5u);
  EXPECT_EQ(after[3], "2024-05-01T12:00:01.000Z,1,22");
  EXPECT_EQ(SplitCsv(after[4]).size(), 35u);
  std::filesystem::remove(path);
}

// --- scan, port -------------------------------------------------------------------------------

TEST(Scan, ProbesEachAddressOnceAndListsTheOneThatAnswers) {
  qm::sim::MeterConfig config;
  config.address = 3;
  Cli cli(config);
  EXPECT_EQ(cli.Run({"scan", "--from", "1", "--to", "5", "-f", "csv"}), qm::cli::kExitOk);
  EXPECT_EQ(cli.out, "address\n3\n");
  EXPECT_EQ(cli.Sent(), (Lines{"01 03 0300 0001", "02 03 0300 0001", "03 03 0300 0001", "04 03 0300 0001",
                               "05 03 0300 0001"}));
  Cli none(config);
  EXPECT_EQ(none.Run({"scan", "--from", "4", "--to", "5"}), qm::cli::kExitNoReply);
  EXPECT_EQ(none.err, "qm7410-cli: no meter answered at addresses 4..5 on /dev/meter at 9600,N\n");
}

TEST(Port, APortThatCannotBeOpenedOrGoesAwayIsNamed) {
  Cli cli;
  cli.device.FailOpen("/dev/meter", "busy");
  EXPECT_EQ(cli.Run({"read"}), qm::cli::kExitPort);
  EXPECT_NE(cli.err.find("/dev/meter"), std::string::npos);
  EXPECT_NE(cli.err.find("busy"), std::string::npos);

  Cli unplugged;
  unplugged.logClock.onSleep = [&](int) { unplugged.device.Unplug(); };
  EXPECT_EQ(unplugged.Run({"log", "-i", "1"}), qm::cli::kExitPort);
  EXPECT_NE(unplugged.err.find("log ended: 1 row, 0 failed reads"), std::string::npos) << unplugged.err;
}

TEST(Raw, ReadsTheRegistersAsTheyAre) {
  Cli cli;
  ASSERT_EQ(cli.Run({"raw", "0x0300", "2", "-f", "csv"}), qm::cli::kExitOk) << cli.err;
  EXPECT_EQ(cli.Sent(), Lines{"01 03 0300 0002"});
  EXPECT_EQ(cli.out, "address,index,value\n1,0,1\n1,1,0\n");  // the address word, the wiring word
  for (const Lines& bad : {Lines{"raw", "0", "126"}, Lines{"raw", "0", "0"}, Lines{"raw", "0x10000", "1"},
                           Lines{"raw", "-1", "1"}, Lines{"raw", "12z", "1"}}) {
    Cli c;
    EXPECT_EQ(c.Run(bad), qm::cli::kExitUsage) << bad[1] << " " << bad[2];
    EXPECT_EQ(c.device.OpenCount(), 0);
  }
}

// --- formatting ------------------------------------------------------------------------------

TEST(Formatting, NumbersAreShortAndPlain) {
  EXPECT_EQ(qm::cli::PlainNumber(220.0), "220");
  EXPECT_EQ(qm::cli::PlainNumber(22001 / 100.0), "220.01");
  EXPECT_EQ(qm::cli::PlainNumber(-0.5), "-0.5");
  EXPECT_EQ(qm::cli::PlainNumber(1e7), "10000000");
  EXPECT_EQ(qm::cli::PlainNumber(-0.0), "0");
  EXPECT_EQ(qm::cli::Rfc3339(std::chrono::system_clock::time_point(std::chrono::milliseconds(1500))),
            "1970-01-01T00:00:01.500Z");
  EXPECT_EQ(qm::cli::Rfc3339(std::chrono::system_clock::time_point(std::chrono::milliseconds(1709251199999))),
            "2024-02-29T23:59:59.999Z");
  EXPECT_EQ(qm::cli::CsvField("a,\"b\""), "\"a,\"\"b\"\"\"");
  EXPECT_EQ(qm::cli::JsonString("a\"\\\n\x01"), "\"a\\\"\\\\\\n\\u0001\"");
}

}  // namespace
