// The command's JSON writer: every JSON text the command prints is built here, one object a line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qv {

// A JSON string literal of any bytes, quotes included. Valid UTF-8 is kept, control characters
// are escaped, and each byte that is not part of valid UTF-8 is written as \udcXX (XX its value),
// the way Python's "surrogateescape" reads such bytes back exactly.
void append_json_string(std::string& out, std::string_view bytes);

// Writes objects and arrays into out, members separated as they come. A key is left out where
// none is given (a value in an array, the outermost object).
class JsonWriter {
 public:
  explicit JsonWriter(std::string& out) : out_(out) {}

  JsonWriter& begin_object(std::string_view key = {});
  JsonWriter& end_object();
  JsonWriter& begin_array(std::string_view key = {});
  JsonWriter& end_array();
  // nullopt is JSON's null.
  JsonWriter& text(std::string_view key, std::optional<std::string_view> value);
  JsonWriter& number(std::string_view key, std::uint64_t value);
  // A number already in JSON's form (digits, a decimal point); nullopt is null.
  JsonWriter& number_text(std::string_view key, std::optional<std::string_view> digits);
  JsonWriter& boolean(std::string_view key, std::optional<bool> value);

 private:
  void start_member(std::string_view key);

  std::string& out_;
  bool needsComma_ = false;
};

}  // namespace qv
