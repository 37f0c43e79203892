// qm7410d as it runs: against qm7410-sim meters on pseudo-terminals, a real mosquitto broker and a
// real Prometheus server, each started here on a free loopback port and stopped at the end.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDateTime>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <functional>

#include "tests/support/ask.h"
#include "tests/support/sim_process.h"

namespace {

// Limits are generous: the machines share two cores with other builds.
constexpr int kLimitMs = 60000;

// Polls `done` until it holds or the limit passes.
bool WaitFor(const std::function<bool()>& done, int limitMs = kLimitMs) {
  const QDeadlineTimer deadline(limitMs);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QThread::msleep(50);
  }
  return true;
}

uint16_t FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}

// GET over a fresh connection; the body, or empty when nothing answered with 200.
std::string Get(uint16_t port, const std::string& target) {
  const std::string out = qmtest::Ask(port, "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
  const size_t body = out.find("\r\n\r\n");
  return out.rfind("HTTP/1.1 200", 0) == 0 || out.rfind("HTTP/1.0 200", 0) == 0 ? out.substr(body + 4) : "";
}

// A sample's value on a metrics page ("qm7410_meter_up{meter=\"m1\"" ...), or -1 when absent.
double Sample(const std::string& page, const std::string& prefix) {
  const size_t at = page.find("\n" + prefix);
  if (at == std::string::npos) return -1;
  const size_t end = page.find('\n', at + 1);
  const size_t close = page.rfind('}', end);
  const size_t space = page.find(' ', close != std::string::npos && close > at ? close : at + 1);
  return std::stod(page.substr(space + 1, page.find('\n', space) - space - 1));
}

// A mosquitto broker of our own, on a free loopback port.
class Broker {
 public:
  Broker() : port_(FreePort()) {
    QFile conf(dir_.filePath("mosquitto.conf"));
    conf.open(QIODevice::WriteOnly);
    QTextStream(&conf) << "listener " << port_ << " 127.0.0.1\nallow_anonymous true\n";
  }
  ~Broker() { Stop(); }
  bool Start() {
    proc_.setProcessChannelMode(QProcess::MergedChannels);
    proc_.setStandardOutputFile(dir_.filePath("mosquitto.log"), QIODevice::Append);
    proc_.start("mosquitto", {"-c", dir_.filePath("mosquitto.conf")});
    if (!proc_.waitForStarted(kLimitMs)) return false;
    return WaitFor([this] {
      const int fd = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(port_);
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      const bool up = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
      close(fd);
      return up;
    });
  }
  void Stop() {
    if (proc_.state() == QProcess::NotRunning) return;
    proc_.terminate();
    if (!proc_.waitForFinished(kLimitMs)) proc_.kill();
    proc_.waitForFinished(kLimitMs);
  }
  QString Url() const { return QString("mqtt://127.0.0.1:%1").arg(port_); }
  uint16_t Port() const { return port_; }

 private:
  QTemporaryDir dir_;
  uint16_t port_;
  QProcess proc_;
};

// mosquitto_sub (QoS 1) collecting "topic payload" lines; it reconnects and subscribes again when the
// broker comes back, and says so in its debug lines ("Client ... received SUBACK").
class Subscriber {
 public:
  Subscriber(const Broker& broker, const QString& topic) {
    static int n = 0;
    // Line-buffered: its debug lines are not flushed otherwise.
    proc_.start("stdbuf",
                {"-oL", "mosquitto_sub", "-h", "127.0.0.1", "-p", QString::number(broker.Port()), "-t", topic,
                 "-v", "-q", "1", "-d", "-i", QString("qm-test-%1-%2").arg(getpid()).arg(++n)});
    proc_.waitForStarted(kLimitMs);
  }
  ~Subscriber() {
    proc_.kill();
    proc_.waitForFinished(kLimitMs);
  }
  const QStringList& Lines() {
    while (proc_.waitForReadyRead(0) || proc_.canReadLine())
      while (proc_.canReadLine()) lines_ << QString::fromUtf8(proc_.readLine()).trimmed();
    return lines_;
  }
  bool Has(const QString& line) { return Lines().contains(line); }
  // The first line starting with `prefix`.
  QString Find(const QString& prefix) {
    for (const QString& l : Lines())
      if (l.startsWith(prefix)) return l;
    return {};
  }

 private:
  QProcess proc_;
  QStringList lines_;
};

class Service {
 public:
  explicit Service(const QStringList& args) {
    proc_.setStandardErrorFile(dir_.filePath("stderr"));
    proc_.start(QM_SERVICE_EXE, args);
    proc_.waitForStarted(kLimitMs);
  }
  ~Service() {
    proc_.terminate();
    if (!proc_.waitForFinished(kLimitMs)) proc_.kill();
    proc_.waitForFinished(kLimitMs);
  }
  void Kill() {
    proc_.kill();
    proc_.waitForFinished(kLimitMs);
  }
  bool Running() const { return proc_.state() == QProcess::Running; }
  qint64 Pid() const { return proc_.processId(); }
  QString Log() const {
    QFile f(dir_.filePath("stderr"));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
  }

 private:
  QTemporaryDir dir_;
  QProcess proc_;
};

TEST(ServiceProgram, PublishesValuesDiscoveryAndAvailabilityWithALastWill) {
  qmtest::SimProcess sim({"--address", "5"});
  ASSERT_TRUE(sim.Ready());
  for (const char* c : {"freeze", "measure 0 23050", "measure 29 50"})  // Ua 230.50 V, PF 0.0050
    ASSERT_TRUE(sim.Command(c).startsWith("ok")) << c;
  Broker broker;
  ASSERT_TRUE(broker.Start());
  Subscriber sub(broker, "#");
  Service service({"--port", sim.Link(), "--address", "5", "--interval", "0.5", "--mqtt", broker.Url()});

  // The whole reading comes last.
  EXPECT_TRUE(WaitFor([&] { return !sub.Find("qm7410/meter5/reading ").isEmpty(); }))
      << sub.Lines().join('\n').toStdString();
  EXPECT_TRUE(sub.Has("qm7410/meter5/Ua 230.5"));
  EXPECT_TRUE(sub.Has("qm7410/meter5/PF 0.005"));
  EXPECT_TRUE(sub.Has("qm7410/status online"));
  EXPECT_TRUE(sub.Has("qm7410/meter5/availability online"));
  const QString json = sub.Find("qm7410/meter5/reading ").mid(22);
  const QJsonObject reading = QJsonDocument::fromJson(json.toUtf8()).object();
  EXPECT_EQ(reading["meter"].toString(), "meter5");
  EXPECT_EQ(reading["address"].toInt(), 5);
  EXPECT_EQ(reading["Ua_V"].toDouble(), 230.5);
  EXPECT_EQ(reading.size(), 3 + 33);
  const QString discovery = sub.Find("homeassistant/sensor/qm7410_meter5/EPimp/config ");
  const QJsonObject config = QJsonDocument::fromJson(discovery.section(' ', 1).toUtf8()).object();
  EXPECT_EQ(config["state_topic"].toString(), "qm7410/meter5/EPimp");
  EXPECT_EQ(config["device_class"].toString(), "energy");
  EXPECT_EQ(config["state_class"].toString(), "total_increasing");
  EXPECT_EQ(config["unit_of_measurement"].toString(), "Wh");
  EXPECT_EQ(config["availability_mode"].toString(), "all");
  EXPECT_EQ(config["availability"].toArray().size(), 2);

  // Killed, it cannot say goodbye: the broker says it with the will.
  service.Kill();
  EXPECT_TRUE(WaitFor([&] { return sub.Has("qm7410/status offline"); }))
      << sub.Lines().join('\n').toStdString();
}

TEST(ServiceProgram, ReadingsTakenWhileTheBrokerIsAwayArriveWhenItIsBack) {
  qmtest::SimProcess sim({});
  ASSERT_TRUE(sim.Ready());
  Broker broker;
  ASSERT_TRUE(broker.Start());
  Subscriber sub(broker, "qm7410/+/reading");
  const uint16_t http = FreePort();
  Service service({"--port", sim.Link(), "--interval", "0.5", "--mqtt", broker.Url(), "--listen",
                   QString("127.0.0.1:%1").arg(http)});
  const auto readings = [&] { return sub.Lines().filter("qm7410/meter1/reading ").size(); };
  ASSERT_TRUE(WaitFor([&] { return readings() >= 3; }));

  broker.Stop();
  // The readings of the gap wait in the queue.
  ASSERT_TRUE(WaitFor([&] { return Sample(Get(http, "/metrics"), "qm7410_mqtt_queued_readings") >= 6; }));
  EXPECT_EQ(Sample(Get(http, "/metrics"), "qm7410_mqtt_connected"), 0);
  // The service waits, stopped, until the test's subscriber is back: the broker keeps nothing for a
  // subscriber that is not connected.
  ASSERT_EQ(kill(static_cast<pid_t>(service.Pid()), SIGSTOP), 0);
  ASSERT_TRUE(broker.Start());
  EXPECT_TRUE(
      WaitFor([&] { return sub.Lines().filter(QRegularExpression("received SUBACK$")).size() >= 2; }));
  ASSERT_EQ(kill(static_cast<pid_t>(service.Pid()), SIGCONT), 0);
  ASSERT_TRUE(WaitFor([&] { return Sample(Get(http, "/metrics"), "qm7410_mqtt_queued_readings") == 0; }));
  const int total = static_cast<int>(Sample(Get(http, "/metrics"), "qm7410_meter_readings_total"));
  ASSERT_TRUE(WaitFor([&] { return readings() >= total; }));
  EXPECT_TRUE(service.Running());
  EXPECT_EQ(Sample(Get(http, "/metrics"), "qm7410_mqtt_dropped_readings_total"), 0);

  // Every reading, in order, without a hole: 0.5 s apart on the meter's grid (a hole would be 1 s).
  std::vector<qint64> times;
  for (const QString& line : sub.Lines().filter("qm7410/meter1/reading ")) {
    const QJsonObject o = QJsonDocument::fromJson(line.section(' ', 1).toUtf8()).object();
    const qint64 t = QDateTime::fromString(o["time"].toString(), Qt::ISODateWithMs).toMSecsSinceEpoch();
    if (times.empty() || t != times.back()) times.push_back(t);  // a repeat of one in flight is allowed
  }
  ASSERT_GE(times.size(), 3u + 6u);  // those before the gap and those queued in it
  for (size_t i = 1; i < times.size(); ++i)
    EXPECT_LT(times[i] - times[i - 1], 850)
        << "a reading is missing before #" << i << " of " << times.size() << "\n";
  const QString log = service.Log();
  EXPECT_EQ(log.count(" lost: "), 1) << log.toStdString();
  EXPECT_EQ(log.count(" back"), 1) << log.toStdString();
}

TEST(ServiceProgram, ABrokerThatStartsLaterGetsWhatWasReadMeanwhile) {
  qmtest::SimProcess sim({});
  ASSERT_TRUE(sim.Ready());
  Broker broker;  // not started yet
  const uint16_t http = FreePort();
  Service service({"--port", sim.Link(), "--interval", "0.3", "--mqtt", broker.Url(), "--listen",
                   QString("127.0.0.1:%1").arg(http)});
  ASSERT_TRUE(WaitFor([&] { return Sample(Get(http, "/metrics"), "qm7410_mqtt_queued_readings") >= 3; }));
  EXPECT_TRUE(service.Log().contains("unreachable: Connection refused")) << service.Log().toStdString();
  ASSERT_TRUE(broker.Start());
  EXPECT_TRUE(WaitFor([&] {
    const std::string page = Get(http, "/metrics");
    return Sample(page, "qm7410_mqtt_connected") == 1 && Sample(page, "qm7410_mqtt_queued_readings") == 0;
  }));
  EXPECT_EQ(service.Log().count("unreachable"), 1) << service.Log().toStdString();
}

TEST(ServiceProgram, AFullQueueDropsTheOldestReadingAndCountsIt) {
  qmtest::SimProcess sim({});
  ASSERT_TRUE(sim.Ready());
  const Broker broker;  // never started
  const uint16_t http = FreePort();
  QTemporaryDir dir;
  QFile conf(dir.filePath("qm7410d.toml"));
  conf.open(QIODevice::WriteOnly);
  QTextStream(&conf) << "[service]\nlisten = \"" << http << "\"\n[mqtt]\nurl = \"" << broker.Url()
                     << "\"\nqueue = 2\n[[bus]]\ndevice = \"" << sim.Link()
                     << "\"\ninterval = 0.2\n[[bus.meter]]\naddress = 1\nname = \"m\"\n";
  conf.close();
  Service service({"--config", conf.fileName()});
  std::string page;
  ASSERT_TRUE(WaitFor(
      [&] { return Sample(page = Get(http, "/metrics"), "qm7410_mqtt_dropped_readings_total") >= 3; }));
  EXPECT_EQ(Sample(page, "qm7410_mqtt_queued_readings"), 2);
  // Every reading is either waiting or counted as dropped (the page may catch one between the two).
  const double accounted = Sample(page, "qm7410_mqtt_dropped_readings_total") + 2;
  const double taken = Sample(page, "qm7410_meter_readings_total");
  EXPECT_TRUE(accounted == taken || accounted == taken - 1) << accounted << " of " << taken;
}

TEST(ServiceProgram, PrometheusScrapesTheMetricsPage) {
  qmtest::SimProcess sim({"--address", "2"});
  ASSERT_TRUE(sim.Ready());
  for (const char* c : {"freeze", "measure 8 23125"})  // Ub 231.25 V
    ASSERT_TRUE(sim.Command(c).startsWith("ok")) << c;
  const uint16_t http = FreePort();
  Service service({"--port", sim.Link(), "--address", "2", "--interval", "0.5", "--listen",
                   QString("127.0.0.1:%1").arg(http)});
  std::string page;
  ASSERT_TRUE(WaitFor([&] { return Sample(page = Get(http, "/metrics"), "qm7410_meter_up") == 1; })) << page;
  EXPECT_EQ(Get(http, "/healthz"), "ok\n");

  QProcess promtool;
  promtool.start("promtool", {"check", "metrics"});
  promtool.write(QByteArray::fromStdString(page));
  promtool.closeWriteChannel();
  ASSERT_TRUE(promtool.waitForFinished(kLimitMs));
  EXPECT_EQ(promtool.exitCode(), 0) << promtool.readAll().toStdString();

  QTemporaryDir dir;
  QFile conf(dir.filePath("prometheus.yml"));
  conf.open(QIODevice::WriteOnly);
  QTextStream(&conf) << "global:\n  scrape_interval: 1s\nscrape_configs:\n  - job_name: qm7410d\n"
                     << "    static_configs:\n      - targets: ['127.0.0.1:" << http << "']\n";
  conf.close();
  const uint16_t promPort = FreePort();
  QProcess prometheus;
  prometheus.setProcessChannelMode(QProcess::MergedChannels);
  prometheus.setStandardOutputFile(dir.filePath("prometheus.log"));
  prometheus.start("prometheus",
                   {"--config.file=" + conf.fileName(), "--storage.tsdb.path=" + dir.filePath("data"),
                    QString("--web.listen-address=127.0.0.1:%1").arg(promPort)});
  ASSERT_TRUE(prometheus.waitForStarted(kLimitMs));
  QJsonArray result;
  const bool scraped = WaitFor([&] {
    const std::string answer =
        Get(promPort, "/api/v1/query?query=qm7410_voltage_volts%7Bmeter%3D%22meter2%22%2Cphase%3D%22b%22%7D");
    result = QJsonDocument::fromJson(QByteArray::fromStdString(answer))["data"]["result"].toArray();
    return !result.isEmpty();
  });
  prometheus.terminate();
  prometheus.waitForFinished(kLimitMs);
  ASSERT_TRUE(scraped);
  EXPECT_EQ(result[0].toObject()["value"].toArray()[1].toString(), "231.25");
}

// A bus behind a Modbus gateway (the simulator's own Modbus TCP side): the same readings, and the
// gateway going away and coming back is a gap the bus worker bridges by connecting again.
TEST(ServiceProgram, ReadsMetersBehindAModbusGatewayAndConnectsAgainAfterItsLoss) {
  const auto start = [](QProcess& sim, uint16_t port) {
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(QM7410_SIM_PATH, {"--listen-tcp", QString("127.0.0.1:%1").arg(port), "--address", "4"});
    return sim.waitForReadyRead(kLimitMs) && sim.readLine().startsWith("ready tcp ");
  };
  const uint16_t gatewayPort = FreePort();
  auto sim = std::make_unique<QProcess>();
  ASSERT_TRUE(start(*sim, gatewayPort));
  const uint16_t http = FreePort();
  const QString url = QString("tcp://127.0.0.1:%1").arg(gatewayPort);
  Service service({"--port", url, "--address", "4", "--interval", "0.5", "--listen", QString::number(http)});
  std::string page;
  ASSERT_TRUE(WaitFor([&] { return Sample(page = Get(http, "/metrics"), "qm7410_meter_up") == 1; })) << page;
  EXPECT_GT(Sample(page, "qm7410_voltage_volts{meter=\"meter4\",phase=\"a\""), 100) << page;

  sim->kill();
  sim->waitForFinished(kLimitMs);
  ASSERT_TRUE(WaitFor([&] { return Sample(page = Get(http, "/metrics"), "qm7410_meter_up") == 0; })) << page;
  sim = std::make_unique<QProcess>();
  ASSERT_TRUE(start(*sim, gatewayPort));
  EXPECT_TRUE(WaitFor([&] { return Sample(page = Get(http, "/metrics"), "qm7410_meter_up") == 1; })) << page;
  sim->kill();
  sim->waitForFinished(kLimitMs);
}

TEST(ServiceProgram, ASilentMeterDoesNotSlowTheOthersAndNothingButReadsLeaves) {
  qmtest::SimProcess busA({"--address", "1,2"});
  ASSERT_TRUE(busA.Ready());
  // Bus B's meter logs every frame it receives: the wire the test checks.
  QTemporaryDir dir;
  QProcess busB;
  busB.setStandardErrorFile(dir.filePath("wire.log"));
  busB.setStandardOutputFile(dir.filePath("ready"));
  busB.start(QM7410_SIM_PATH, {"--link", dir.filePath("b"), "--address", "3", "--log"});
  ASSERT_TRUE(busB.waitForStarted(kLimitMs));
  ASSERT_TRUE(WaitFor([&] { return QFile(dir.filePath("ready")).size() > 0; }));

  Broker broker;
  ASSERT_TRUE(broker.Start());
  Subscriber sub(broker, "qm7410/+/availability");
  const uint16_t http = FreePort();
  QFile conf(dir.filePath("qm7410d.toml"));
  conf.open(QIODevice::WriteOnly);
  QTextStream(&conf)
      << "[service]\nlisten = \"127.0.0.1:" << http << "\"\nmax_backoff = 2\n\n[mqtt]\nurl = \""
      << broker.Url() << "\"\n\n[[bus]]\ndevice = \"" << busA.Link() << "\"\ninterval = 0.5\n"
      << "[[bus.meter]]\naddress = 1\nname = \"a1\"\n[[bus.meter]]\naddress = 2\nname = \"a2\"\n\n"
      << "[[bus]]\ndevice = \"" << dir.filePath("b") << "\"\ninterval = 0.5\n"
      << "[[bus.meter]]\naddress = 3\nname = \"b3\"\n";
  conf.close();
  ASSERT_TRUE(busA.Command("@2 fault silence:1000000").startsWith("ok"));
  Service service({"--config", conf.fileName()});

  std::string page;
  ASSERT_TRUE(WaitFor([&] {
    page = Get(http, "/metrics");
    return Sample(page, "qm7410_meter_up{meter=\"a1\"") == 1 &&
           Sample(page, "qm7410_meter_up{meter=\"b3\"") == 1 &&
           Sample(page, "qm7410_meter_failures_total{meter=\"a2\"") >= 2;
  })) << page;
  EXPECT_EQ(Sample(page, "qm7410_meter_up{meter=\"a2\""), 0);
  EXPECT_GE(
      Sample(page, "qm7410_bus_errors_total{bus=\"" + busA.Link().toStdString() + "\",kind=\"no_reply\""), 2);
  EXPECT_TRUE(WaitFor([&] { return sub.Has("qm7410/a2/availability offline"); }));
  EXPECT_TRUE(sub.Has("qm7410/a1/availability online"));
  EXPECT_EQ(service.Log().count("a2 (address 2) offline"), 1) << service.Log().toStdString();

  // Over ten readings of each good meter, the rate stays that of its interval.
  const auto count = [&](const char* meter) {
    return Sample(Get(http, "/metrics"), std::string("qm7410_meter_readings_total{meter=\"") + meter + "\"");
  };
  const double a0 = count("a1"), b0 = count("b3");
  QElapsedTimer timer;
  timer.start();
  ASSERT_TRUE(WaitFor([&] { return count("a1") >= a0 + 10; }));
  const double aSeconds = timer.elapsed() / 1000.0;
  ASSERT_TRUE(WaitFor([&] { return count("b3") >= b0 + 10; }));
  const double bSeconds = timer.elapsed() / 1000.0;
  EXPECT_LT(aSeconds, 10 * 0.5 * 1.3) << "meter a1 slowed by its silent neighbour";
  EXPECT_LT(bSeconds, 10 * 0.5 * 1.3);
  EXPECT_GT(aSeconds, 10 * 0.5 * 0.7);  // and not faster than asked

  // The meter answers again: up, online, and logged once.
  ASSERT_TRUE(busA.Command("@2 clear").startsWith("ok"));
  EXPECT_TRUE(WaitFor([&] { return sub.Has("qm7410/a2/availability online"); }));
  EXPECT_EQ(service.Log().count("a2 (address 2) answers again"), 1);

  service.Kill();
  busB.kill();
  busB.waitForFinished(kLimitMs);
  QFile wire(dir.filePath("wire.log"));
  ASSERT_TRUE(wire.open(QIODevice::ReadOnly));
  int requests = 0;
  for (const QString& line : QString::fromUtf8(wire.readAll()).split('\n')) {
    if (!line.contains("] <- ")) continue;
    ++requests;
    EXPECT_EQ(line.section("] <- ", 1).left(5), "03 03") << line.toStdString();  // address 3, function 3
  }
  EXPECT_GE(requests, 20);
}

TEST(ServiceProgram, TellsSystemdItIsReadyAndFeedsTheWatchdog) {
  // systemd's side of sd_notify: a datagram socket named in NOTIFY_SOCKET.
  QTemporaryDir dir;
  const std::string path = dir.filePath("notify").toStdString();
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  const uint16_t http = FreePort();
  QProcess service;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("NOTIFY_SOCKET", QString::fromStdString(path));
  env.insert("WATCHDOG_USEC", "400000");
  service.setProcessEnvironment(env);
  service.setProcessChannelMode(QProcess::ForwardedChannels);
  // A gateway nobody listens at: refused, counted as the port's error, and tried again.
  service.start(QM_SERVICE_EXE, {"--port", "tcp://127.0.0.1:1", "--listen", QString::number(http)});
  ASSERT_TRUE(service.waitForStarted(kLimitMs));
  std::vector<std::string> messages;
  const QDeadlineTimer deadline(kLimitMs);
  pollfd p{fd, POLLIN, 0};
  while (std::count(messages.begin(), messages.end(), "WATCHDOG=1") < 3 && !deadline.hasExpired()) {
    if (poll(&p, 1, 1000) <= 0) continue;
    char buf[512];
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n > 0) messages.emplace_back(buf, static_cast<size_t>(n));
  }
  close(fd);
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.front(), "READY=1");
  EXPECT_GE(std::count(messages.begin(), messages.end(), "WATCHDOG=1"), 3);
  EXPECT_EQ(Get(http, "/healthz"), "ok\n");
  const std::string page = Get(http, "/metrics");
  EXPECT_EQ(Sample(page, "qm7410_meter_up{meter=\"meter1\""), 0);
  EXPECT_GE(Sample(page, "qm7410_bus_errors_total{bus=\"tcp://127.0.0.1:1\",kind=\"port\""), 1);
  service.terminate();
  ASSERT_TRUE(service.waitForFinished(kLimitMs));
  EXPECT_EQ(service.exitCode(), 0);
}

