#include "link/port_errors.h"

namespace qm::link {
namespace {

// Serial devices belong to a group (dialout on Debian and Ubuntu, uucp elsewhere); root's own group
// is never the one to join.
std::string GroupToJoin(const std::string& group) {
  return group.empty() || group == "root" ? std::string("dialout") : group;
}

std::string English(const std::string& path, OpenFault fault, const std::string& group,
                    const std::string& words, const std::string& detail) {
  const std::string head = "cannot open serial port " + path + ": ";
  switch (fault) {
    case OpenFault::Missing:
      return head + "no such device" + words +
             ". Check the port number and that the USB adapter is plugged in.";
    case OpenFault::NotSerial:
      return head + "not a serial device" + words + ".";
    case OpenFault::NoPermission: {
      const std::string g = GroupToJoin(group);
      return head + "permission denied" + words + ". On Linux, add your user to the device's group " + g +
             " (sudo usermod -aG " + g + " $USER) and log in again.";
    }
    case OpenFault::Busy:
      return head + "in use by another program" + words + ".";
    case OpenFault::Other:
      break;
  }
  return head + (detail.empty() ? std::string("unknown error") : detail);
}

}  // namespace

std::string OpenFailureText(const std::string& path, OpenFault fault, const std::string& group,
                            const std::string& detail, Wording wording) {
  const std::string words = detail.empty() ? std::string() : " (" + detail + ")";
  if (wording == Wording::English) return English(path, fault, group, words, detail);
  const std::string head = "无法打开串口 " + path + ": ";
  switch (fault) {
    case OpenFault::Missing:
      return head + "设备不存在" + words + "。请检查串口号, 以及 USB 串口适配器是否已插好。";
    case OpenFault::NotSerial:
      return head + "这不是串口设备" + words + "。";
    case OpenFault::NoPermission: {
      const std::string g = GroupToJoin(group);
      return head + "没有访问权限" + words + "。在 Linux 上, 通常需要把当前用户加入设备所属的组 " + g +
             " (sudo usermod -aG " + g + " $USER), 然后重新登录。";
    }
    case OpenFault::Busy:
      return head + "设备正被其他程序使用" + words + "。";
    case OpenFault::Other:
      break;
  }
  return head + (detail.empty() ? std::string("未知错误") : detail);
}

std::string SetupFailureText(const std::string& path, const std::string& reason, Wording wording) {
  if (wording == Wording::English) return "serial port " + path + " refused its settings: " + reason;
  return "串口 " + path + " 设置失败: " + reason;
}

std::string LostText(const std::string& path, const std::string& detail, Wording wording) {
  if (wording == Wording::English) return "serial port " + path + " went away: " + detail;
  return "串口 " + path + " 已断开: " + detail;
}

std::string HangUpReason(Wording wording) {
  return wording == Wording::English ? "the far end closed the line or the adapter was unplugged"
                                     : "线路另一端已关闭或设备已拔出";
}

}  // namespace qm::link
