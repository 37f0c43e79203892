#include "cli/doctor.h"

#include <unistd.h>

#include <cmath>
#include <span>

#include "link/modbus.h"
#include "link/trace.h"
#include "meter/registers.h"
#include "poll/address_scan.h"

namespace qm::cli {
namespace {

// The most common rates first: a meter is seldom moved off 9600.
constexpr int32_t kBauds[] = {9600, 19200, 4800, 2400, 1200};
constexpr link::Parity kParities[] = {link::Parity::None, link::Parity::Even, link::Parity::Odd};
// How long a meter may take to start its reply.
constexpr uint32_t kTurnaroundMs = 60;
constexpr int kQuickAddresses = 8;
// The line check: reads back to back, and the pauses tried when they do not all come back.
constexpr int kBackToBack = 10;
constexpr uint32_t kPausesMs[] = {20, 50, 100, 200, 500};
constexpr int kPausedReads = 5;
constexpr uint32_t kListenMs = 1000;

const char* ParityWords(link::Parity parity) {
  return parity == link::Parity::Even  ? "even parity"
         : parity == link::Parity::Odd ? "odd parity"
                                       : "no parity";
}

std::string Setting(int32_t baud, link::Parity parity) {
  return std::to_string(baud) + " baud, " + ParityWords(parity);
}

// What came of the probes at one line setting.
struct Tally {
  int probes = 0;
  int silent = 0;
  int bad = 0;  // bytes that never made a valid frame
  long badBytes = 0;
  int other = 0;  // valid frames, but not for our requests
  std::vector<uint8_t> otherFrame;
  int exceptions = 0;
  uint8_t exceptionCode = 0;

  void Count(const link::ExchangeResult& r) {
    ++probes;
    if (r.echoed && r.error == link::LinkError::BadReply && r.received <= 8) {
      ++silent;  // nothing but the request's own bytes (told once, as the echo)
      return;
    }
    switch (r.error) {
      case link::LinkError::NoReply:
        ++silent;
        break;
      case link::LinkError::BadReply:
        ++bad;
        badBytes += r.received;
        break;
      case link::LinkError::OtherReply:
        ++other;
        if (otherFrame.empty()) otherFrame = r.frame;
        break;
      case link::LinkError::Exception:
        ++exceptions;
        exceptionCode = r.exceptionCode;
        break;
      default:
        break;
    }
  }

  // The verdict in plain words, from what the line delivered.
  std::string Verdict() const {
    const std::string of = " of " + std::to_string(probes) + " probes";
    if (other > 0) {
      char frame[64];
      std::snprintf(frame, sizeof frame, " (slave %d, function 0x%02X)", otherFrame[0], otherFrame[1]);
      return "valid frames that answer requests we did not send in " + std::to_string(other) + of + frame +
             ": another master on the line";
    }
    if (bad > 0)
      return "bytes that never made a valid frame in " + std::to_string(bad) + of + " (" +
             std::to_string(badBytes) + " bytes, " + std::to_string(100 * bad / probes) +
             "% of the probes): the meter may run at another baud rate or parity, or the line is noisy";
    if (exceptions > 0)
      return "exception replies in " + std::to_string(exceptions) + of + " (" +
             link::ExceptionName(exceptionCode) + ")";
    return "silence (" + std::to_string(probes) + (probes == 1 ? " probe)" : " probes)");
  }
};

class Doctor {
 public:
  Doctor(const DoctorPlan& plan, MeterLink& link, Environment& env, const std::string& device)
      : plan_(plan), link_(link), env_(env), device_(device), tty_(::isatty(::fileno(env.err)) == 1) {}

  int Run() {
    Say("doctor: " + device_ + ": " + std::to_string(plan_.bauds.size() * plan_.parities.size()) +
        " line settings, " + std::to_string(plan_.addresses.size()) + " address" +
        (plan_.addresses.size() == 1 ? "" : "es") + " each");
    CheckOpening();
    const bool echoGiven = link_.Echo();
    Search();
    Progress("");
    if (!echoGiven && link_.Echo())
      Say("the request's own bytes come back before any reply: this adapter echoes what it sends; use "
          "--echo");
    if (found_.empty()) {
      Say("no meter answered at any of these settings");
      return kExitNoReply;
    }
    CheckLine(found_.front());
    return kExitOk;
  }

 private:
  struct Found {
    uint8_t address;
    int32_t baud;
    link::Parity parity;
  };

  void Say(const std::string& text) {
    Progress("");
    std::fputs((text + "\n").c_str(), env_.out);
    std::fflush(env_.out);
  }
  // A progress line on a terminal only; a pipe gets nothing but results.
  void Progress(const std::string& text) {
    if (!tty_ || (text.empty() && !progressShown_)) return;
    std::fprintf(env_.err, "\r\033[K%s", text.c_str());
    std::fflush(env_.err);
    progressShown_ = !text.empty();
  }

  // Bytes that arrive before anything is sent: an adapter's junk as the port opens, or another
  // master already talking.
  void CheckOpening() {
    link::Transport& port = link_.Device();
    const uint64_t until = env_.wait.NowMs() + 200;
    std::vector<uint8_t> junk;
    for (uint64_t now = env_.wait.NowMs(); now < until && port.IsOpen(); now = env_.wait.NowMs()) {
      port.WaitForInput(static_cast<uint32_t>(until - now));
      const std::vector<uint8_t> in = port.ReadAll();
      junk.insert(junk.end(), in.begin(), in.end());
    }
    junkAtOpen_ = !junk.empty();
    if (junkAtOpen_)
      Say(std::to_string(junk.size()) + " bytes arrived before anything was sent (" +
          link::HexBytes(junk, 16) +
          "): junk from the adapter as the port opened, or another master on the line");
  }

