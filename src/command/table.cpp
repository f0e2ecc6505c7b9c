// Column layout of the command's tables.
#include "command/table.hpp"

#include <algorithm>

#include "common/utf8.hpp"

namespace qv {

namespace {

constexpr std::string_view kGap = "  ";

void append_padded(std::string& out, std::string_view cell, std::size_t width, Align align,
                   bool last) {
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

std::vector<std::string> aligned_lines(std::span<const TableColumn> columns,
                                       std::span<const std::vector<std::string>> rows,
                                       bool header) {
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
  std::vector<std::string> lines;
  if (header) lines.push_back(table_line(columns, widths, headings));
  for (const std::vector<std::string>& row : rows) {
    lines.push_back(table_line(columns, widths, row));
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
