// Fuzzes the settings file text: any file, any section and key. A write changes nothing but the
// one line it sets (or adds), keys of other sections read as before, and a whole settings record
// saved into the file loads back field for field, whatever bytes its template holds.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/text.hpp"
#include "fake/fake_os.hpp"
#include "host/settings.hpp"
#include "os/ini_text.hpp"

namespace {

void check(bool condition) {
  if (!condition) __builtin_trap();
}

// A section or key name, or a value, that the profile rules keep exactly as it is: letters,
// digits and inner blanks (other bytes become letters).
std::string plain(FuzzedDataProvider& input, std::size_t maxLength) {
  std::string out = input.ConsumeRandomLengthString(maxLength);
  for (char& c : out) {
    if (std::isalnum(static_cast<unsigned char>(c)) == 0 && c != ' ') {
      c = static_cast<char>('a' + static_cast<unsigned char>(c) % 26);
    }
  }
  const std::size_t first = out.find_first_not_of(' ');
  if (first == std::string::npos) return "k";
  return out.substr(first, out.find_last_not_of(' ') - first + 1);
}

std::string read(std::string_view file, const std::string& section, const std::string& key) {
  char buffer[1000];
  ini::read_value(file, section.c_str(), key.c_str(), "\x01missing", buffer);
  return buffer;
}

// A write may replace the rest of one line (after its "=") and insert text; everything before
// and after that stays byte for byte.
void check_one_line_changed(std::string_view before, std::string_view after) {
  const auto prefix = static_cast<std::size_t>(
      std::mismatch(before.begin(), before.end(), after.begin(), after.end()).first -
      before.begin());
  std::size_t suffix = static_cast<std::size_t>(
      std::mismatch(before.rbegin(), before.rend(), after.rbegin(), after.rend()).first -
      before.rbegin());
  suffix = std::min(suffix, std::min(before.size(), after.size()) - prefix);
  const std::string_view removed = before.substr(prefix, before.size() - prefix - suffix);
  check(removed.find_first_of("\r\n") == std::string_view::npos);
}

qv::InstanceSettings record_from(FuzzedDataProvider& input) {
  qv::InstanceSettings record{};
  record.selectedOption = input.ConsumeIntegral<std::int32_t>();
  record.rangeLow = input.ConsumeIntegral<std::int64_t>();
  record.rangeHigh = input.ConsumeIntegral<std::int64_t>();
  record.filterEnabled = input.ConsumeIntegral<std::int32_t>();
  record.hideZeroAddress = input.ConsumeIntegral<std::int32_t>();
  record.noLeadingZeros = input.ConsumeIntegral<std::int32_t>();
  // A template is one line of text: line breaks and NULs cannot be in it.
  std::string outputTemplate = input.ConsumeRandomLengthString(511);
  std::replace_if(
      outputTemplate.begin(), outputTemplate.end(),
      [](char c) { return c == '\r' || c == '\n' || c == '\0'; }, '?');
  qv::store_text(record.outputTemplate, outputTemplate);
  return record;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string section = plain(input, 16);
  const std::string key = plain(input, 16);
  const std::string value = plain(input, 16);
  // Another section: a write to ours must not change what any of its keys reads.
  const std::string otherSection = section + plain(input, 4);
  const std::string otherKey = plain(input, 16);
  const qv::InstanceSettings record = record_from(input);
  const std::string file = input.ConsumeRemainingBytesAsString();

  const std::string written = ini::write_value(file, section.c_str(), key.c_str(), value.c_str());
  check(read(written, section, key) == value);
  check_one_line_changed(file, written);
  check(read(written, otherSection, otherKey) == read(file, otherSection, otherKey));

  fake::reset();
  fake::machine().files["settings.ini"] = file;
  qv::save_settings(record, "settings.ini", section.c_str());
  qv::InstanceSettings loaded;
  qv::load_settings(loaded, "settings.ini", section.c_str());
  check(loaded.outputText[0] == '\0');
  check(qv::field_text(loaded.outputTemplate) == qv::field_text(record.outputTemplate));
  check(loaded.selectedOption == record.selectedOption && loaded.rangeLow == record.rangeLow &&
        loaded.rangeHigh == record.rangeHigh && loaded.filterEnabled == record.filterEnabled &&
        loaded.hideZeroAddress == record.hideZeroAddress &&
        loaded.noLeadingZeros == record.noLeadingZeros);
  check(read(fake::machine().files["settings.ini"], otherSection, otherKey) ==
        read(file, otherSection, otherKey));
  return 0;
}
