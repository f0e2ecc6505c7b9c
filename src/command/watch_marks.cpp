// How a terminal shows --watch's changes, and how its screen fits the window.
#include "command/watch_marks.hpp"

#include <algorithm>
#include <utility>
#include <vector>

#include "command/fields.hpp"
#include "command/table.hpp"
#include "common/utf8.hpp"

namespace qv {

namespace {

constexpr std::string_view kGreen = "\x1b[32m";
constexpr std::string_view kYellow = "\x1b[33m";
constexpr std::string_view kRed = "\x1b[31m";
constexpr std::string_view kPlain = "\x1b[0m";
constexpr std::size_t kSignWidth = 2;
constexpr std::size_t kTabStop = 8;

struct ScreenLine {
  std::string text;
  WatchMark mark = WatchMark::kNone;
};

// Blanks up to the next tab stop for each tab, so that a line's width is what it takes on screen.
std::string without_tabs(std::string_view line) {
  std::string out;
  std::size_t cells = 0;
  while (!line.empty()) {
    const std::size_t tab = line.find('\t');
    const std::string_view piece = line.substr(0, tab);
    out += piece;
    cells += display_width(piece);
    if (tab == std::string_view::npos) break;
    const std::size_t blanks = kTabStop - cells % kTabStop;
    out.append(blanks, ' ');
    cells += blanks;
    line.remove_prefix(tab + 1);
  }
  return out;
}

// Lines beyond the window's height give way to one that says how many they are.
void fit_height(std::vector<ScreenLine>& lines, console::WindowSize window, std::size_t width) {
  if (lines.size() <= window.rows) return;
  const std::size_t shown = window.rows - 1;
  const std::size_t hidden = lines.size() - shown;
  lines.resize(shown);
  lines.push_back(
      {cut_to_width("\u2026 " + std::to_string(hidden) + " more rows not shown", width)});
}

// The lines of a text, each made to fit width; a line that the text does not end counts too.
std::vector<ScreenLine> fitted_lines(std::string_view text, std::size_t width) {
  std::vector<ScreenLine> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    lines.push_back({cut_to_width(without_tabs(text.substr(0, end)), width)});
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

std::string marked_lines(std::span<const ScreenLine> lines, MarkStyle style) {
  std::string out;
  for (const ScreenLine& line : lines) {
    append_marked(out, line.text, line.mark, style);
    out += '\n';
  }
  return out;
}

}  // namespace

MarkStyle mark_style(bool noColorOption, const char* noColorVariable) {
  const bool noColor = noColorVariable != nullptr && *noColorVariable != '\0';
  return noColorOption || noColor ? MarkStyle::kSigns : MarkStyle::kColour;
}

std::vector<WatchRow> watch_screen_rows(WatchScreen& screen, std::vector<Endpoint> current,
                                        std::chrono::steady_clock::time_point now) {
  // The endpoints of the last refresh are the screen's rows that are not gone: the match is
  // made against those alone, so that a gone row never takes an endpoint's place.
  std::vector<std::size_t> liveAt;
  for (std::size_t i = 0; i < screen.endpoints.size(); ++i) {
    if (screen.marks[i] != WatchMark::kGone) liveAt.push_back(i);
  }
  std::vector<Endpoint> liveCopy;
  if (liveAt.size() != screen.endpoints.size()) {
    liveCopy.reserve(liveAt.size());
    for (const std::size_t i : liveAt) liveCopy.push_back(screen.endpoints[i]);
  }
  const std::span<const Endpoint> live = liveAt.size() == screen.endpoints.size()
                                             ? std::span<const Endpoint>(screen.endpoints)
                                             : std::span<const Endpoint>(liveCopy);
  const WatchDiff diff = diff_endpoints(live, current);

  const auto lasting = [&](std::size_t i) { return now - screen.markedAt[i] < kMarkLasts; };
  // The same match over the screen's rows, so that the rows just gone and those still marked
  // gone keep their places.
  WatchDiff placed;
  placed.previousIndex.reserve(current.size());
  std::vector<bool> matched(screen.endpoints.size(), false);
  for (const std::optional<std::size_t>& index : diff.previousIndex) {
    placed.previousIndex.push_back(index ? std::optional(liveAt[*index]) : std::nullopt);
    if (index) matched[liveAt[*index]] = true;
  }
  for (std::size_t i = 0; i < screen.endpoints.size(); ++i) {
    if (!matched[i] && (screen.marks[i] != WatchMark::kGone || lasting(i))) {
      placed.vanished.push_back(i);
    }
  }

  WatchScreen next;
  next.drawn = true;
  for (const WatchRow& row : watch_rows(screen.endpoints, current, placed)) {
    WatchMark mark = WatchMark::kNone;
    auto markedAt = now;
    if (row.mark == WatchMark::kGone) {
      const auto i = static_cast<std::size_t>(row.endpoint - screen.endpoints.data());
      mark = WatchMark::kGone;
      if (screen.marks[i] == WatchMark::kGone) markedAt = screen.markedAt[i];
      next.endpoints.push_back(std::move(screen.endpoints[i]));
    } else {
      const auto c = static_cast<std::size_t>(row.endpoint - current.data());
      const std::optional<std::size_t> before = diff.previousIndex[c];
      if (!screen.drawn) {
        mark = WatchMark::kNone;
      } else if (!before) {
        mark = WatchMark::kAppeared;
      } else if (state_changed(live[*before], current[c])) {
        mark = WatchMark::kChanged;
      } else if (lasting(liveAt[*before])) {
        mark = screen.marks[liveAt[*before]];
        markedAt = screen.markedAt[liveAt[*before]];
      }
      next.endpoints.push_back(std::move(current[c]));
    }
    next.marks.push_back(mark);
    next.markedAt.push_back(markedAt);
  }
  screen = std::move(next);

  std::vector<WatchRow> rows;
  rows.reserve(screen.endpoints.size());
  for (std::size_t i = 0; i < screen.endpoints.size(); ++i) {
    rows.push_back({&screen.endpoints[i], screen.marks[i]});
  }
  return rows;
}

void append_marked(std::string& out, std::string_view text, WatchMark mark, MarkStyle style) {
  if (style == MarkStyle::kColour && mark == WatchMark::kNone) {
    out += text;
    return;
  }
  std::string_view before;
  switch (mark) {
    case WatchMark::kNone:
      before = "  ";
      break;
    case WatchMark::kAppeared:
      before = style == MarkStyle::kSigns ? "+ " : kGreen;
      break;
    case WatchMark::kChanged:
      before = style == MarkStyle::kSigns ? "~ " : kYellow;
      break;
    case WatchMark::kGone:
      before = style == MarkStyle::kSigns ? "- " : kRed;
      break;
  }
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
                           MarkStyle style, std::optional<console::WindowSize> window) {
  const std::size_t signs = style == MarkStyle::kSigns ? kSignWidth : 0;
  std::optional<std::size_t> width;
  if (window) width = window->columns > signs ? window->columns - signs : 0;
  std::vector<ScreenLine> lines;
  if (listing.outputTemplate) {
    ExpansionWork work;
    std::string text;
    if (!width) {
      // Marked row by row, wherever the template ends its lines.
      std::string out;
      for (const WatchRow& row : rows) {
        text.clear();
        append_expansion(text, *listing.outputTemplate, listing.noLeadingZeros, *row.endpoint,
                         work);
        append_marked(out, text, row.mark, style);
      }
      return out;
    }
    // To fit a window the listing goes line by line, each line marked as the row it starts with.
    std::vector<WatchMark> lineMarks;
    bool lineStarted = false;
    for (const WatchRow& row : rows) {
      const std::size_t before = text.size();
      append_expansion(text, *listing.outputTemplate, listing.noLeadingZeros, *row.endpoint, work);
      for (std::size_t at = before; at < text.size(); ++at) {
        if (!lineStarted) lineMarks.push_back(row.mark);
        lineStarted = text[at] != '\n';
      }
    }
    lines = fitted_lines(text, *width);
    for (std::size_t i = 0; i < lines.size(); ++i) lines[i].mark = lineMarks[i];
  } else {
    std::vector<std::vector<std::string>> cells;
    cells.reserve(rows.size());
    for (const WatchRow& row : rows) cells.push_back(endpoint_cells(*row.endpoint, listing.fields));
    const bool header = listing.header.value_or(true);
    std::vector<std::string> table =
        aligned_lines(endpoint_columns(listing.fields), cells, header, width);
    const std::size_t first = header ? 1 : 0;
    for (std::size_t i = 0; i < table.size(); ++i) {
      lines.push_back({std::move(table[i]), i < first ? WatchMark::kNone : rows[i - first].mark});
    }
  }
  if (window) fit_height(lines, *window, *width);
  return marked_lines(lines, style);
}

std::string fitted_listing(std::string_view listing, console::WindowSize window) {
  std::vector<ScreenLine> lines = fitted_lines(listing, window.columns);
  fit_height(lines, window, window.columns);
  std::string out;
  for (const ScreenLine& line : lines) out += line.text + '\n';
  return out;
}

std::string terminal_frame(std::string_view listing, std::optional<console::WindowSize> window) {
  std::string frame = "\x1b[H";
  std::size_t lines = 0;
  while (!listing.empty()) {
    const std::size_t end = listing.find('\n');
    // Cleared before it is written: after a line that fills the window's width the cursor waits
    // on its last cell, where an erase would take that cell.
    if (lines > 0) frame += '\n';
    frame += "\x1b[K";
    frame += listing.substr(0, end);
    ++lines;
    if (end == std::string_view::npos) break;
    listing.remove_prefix(end + 1);
  }
  if (lines == 0) return frame + "\x1b[J";
  if (!window || lines < window->rows) frame += "\n\x1b[J";
  return frame;
}

}  // namespace qv
