// Windows: the host's settings file through the system's own profile service.
#include <windows.h>

#include "os/os.hpp"

namespace os {

std::size_t read_profile_string(const char* section, const char* key, const char* defaultText,
                                std::span<char> buffer, const char* file) {
  return GetPrivateProfileStringA(section, key, defaultText, buffer.data(),
                                  static_cast<DWORD>(buffer.size()), file);
}

bool write_profile_string(const char* section, const char* key, const char* value,
                          const char* file) {
  return WritePrivateProfileStringA(section, key, value, file) != 0;
}

}  // namespace os
