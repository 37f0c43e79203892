#pragma once
#include <cstdint>
#include <optional>

namespace qm::link {

// The serial line's parity, from the port dialogs to the port. Its values are the dialogs' parity
// choice (the radio buttons' order), 32 bits wide as the dialogs hold it.
enum class Parity : int32_t { None = 0, Odd = 1, Even = 2 };

// 'N', 'O' or 'E', as a settings string writes it; 'N' for a value outside the three.
constexpr char ParityLetter(Parity parity) {
  return parity == Parity::Odd ? 'O' : parity == Parity::Even ? 'E' : 'N';
}

// The parity a letter names, in either case; nothing for any other character.
constexpr std::optional<Parity> ParityOfLetter(char letter) {
  switch (letter) {
    case 'N':
    case 'n':
      return Parity::None;
    case 'O':
    case 'o':
      return Parity::Odd;
    case 'E':
    case 'e':
      return Parity::Even;
    default:
      return std::nullopt;
  }
}

}  // namespace qm::link
