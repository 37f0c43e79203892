#include "cli/run.h"

#include <cstdarg>
#include <cstdlib>

#include "cli/doctor.h"
#include "cli/reading.h"
#include "cli/set_plan.h"
#include "cli/writers.h"
#include "commands/meter_writes.h"
#include "link/gateway.h"
#include "link/link_settings.h"
#include "link/trace.h"
#include "meter/codes.h"
#include "meter/register_names.h"
#include "poll/address_scan.h"

namespace qm::cli {
namespace {

void Error(std::FILE* err, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Error(std::FILE* err, const char* format, ...) {
  std::fputs("qm7410-cli: ", err);
  va_list args;
  va_start(args, format);
  std::vfprintf(err, format, args);
  va_end(args);
  std::fputc('\n', err);
  std::fflush(err);
}

void Emit(std::FILE* out, const std::string& text) {
  std::fputs(text.c_str(), out);
  std::fflush(out);
}

// A failed exchange's exit status: an exception reply to a write is the meter refusing the value; a
// port or connection that went away is the port's failure.
int FailureCode(const link::ExchangeResult& r, bool write) {
  if (r.error == link::LinkError::Lost) return kExitPort;
  return write && r.error == link::LinkError::Exception ? kExitRefused : kExitNoReply;
}

class Runner {
 public:
  Runner(const Options& o, Environment& env, MeterLink& link) : o_(o), env_(env), link_(link) {
    line_ = {DevicePath(o.port), o.baud, o.parity};
    link::GatewayAddress gateway;
    std::string error;
    behindGateway_ = link::ParseGatewayAddress(line_.device, gateway, error);
  }

  int Read(bool measurements) {
    std::vector<MeterReading> readings;
    int code = kExitOk;
    for (uint8_t address : o_.addresses) {
      MeterReading m;
      m.address = address;
      std::string error;
      const bool ok =
          ReadIdentification(link_, m, error) &&
          (!measurements || (ReadSettings(link_, m, 1, error) && ReadMeasurements(link_, m, error)));
      if (!ok) {
        Error(env_.err, "meter %d on %s: %s", address, line_.device.c_str(), error.c_str());
        code = env_.device.IsOpen() ? kExitNoReply : kExitPort;
        continue;
      }
      readings.push_back(std::move(m));
    }
    Emit(env_.out,
         measurements ? FormatRead(o_.format, line_, readings) : FormatIdentify(o_.format, readings));
    return code;
  }

  int Scan() {
    link_.SetRetries(o_.retries.value_or(0));  // a silent address costs one timeout, not three
    std::vector<uint8_t> found;
    if (o_.format == Format::Csv) Emit(env_.out, "address\n");
    for (int a = *o_.scanFrom; a <= *o_.scanTo; ++a) {
      const auto address = static_cast<uint8_t>(a);
      if (!link_.Read(address, meter::kSettingsAddress, poll::kProbeWords).Ok()) continue;
      found.push_back(address);
      // Shown as found: a pass over every address takes a while.
      if (o_.format == Format::Csv) Emit(env_.out, std::to_string(address) + "\n");
      if (o_.format == Format::Table) Emit(env_.out, FormatScan(o_.format, line_, {address}));
    }
    if (o_.format == Format::Json) Emit(env_.out, FormatScan(o_.format, line_, found));
    if (found.empty()) {
      Error(env_.err, "no meter answered at addresses %d..%d on %s at %d,%c", *o_.scanFrom, *o_.scanTo,
            line_.device.c_str(), static_cast<int>(o_.baud), link::ParityLetter(o_.parity));
      return kExitNoReply;
    }
    return kExitOk;
  }

  int Set(const SetPlan& plan) {
    int code = kExitOk;
    const int32_t baud = link_.Baud();
    for (uint8_t address : o_.addresses) {
      if (link_.Baud() != baud) link_.SetBaud(baud);  // the next meter still runs at the old rate
      const int c = SetOne(address, plan);
      if (c != kExitOk) code = c;
    }
    return code;
  }

  int EnergyReset() {
    int code = kExitOk;
    for (uint8_t address : o_.addresses) {
      for (size_t k = 0; k < commands::kEnergyResetWrites.size(); ++k) {
        const commands::RegisterWrite& w = commands::kEnergyResetWrites[k];
        const link::ExchangeResult r = link_.Write(address, w.reg, w.value);
        if (r.Ok()) continue;
        Error(env_.err, "meter %d: energy reset stopped, write %zu of %zu not confirmed: %s", address, k + 1,
              commands::kEnergyResetWrites.size(), link::DescribeFailure(r).c_str());
        // Leave the clearing switch as the sequence would have left it.
        const commands::RegisterWrite& last = commands::kEnergyResetWrites.back();
        if (k > 0 && k + 1 < commands::kEnergyResetWrites.size()) link_.Write(address, last.reg, last.value);
        code = FailureCode(r, true);
        break;
      }
      if (code == kExitOk) Emit(env_.out, "meter " + std::to_string(address) + ": energy counters cleared\n");
    }
    return code;
  }

  int Raw(uint16_t start, uint16_t count) {
    std::vector<RawWords> result;
    int code = kExitOk;
    for (uint8_t address : o_.addresses) {
      const link::ExchangeResult r = link_.Read(address, start, count, ReplyWait::Long);
      if (!r.Ok()) {
        Error(env_.err, "meter %d on %s: %s", address, line_.device.c_str(),
              link::DescribeFailure(r).c_str());
        code = FailureCode(r, false);
        continue;
      }
      RawWords words{address, start, {}};
      const auto data = r.Data();
      for (size_t i = 0; i + 1 < data.size(); i += 2)
        words.words.push_back(static_cast<uint16_t>(data[i] << 8 | data[i + 1]));
      result.push_back(std::move(words));
    }
    Emit(env_.out, FormatRaw(o_.format, result));
    return code;
  }

  int Log(std::FILE* out) {
    LogPlan plan{*o_.intervalS, o_.count, o_.format};
    const LogSummary s = RunLog(link_, o_.addresses, plan, env_.clock, out, env_.err, env_.stop);
    int code = kExitOk;
    if (!s.portError.empty()) {
      Error(env_.err, "port %s: %s", line_.device.c_str(), s.portError.c_str());
      code = kExitPort;
    }
    if (!s.writeError.empty()) {
      Error(env_.err, "cannot write %s: %s", o_.output.empty() ? "the log" : o_.output.c_str(),
            s.writeError.c_str());
      code = kExitFailure;
    }
    Error(env_.err, "log ended: %ld row%s, %ld failed read%s", s.rows, s.rows == 1 ? "" : "s", s.failures,
          s.failures == 1 ? "" : "s");
    if (code == kExitOk && s.failures) code = kExitNoReply;
    return code;
  }

 private:
  int SetOne(uint8_t address, const SetPlan& plan) {
    uint8_t current = address;
    for (const SettingWrite& w : plan.writes) {
      const char* name = SettingName(w.setting);
      const link::ExchangeResult r = link_.Write(current, w.reg, w.value);
      if (!r.Ok()) {
        Error(env_.err, "meter %d: %s=%s %s: %s", current, name, w.shown.c_str(),
              r.error == link::LinkError::Exception ? "refused by the meter" : "not confirmed",
              link::DescribeFailure(r).c_str());
        return FailureCode(r, true);
      }
      // The meter answers at its new address or speed from now on.
      if (w.setting == Setting::Address) current = static_cast<uint8_t>(w.value);
      if (w.setting == Setting::Baud && behindGateway_) {
        // The gateway's serial side keeps its own speed: nothing here can follow the meter.
        Emit(env_.out, "meter " + std::to_string(address) + ": baud = " + w.shown +
                           ", confirmed; set the gateway's serial side to " + w.shown +
                           " baud to reach the meter again\n");
        return kExitOk;
      }
      if (w.setting == Setting::Baud) link_.SetBaud(meter::BaudForCode(w.value));

      MeterReading m;
      m.address = current;
      std::string error;
      if (!ReadSettings(link_, m, 1, error)) {
        Error(env_.err, "meter %d: %s=%s written, but reading it back failed: %s", current, name,
              w.shown.c_str(), error.c_str());
        return kExitNoReply;
      }
      const uint16_t got = ReadBack(w.setting, m.settings);
      if (got != w.value) {
        Error(env_.err, "meter %d: %s reads back as %s, not %s", current, name,
              ShownValue(w.setting, got).c_str(), w.shown.c_str());
        return kExitRefused;
      }
      std::string note;
      if (w.setting == Setting::Address) note = " (the meter now answers at address " + w.shown + ")";
      if (w.setting == Setting::Baud)
        note = " (the meter now runs at " + w.shown + " baud: use --baud " + w.shown + ")";
      Emit(env_.out,
           "meter " + std::to_string(address) + ": " + name + " = " + w.shown + ", read back" + note + "\n");
    }
    return kExitOk;
  }

  const Options& o_;
  Environment& env_;
  MeterLink& link_;
  LineInfo line_;
  bool behindGateway_ = false;
};

}  // namespace

int Run(const std::vector<std::string>& args, Environment& env) {
  const ParseResult parsed = ParseArguments(args);
  if (!parsed.error.empty()) {
    Error(env.err, "%s (see qm7410-cli --help)", parsed.error.c_str());
    return kExitUsage;
  }
  return Run(parsed.options, env);
}

int Run(const Options& o, Environment& env) {
  if (o.help) {
    Emit(env.out, HelpText());
    return kExitOk;
  }
  if (o.version) {
    Emit(env.out, VersionText());
    return kExitOk;
  }

  // Everything the user typed is checked before the port is touched.
  SetPlan plan;
  if (o.command == Command::Set) {
    plan = PlanSettings(o.arguments, o.addresses.size());
    if (!plan.error.empty()) {
      Error(env.err, "%s", plan.error.c_str());
      return kExitRefused;
    }
  }
  std::FILE* logOut = env.out;
  if (o.command == Command::Log && !o.output.empty()) {
    std::string error;
    logOut = OpenLogFile(o.output, o.format, error);
    if (!logOut) {
      Error(env.err, "%s", error.c_str());
      return kExitFailure;
    }
  }

  const std::string device = DevicePath(o.port);
  int code = kExitOk;
  try {
    env.device.Open(device, link::LineSettings{o.baud, o.parity, 8, 1});
    link::Trace trace(env.err, meter::RegisterName);
    LinkOptions lo{o.baud, o.parity, o.timeoutMs, o.retries.value_or(2),     o.verbose ? env.err : nullptr,
                   {},     o.echo,   env.err,     o.trace ? &trace : nullptr};
    // A log outlives a lost port or connection: it opens it again and counts the gap as failed reads.
    if (o.command == Command::Log) lo.reopen = device;
    MeterLink link(env.device, env.wait, lo);
    Runner runner(o, env, link);
    switch (o.command) {
      case Command::Read:
        code = runner.Read(true);
        break;
      case Command::Identify:
        code = runner.Read(false);
        break;
      case Command::Scan:
        code = runner.Scan();
        break;
      case Command::Set:
        code = runner.Set(plan);
        break;
      case Command::EnergyReset:
        code = runner.EnergyReset();
        break;
      case Command::Raw:
        code = runner.Raw(o.rawStart, o.rawCount);
        break;
      case Command::Doctor:
        link.SetRetries(o.retries.value_or(0));  // a probe into silence costs one timeout
        code = RunDoctor(PlanDoctor(o), link, env, device);
        break;
      case Command::Log:
        if (logOut == env.out) Emit(env.out, LogHeader(o.format));
        code = runner.Log(logOut);
        break;
      case Command::None:
        break;
    }
  } catch (const link::CommError& e) {
    Error(env.err, "%s", e.what());  // it names the device or the gateway
    code = kExitPort;
  }
  if (logOut != env.out) std::fclose(logOut);
  env.device.Close();
  return code;
}

}  // namespace qm::cli