TEST(ServiceProgram, CheckNamesTheFileLineAndKeyOfAMistake) {
  QTemporaryDir dir;
  const auto check = [&](const QString& text, int& code) {
    QFile f(dir.filePath("c.toml"));
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(text.toUtf8());
    f.close();
    QProcess p;
    p.start(QM_SERVICE_EXE, {"--config", f.fileName(), "--check"});
    p.waitForFinished(kLimitMs);
    code = p.exitCode();
    return QString::fromUtf8(p.readAllStandardError() + p.readAllStandardOutput()).trimmed();
  };
  int code = -1;
  const QString file = dir.filePath("c.toml");
  EXPECT_EQ(check("[[bus]]\ndevice = \"/dev/ttyS0\"\n[[bus.meter]]\naddress = 1\nname = \"m\"\n", code),
            file + ": ok, 1 bus, 1 meter");
  EXPECT_EQ(code, 0);
  EXPECT_EQ(check("[[bus]]\ndevice = \"/dev/ttyS0\"\n[[bus.meter]]\naddress = 1\nnmae = \"m\"\n", code),
            "qm7410d: " + file + ":5: bus[0].meter[0].nmae: unknown key\nqm7410d: " + file +
                ":3: bus[0].meter[0].name: missing: the meter's name in topics and metrics");
  EXPECT_EQ(code, 2);
  EXPECT_EQ(check("[[bus]]\ndevice = \"/dev/ttyS0\"\n[[bus.meter]]\naddress = -1\nname = \"m\"\n", code),
            "qm7410d: " + file + ":4: bus[0].meter[0].address: -1 is out of range 0..255");
  EXPECT_EQ(code, 2);
}

}  // namespace
