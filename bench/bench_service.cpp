// bench-service: the qm7410d program against qm7410-sim --pace (replies at the line's real byte
// rate) with 1 and 32 meters on one bus at 9600 and 19200 baud. Every meter is due at once all the
// time, so the bus runs flat out; prints the readings per second beside the line's limit, the CPU
// the service uses per reading and its resident memory.
//
//   bench-service [--seconds N] [--pause MS]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <cstdio>
#include <string>

#include "meter/registers.h"

namespace {

// Bytes of a read request and of its reply for `words` registers.
constexpr int kRequestBytes = 8;
int ReplyBytes(int words) { return 5 + 2 * words; }
constexpr int kTurnaroundMs = 5;  // the simulator's default

// The fastest a bus can read one meter: both requests and replies at ten bits a byte, the
// simulator's turnaround for each, and the pause the service keeps between requests.
double LineLimitPerSecond(int baud, int pauseMs) {
  const int bytes =
      2 * kRequestBytes + ReplyBytes(qm::meter::kSettingsWords) + ReplyBytes(qm::meter::kMeasurementWords);
  const double seconds = bytes * 10.0 / baud + 2 * (kTurnaroundMs + pauseMs) / 1000.0;
  return 1 / seconds;
}

sockaddr_in Loopback(quint16 port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

QByteArray Get(quint16 port, const char* path) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = Loopback(port);
  QByteArray all;
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
    const QByteArray request = QByteArray("GET ") + path + " HTTP/1.0\r\n\r\n";
    send(fd, request.data(), static_cast<size_t>(request.size()), MSG_NOSIGNAL);
    char buf[8192];
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, 5000) > 0) {
      const ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      all.append(buf, n);
    }
  }
  close(fd);
  const qsizetype body = all.indexOf("\r\n\r\n");
  return body < 0 ? QByteArray() : all.mid(body + 4);
}

// The sum of every sample of a family on the page.
double Sum(const QByteArray& page, const QByteArray& family) {
  double total = 0;
  for (const QByteArray& line : page.split('\n'))
    if (line.startsWith(family + "{") || line.startsWith(family + " "))
      total += line.mid(line.lastIndexOf(' ') + 1).toDouble();
  return total;
}

// User and system CPU seconds and resident kilobytes of a process.
struct ProcStats {
  double cpuS = 0;
  long rssKb = 0;
};
ProcStats Stats(qint64 pid) {
  ProcStats out;
  QFile stat(QString("/proc/%1/stat").arg(pid));
  if (stat.open(QIODevice::ReadOnly)) {
    const QByteArray text = stat.readAll();
    const QList<QByteArray> f = text.mid(text.lastIndexOf(')') + 2).split(' ');
    // Fields 14 and 15 of stat(5), counted from the state (field 3) after the name.
    out.cpuS = (f.value(11).toDouble() + f.value(12).toDouble()) / sysconf(_SC_CLK_TCK);
  }
  QFile status(QString("/proc/%1/status").arg(pid));
  if (status.open(QIODevice::ReadOnly))
    for (const QByteArray& line : status.readAll().split('\n'))
      if (line.startsWith("VmRSS:")) out.rssKb = line.mid(6).trimmed().split(' ').value(0).toLong();
  return out;
}

quint16 FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = Loopback(0);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}

bool Run(int baud, int meters, int seconds, int pauseMs) {
  QTemporaryDir dir;
  QStringList addresses;
  for (int a = 1; a <= meters; ++a) addresses << QString::number(a);
  QProcess sim;
  sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  sim.start(QM_SIM_EXE, {"--link", dir.filePath("line"), "--address", addresses.join(','), "--baud",
                         QString::number(baud), "--pace"});
  if (!sim.waitForStarted(10000) || !sim.waitForReadyRead(10000)) {
    std::fprintf(stderr, "bench-service: qm7410-sim did not start\n");
    return false;
  }
  const quint16 port = FreePort();
  QFile conf(dir.filePath("bench.toml"));
  conf.open(QIODevice::WriteOnly);
  QTextStream out(&conf);
  out << "[service]\nlisten = \"127.0.0.1:" << port << "\"\npause_ms = " << pauseMs
      << "\n\n[[bus]]\ndevice = \"" << dir.filePath("line") << "\"\nbaud = " << baud << "\ninterval = 0.1\n";
  for (int a = 1; a <= meters; ++a) out << "[[bus.meter]]\naddress = " << a << "\nname = \"m" << a << "\"\n";
  out.flush();
  conf.close();
  QProcess service;
  service.setProcessChannelMode(QProcess::ForwardedChannels);
  service.start(QM_SERVICE_EXE, {"--config", conf.fileName()});
  if (!service.waitForStarted(10000)) return false;
  // Counting starts once every meter has been read once, so start-up does not count.
  const QDeadlineTimer ready(60000);
  while (Sum(Get(port, "/metrics"), "qm7410_meter_up") < meters && !ready.hasExpired()) QThread::msleep(100);
  const double before = Sum(Get(port, "/metrics"), "qm7410_meter_readings_total");
  const ProcStats start = Stats(service.processId());
  QElapsedTimer clock;
  clock.start();
  QThread::sleep(seconds);
  const double after = Sum(Get(port, "/metrics"), "qm7410_meter_readings_total");
  const double elapsed = clock.elapsed() / 1000.0;
  const ProcStats end = Stats(service.processId());
  service.terminate();
  service.waitForFinished(10000);
  sim.write("quit\n");
  sim.waitForFinished(10000);
  const double readings = after - before;
  const double rate = readings / elapsed;
  const double limit = LineLimitPerSecond(baud, pauseMs);
  std::printf("%6d %7d %12.2f %12.2f %8.0f%% %12.1f %10ld\n", baud, meters, rate, limit, 100 * rate / limit,
              readings > 0 ? (end.cpuS - start.cpuS) * 1e6 / readings : 0.0, end.rssKb);
  return readings > 0;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  int seconds = 20;
  int pauseMs = 20;
  const QStringList args = app.arguments();
  for (int i = 1; i + 1 < args.size(); i += 2) {
    if (args[i] == "--seconds") seconds = args[i + 1].toInt();
    if (args[i] == "--pause") pauseMs = args[i + 1].toInt();
  }
  std::printf("Readings per second of one bus running flat out (qm7410-sim --pace, pause %d ms, %d s each)\n",
              pauseMs, seconds);
  std::printf("%6s %7s %12s %12s %9s %12s %10s\n", "baud", "meters", "readings/s", "line limit", "of limit",
              "CPU us/read", "RSS kB");
  bool ok = true;
  for (int baud : {9600, 19200})
    for (int meters : {1, 32}) ok = Run(baud, meters, seconds, pauseMs) && ok;
  return ok ? 0 : 1;
}
