// Placeholder until the profile rules land.
#include "os/ini_text.hpp"

#include <algorithm>
#include <cstring>

namespace ini {

std::size_t read_value(std::string_view, const char*, const char*, const char* defaultText,
                       std::span<char> buffer) {
  if (buffer.empty()) return 0;
  const std::size_t length = std::min(std::strlen(defaultText), buffer.size() - 1);
  std::memcpy(buffer.data(), defaultText, length);
  buffer[length] = '\0';
  return length;
}

std::string write_value(std::string_view fileText, const char*, const char*, const char*) {
  return std::string(fileText);
}

}  // namespace ini
