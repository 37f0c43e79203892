#include "link/transport.h"

#include <cctype>
#include <sstream>

namespace qm::link {

bool ParseLineSettings(const std::string& text, LineSettings& out) {
  std::istringstream in(text);
  LineSettings s;
  char c1 = 0, c2 = 0, c3 = 0;
  if (!(in >> s.baud >> c1 >> s.parity >> c2 >> s.dataBits >> c3 >> s.stopBits)) return false;
  std::string rest;
  if (in >> rest) return false;
  s.parity = static_cast<char>(std::toupper(static_cast<unsigned char>(s.parity)));
  const bool ok = c1 == ',' && c2 == ',' && c3 == ',' && s.baud > 0 &&
                  (s.parity == 'N' || s.parity == 'O' || s.parity == 'E') && s.dataBits >= 5 &&
                  s.dataBits <= 8 && (s.stopBits == 1 || s.stopBits == 2);
  if (ok) out = s;
  return ok;
}

}  // namespace qm::link
