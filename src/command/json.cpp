// JSON text: string literals that keep any bytes, and objects written member by member.
#include "command/json.hpp"

#include "common/utf8.hpp"

namespace qv {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

void append_unicode_escape(std::string& out, unsigned value) {
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHexDigits[(value >> shift) & 0xF];
}

// Printable ASCII other than the quote and the backslash: written as it stands.
bool plain_json(char byte) { return byte >= 0x20 && byte < 0x7F && byte != '"' && byte != '\\'; }

}  // namespace

void append_json_string(std::string& out, std::string_view bytes) {
  out += '"';
  for (std::size_t i = 0; i < bytes.size();) {
    // Keys, addresses and most names are all plain: copied a run at a time.
    std::size_t plainEnd = i;
    while (plainEnd < bytes.size() && plain_json(bytes[plainEnd])) ++plainEnd;
    if (plainEnd > i) {
      out.append(bytes.substr(i, plainEnd - i));
      i = plainEnd;
      continue;
    }
    const Utf8Char c = read_utf8(bytes.substr(i));
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (!c.valid) {
      // Not UTF-8: the byte as the lone surrogate that surrogateescape decoders map back to it.
      append_unicode_escape(out, 0xDC00 + byte);
      i += 1;
      continue;
    }
    switch (c.codePoint) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        // DEL and the C1 controls too: JSON allows them raw, but a terminal showing the record
        // must not get them (some obey C1 as they would ESC sequences).
        if (is_control(c.codePoint)) {
          append_unicode_escape(out, c.codePoint);
        } else {
          out.append(bytes.substr(i, c.length));
        }
    }
    i += c.length;
  }
  out += '"';
}

void JsonWriter::start_member(std::string_view key) {
  if (needsComma_) out_ += ',';
  needsComma_ = true;
  if (key.empty()) return;
  append_json_string(out_, key);
  out_ += ':';
}

JsonWriter& JsonWriter::begin_object(std::string_view key) {
  start_member(key);
  out_ += '{';
  needsComma_ = false;
  return *this;
}

JsonWriter& JsonWriter::end_object() {
  out_ += '}';
  needsComma_ = true;
  return *this;
}

JsonWriter& JsonWriter::begin_array(std::string_view key) {
  start_member(key);
  out_ += '[';
  needsComma_ = false;
  return *this;
}

JsonWriter& JsonWriter::end_array() {
  out_ += ']';
  needsComma_ = true;
  return *this;
}

JsonWriter& JsonWriter::text(std::string_view key, std::optional<std::string_view> value) {
  start_member(key);
  if (value) {
    append_json_string(out_, *value);
  } else {
    out_ += "null";
  }
  return *this;
}

JsonWriter& JsonWriter::number(std::string_view key, std::uint64_t value) {
  start_member(key);
  out_ += std::to_string(value);
  return *this;
}

JsonWriter& JsonWriter::number_text(std::string_view key, std::optional<std::string_view> digits) {
  start_member(key);
  out_ += digits ? *digits : "null";
  return *this;
}

JsonWriter& JsonWriter::boolean(std::string_view key, std::optional<bool> value) {
  start_member(key);
  out_ += !value ? "null" : *value ? "true" : "false";
  return *this;
}

}  // namespace qv
