#include "sim/tty.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "link/posix_serial_device.h"

namespace qm::sim {

bool LineOf(int fd, link::LineSettings& line, bool& parityKnown) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return false;
  line.baud = link::BaudOfTermiosSpeed(cfgetospeed(&t));
  line.parity = (t.c_cflag & PARENB) ? ((t.c_cflag & PARODD) ? link::Parity::Odd : link::Parity::Even)
                                     : link::Parity::None;
  parityKnown = (t.c_cflag & PARENB) != 0;
  switch (t.c_cflag & CSIZE) {
    case CS5:
      line.dataBits = 5;
      break;
    case CS6:
      line.dataBits = 6;
      break;
    case CS7:
      line.dataBits = 7;
      break;
    default:
      line.dataBits = 8;
      break;
  }
  line.stopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
  return true;
}

bool ConfigureRaw(int fd, int32_t baud, link::Parity parity, std::string& error) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) {
    error = std::strerror(errno);
    return false;
  }
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | CRTSCTS | PARENB | PARODD);
  if (parity != link::Parity::None) t.c_cflag |= PARENB;
  if (parity == link::Parity::Odd) t.c_cflag |= PARODD;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  const speed_t speed = link::TermiosSpeed(baud).value_or(B9600);
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);
  if (tcsetattr(fd, TCSANOW, &t) != 0) {
    error = std::strerror(errno);
    return false;
  }
  return true;
}

bool MakeLink(const std::string& path, const std::string& target, std::string& error) {
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
    error = path + " exists and is not a symbolic link; not replacing it";
    return false;
  }
  const std::string temp = path + ".qm7410-sim." + std::to_string(getpid());
  unlink(temp.c_str());
  if (symlink(target.c_str(), temp.c_str()) != 0 || rename(temp.c_str(), path.c_str()) != 0) {
    error = "cannot create the link " + path + ": " + std::strerror(errno);
    unlink(temp.c_str());
    return false;
  }
  return true;
}

void RemoveLink(const std::string& path, const std::string& target) {
  char buf[4096];
  const ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
  if (n <= 0) return;
  buf[n] = '\0';
  if (target == buf) unlink(path.c_str());
}

bool OpenLine(const std::string& linkPath, const std::string& devicePath, int32_t baud, link::Parity parity,
              Line& line, std::string& error) {
  if (!linkPath.empty()) {
    line.pty = true;
    line.name = linkPath;
    line.fd = posix_openpt(O_RDWR | O_NOCTTY);
    if (line.fd < 0 || grantpt(line.fd) != 0 || unlockpt(line.fd) != 0 || ptsname(line.fd) == nullptr) {
      error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
      return false;
    }
    line.slaveName = ptsname(line.fd);
    // Holding the other side open keeps the master readable while no program has the port open.
    line.slave = open(line.slaveName.c_str(), O_RDWR | O_NOCTTY);
    // No parity flag here: a pseudo-terminal would keep a stray PARODD after a program that opens it
    // without parity, and the meter would then take the line for odd parity.
    if (line.slave < 0 || !ConfigureRaw(line.slave, baud, link::Parity::None, error)) {
      error = "cannot set up " + line.slaveName + ": " + (line.slave < 0 ? std::strerror(errno) : error);
      return false;
    }
    if (!MakeLink(linkPath, line.slaveName, error)) return false;
  } else {
    line.name = devicePath;
    line.fd = open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (line.fd < 0) {
      error = "cannot open " + devicePath + ": " + std::strerror(errno);
      return false;
    }
    if (!ConfigureRaw(line.fd, baud, parity, error)) {
      error = "cannot configure " + devicePath + ": " + error;
      return false;
    }
    tcflush(line.fd, TCIOFLUSH);
  }
  fcntl(line.fd, F_SETFL, fcntl(line.fd, F_GETFL) | O_NONBLOCK);
  return true;
}

void CloseLine(Line& line) {
  if (line.pty) RemoveLink(line.name, line.slaveName);
  if (line.slave >= 0) close(line.slave);
  if (line.fd >= 0) close(line.fd);
  line = Line{};
}

}  // namespace qm::sim
