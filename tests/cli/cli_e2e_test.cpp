// The qm7410-cli program against the qm7410-sim program on a pseudo-terminal: real serial port, real
// time, real processes.
#include <gtest/gtest.h>
#include <signal.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <functional>

#include "tests/support/sim_process.h"

namespace {

// Limits are generous: the machines share two cores with other builds.
constexpr int kLimitMs = 60000;

struct Result {
  int code = -1;
  std::string out, err;
};

// Runs the program to its end; `meanwhile` acts while it runs.
Result Cli(const QStringList& args, const std::function<void(QProcess&)>& meanwhile = {}) {
  QProcess p;
  p.start(QM_CLI_EXE, args);
  p.closeWriteChannel();
  if (meanwhile) meanwhile(p);
  if (!p.waitForFinished(kLimitMs)) p.kill();
  p.waitForFinished(kLimitMs);
  return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput().toStdString(),
          p.readAllStandardError().toStdString()};
}

QStringList Lines(const std::string& text) {
  return QString::fromStdString(text).split('\n', Qt::SkipEmptyParts);
}

QStringList FileLines(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? Lines(f.readAll().toStdString()) : QStringList();
}

TEST(CliProgram, ReadShowsTheWindowsTextsInEachFormat) {
  qmtest::SimProcess sim({"--pt", "100", "--pace"});
  ASSERT_TRUE(sim.Ready());
  for (const char* c : {"freeze", "measure 0 22000", "measure 2 50000"})
    ASSERT_TRUE(sim.Command(c).startsWith("ok")) << c;
  const QStringList port{"--port", sim.Link()};

  Result r = Cli(port + QStringList{"read", "--format", "json"});
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(r.out));
  ASSERT_TRUE(doc.isObject()) << r.out << r.err;
  const QJsonObject ua = doc["meters"][0]["values"][0].toObject();
  EXPECT_EQ((ua["name"].toString() + " " + ua["text"].toString()).toStdString(),
            "Ua 22.00 KV");  // 220 V x PT 100
  EXPECT_EQ(ua["value"].toDouble(), 22000);

  r = Cli(port + QStringList{"read", "-f", "csv"});
  const QStringList csv = Lines(r.out);
  ASSERT_EQ(csv.size(), 1 + 7 + 33) << r.out << r.err;  // a header, the settings, the values
  EXPECT_EQ(csv.count("address,name,text,value,unit"), 1);
  EXPECT_TRUE(csv.contains("1,Ia,5.000 A,5,A")) << r.out;
  for (const QString& row : csv.mid(1)) {
    const QStringList f = row.split(',');
    bool number = false;
    f.value(3).toDouble(&number);
    EXPECT_TRUE(f.size() == 5 && f[0] == "1" && number) << row.toStdString();
  }

  r = Cli(port + QStringList{"read"});
  EXPECT_NE(r.out.find("VM7410智能电力监测仪------Velmora(1.2.03版)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  Ia     5.000 A             5 "), std::string::npos) << r.out;
}

