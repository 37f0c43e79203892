#include "text/word_text.h"

#include <charconv>

namespace qm::text {

std::optional<long> ReadInteger(std::string_view word, long min, long max, Radix radix) {
  const bool negative = min < 0 && !word.empty() && word.front() == '-';
  if (negative) word.remove_prefix(1);
  int base = 10;
  if (radix == Radix::DecimalOrHex && word.size() > 2 && word[0] == '0' &&
      (word[1] == 'x' || word[1] == 'X')) {
    word.remove_prefix(2);
    base = 16;
  }
  // from_chars takes no sign and no blanks itself; the digits must be all of the word.
  unsigned long magnitude = 0;
  const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), magnitude, base);
  if (word.empty() || ec != std::errc() || end != word.data() + word.size()) return std::nullopt;
  if (negative) {
    // -min as unsigned, without overflowing for LONG_MIN.
    if (magnitude > 0UL - static_cast<unsigned long>(min)) return std::nullopt;
    const long value = magnitude == 0 ? 0 : -static_cast<long>(magnitude - 1) - 1;
    return value < min || value > max ? std::nullopt : std::optional<long>(value);
  }
  if (max < 0 || magnitude > static_cast<unsigned long>(max)) return std::nullopt;
  const long value = static_cast<long>(magnitude);
  return value < min ? std::nullopt : std::optional<long>(value);
}

bool ReadInteger(std::string_view word, long min, long max, long& value, Radix radix) {
  const std::optional<long> v = ReadInteger(word, min, max, radix);
  if (v) value = *v;
  return v.has_value();
}

std::optional<std::vector<long>> ReadIntegerList(std::string_view word, long min, long max, char separator,
                                                 Radix radix) {
  std::vector<long> values;
  for (size_t start = 0;;) {
    const size_t end = std::min(word.find(separator, start), word.size());
    const std::optional<long> one = ReadInteger(word.substr(start, end - start), min, max, radix);
    if (!one) return std::nullopt;
    values.push_back(*one);
    if (end == word.size()) return values;
    start = end + 1;
  }
}

std::string Lower(std::string_view word) {
  std::string out(word);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string HexBytes(std::span<const uint8_t> bytes, size_t limit) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
    if (i) out += ' ';
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0x0F];
  }
  if (bytes.size() > limit) out += " ... (" + std::to_string(bytes.size()) + " bytes)";
  return out;
}

}  // namespace qm::text
