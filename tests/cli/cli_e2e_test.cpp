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
#include <map>

#include "tests/support/sim_process.h"

namespace {

// Limits are generous: the machines share two cores with other builds.
constexpr int kLimitMs = 60000;

// The simulator with a command that must succeed.
void Must(qmtest::SimProcess& sim, const QString& command) {
  const QString answer = sim.Command(command);
  ASSERT_TRUE(answer.startsWith("ok")) << command.toStdString() << ": " << answer.toStdString();
}

struct Result {
  int code = -1;
  std::string out;
  std::string err;
};

QProcess* StartCli(const QStringList& args) {
  auto* p = new QProcess;
  p->start(QM_CLI_EXE, args);
  p->closeWriteChannel();
  return p;
}

Result Finish(QProcess* p) {
  Result r;
  if (!p->waitForFinished(kLimitMs)) p->kill();
  p->waitForFinished(kLimitMs);
  r.code = p->exitStatus() == QProcess::NormalExit ? p->exitCode() : -1;
  r.out = p->readAllStandardOutput().toStdString();
  r.err = p->readAllStandardError().toStdString();
  delete p;
  return r;
}

Result Cli(const QStringList& args) { return Finish(StartCli(args)); }

QStringList Lines(const std::string& text) {
  return QString::fromStdString(text).split('\n', Qt::SkipEmptyParts);
}

QStringList FileLines(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

TEST(CliProgram, ReadShowsTheWindowsTextsInEachFormat) {
  qmtest::SimProcess sim({"--pt", "100", "--pace"});
  ASSERT_TRUE(sim.Ready());
  for (const char* c : {"freeze", "measure 0 22000", "measure 2 50000", "measure 27 46811"}) Must(sim, c);
  const QStringList port{"--port", sim.Link()};

  Result r = Cli(port + QStringList{"read", "--format", "json"});
  ASSERT_EQ(r.code, 0) << r.err;
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(r.out));
  ASSERT_TRUE(doc.isObject()) << r.out;
  std::map<QString, QJsonObject> values;
  for (const auto& v : doc["meters"][0]["values"].toArray())
    values[v.toObject()["name"].toString()] = v.toObject();
  EXPECT_EQ(values["Ua"]["text"].toString().toStdString(), "22.00 KV");  // 220 V x PT 100
  EXPECT_EQ(values["Ua"]["value"].toDouble(), 22000);
  EXPECT_EQ(values["Ia"]["text"].toString().toStdString(), "5.000 A");
  EXPECT_EQ(values["F"]["text"].toString().toStdString(), "50.000 Hz");

  r = Cli(port + QStringList{"read", "-f", "csv"});
  ASSERT_EQ(r.code, 0) << r.err;
  const QStringList csv = Lines(r.out);
  EXPECT_EQ(csv.count("address,name,text,value,unit"), 1);
  EXPECT_TRUE(csv.contains("1,Ua,22.00 KV,22000,V")) << r.out;

  r = Cli(port + QStringList{"read"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("VM7410智能电力监测仪------Velmora(1.2.03版)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  Ia     5.000 A             5 "), std::string::npos) << r.out;
}

TEST(CliProgram, TwoMetersOnOneLineAreReadAndFound) {
  qmtest::SimProcess sim({"--address", "1,2"});
  ASSERT_TRUE(sim.Ready());
  const QStringList port{"--port", sim.Link()};
  Result r = Cli(port + QStringList{"--address", "1,2", "identify", "-f", "csv"});
  ASSERT_EQ(r.code, 0) << r.err;
  const QStringList rows = Lines(r.out);
  ASSERT_EQ(rows.size(), 3) << r.out;
  EXPECT_TRUE(rows[1].startsWith("1,7410,1203,"));
  EXPECT_TRUE(rows[2].startsWith("2,7410,1203,"));

  r = Cli(port + QStringList{"scan", "--from", "0", "--to", "4", "--format", "csv"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "address\n1\n2\n");
}

TEST(CliProgram, LogCountsFailedReadsAndWritesNoRowForThem) {
  qmtest::SimProcess sim({});
  ASSERT_TRUE(sim.Ready());
  Must(sim, "fault silence:3");  // the first read, in all three attempts
  QTemporaryDir dir;
  const QString file = dir.filePath("log.csv");
  const Result r = Cli(
      {"--port", sim.Link(), "log", "--interval", "0.2", "--count", "4", "--retries", "2", "--output", file});
  EXPECT_EQ(r.code, 4) << r.err;
  const QStringList err = Lines(r.err);
  ASSERT_EQ(err.size(), 2) << r.err;
  EXPECT_TRUE(err[0].endsWith("meter 1: settings block: no reply in 3 attempts")) << r.err;
  EXPECT_EQ(err[1], "qm7410-cli: log ended: 3 rows, 1 failed read");
  const QStringList rows = FileLines(file);
  ASSERT_EQ(rows.size(), 4);
  EXPECT_TRUE(rows[0].startsWith("time,address,Ua_V,"));
  for (int i = 1; i < rows.size(); ++i) EXPECT_EQ(rows[i].split(',').size(), 35) << rows[i].toStdString();
}

TEST(CliProgram, CtrlCEndsTheLogAfterTheCurrentRowWithASummary) {
  qmtest::SimProcess sim({"--address", "1,2"});
  ASSERT_TRUE(sim.Ready());
  QTemporaryDir dir;
  const QString file = dir.filePath("log.jsonl");
  QProcess* p = StartCli({"--port", sim.Link(), "-a", "1,2", "log", "-i", "0.2", "-f", "jsonl", "-o", file});
  QDeadlineTimer deadline(kLimitMs);
  while (FileLines(file).size() < 3 && !deadline.hasExpired()) p->waitForFinished(50);
  ASSERT_GE(FileLines(file).size(), 3) << "no rows in time";
  ::kill(static_cast<pid_t>(p->processId()), SIGINT);
  const Result r = Finish(p);
  EXPECT_EQ(r.code, 0) << r.err;
  const QStringList rows = FileLines(file);
  EXPECT_NE(r.err.find("log ended: " + std::to_string(rows.size()) + " rows, 0 failed reads"),
            std::string::npos)
      << r.err;
  for (const QString& row : rows) {  // every row complete, both meters taking turns
    const QJsonObject o = QJsonDocument::fromJson(row.toUtf8()).object();
    EXPECT_EQ(o.size(), 35) << row.toStdString();
  }
  EXPECT_EQ(QJsonDocument::fromJson(rows[0].toUtf8())["address"].toInt(), 1);
  EXPECT_EQ(QJsonDocument::fromJson(rows[1].toUtf8())["address"].toInt(), 2);
}

TEST(CliProgram, SetReadsBackEveryValueAndRefusedValuesSendNothing) {
  qmtest::SimProcess sim({});
  ASSERT_TRUE(sim.Ready());
  const QStringList port{"--port", sim.Link()};
  Result r =
      Cli(port + QStringList{"set", "pt=250", "ct=40", "wiring=5", "accuracy=0.2", "direction=reversed"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Lines(r.out).size(), 5);
  // The settings block's words: PT at data bytes 14-15, CT at 18-19, wiring, accuracy and power
  // direction in the low bytes of the words at 2, 34 and 38.
  EXPECT_EQ(sim.Word(0x030E), 250);
  EXPECT_EQ(sim.Word(0x0312), 40);
  EXPECT_EQ(sim.Word(0x0302), 5);
  EXPECT_EQ(sim.Word(0x0322), 1);
  EXPECT_EQ(sim.Word(0x0326), 1);

  r = Cli(port + QStringList{"set", "pt=300", "ct=0"});
  EXPECT_EQ(r.code, 5);
  EXPECT_NE(r.err.find("refused ct=0"), std::string::npos) << r.err;
  EXPECT_EQ(sim.Word(0x030E), 250);

  // A new address and baud rate: the meter is then found only there.
  r = Cli(port + QStringList{"set", "address=9", "baud=19200"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Cli(port + QStringList{"-a", "9", "-b", "19200", "identify"}).code, 0);
  EXPECT_EQ(Cli(port + QStringList{"-a", "1", "-b", "19200", "-t", "100", "identify"}).code, 4);
}

TEST(CliProgram, ExitStatusSaysWhatWentWrong) {
  qmtest::SimProcess sim({});
  ASSERT_TRUE(sim.Ready());
  const QString missing = QDir::temp().filePath("no-such-port-for-qm7410-cli");
  EXPECT_EQ(Cli({"read", "--no-such-option"}).code, 2);
  const Result port = Cli({"--port", missing, "read"});
  EXPECT_EQ(port.code, 3);
  EXPECT_NE(port.err.find(missing.toStdString()), std::string::npos) << port.err;
  EXPECT_EQ(Lines(port.err).size(), 1);
  EXPECT_EQ(Cli({"--port", sim.Link(), "-a", "7", "-t", "100", "-r", "0", "read"}).code, 4);
  EXPECT_EQ(Cli({"--port", missing, "set", "pt=0"}).code, 5);  // refused before the port is touched

  const Result help = Cli({"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_EQ(help.out.rfind("Usage: qm7410-cli", 0), 0u);
  EXPECT_EQ(Cli({"--version"}).out.rfind("qm7410-cli ", 0), 0u);
}

}  // namespace
