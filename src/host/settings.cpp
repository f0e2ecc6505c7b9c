// An instance's settings in the host's profile file, and the rule that reads a setting as a number.
#include "host/settings.hpp"

#include <charconv>
#include <cstring>
#include <limits>
#include <type_traits>

#include "common/text.hpp"
#include "os/os.hpp"

namespace qv {

namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
// 10^19 exceeds every 64-bit magnitude and still fits an unsigned 64-bit value.
constexpr std::size_t kMaxMagnitudeDigits = 19;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A 32-bit setting keeps the low 32 bits of the number (modular, never an overflowing conversion).
std::int32_t low_32_bits(std::int64_t value) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

// A magnitude with its sign, saturated at the 64-bit limits: texts beyond them read as the limit.
std::int64_t signed_value(bool negative, std::uint64_t magnitude, bool beyond) {
  constexpr auto kMaxMagnitude = static_cast<std::uint64_t>(kMax);
  if (negative) {
    // 2^63 itself is the lower limit as well.
    if (beyond || magnitude > kMaxMagnitude) return kMin;
    return -static_cast<std::int64_t>(magnitude);
  }
  return beyond || magnitude > kMaxMagnitude ? kMax : static_cast<std::int64_t>(magnitude);
}

// "&H", "&B", "&O"/"&Q" or a bare "&" (octal): the longest run of digits of the base that follows.
std::int64_t read_based(std::string_view text) {
  const char letter = text.empty() ? '\0' : static_cast<char>(text.front() | 0x20);
  unsigned base = 8;
  if (letter == 'h') base = 16;
  if (letter == 'b') base = 2;
  if (letter == 'h' || letter == 'b' || letter == 'o' || letter == 'q') text.remove_prefix(1);
  std::uint64_t magnitude = 0;
  bool beyond = false;
  for (const char c : text) {
    const char lower = static_cast<char>(c | 0x20);
    unsigned digit = base;
    if (is_digit(c)) digit = static_cast<unsigned>(c - '0');
    if (lower >= 'a' && lower <= 'f') digit = static_cast<unsigned>(lower - 'a' + 10);
    if (digit >= base) break;
    if (magnitude > (std::numeric_limits<std::uint64_t>::max() - digit) / base)
      beyond = true;
    else
      magnitude = magnitude * base + digit;
  }
  return signed_value(false, magnitude, beyond);
}

// The digits of a decimal number as written: the runs before and after its point.
struct Digits {
  std::string_view whole;
  std::string_view fraction;

  [[nodiscard]] std::size_t size() const { return whole.size() + fraction.size(); }
  unsigned operator[](std::size_t i) const {
    return static_cast<unsigned>((i < whole.size() ? whole[i] : fraction[i - whole.size()]) - '0');
  }
};

// The value digits × 10^scale, rounded to a whole number with ties to the even neighbour. Exact
// for every text (no detour through floating point, so 9007199254740993 stays itself) and
// without allocating, so a load cannot fail half way.
std::int64_t rounded(bool negative, Digits digits, std::int64_t scale) {
  while (!digits.whole.empty() && digits.whole.front() == '0') digits.whole.remove_prefix(1);
  while (digits.whole.empty() && !digits.fraction.empty() && digits.fraction.front() == '0') {
    digits.fraction.remove_prefix(1);
  }
  const std::size_t count = digits.size();
  if (count == 0) return 0;
  const std::int64_t wholeLength = static_cast<std::int64_t>(count) + scale;
  if (wholeLength > static_cast<std::int64_t>(kMaxMagnitudeDigits)) {
    return signed_value(negative, 0, true);
  }
  std::uint64_t magnitude = 0;
  for (std::int64_t i = 0; i < wholeLength; ++i) {
    const auto at = static_cast<std::size_t>(i);
    magnitude = magnitude * 10 + (at < count ? digits[at] : 0);
  }
  if (wholeLength >= 0 && static_cast<std::size_t>(wholeLength) < count) {
    const auto first = static_cast<std::size_t>(wholeLength);
    bool moreThanHalf = false;
    for (std::size_t at = first + 1; at < count && !moreThanHalf; ++at) {
      moreThanHalf = digits[at] != 0;
    }
    const unsigned next = digits[first];
    if (next > 5 || (next == 5 && (moreThanHalf || magnitude % 2 == 1))) ++magnitude;
  }
  return signed_value(negative, magnitude, false);
}

// The length of the run of decimal digits at the start of text.
std::size_t digit_run(std::string_view text) {
  std::size_t length = 0;
  while (length < text.size() && is_digit(text[length])) ++length;
  return length;
}

// The longest prefix of the form [+|-] digits [. digits] [(E|D) [+|-] digits].
std::int64_t read_decimal(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  Digits digits{text.substr(0, digit_run(text)), {}};
  text.remove_prefix(digits.whole.size());
  if (!text.empty() && text.front() == '.') {
    text.remove_prefix(1);
    digits.fraction = text.substr(0, digit_run(text));
    text.remove_prefix(digits.fraction.size());
  }
  if (digits.size() == 0) return 0;
  std::int64_t scale = -static_cast<std::int64_t>(digits.fraction.size());
  if (!text.empty() && ((text.front() | 0x20) == 'e' || (text.front() | 0x20) == 'd')) {
    text.remove_prefix(1);
    bool negativeExponent = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
      negativeExponent = text.front() == '-';
      text.remove_prefix(1);
    }
    // Past this bound an exponent only decides between saturation and zero.
    constexpr std::int64_t kExponentBound = std::int64_t{1} << 40;
    std::int64_t exponent = 0;
    for (std::size_t at = 0, run = digit_run(text); at < run; ++at) {
      if (exponent < kExponentBound) exponent = exponent * 10 + (text[at] - '0');
    }
    scale += negativeExponent ? -exponent : exponent;
  }
  return rounded(negative, digits, scale);
}

