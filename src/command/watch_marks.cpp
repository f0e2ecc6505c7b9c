// How a terminal shows --watch's changes.
#include "command/watch_marks.hpp"

#include <vector>

#include "command/fields.hpp"
#include "command/table.hpp"

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

std::string marked_listing(std::span<const WatchRow> rows, const ListingStyle& listing,
                           MarkStyle style) {
  std::string out;
  if (listing.outputTemplate) {
    ExpansionWork work;
    std::string text;
    for (const WatchRow& row : rows) {
      text.clear();
      append_expansion(text, *listing.outputTemplate, listing.noLeadingZeros, *row.endpoint, work);
      append_marked(out, text, row.mark, style);
    }
    return out;
  }
  std::vector<std::vector<std::string>> cells;
  cells.reserve(rows.size());
  for (const WatchRow& row : rows) cells.push_back(endpoint_cells(*row.endpoint));
  const bool header = listing.header.value_or(true);
  const std::vector<std::string> lines = aligned_lines(endpoint_columns(), cells, header);
  const std::size_t first = header ? 1 : 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    append_marked(out, lines[i], i < first ? WatchMark::kNone : rows[i - first].mark, style);
    out += '\n';
  }
  return out;
}

}  // namespace qv
