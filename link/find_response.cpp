#include "link/find_response.h"

#include "link/crc16.h"

namespace qm::link {

int16_t FindResponse(const uint8_t* buffer, int16_t length, uint8_t function, uint8_t address,
                     int16_t frameLength) {
  const int L = frameLength;
  if (L < 3 || length <= L - 1) return -1;  // a frame needs at least its CRC and one byte before it
  for (int i = 0; i <= length - L; ++i) {
    if (buffer[i] != address || buffer[i + 1] != function) continue;
    const uint16_t crc = CalcCrc16(buffer + i, static_cast<int16_t>(L - 2));
    if (buffer[i + L - 2] == (crc >> 8) && buffer[i + L - 1] == (crc & 0xFF)) return static_cast<int16_t>(i);
  }
  return -1;
}

}  // namespace qm::link
