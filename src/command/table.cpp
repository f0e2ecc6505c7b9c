// Column layout of the command's tables.
#include "command/table.hpp"

#include <algorithm>

#include "common/utf8.hpp"

namespace qv {

namespace {

constexpr std::string_view kGap = "  ";
constexpr std::string_view kEllipsis = "\u2026";

void append_padded(std::string& out, std::string_view text, std::size_t width, Align align,
                   bool last) {
  const std::string cell = cut_to_width(text, width);
  const std::size_t padding = width - display_width(cell);
  if (align == Align::right) out.append(padding, ' ');
  out += cell;
  if (align == Align::left && !last) out.append(padding, ' ');
}

std::string table_line(std::span<const TableColumn> columns, std::span<const std::size_t> widths,
                       std::span<const std::string> cells) {
  std::string line;
  for (std::size_t column = 0; column < columns.size(); ++column) {
    if (column > 0) line += kGap;
    const std::string_view cell = column < cells.size() ? cells[column] : std::string_view();
    append_padded(line, cell, widths[column], columns[column].align, column + 1 == columns.size());
  }
  // Empty cells at the end of a row leave only blanks behind.
  line.erase(line.find_last_not_of(' ') + 1);
  return line;
}

}  // namespace

std::string cut_to_width(std::string_view text, std::size_t width) {
  if (display_width(text) <= width) return std::string(text);
  if (width == 0) return {};
  // Whole characters while one cell is left for the ellipsis.
  std::size_t kept = 0;
  std::size_t cells = 0;
  while (kept < text.size()) {
    const std::size_t length = read_utf8(text.substr(kept)).length;
    const std::size_t next = display_width(text.substr(kept, length));
    if (cells + next > width - 1) break;
    cells += next;
    kept += length;
  }
  return std::string(text.substr(0, kept)) + std::string(kEllipsis);
}

std::vector<std::size_t> fitted_widths(std::span<const TableColumn> columns,
                                       std::vector<std::size_t> widths, std::size_t limit) {
  std::size_t total = widths.empty() ? 0 : kGap.size() * (widths.size() - 1);
  for (const std::size_t width : widths) total += width;
  // One cell at a time off the widest column above its floor: the last of equals, so that a
  // tie takes from the right.
  const auto narrow = [&](const auto& floor_of) {
    while (total > limit) {
      std::size_t widest = widths.size();
      for (std::size_t column = 0; column < widths.size(); ++column) {
        if (widths[column] > floor_of(column) &&
            (widest == widths.size() || widths[column] >= widths[widest])) {
          widest = column;
        }
      }
      if (widest == widths.size()) return;
      --widths[widest];
      --total;
    }
  };
  narrow([&](std::size_t column) {
    return columns[column].givesWay
               ? std::max<std::size_t>(display_width(columns[column].heading), 1)
               : widths[column];
  });
  narrow([](std::size_t /*column*/) { return std::size_t{1}; });
  return widths;
}

std::vector<std::string> aligned_lines(std::span<const TableColumn> columns,
                                       std::span<const std::vector<std::string>> rows, bool header,
                                       std::optional<std::size_t> width) {
  std::vector<std::size_t> widths(columns.size(), 0);
  std::vector<std::string> headings;
  for (std::size_t column = 0; column < columns.size(); ++column) {
    headings.emplace_back(columns[column].heading);
    if (header) widths[column] = display_width(headings.back());
  }
  for (const std::vector<std::string>& row : rows) {
    for (std::size_t column = 0; column < std::min(row.size(), columns.size()); ++column) {
      widths[column] = std::max(widths[column], display_width(row[column]));
    }
  }
  if (width) widths = fitted_widths(columns, std::move(widths), *width);
  std::vector<std::string> lines;
  if (header) lines.push_back(table_line(columns, widths, headings));
  for (const std::vector<std::string>& row : rows) {
    lines.push_back(table_line(columns, widths, row));
  }
  // Columns of one cell still too wide for the window: the lines themselves give way.
  if (width) {
    for (std::string& line : lines) line = cut_to_width(line, *width);
  }
  return lines;
}

std::string aligned_table(std::span<const TableColumn> columns,
                          std::span<const std::vector<std::string>> rows, bool header) {
  std::string out;
  for (const std::string& line : aligned_lines(columns, rows, header)) out += line + '\n';
  return out;
}

}  // namespace qv
