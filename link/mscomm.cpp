#include "link/mscomm.h"

#include <algorithm>
#include <cstdlib>

namespace qm::link {

std::string DevicePathForPort(int32_t port) {
#ifdef _WIN32
  return "COM" + std::to_string(port);
#else
  const std::string var = "QM7410_COM" + std::to_string(port);
  if (const char* path = std::getenv(var.c_str()); path && *path) return path;
  return "/dev/ttyS" + std::to_string(port - 1);
#endif
}

bool EchoForPort(int32_t port) {
  const std::string var = "QM7410_ECHO" + std::to_string(port);
  const char* value = std::getenv(var.c_str());
  return value && std::string(value) == "1";
}

Transport& CMSComm::device() const {
  if (!device_) throw CommError("串口控件未连接到任何设备");
  return *device_;
}

void CMSComm::SetCommPort(int16_t port) {
  if (GetPortOpen()) throw CommError("串口 " + DevicePath() + " 已打开, 不能更换端口号");
  port_ = port;
}

void CMSComm::SetSettings(const std::string& settings) {
  LineSettings line;
  if (!ParseLineSettings(settings, line)) throw CommError("无效的串口设置: " + settings);
  settings_ = settings;
  line_ = line;
  if (GetPortOpen()) device().Apply(line_);
}

void CMSComm::SetPortOpen(bool open) {
  if (open == GetPortOpen()) return;
  if (open)
    device().Open(DevicePath(), line_);
  else
    device().Close();
}

bool CMSComm::GetPortOpen() const { return device_ && device_->IsOpen(); }

void CMSComm::SetInBufferCount(int16_t count) {
  if (count != 0) return;
  pending_.clear();
  if (GetPortOpen()) device().DiscardInput();
}

int16_t CMSComm::GetInBufferCount() {
  // A closed port has nothing waiting; reading it is not an error, so a vanished adapter gives one
  // error box (from the call that noticed) and not one per exchange.
  if (!GetPortOpen()) {
    pending_.clear();
    return 0;
  }
  const size_t waiting = pending_.size() + static_cast<size_t>(std::max(device().BytesWaiting(), 0));
  return static_cast<int16_t>(std::min<size_t>(waiting, 32767));
}

void CMSComm::SetOutput(const std::vector<uint8_t>& bytes) {
  if (!GetPortOpen()) throw CommError("串口 " + DevicePath() + " 未打开");
  device().Write(bytes);
}

std::vector<uint8_t> CMSComm::GetInput() {
  if (GetPortOpen()) {
    const std::vector<uint8_t> fresh = device().ReadAll();
    pending_.insert(pending_.end(), fresh.begin(), fresh.end());
  }
  // InputLen limits one read (the program sets 0: everything); the rest waits for the next read.
  const size_t take = inputLen_ > 0 ? std::min<size_t>(pending_.size(), inputLen_) : pending_.size();
  std::vector<uint8_t> bytes(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(take));
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(take));
  return bytes;
}

}  // namespace qm::link
