// Placeholder until the Linux profile service lands.
#include "os/ini_text.hpp"
#include "os/os.hpp"

namespace os {

std::size_t read_profile_string(const char* section, const char* key, const char* defaultText,
                                std::span<char> buffer, const char*) {
  return ini::read_value("", section, key, defaultText, buffer);
}

bool write_profile_string(const char*, const char*, const char*, const char*) { return false; }

}  // namespace os
