#include "service/page.h"

#include <charconv>
#include <cmath>

#include "meter/codes.h"

namespace qm::service {
namespace {

// Scripts and styles only from the service itself, nothing inline, no frames around it.
const char* const kPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; connect-src 'self'; "
    "base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

HttpResponse PageResponse(const char* contentType, std::string body) {
  HttpResponse r{200, contentType, std::move(body), false};
  r.headers = {{"Content-Security-Policy", kPolicy}, {"Cache-Control", "no-cache"}};
  return r;
}

std::string Number(double value) {
  if (!std::isfinite(value)) return "null";
  return cli::PlainNumber(value);
}

// The shortest text of a float: trends keep floats, and their doubles' digits would mean nothing.
std::string Number(float value) {
  if (!std::isfinite(value)) return "null";
  if (value == 0) value = 0;
  char buf[64];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  return ec == std::errc() ? std::string(buf, end) : "null";
}

int64_t UnixMinute(std::chrono::system_clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::minutes>(t.time_since_epoch()).count();
}

// The length of the UTF-8 sequence starting at s[i], or 0 when it is not one.
size_t Utf8Length(const std::string& s, size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
  if (n == 0 || i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return 0;
  return n;
}

}  // namespace

std::string JsonString(const std::string& text) {
  static const char* const kHex = "0123456789abcdef";
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const size_t n = Utf8Length(text, i);
    if (n == 0) {
      out += "\\ufffd";
      ++i;
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == '<' || c == '>' || c == '&') {
      // Markup characters escaped too: the text is never read as HTML, whoever reads it.
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out.append(text, i, n);
    }
    i += n;
  }
  return out + "\"";
}

std::string MeterJson(const MeterState& m, size_t id) {
  std::string out = "{\"id\":" + std::to_string(id) + ",\"name\":" + JsonString(m.name) +
                    ",\"bus\":" + JsonString(m.bus) + ",\"address\":" + std::to_string(m.address) +
                    ",\"up\":" + (m.up ? "true" : "false") + ",\"read\":" + (m.read ? "true" : "false") +
                    ",\"lastSuccess\":" + Number(m.lastSuccessS) + ",\"downSince\":" + Number(m.downSinceS);
  if (m.read) {
    out += ",\"pt\":" + std::to_string(m.settings.pt) + ",\"ct\":" + std::to_string(m.settings.ct) +
           ",\"wiring\":" + std::to_string(m.settings.wiring) +
           ",\"wiringCaption\":" + JsonString(meter::WiringCaption(m.settings.wiring));
  }
  out += ",\"values\":[";
  for (size_t i = 0; i < m.values.size(); ++i) {
    const poll::Measurement& v = m.values[i];
    if (i) out += ',';
    out += "{\"word\":" + std::to_string(v.slot.word) +
           ",\"name\":" + JsonString(poll::MeasurementName(v.slot.word)) + ",\"text\":" + JsonString(v.text) +
           ",\"value\":" + Number(v.value) + "}";
  }
  return out + "]}";
}

std::string MinuteJson(const Trend::Minute& minute) {
  // Appended piece by piece: GCC 12 at -O3 warns (-Wrestrict) on "literal" + std::string&&.
  std::string out = "[";
  out += std::to_string(minute.minute);
  out += ",[";
  for (size_t i = 0; i < minute.series.size(); ++i) {
    const Trend::Point& p = minute.series[i];
    if (i) out += ',';
    if (p.count == 0) {
      out += "null";
      continue;
    }
    out += '[';
    out += Number(p.min);
    out += ',';
    out += Number(p.sum / static_cast<float>(p.count));
    out += ',';
    out += Number(p.max);
    out += ']';
  }
  return out + "]]";
}

Page::Page(State& state, HttpServer& http, std::string userPassword)
    : state_(state), http_(http), userPassword_(std::move(userPassword)) {
  for (const MeterState& m : state_.Copy().meters) {
    names_.push_back(m.name);
    trends_.push_back(std::make_unique<Trend>());
  }
}

size_t Page::IdOf(const std::string& meter) const {
  for (size_t i = 0; i < names_.size(); ++i)
    if (names_[i] == meter) return i;
  return names_.size();
}

HttpServer::Handler Page::Guard(HttpServer::Handler handler) const {
  if (userPassword_.empty()) return handler;
  return [this, handler = std::move(handler)](const HttpRequest& request) {
    const auto found = request.headers.find("authorization");
    if (found != request.headers.end() && BasicAuthorized(found->second, userPassword_))
      return handler(request);
    HttpResponse r{401, "text/plain; charset=utf-8", "authentication required\n", false};
    r.headers = {{"WWW-Authenticate", "Basic realm=\"qm7410d\", charset=\"UTF-8\""}};
    return r;
  };
}

void Page::Install() {
  for (const PageAsset& a : PageAssets()) {
    const std::string path = a.path;
    const PageAsset asset = a;
    if (path == "/") {
      http_.Route(path, Guard([asset](const HttpRequest& request) {
                    std::string body(asset.body);
                    const auto accept = request.headers.find("accept-language");
                    const std::string lang =
                        PageLanguage(accept == request.headers.end() ? "" : accept->second);
                    const size_t at = body.find("lang=\"en\"");
                    if (at != std::string::npos) body.replace(at, 9, "lang=\"" + lang + "\"");
                    return PageResponse(asset.contentType, std::move(body));
                  }));
    } else {
      http_.Route(path, Guard([asset](const HttpRequest&) {
                    return PageResponse(asset.contentType, std::string(asset.body));
                  }));
    }
  }
  http_.Route("/api/state", Guard([this](const HttpRequest&) {
                return PageResponse("application/json", StateJson(std::chrono::system_clock::now()));
              }));
  http_.Route("/events", Guard([](const HttpRequest&) {
                HttpResponse r = PageResponse("text/event-stream", "retry: 2000\n\n");
                r.stream = true;
                return r;
              }));
}

std::string Page::StateJson(std::chrono::system_clock::time_point now) const {
  const Snapshot s = state_.Copy();
  const int64_t minute = UnixMinute(now);
  std::string out = "{\"now\":";
  out += std::to_string(minute);
  out += ",\"words\":[";
  for (size_t i = 0; i < Trend::kWords.size(); ++i) {
    if (i) out += ',';
    out += std::to_string(Trend::kWords[i]);
  }
  out += "],\"meters\":[";
  std::lock_guard lock(mutex_);
  for (size_t i = 0; i < s.meters.size() && i < trends_.size(); ++i) {
    std::string meter = MeterJson(s.meters[i], i);
    meter.pop_back();
    meter += ",\"trend\":[";
    const std::vector<Trend::Minute> day = trends_[i]->Day(minute);
    for (size_t k = 0; k < day.size(); ++k) {
      if (k) meter += ',';
      meter += MinuteJson(day[k]);
    }
    if (i) out += ',';
    out += meter;
    out += "]}";
  }
  return out + "]}";
}

void Page::Reading(const std::string& meter, std::chrono::system_clock::time_point time,
                   const cli::MeterReading& reading) {
  const size_t id = IdOf(meter);
  if (id >= trends_.size()) return;
  const int64_t minute = UnixMinute(time);
  Trend::Minute point{};
  {
    std::lock_guard lock(mutex_);
    trends_[id]->Add(minute, reading.values);
    trends_[id]->At(minute, point);
  }
  const Snapshot s = state_.Copy();
  http_.Send("/events", "event: reading\ndata: {\"meter\":" + MeterJson(s.meters[id], id) +
                            ",\"minute\":" + MinuteJson(point) + "}\n\n");
}

void Page::Availability(const std::string& meter) {
  const size_t id = IdOf(meter);
  if (id >= names_.size()) return;
  const Snapshot s = state_.Copy();
  http_.Send("/events", "event: meter\ndata: {\"meter\":" + MeterJson(s.meters[id], id) + "}\n\n");
}

}  // namespace qm::service
