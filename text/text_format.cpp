#include "text/text_format.h"

#include <cstdarg>
#include <cstdio>

namespace qm::text {

std::string Printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int needed = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text;
  if (needed > 0) {
    text.resize(static_cast<size_t>(needed) + 1);
    std::vsnprintf(text.data(), text.size(), format, again);
    text.resize(static_cast<size_t>(needed));
  }
  va_end(again);
  return text;
}

int ListIndexOrNone(long long index, int count) {
  return (index >= 0 && index < count) ? static_cast<int>(index) : -1;
}

}  // namespace qm::text
