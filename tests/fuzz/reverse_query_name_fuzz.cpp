// Fuzzes the reverse query name on any text in its 29-byte buffer, terminated or not: nothing is
// written or read outside the buffer, the result is always terminated in it, it is the groups in
// reverse under ".IN-ADDR.ARPA" cut to 28 characters, and every dotted IPv4 address gets its
// whole name.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "collector/reverse_lookup.hpp"

namespace {

void check(bool condition) {
  if (!condition) __builtin_trap();
}

// On the heap by itself, so that an access past the 29 bytes meets a red zone.
struct Query {
  qv::QueryNameBuffer text;
};

// Four groups of one to three digits.
bool dotted_address(std::string_view text) {
  int groups = 0;
  std::size_t digits = 0;
  for (const char c : text) {
    if (c == '.') {
      if (digits == 0) return false;
      ++groups;
      digits = 0;
    } else if (c >= '0' && c <= '9' && digits < 3) {
      ++digits;
    } else {
      return false;
    }
  }
  return groups == 3 && digits > 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto query = std::make_unique<Query>();
  const std::size_t length = std::min(size, sizeof query->text);
  std::memcpy(query->text, data, length);
  const std::string dotted(query->text, strnlen(query->text, sizeof query->text));

  // Group k is the text between the (k-1)-th and k-th dot; missing groups are empty.
  std::string groups[4];
  std::size_t at = 0;
  for (std::string& group : groups) {
    if (at > dotted.size()) break;
    const std::size_t dot = std::min(dotted.find('.', at), dotted.size());
    group = dotted.substr(at, dot - at);
    at = dot + 1;
  }
  const std::string whole =
      groups[3] + "." + groups[2] + "." + groups[1] + "." + groups[0] + ".IN-ADDR.ARPA";

  qv::ReverseQueryName(query->text);
  const std::size_t written = strnlen(query->text, sizeof query->text);
  check(written < sizeof query->text);
  check(std::string_view(query->text, written) == std::string_view(whole).substr(0, 28));
  if (dotted_address(dotted)) check(written == whole.size());
  return 0;
}
