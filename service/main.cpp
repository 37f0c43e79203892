// qm7410d: watches QM7410 meters all the time and publishes their readings to an MQTT broker and a
// Prometheus page. The work is in the service core; this file wires it up with the real clock,
// signals and systemd's notifications.
#include <signal.h>
#include <systemd/sd-daemon.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "service/bus_worker.h"
#include "service/config.h"
#include "service/http.h"
#include "service/mqtt_client.h"
#include "service/options.h"
#include "service/page.h"
#include "service/state.h"

namespace {

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

uint64_t SteadyMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

}  // namespace

int main(int argc, char** argv) {
  using namespace qm::service;
  const std::vector<std::string> args(argv + 1, argv + argc);
  Options options;
  Config config;
  std::string error;
  if (!ParseOptions(args, options, config, error)) {
    std::fprintf(stderr, "qm7410d: %s\n", error.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(Usage().c_str(), stdout);
    return 0;
  }
  if (options.version) {
    std::printf("qm7410d %s\n", QM_VERSION);
    return 0;
  }
  if (!options.configFile.empty()) {
    std::vector<std::string> errors;
    if (!LoadConfig(options.configFile, config, errors)) {
      for (const std::string& e : errors) std::fprintf(stderr, "qm7410d: %s\n", e.c_str());
      return 2;
    }
  }
  if (options.check) {
    size_t meters = 0;
    for (const BusConfig& b : config.buses) meters += b.meters.size();
    std::printf("%s: ok, %zu bus%s, %zu meter%s\n",
                options.configFile.empty() ? "options" : options.configFile.c_str(), config.buses.size(),
                config.buses.size() == 1 ? "" : "es", meters, meters == 1 ? "" : "s");
    return 0;
  }

  if (!ReadPasswordFile(config.mqtt, error)) {
    std::fprintf(stderr, "qm7410d: %s\n", error.c_str());
    return 2;
  }

  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  State state;
  std::vector<std::vector<size_t>> meterIds;
  std::vector<MqttPublisher::Meter> mqttMeters;
  for (const BusConfig& b : config.buses) {
    const size_t bus = state.AddBus(b.device);
    meterIds.emplace_back();
    for (const MeterConfig& m : b.meters) {
      meterIds.back().push_back(state.AddMeter(bus, m.name, m.address));
      mqttMeters.push_back({m.name, m.address});
    }
  }

  std::unique_ptr<MqttPublisher> mqtt;
  if (config.mqtt.enabled) {
    mqtt = std::make_unique<MqttPublisher>(config.mqtt, mqttMeters, state);
    if (!mqtt->Start(error)) {
      std::fprintf(stderr, "qm7410d: %s\n", error.c_str());
      return 3;
    }
  }
  HttpServer http;
  // The page's trends take their memory only when there is a listener to show them.
  std::unique_ptr<Page> page;
  if (config.listen) page = std::make_unique<Page>(state, http, config.basicAuth);
  BusEvents events;
  MqttPublisher* publisher = mqtt.get();
  Page* live = page.get();
  events.reading = [publisher, live](const std::string& meter, std::chrono::system_clock::time_point time,
                                     const qm::cli::MeterReading& reading) {
    if (publisher) publisher->Reading(meter, time, reading);
    if (live) live->Reading(meter, time, reading);
  };
  events.availability = [publisher, live](const std::string& meter, bool online) {
    if (publisher) publisher->Availability(meter, online);
    if (live) live->Availability(meter);
  };

  std::vector<std::unique_ptr<BusWorker>> workers;
  for (size_t i = 0; i < config.buses.size(); ++i)
    workers.push_back(std::make_unique<BusWorker>(config.buses[i], config, i, meterIds[i], state, events));

  // A worker that has not turned its loop for this long is stuck; a request never takes so long.
  const uint64_t stuckMs = 30000 + 2 * config.timeoutMs.value_or(1000) * (config.retries + 1);
  const auto healthy = [&workers, stuckMs] {
    const uint64_t now = SteadyMs();
    for (const auto& w : workers)
      if (now - w->HeartbeatMs() > stuckMs) return false;
    return true;
  };

  if (config.listen) {
    std::string host;
    uint16_t port = 0;
    ParseHostPort(*config.listen, host, port, error);
    http.Route("/metrics", page->Guard([&state](const HttpRequest&) {
      return HttpResponse{200, "text/plain; version=0.0.4; charset=utf-8", RenderMetrics(state.Copy()),
                          false};
    }));
    page->Install();
    http.Route("/healthz", [&healthy](const HttpRequest&) {
      return healthy() ? HttpResponse{200, "text/plain; charset=utf-8", "ok\n", false}
                       : HttpResponse{503, "text/plain; charset=utf-8", "a bus worker is stuck\n", false};
    });
    if (!http.Listen(host, port, error)) {
      std::fprintf(stderr, "qm7410d: cannot listen on %s\n", error.c_str());
      return 3;
    }
    http.Start();
  }

  // Heartbeats count from the steady clock's epoch, as SteadyMs does.
  for (auto& w : workers) w->Start();
  std::fprintf(stderr, "qm7410d: watching %zu bus%s%s%s\n", workers.size(), workers.size() == 1 ? "" : "es",
               config.listen ? ", page and metrics on " : "", config.listen ? config.listen->c_str() : "");
  sd_notify(0, "READY=1");

  uint64_t watchdogUs = 0;
  const bool watchdog = sd_watchdog_enabled(0, &watchdogUs) > 0;
  uint64_t lastPing = 0;
  while (!g_stop) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const uint64_t now = SteadyMs();
    if (watchdog && now - lastPing >= watchdogUs / 2000 && healthy()) {
      sd_notify(0, "WATCHDOG=1");
      lastPing = now;
    }
  }
  sd_notify(0, "STOPPING=1");
  for (auto& w : workers) w->Stop();
  http.Stop();
  if (mqtt) mqtt->Stop();
  return 0;
}
