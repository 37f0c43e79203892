#include "link/port_errors.h"

namespace qm::link {

const char* const kHangUpReason = "线路另一端已关闭或设备已拔出";

std::string OpenFailureText(const std::string& path, OpenFault fault, const std::string& group,
                            const std::string& detail) {
  const std::string head = "无法打开串口 " + path + ": ";
  const std::string words = detail.empty() ? std::string() : " (" + detail + ")";
  switch (fault) {
    case OpenFault::Missing:
      return head + "设备不存在" + words + "。请检查串口号, 以及 USB 串口适配器是否已插好。";
    case OpenFault::NotSerial:
      return head + "这不是串口设备" + words + "。";
    case OpenFault::NoPermission: {
      // Serial devices belong to a group (dialout on Debian and Ubuntu, uucp elsewhere); root's own
      // group is never the one to join.
      const std::string g = group.empty() || group == "root" ? std::string("dialout") : group;
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

std::string SetupFailureText(const std::string& path, const std::string& reason) {
  return "串口 " + path + " 设置失败: " + reason;
}

std::string LostText(const std::string& path, const std::string& detail) {
  return "串口 " + path + " 已断开: " + detail;
}

}  // namespace qm::link