// The profile keys in the order both directions handle them, each with the text that a missing
// key loads as and the field it fills.
template <typename Record, typename Visit>
void each_setting(Record& record, Visit visit) {
  visit("Sot", "10003", record.selectedOption);
  visit("Template", "", record.outputTemplate);
  visit("fltL", "192168000001", record.rangeLow);
  visit("fltH", "192168000255", record.rangeHigh);
  visit("fltE", "0", record.filterEnabled);
  visit("flt0", "0", record.hideZeroAddress);
  visit("zero", "0", record.noLeadingZeros);
}

// The profile service trims blanks around a value and removes one pair of enclosing quotes when
// reading; a template that would lose characters that way is written inside quotes.
bool needs_quotes(std::string_view text) {
  constexpr std::string_view kTrimmed = " \t\n\v\f\r\x1a";
  if (text.empty()) return false;
  const char first = text.front();
  return kTrimmed.find(first) != std::string_view::npos ||
         kTrimmed.find(text.back()) != std::string_view::npos ||
         (text.size() >= 2 && (first == '"' || first == '\'') && text.back() == first);
}

}  // namespace

std::int64_t read_number(std::string_view text) {
  const std::size_t start = text.find_first_not_of(" \t\n");
  if (start == std::string_view::npos) return 0;
  text.remove_prefix(start);
  if (text.front() == '&') return read_based(text.substr(1));
  return read_decimal(text);
}

void load_settings(InstanceSettings& record, const char* file, const char* section) {
  std::memset(&record, 0, sizeof record);
  each_setting(record, [&](const char* key, const char* defaultText, auto& field) {
    char answer[1000] = {};
    os::read_profile_string(section, key, defaultText, answer, file);
    const std::string_view text = field_text(answer);
    using Field = std::remove_reference_t<decltype(field)>;
    if constexpr (std::is_array_v<Field>) {
      store_text(field, text);
    } else if constexpr (std::is_same_v<Field, std::int64_t>) {
      field = read_number(text);
    } else {
      field = low_32_bits(read_number(text));
    }
  });
}

void save_settings(const InstanceSettings& record, const char* file, const char* section) {
  each_setting(record, [&](const char* key, const char*, const auto& field) {
    char value[1000] = {};
    using Field = std::remove_cvref_t<decltype(field)>;
    if constexpr (std::is_array_v<Field>) {
      const std::string_view text = field_text(field);
      if (needs_quotes(text)) {
        value[0] = '"';
        std::memcpy(value + 1, text.data(), text.size());
        value[text.size() + 1] = '"';
      } else {
        store_text(value, text);
      }
    } else {
      // Plain decimal, no leading zeros, "-" for negatives; to_chars ignores the locale.
      std::to_chars(value, value + sizeof value - 1, field);
    }
    os::write_profile_string(section, key, value, file);
  });
}

}  // namespace qv
