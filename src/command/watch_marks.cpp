// How a terminal shows --watch's changes.
#include "command/watch_marks.hpp"

namespace qv {

namespace {

constexpr std::string_view kGreen = "\x1b[32m";
constexpr std::string_view kRed = "\x1b[31m";
constexpr std::string_view kPlain = "\x1b[0m";

}  // namespace

MarkStyle mark_style(bool noColorOption, const char* noColorVariable) {
  const bool noColor = noColorVariable != nullptr && *noColorVariable != '\0';
  return noColorOption || noColor ? MarkStyle::kSigns : MarkStyle::kColour;
}

void append_marked(std::string& out, std::string_view text, WatchMark mark, MarkStyle style) {
  if (style == MarkStyle::kColour && mark == WatchMark::kNone) {
    out += text;
    return;
  }
  const std::string_view before = style == MarkStyle::kSigns
                                      ? (mark == WatchMark::kAppeared ? "+ "
                                         : mark == WatchMark::kGone   ? "- "
                                                                      : "  ")
                                      : (mark == WatchMark::kAppeared ? kGreen : kRed);
  const std::string_view after = style == MarkStyle::kSigns ? "" : kPlain;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    if (!line.empty() || style == MarkStyle::kSigns) {
      out += before;
      out += line;
      out += after;
    }
    if (end == std::string_view::npos) break;
    out += '\n';
    text.remove_prefix(end + 1);
  }
}

}  // namespace qv
