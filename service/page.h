#pragma once
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "cli/reading.h"
#include "service/http.h"
#include "service/state.h"
#include "service/trend.h"

namespace qm::service {

// The page's files, built into the program from service/page/ so it needs nothing from elsewhere.
struct PageAsset {
  const char* path;
  const char* contentType;
  std::string_view body;
};
const std::vector<PageAsset>& PageAssets();

// A string as a JSON string literal, quotes included; bytes that are not UTF-8 become U+FFFD.
std::string JsonString(const std::string& text);

// One meter as the page reads it: who and where it is, whether it answers, its values with the
// window's texts and its settings.
std::string MeterJson(const MeterState& m, size_t id);
// One minute of a trend: [minute, [[min, mean, max] or null per series]].
std::string MinuteJson(const Trend::Minute& minute);

// The live page: `/`, its script and style, `/api/state` (every meter and its last day) and `/events`
// (Server-Sent Events, one per reading or change of availability). Behind Basic authentication when
// `userPassword` is set; `/healthz` always stays open for the watchdog.
class Page {
 public:
  Page(State& state, HttpServer& http, std::string userPassword);

  // Registers the page's routes.
  void Install();
  // `handler` behind the page's authentication, when it has one.
  HttpServer::Handler Guard(HttpServer::Handler handler) const;

  // From any bus worker's thread.
  void Reading(const std::string& meter, std::chrono::system_clock::time_point time,
               const cli::MeterReading& reading);
  void Availability(const std::string& meter);

  // The /api/state body at `now`.
  std::string StateJson(std::chrono::system_clock::time_point now) const;

 private:
  size_t IdOf(const std::string& meter) const;

  State& state_;
  HttpServer& http_;
  std::string userPassword_;
  std::vector<std::string> names_;
  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<Trend>> trends_;
};

}  // namespace qm::service
