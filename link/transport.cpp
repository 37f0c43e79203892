#include "link/transport.h"

#include <sstream>

namespace qm::link {

bool ParseLineSettings(const std::string& text, LineSettings& out) {
  std::istringstream in(text);
  LineSettings s;
  char c1 = 0, c2 = 0, c3 = 0, letter = 0;
  if (!(in >> s.baud >> c1 >> letter >> c2 >> s.dataBits >> c3 >> s.stopBits)) return false;
  std::string rest;
  if (in >> rest) return false;
  const std::optional<Parity> parity = ParityOfLetter(letter);
  if (parity) s.parity = *parity;
  const bool ok = c1 == ',' && c2 == ',' && c3 == ',' && s.baud > 0 && parity && s.dataBits >= 5 &&
                  s.dataBits <= 8 && (s.stopBits == 1 || s.stopBits == 2);
  if (ok) out = s;
  return ok;
}

}  // namespace qm::link
