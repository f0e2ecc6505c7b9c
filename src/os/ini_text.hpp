// Private profile ("INI") text, read and written with the observable rules of the Windows profile
// service, for platforms that have none. Pure text in, text out: the file I/O is the caller's.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace ini {

// The value of key in section, or defaultText where the section or key is missing; stored in the
// buffer cut to its size and NUL-terminated. Returns the number of characters stored. A null
// section, key or default counts as an empty text.
std::size_t read_value(std::string_view fileText, const char* section, const char* key,
                       const char* defaultText, std::span<char> buffer);

// The file text with key set to value in section: replaced in place, added at the end of its
// section, or added with a new section at the end; every other line kept byte for byte.
std::string write_value(std::string_view fileText, const char* section, const char* key,
                        const char* value);

}  // namespace ini