  void Search() {
    for (const int32_t baud : plan_.bauds) {
      for (const link::Parity parity : plan_.parities) {
        link_.SetLine(baud, parity);
        link_.SetDefaultTimeout(ProbeTimeoutMs(baud, parity));
        Tally tally;
        bool here = false;
        for (const uint8_t address : plan_.addresses) {
          Progress("trying " + Setting(baud, parity) + ": address " + std::to_string(address));
          const link::ExchangeResult r = link_.Read(address, meter::kSettingsAddress, poll::kProbeWords);
          if (r.error == link::LinkError::Lost) {
            Say("the port went away: " + r.detail);
            return;
          }
          if (r.Ok()) {
            here = true;
            found_.push_back({address, baud, parity});
            Say("address " + std::to_string(address) + " answers at " + Setting(baud, parity));
            if (!plan_.all) return;
            continue;
          }
          tally.Count(r);
        }
        if (!here) Say(Setting(baud, parity) + ": " + tally.Verdict());
      }
    }
  }

  // Reads of the settings block; how many of `count` came back, each after `pauseMs` of quiet.
  int Reads(const Found& f, int count, uint32_t pauseMs, int& stray) {
    int ok = 0;
    for (int i = 0; i < count; ++i) {
      if (pauseMs) env_.wait.Sleep(pauseMs);
      const link::ExchangeResult r = link_.Read(f.address, meter::kSettingsAddress, meter::kSettingsWords);
      if (r.Ok()) ++ok;
      stray += r.skipped;
    }
    return ok;
  }

  void CheckLine(const Found& f) {
    link_.SetLine(f.baud, f.parity);
    link_.SetDefaultTimeout(std::nullopt);
    Say("checking the line at " + Setting(f.baud, f.parity) + " with the meter at address " +
        std::to_string(f.address));
    bool healthy = true;
    int stray = 0;
    const int backToBack = Reads(f, kBackToBack, 0, stray);
    if (backToBack < kBackToBack) {
      healthy = false;
      std::string verdict =
          std::to_string(backToBack) + " of " + std::to_string(kBackToBack) + " reads back to back came back";
      bool paused = false;
      for (const uint32_t pause : kPausesMs) {
        if (Reads(f, kPausedReads, pause, stray) == kPausedReads) {
          verdict += "; with a pause of " + std::to_string(pause) +
                     " ms between requests all did: the meter needs that pause between requests";
          paused = true;
          break;
        }
      }
      if (!paused) verdict += ", and no pause helped: a weak or noisy line";
      Say(verdict);
    }
    if (stray > 0) {
      healthy = false;
      Say(std::to_string(stray) + " stray bytes came before replies: noise, or another master's traffic");
    }
    // Nobody asks for a second: whatever comes now was sent by someone else.
    link::Transport& port = link_.Device();
    if (port.IsOpen()) port.DiscardInput();
    std::vector<uint8_t> heard;
    const uint64_t until = env_.wait.NowMs() + kListenMs;
    for (uint64_t now = env_.wait.NowMs(); now < until && port.IsOpen(); now = env_.wait.NowMs()) {
      port.WaitForInput(static_cast<uint32_t>(until - now));
      const std::vector<uint8_t> in = port.ReadAll();
      heard.insert(heard.end(), in.begin(), in.end());
    }
    if (!heard.empty()) {
      healthy = false;
      const std::span<const uint8_t> frame = link::FindAnyFrame(heard);
      Say(std::to_string(heard.size()) + " bytes in " + std::to_string(kListenMs) + " ms while nobody asked" +
          (frame.empty() ? ": noise on the line"
                         : ", valid frames among them (slave " + std::to_string(frame[0]) +
                               "): another master polls this line"));
    }
    if (link_.Echo() || junkAtOpen_) healthy = false;
    if (healthy)
      Say("the line looks healthy: " + std::to_string(kBackToBack) +
          " reads back to back, no echo, no stray bytes, no traffic from others");
  }

  const DoctorPlan& plan_;
  MeterLink& link_;
  Environment& env_;
  std::string device_;
  bool tty_;
  bool progressShown_ = false;
  bool junkAtOpen_ = false;
  std::vector<Found> found_;
};

}  // namespace

uint32_t ProbeTimeoutMs(int32_t baud, link::Parity parity) {
  const int bits = 1 + 8 + (parity == link::Parity::None ? 0 : 1) + 1;
  const int chars = 8 + 5 + 2 * poll::kProbeWords;  // the request and its reply
  return static_cast<uint32_t>(std::ceil(chars * bits * 1000.0 / baud)) + kTurnaroundMs;
}

DoctorPlan PlanDoctor(const Options& o) {
  DoctorPlan plan;
  if (o.baudGiven)
    plan.bauds = {o.baud};
  else
    plan.bauds.assign(std::begin(kBauds), std::end(kBauds));
  if (o.parityGiven)
    plan.parities = {o.parity};
  else
    plan.parities.assign(std::begin(kParities), std::end(kParities));
  if (o.addressGiven) {
    plan.addresses = o.addresses;
  } else {
    const int last = o.quick ? kQuickAddresses : 254;
    for (int a = 1; a <= last; ++a) plan.addresses.push_back(static_cast<uint8_t>(a));
    if (!o.quick) plan.addresses.push_back(0);
  }
  plan.all = o.all;
  return plan;
}

int RunDoctor(const DoctorPlan& plan, MeterLink& link, Environment& env, const std::string& device) {
  return Doctor(plan, link, env, device).Run();
}

}  // namespace qm::cli
