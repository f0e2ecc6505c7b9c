// Column layout of the command's tables.
#include "command/table.hpp"

#include <algorithm>
#include <iterator>

namespace qv {

const std::array<TableColumn, kTextFieldCount> kEndpointColumns = {
    {{"Proto"}, {"Local"}, {"Remote"}, {"State"}, {"PID", Align::right}, {"Program"}, {"Host"}}};

namespace {

constexpr std::string_view kGap = "  ";

bool continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The length of the valid UTF-8 sequence at the start of text; 0 when it does not start one.
std::size_t sequence_length(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  std::size_t length = 0;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) length = 2;
  if (lead >= 0xE0 && lead <= 0xEF) length = 3;
  if (lead >= 0xF0 && lead <= 0xF4) length = 4;
  if (length == 0 || length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if (!continuation(static_cast<unsigned char>(text[i]))) return 0;
  }
  return length;
}

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

std::size_t display_width(std::string_view text) {
  std::size_t cells = 0;
  while (!text.empty()) {
    text.remove_prefix(std::max<std::size_t>(sequence_length(text), 1));
    ++cells;
  }
  return cells;
}

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

std::vector<TableColumn> endpoint_columns(bool info, bool rates) {
  std::vector<TableColumn> columns(kEndpointColumns.begin(), kEndpointColumns.end());
  if (info) {
    columns.insert(columns.end(), {{"Recv-Q", Align::right},
                                   {"Send-Q", Align::right},
                                   {"RTT", Align::right},
                                   {"Sent", Align::right},
                                   {"Received", Align::right}});
  }
  if (info && rates) columns.insert(columns.end(), {{"In", Align::right}, {"Out", Align::right}});
  return columns;
}

std::vector<std::string> endpoint_cells(const Endpoint& endpoint, bool info, bool rates) {
  auto fields = text_row_fields(endpoint);
  std::vector<std::string> cells(std::make_move_iterator(fields.begin()),
                                 std::make_move_iterator(fields.end()));
  if (info) {
    auto more = info_fields(endpoint, rates);
    cells.insert(cells.end(), std::make_move_iterator(more.begin()),
                 std::make_move_iterator(more.end()));
  }
  return cells;
}

std::string aligned_endpoint_table(std::span<const Endpoint> endpoints, bool header, bool info,
                                   bool rates) {
  std::vector<std::vector<std::string>> rows;
  rows.reserve(endpoints.size());
  for (const Endpoint& endpoint : endpoints) rows.push_back(endpoint_cells(endpoint, info, rates));
  return aligned_table(endpoint_columns(info, rates), rows, header);
}

std::string endpoint_header_line(bool info, bool rates) {
  std::string line;
  for (const TableColumn& column : endpoint_columns(info, rates)) {
    if (!line.empty()) line += '\t';
    line += column.heading;
  }
  return line + '\n';
}

}  // namespace qv
