#pragma once
#include <string>

namespace qm::link {

// The language of a transport's messages: the window speaks Chinese, the command line and the
// service English.
enum class Wording { Chinese, English };

// Why a port could not be opened, as far as the device path itself tells.
enum class OpenFault {
  Missing,       // nothing at that path (an adapter not plugged in, a stale link)
  NotSerial,     // a file, a directory or a device that is no terminal
  NoPermission,  // the device refuses this user
  Busy,          // another program holds it
  Other,
};

// The text for a port that could not be opened: the device, the reason in the user's words, the
// system's own words in parentheses, and what usually helps. `group` is the group that owns the
// device; it names the group a Linux user must join when permission is missing.
std::string OpenFailureText(const std::string& path, OpenFault fault, const std::string& group,
                            const std::string& detail, Wording wording = Wording::Chinese);

// Text of line settings the port refused.
std::string SetupFailureText(const std::string& path, const std::string& reason,
                             Wording wording = Wording::Chinese);

// Text of a port that went away while open: the far end hung up or the adapter was pulled out.
std::string LostText(const std::string& path, const std::string& detail, Wording wording = Wording::Chinese);
// The reason LostText gives when the far end hung up or the adapter was pulled out.
std::string HangUpReason(Wording wording = Wording::Chinese);

}  // namespace qm::link
