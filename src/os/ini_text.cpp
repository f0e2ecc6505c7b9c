// Profile text with the rules that Wine's GetPrivateProfileStringA shows (measured, and checked
// against it by the differential test): lines end at CR or LF; names and values are trimmed; the
// first section of a name and the first key of a name in it win.
#include "os/ini_text.hpp"

#include <algorithm>
#include <cstring>

namespace ini {

namespace {

// The profile service trims these, Ctrl-Z (an old end-of-file mark) among them.
bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == '\x1a';
}

std::string_view trim_end(std::string_view text) {
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  return trim_end(text);
}

// Names and values are NUL-terminated strings inside the service, so a NUL byte in the file ends
// them.
std::string_view up_to_nul(std::string_view text) { return text.substr(0, text.find('\0')); }

char fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Wine compares names without regard to case for ASCII letters only (measured: no folding of
// accented letters).
bool same_name(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return fold(x) == fold(y); });
}

std::string_view name_of(const char* text) { return text == nullptr ? "" : trim(text); }

struct Line {
  std::size_t begin;  // first byte of the line
  std::size_t end;    // end of its content: its line break, or the end of the text
  std::size_t next;   // first byte after its line break
};

// A line ends at LF, CR, or CR LF.
Line line_at(std::string_view text, std::size_t begin) {
  const std::size_t end = std::min(text.find_first_of("\r\n", begin), text.size());
  std::size_t next = end;
  if (next < text.size()) next += text.compare(next, 2, "\r\n") == 0 ? 2 : 1;
  return {begin, end, next};
}

// Whether a line is a section header ("[name]", the name running to the last "]"), and its name.
// A "[" line without "]" is an ordinary line of the section it stands in.
bool header_name(std::string_view content, std::string_view& name) {
  const std::string_view line = trim(content);
  if (line.empty() || line.front() != '[') return false;
  const std::size_t close = line.rfind(']');
  if (close == std::string_view::npos) return false;
  name = up_to_nul(trim(line.substr(1, close - 1)));
  return true;
}

// Where a key stands in the text: the first section of the name, the first key of the name in it.
struct Place {
  bool sectionFound = false;
  std::size_t sectionEnd = 0;  // just after the section's last line that is not blank
  bool sectionEndHasBreak = true;
  bool keyFound = false;
  Line keyLine{};
  std::size_t equals = std::string_view::npos;  // offset of the key line's "=", if any
};

Place find(std::string_view text, std::string_view section, std::string_view key) {
  Place place;
  // Lines before the first header belong to a section with the empty name.
  bool inside = section.empty();
  if (inside) place.sectionFound = true;
  for (std::size_t at = 0; at < text.size();) {
    const Line line = line_at(text, at);
    at = line.next;
    const std::string_view content = text.substr(line.begin, line.end - line.begin);
    std::string_view name;
    if (header_name(content, name)) {
      if (inside) break;  // only the first section of a name counts
      inside = same_name(name, section);
      if (inside) {
        place.sectionFound = true;
        place.sectionEnd = line.next;
        place.sectionEndHasBreak = line.next != line.end;
      }
      continue;
    }
    if (!inside || trim(content).empty()) continue;
    place.sectionEnd = line.next;
    place.sectionEndHasBreak = line.next != line.end;
    if (place.keyFound) continue;
    const std::size_t equals = content.find('=');
    if (same_name(up_to_nul(trim(content.substr(0, equals))), key)) {
      place.keyFound = true;
      place.keyLine = line;
      if (equals != std::string_view::npos) place.equals = line.begin + equals;
    }
  }
  return place;
}

// The service removes one pair of enclosing quotes (" or ') while it copies. Wine drops the last
// character copied whenever the buffer is at least as long as the value after its opening quote,
// which cuts one character too many when the value fills the buffer exactly; matched on purpose.
std::size_t copy_answer(std::string_view value, std::span<char> buffer) {
  value = up_to_nul(value);
  const bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                      value.back() == value.front();
  if (quoted) value.remove_prefix(1);
  std::size_t length = std::min(value.size(), buffer.size() - 1);
  std::memcpy(buffer.data(), value.data(), length);
  if (quoted && length > 0 && buffer.size() >= value.size()) --length;
  buffer[length] = '\0';
  return length;
}

// The file's own line break (that of its first line), CR LF for a file without one.
std::string_view line_break_of(std::string_view text) {
  const std::size_t first = text.find_first_of("\r\n");
  if (first == std::string_view::npos) return "\r\n";
  if (text[first] == '\n') return "\n";
  return text.compare(first, 2, "\r\n") == 0 ? "\r\n" : "\r";
}

}  // namespace

std::size_t read_value(std::string_view fileText, const char* section, const char* key,
                       const char* defaultText, std::span<char> buffer) {
  if (buffer.empty()) return 0;
  const Place place = find(fileText, name_of(section), name_of(key));
  if (place.keyFound && place.equals != std::string_view::npos) {
    const Line& line = place.keyLine;
    return copy_answer(trim(fileText.substr(place.equals + 1, line.end - place.equals - 1)),
                       buffer);
  }
  // A key line without "=" has no value: the default answers for it.
  return copy_answer(trim_end(defaultText == nullptr ? "" : defaultText), buffer);
}

std::string write_value(std::string_view fileText, const char* section, const char* key,
                        const char* value) {
  const std::string_view sectionName = name_of(section);
  const std::string_view keyName = name_of(key);
  const std::string_view valueText = value == nullptr ? "" : value;
  const std::string_view lineBreak = line_break_of(fileText);
  const Place place = find(fileText, sectionName, keyName);
  std::string out;
  out.reserve(fileText.size() + sectionName.size() + keyName.size() + valueText.size() + 8);
  if (place.keyFound) {
    // The key keeps its own spelling and spacing; only what follows its "=" changes.
    const Line& line = place.keyLine;
    const std::size_t keep = place.equals != std::string_view::npos ? place.equals + 1 : line.end;
    out.append(fileText.substr(0, keep));
    if (place.equals == std::string_view::npos) out += '=';
    out.append(valueText);
    out.append(fileText.substr(line.end));
    return out;
  }
  std::size_t insertAt = fileText.size();
  bool needsBreak = !fileText.empty() && fileText.back() != '\n' && fileText.back() != '\r';
  if (place.sectionFound) {
    insertAt = place.sectionEnd;
    needsBreak = !place.sectionEndHasBreak;
  }
  out.append(fileText.substr(0, insertAt));
  if (needsBreak) out.append(lineBreak);
  if (!place.sectionFound) {
    out.append("[").append(sectionName).append("]").append(lineBreak);
  }
  out.append(keyName).append("=").append(valueText).append(lineBreak);
  out.append(fileText.substr(insertAt));
  return out;
}

}  // namespace ini
