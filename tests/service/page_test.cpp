// The live page's server side: the day's trend a meter keeps, the JSON the page reads, the language
// it picks, its authentication and headers, and a reading reaching an open event stream.
#include "service/page.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "service/config.h"
#include "service/trend.h"
#include "tests/support/ask.h"

namespace {

using namespace qm::service;
using qm::meter::Quantity;

qm::poll::Measurement Value(int word, Quantity q, double value, const char* text) {
  return {{word}, q, value, text};
}

TEST(PageTrend, EachMinuteKeepsItsLowestMeanAndHighestForADay) {
  auto trend = std::make_unique<Trend>();
  // Ua is the first series, the frequency (word 27) the last; Uca (word 1) is not kept.
  trend->Add(1000, {Value(0, Quantity::Voltage, 230, ""), Value(27, Quantity::Frequency, 50, "")});
  trend->Add(1000, {Value(0, Quantity::Voltage, 220, ""), Value(1, Quantity::Voltage, 380, "")});
  trend->Add(1000, {Value(0, Quantity::Voltage, 225, "")});
  trend->Add(1002, {Value(0, Quantity::Voltage, 231, "")});

  std::vector<Trend::Minute> day = trend->Day(1002);
  ASSERT_EQ(day.size(), 2u);
  EXPECT_EQ(day[0].minute, 1000);
  EXPECT_EQ(day[0].series[0].min, 220);
  EXPECT_EQ(day[0].series[0].max, 230);
  EXPECT_EQ(day[0].series[0].sum / static_cast<float>(day[0].series[0].count), 225);
  EXPECT_EQ(day[0].series[11].count, 1u);
  for (size_t s = 1; s < 11; ++s) EXPECT_EQ(day[0].series[s].count, 0u) << s;
  EXPECT_EQ(day[1].minute, 1002);
  EXPECT_EQ(MinuteJson(day[1]),
            "[1002,[[231,231,231],null,null,null,null,null,null,null,null,null,null,null]]");

  // A day later minute 1000's slot starts afresh; 1002 has left the day by 1002 + 1440.
  trend->Add(2440, {Value(0, Quantity::Voltage, 240, "")});
  day = trend->Day(2442);
  ASSERT_EQ(day.size(), 1u);
  EXPECT_EQ(day[0].minute, 2440);
  EXPECT_EQ(day[0].series[0].min, 240);
  EXPECT_EQ(day[0].series[11].count, 0u);
  Trend::Minute gone;
  EXPECT_FALSE(trend->At(1000, gone));

  // What the README says a meter costs: 1440 minutes of 12 series of 16 bytes, and the minute of each.
  EXPECT_EQ(sizeof(Trend), 1440u * (12 * 16 + 4));
}

TEST(PageJson, TextsAreEscapedAndAMeterCarriesItsStateValuesAndSettings) {
  EXPECT_EQ(JsonString("a\"b\\<\x01\xff\xe4\xb8\xad"), "\"a\\\"b\\\\\\u003c\\u0001\\ufffd\xe4\xb8\xad\"");
  EXPECT_EQ(JsonString("\xe4\xb8"), "\"\\ufffd\\ufffd\"");  // a sequence cut short

  State state;
  state.AddMeter(state.AddBus("/dev/ttyUSB0"), "main", 7);
  state.Failure(0, std::chrono::system_clock::time_point(std::chrono::seconds(1700000000)));
  state.Failure(0, std::chrono::system_clock::time_point(std::chrono::seconds(1700000060)));
  // Offline since the first failure; nothing read yet, so no settings.
  EXPECT_EQ(MeterJson(state.Copy().meters[0], 0),
            "{\"id\":0,\"name\":\"main\",\"bus\":\"/dev/ttyUSB0\",\"address\":7,\"up\":false,\"read\":false,"
            "\"lastSuccess\":0,\"downSince\":1700000000,\"values\":[]}");

  qm::cli::MeterReading reading;
  reading.settings.pt = 100;
  reading.settings.ct = 40;
  reading.settings.wiring = 1;
  reading.values = {Value(0, Quantity::Voltage, 220.5, "220.50 V")};
  state.Success(0, std::chrono::system_clock::time_point(std::chrono::seconds(1700000120)), reading);
  EXPECT_EQ(MeterJson(state.Copy().meters[0], 0),
            "{\"id\":0,\"name\":\"main\",\"bus\":\"/dev/ttyUSB0\",\"address\":7,\"up\":true,\"read\":true,"
            "\"lastSuccess\":1700000120,\"downSince\":0,\"pt\":100,\"ct\":40,\"wiring\":1,"
            "\"wiringCaption\":\"单相2线\",\"values\":[{\"word\":0,\"name\":\"Ua\",\"text\":\"220.50 V\","
            "\"value\":220.5}]}");
}

TEST(PageLanguage, TheReadersFirstChoiceWins) {
  EXPECT_EQ(PageLanguage("zh-CN,zh;q=0.9,en;q=0.8"), "zh-CN");
  EXPECT_EQ(PageLanguage("zh"), "zh-CN");
  EXPECT_EQ(PageLanguage("en;q=0.5, ZH-tw;q=0.7"), "zh-CN");
  EXPECT_EQ(PageLanguage("en-US,en;q=0.9,zh;q=0.8"), "en");
  EXPECT_EQ(PageLanguage("de, zh;q=0.9"), "en");
  EXPECT_EQ(PageLanguage(""), "en");
  EXPECT_EQ(PageLanguage("zhx"), "en");
  EXPECT_EQ(PageLanguage(";q=,,;"), "en");
  EXPECT_EQ(PageLanguage("zh;q=0"), "en");
}

TEST(PageAuth, OnlyTheConfiguredBasicCredentialsPass) {
  // The example of RFC 7617.
  EXPECT_EQ(Base64("Aladdin:open sesame"), "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
  EXPECT_EQ(Base64("ab"), "YWI=");
  EXPECT_TRUE(BasicAuthorized("Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==", "Aladdin:open sesame"));
  EXPECT_FALSE(BasicAuthorized("Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ", "Aladdin:open sesame"));
  EXPECT_FALSE(BasicAuthorized("Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==x", "Aladdin:open sesame"));
  EXPECT_FALSE(BasicAuthorized("Basic QWxhZGRpbjpvcGVuIHNlc2FtZq==", "Aladdin:open sesame"));
  EXPECT_FALSE(BasicAuthorized("", "Aladdin:open sesame"));
  EXPECT_FALSE(BasicAuthorized("Bearer QWxhZGRpbjpvcGVuIHNlc2FtZQ==", "Aladdin:open sesame"));
}

TEST(PageConfig, BasicAuthIsUserColonPasswordAndItsMessageNeverShowsIt) {
  Config config;
  std::vector<std::string> errors;
  const std::string bus =
      "\n[[bus]]\ndevice = \"/dev/ttyUSB0\"\n[[bus.meter]]\naddress = 1\nname = \"main\"\n";
  ASSERT_TRUE(ParseConfig("[service]\nbasic_auth = \"owner:pa:ss\"\n" + bus, "site.toml", config, errors))
      << errors.front();
  EXPECT_EQ(config.basicAuth, "owner:pa:ss");
  for (const char* bad : {"\"s3cretonly\"", "\":s3cret\"", "\"owner:\"", "\"owner:s3cret\\n\"", "42"}) {
    Config c;
    errors.clear();
    EXPECT_FALSE(
        ParseConfig(std::string("[service]\nbasic_auth = ") + bad + "\n" + bus, "site.toml", c, errors));
    ASSERT_EQ(errors.size(), 1u) << bad;
    EXPECT_EQ(errors[0].rfind("site.toml:2: service.basic_auth: ", 0), 0u) << errors[0];
    EXPECT_EQ(errors[0].find("s3cret"), std::string::npos) << errors[0];
  }
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(PageServer, ThePageIsGuardedStrictAndInTheReadersLanguageWhileHealthzStaysOpen) {
  State state;
  state.AddMeter(state.AddBus("/dev/ttyUSB0"), "main", 7);
  HttpServer server;
  Page page(state, server, "owner:s3cret");
  page.Install();
  server.Route("/healthz", [](const HttpRequest&) { return HttpResponse{200, "text/plain", "ok\n", false}; });
  std::string error;
  ASSERT_TRUE(server.Listen("127.0.0.1", 0, error)) << error;
  server.Start();
  const std::string auth = "Authorization: Basic " + Base64("owner:s3cret") + "\r\n";

  const std::string refused = qmtest::Ask(server.Port(), "GET / HTTP/1.1\r\n\r\n");
  EXPECT_EQ(refused.substr(0, 25), "HTTP/1.1 401 Unauthorized");
  EXPECT_TRUE(Has(refused, "\r\nWWW-Authenticate: Basic realm=\"qm7410d\""));
  EXPECT_FALSE(Has(refused, "<html"));
  const std::string wrong = qmtest::Ask(
      server.Port(), "GET /api/state HTTP/1.1\r\nAuthorization: Basic " + Base64("owner:guess") + "\r\n\r\n");
  EXPECT_EQ(wrong.substr(0, 12), "HTTP/1.1 401");
  EXPECT_EQ(qmtest::Ask(server.Port(), "GET /healthz HTTP/1.1\r\n\r\n").substr(0, 15), "HTTP/1.1 200 OK");

  const std::string zh =
      qmtest::Ask(server.Port(), "GET / HTTP/1.1\r\n" + auth + "Accept-Language: zh-CN,zh;q=0.9\r\n\r\n");
  EXPECT_EQ(zh.substr(0, 15), "HTTP/1.1 200 OK");
  EXPECT_TRUE(Has(zh, "\r\nContent-Type: text/html; charset=utf-8\r\n"));
  EXPECT_TRUE(
      Has(zh, "\r\nContent-Security-Policy: default-src 'none'; script-src 'self'; style-src 'self';"));
  EXPECT_TRUE(Has(zh, "\r\nX-Content-Type-Options: nosniff\r\n"));
  EXPECT_TRUE(Has(zh, "<html lang=\"zh-CN\">"));
  EXPECT_TRUE(Has(zh, "<script src=\"/page.js\""));
  EXPECT_FALSE(Has(zh, "<script>"));  // nothing inline
  EXPECT_FALSE(Has(zh, "style=\""));
  EXPECT_TRUE(Has(qmtest::Ask(server.Port(), "GET / HTTP/1.1\r\n" + auth + "\r\n"), "<html lang=\"en\">"));

  const std::string js = qmtest::Ask(server.Port(), "GET /page.js HTTP/1.1\r\n" + auth + "\r\n");
  EXPECT_TRUE(Has(js, "\r\nContent-Type: text/javascript; charset=utf-8\r\n"));
  EXPECT_TRUE(Has(js, "new EventSource(\"/events\")"));
  const std::string api = qmtest::Ask(server.Port(), "GET /api/state HTTP/1.1\r\n" + auth + "\r\n");
  EXPECT_TRUE(Has(api, "\"meters\":[{\"id\":0,\"name\":\"main\",\"bus\":\"/dev/ttyUSB0\",\"address\":7,"));
  EXPECT_TRUE(Has(api, "\"trend\":[]}]}"));
  server.Stop();
}

TEST(PageServer, AReadingReachesAnOpenEventStreamWithItsTextsAndMinute) {
  State state;
  state.AddMeter(state.AddBus("/dev/ttyUSB0"), "main", 7);
  HttpServer server;
  Page page(state, server, "");
  page.Install();
  std::string error;
  ASSERT_TRUE(server.Listen("127.0.0.1", 0, error)) << error;
  server.Start();

  const int fd = qmtest::Connect(server.Port(), "GET /events HTTP/1.1\r\n\r\n");
  ASSERT_GE(fd, 0);

  qm::cli::MeterReading reading;
  reading.values = {Value(0, Quantity::Voltage, 230.5, "230.50 V")};
  // Minute 28333333 of Unix time, 20 s into it.
  const auto time = std::chrono::system_clock::time_point(std::chrono::seconds(28333333LL * 60 + 20));
  std::string got;
  char buf[8192];
  pollfd p{fd, POLLIN, 0};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  // Read again and again until one arrives: the stream exists only once the request has been read.
  while (!Has(got, "event: reading\n") && std::chrono::steady_clock::now() < deadline) {
    state.Success(0, time, reading);
    page.Reading("main", time, reading);
    if (poll(&p, 1, 100) > 0) {
      const ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      got.append(buf, static_cast<size_t>(n));
    }
  }
  close(fd);
  server.Stop();
  EXPECT_TRUE(Has(got, "\r\nContent-Type: text/event-stream\r\n"));
  EXPECT_TRUE(Has(got, "\"text\":\"230.50 V\"")) << got;
  EXPECT_TRUE(Has(got, ",\"minute\":[28333333,[[230.5,230.5,230.5],null,")) << got;
}

}  // namespace
