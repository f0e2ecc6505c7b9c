// Numbers as text under the numeric masks.
#include "common/text.hpp"

namespace qv {

std::size_t format_number(std::uint64_t value, int minDigits, char* out) {
  char reversed[20];
  std::size_t count = 0;
  do {
    reversed[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (count < static_cast<std::size_t>(minDigits) && count < sizeof reversed) {
    reversed[count++] = '0';
  }
  std::reverse_copy(reversed, reversed + count, out);
  out[count] = '\0';
  return count;
}

}  // namespace qv
