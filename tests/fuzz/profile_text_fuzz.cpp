// Fuzzes the two parsers of settings text: the profile text rules and the number reader. Beyond
// crashes and undefined behaviour it checks that a written value reads back unchanged whatever
// file it was written into.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "host/settings.hpp"
#include "os/ini_text.hpp"

namespace {

// A name or value made of the fuzz input's bytes, reduced to letters and digits (and inner blanks
// for values), so that the profile rules keep it as it is.
std::string plain(std::string_view bytes, bool innerBlanks) {
  static constexpr std::string_view kLetters = "abcXYZ019 ";
  const std::size_t choices = innerBlanks ? kLetters.size() : kLetters.size() - 1;
  std::string out;
  for (const char c : bytes) out += kLetters[static_cast<unsigned char>(c) % choices];
  while (!out.empty() && out.back() == ' ') out.pop_back();
  while (!out.empty() && out.front() == ' ') out.erase(0, 1);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  (void)qv::read_number(input);

  // The first bytes name the section, key and value; the rest is the file.
  if (size < 7) return 0;
  const std::string section = plain(input.substr(0, 2), false);
  const std::string key = plain(input.substr(2, 2), false);
  const std::string value = plain(input.substr(4, 3), true);
  const std::string_view file = input.substr(7);
  char buffer[64];
  (void)ini::read_value(file, section.c_str(), key.c_str(), "default", buffer);
  const std::string written = ini::write_value(file, section.c_str(), key.c_str(), value.c_str());
  ini::read_value(written, section.c_str(), key.c_str(), "default", buffer);
  if (value != buffer) __builtin_trap();
  return 0;
}
