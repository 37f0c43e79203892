#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Words typed on a command line or a command channel, read strictly: the whole word or nothing.
namespace qm::text {

enum class Radix {
  Decimal,       // digits only
  DecimalOrHex,  // digits, or hexadecimal digits after 0x or 0X
};

// A whole number within [min, max] and nothing else: no blanks, no '+', and a '-' only where `min` is
// below zero. Leading zeros are decimal ("010" is ten).
std::optional<long> ReadInteger(std::string_view word, long min, long max, Radix radix = Radix::DecimalOrHex);
// The same, for option parsers that test and go on: `value` is set only when the word is good.
bool ReadInteger(std::string_view word, long min, long max, long& value, Radix radix = Radix::DecimalOrHex);

// Numbers separated by `separator`, each read as ReadInteger does; an empty item makes the whole list
// wrong ("1,,2", "1,").
std::optional<std::vector<long>> ReadIntegerList(std::string_view word, long min, long max,
                                                 char separator = ',', Radix radix = Radix::DecimalOrHex);

// ASCII letters in lower case; other bytes (UTF-8 among them) as they are.
std::string Lower(std::string_view word);

// "01 03 00 00" in upper-case hexadecimal; past `limit` bytes "... (N bytes)" instead of the rest.
std::string HexBytes(std::span<const uint8_t> bytes, size_t limit = SIZE_MAX);

}  // namespace qm::text
