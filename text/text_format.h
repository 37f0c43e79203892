#pragma once
#include <string>

namespace qm::text {

// printf into a std::string. Every caller passes one of the program's own constant formats; nothing
// received from the meter is ever used as a format.
std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The item a list should select for `index`: the index itself when the list has it, else -1 (no
// selection). Values read from the meter pass through here before they reach a combo box.
int ListIndexOrNone(long long index, int count);

}  // namespace qm::text
