// Moving an instance's settings record to and from the host's profile file.
#pragma once

#include <cstdint>
#include <string_view>

#include "host/instance_settings.hpp"

namespace qv {

// Reads a text as a number the way every numeric setting is read: leading blanks skipped, "&H",
// "&B", "&O"/"&Q" bases, otherwise the longest decimal prefix (sign, digits, point, E or D
// exponent); no number reads as 0. Rounded to a whole number, ties to even; saturates at the
// 64-bit limits.
std::int64_t read_number(std::string_view text);

// Replaces the record with the file's values, or each key's default where the file has none.
void load_settings(InstanceSettings& record, const char* file, const char* section);
// Writes the record's settings into the file, key by key; memory is left as it is.
void save_settings(const InstanceSettings& record, const char* file, const char* section);

}  // namespace qv