TEST(CliProgram, TwoMetersOnOneLineAreReadFoundAndLogged) {
  qmtest::SimProcess sim({"--address", "1,2"});
  ASSERT_TRUE(sim.Ready());
  const QStringList port{"--port", sim.Link()};
  Result r = Cli(port + QStringList{"--address", "1,2", "identify", "-f", "csv"});
  const QStringList meters = Lines(r.out);
  ASSERT_EQ(meters.size(), 3) << r.out << r.err;
  for (int a : {1, 2}) EXPECT_TRUE(meters[a].startsWith(QString("%1,7410,1203,").arg(a))) << r.out;

  r = Cli(port + QStringList{"scan", "--from", "0", "--to", "4", "--format", "csv"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "address\n1\n2\n");

  // A log of both: a failed read is counted and makes no row; Ctrl-C ends it after the row.
  ASSERT_TRUE(sim.Command("@2 fault silence:3").startsWith("ok"));  // meter 2's first read, all attempts
  QTemporaryDir dir;
  const QString file = dir.filePath("log.jsonl");
  r = Cli({"--port", sim.Link(), "-a", "1,2", "log", "-i", "0.2", "-f", "jsonl", "-o", file},
          [&](QProcess& p) {
            for (QDeadlineTimer limit(kLimitMs); FileLines(file).size() < 4 && !limit.hasExpired();)
              p.waitForFinished(50);
            ::kill(static_cast<pid_t>(p.processId()), SIGINT);
          });
  const QStringList rows = FileLines(file);
  ASSERT_GE(rows.size(), 4) << r.err;
  EXPECT_EQ(r.code, 4);
  const QStringList err = Lines(r.err);
  ASSERT_EQ(err.size(), 2) << r.err;
  EXPECT_TRUE(err[0].endsWith("meter 2: settings block: no reply in 3 attempts")) << r.err;
  EXPECT_EQ(err[1].toStdString(),
            "qm7410-cli: log ended: " + std::to_string(rows.size()) + " rows, 1 failed read");
  for (int i = 0; i < rows.size(); ++i) {  // every row complete; meter 1 alone in the first interval
    const QJsonObject o = QJsonDocument::fromJson(rows[i].toUtf8()).object();
    EXPECT_TRUE(o.size() == 35 && o["Ua_V"].isDouble() && o["time"].toString().endsWith("Z"))
        << rows[i].toStdString();
    EXPECT_EQ(o["address"].toInt(), i == 0 || i % 2 == 1 ? 1 : 2) << i;
  }
}

TEST(CliProgram, ExitStatusSaysWhatWentWrongAndRefusedValuesSendNothing) {
  qmtest::SimProcess sim({});
  ASSERT_TRUE(sim.Ready());
  const std::string missing = QDir::temp().filePath("no-such-port-for-qm7410-cli").toStdString();
  EXPECT_EQ(Cli({"read", "--no-such-option"}).code, 2);
  const Result absent = Cli({"--port", QString::fromStdString(missing), "read"});
  EXPECT_EQ(absent.code, 3);
  EXPECT_EQ(
      absent.err,
      "qm7410-cli: cannot open serial port " + missing +
          ": no such device (No such file or directory). Check the port number and that the USB adapter is "
          "plugged in.\n");
  const Result silent = Cli({"--port", sim.Link(), "-a", "7", "-t", "100", "-r", "0", "read"});
  EXPECT_EQ(silent.code, 4);
  EXPECT_EQ(silent.err,
            "qm7410-cli: meter 7 on " + sim.Link().toStdString() + ": identification: no reply\n");

  const Result refused = Cli({"--port", sim.Link(), "set", "pt=300", "ct=0"});
  EXPECT_EQ(refused.code, 5) << refused.err;
  EXPECT_EQ(sim.Word(0x030E), 1);  // the PT ratio as the meter started
  // A new address and baud rate, each read back: the meter is then found only there.
  const QStringList port{"--port", sim.Link()};
  ASSERT_EQ(Cli(port + QStringList{"set", "address=9", "baud=19200"}).code, 0);
  EXPECT_EQ(Cli(port + QStringList{"-a", "9", "-b", "19200", "identify"}).code, 0);
  EXPECT_EQ(Cli(port + QStringList{"-a", "1", "-b", "19200", "-t", "100", "identify"}).code, 4);

  const Result help = Cli({"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_EQ(help.out.rfind("Usage: qm7410-cli", 0), 0u);
  EXPECT_EQ(Cli({"--version"}).out.rfind("qm7410-cli ", 0), 0u);
}

// The doctor against the simulated meter's line conditions, each named from what the line delivered.
// The search is narrowed to address 1 and no parity (a pseudo-terminal carries no parity bit) to keep
// each run to seconds.
TEST(CliProgram, TheDoctorNamesWhatIsWrongOnTheLine) {
  const struct {
    QStringList sim;
    QStringList doctor;
    std::vector<std::string> said;
  } cases[] = {
      // Another master polls at 19200 baud: at 9600 its traffic arrives garbled.
      {{"--baud", "19200", "--other-master", "40"},
       {"-P", "N", "--quick"},
       {"9600 baud, no parity: bytes that never made a valid frame in ",
        "another baud rate or parity, or the line is noisy", "address 1 answers at 19200 baud, no parity",
        "another master polls this line"}},
      {{"--echo"}, {"-a", "1", "-b", "9600", "-P", "N"}, {"this adapter echoes what it sends; use --echo"}},
      {{"--junk-at-open", "5"},
       {"-a", "1", "-b", "9600", "-P", "N"},
       {"5 bytes arrived before anything was sent"}},
      {{"--min-gap", "150"},
       {"-a", "1", "-b", "9600", "-P", "N"},
       {"reads back to back came back; with a pause of ", " ms between requests all did"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sim.join(' ').toStdString());
    qmtest::SimProcess sim(QStringList{"--address", "1"} + c.sim);
    ASSERT_TRUE(sim.Ready());
    const Result r = Cli(QStringList{"--port", sim.Link(), "doctor"} + c.doctor);
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    for (const std::string& words : c.said)
      EXPECT_NE(r.out.find(words), std::string::npos) << words << "\n" << r.out;
    EXPECT_EQ(r.out.find("looks healthy"), std::string::npos) << r.out;
  }
}

}  // namespace
