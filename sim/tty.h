#pragma once
// The terminal side of qm7410-sim: a pseudo-terminal or a real serial port in raw mode, and the link
// that names the pseudo-terminal.
#include <cstdint>
#include <string>

#include "link/transport.h"

namespace qm::sim {

// The settings the line has now: on a pseudo-terminal those the program on the other side chose.
// Linux keeps no parity on a pseudo-terminal (it clears PARENB and forces 8 data bits; a stray PARODD
// may survive from an earlier setting), so there `parityKnown` is false.
bool LineOf(int fd, link::LineSettings& line, bool& parityKnown);

// Raw mode at `baud` and `parity` ('N', 'O', 'E'), eight data bits, one stop bit.
bool ConfigureRaw(int fd, int32_t baud, link::Parity parity, std::string& error);

// Makes `path` a symbolic link to `target`, replacing an older link but never a real file.
bool MakeLink(const std::string& path, const std::string& target, std::string& error);
// Removes the link only while it still points at `target`: another simulator may own it now.
void RemoveLink(const std::string& path, const std::string& target);

// The line the meters are on: the master side of a new pseudo-terminal (with our own descriptor on
// its slave side, and a link to it), or a real serial port.
struct Line {
  int fd = -1;
  int slave = -1;
  bool pty = false;
  std::string name;       // what the user named: the link or the device
  std::string slaveName;  // the pseudo-terminal's own path
};
// Sets up the pseudo-terminal behind `linkPath`, or opens `devicePath`, at the meter's line settings.
bool OpenLine(const std::string& linkPath, const std::string& devicePath, int32_t baud, link::Parity parity,
              Line& line, std::string& error);
// Closes the line and removes the link it made.
void CloseLine(Line& line);

}  // namespace qm::sim
