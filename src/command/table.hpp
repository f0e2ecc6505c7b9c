// Aligned tables for people on a terminal, as ss and `column -t` lay them out: columns as wide as
// their widest cell, the endpoint listing's header among them.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "command/endpoints.hpp"
#include "command/output.hpp"

namespace qv {

enum class Align { left, right };

struct TableColumn {
  std::string_view heading;
  Align align = Align::left;
};

// The endpoint listing's columns, in the order of the fields of its text rows.
extern const std::array<TableColumn, kTextFieldCount> kEndpointColumns;

// The terminal cells a text takes: one per UTF-8 code point, one per byte that is not part of
// valid UTF-8 (terminals draw a replacement for it).
std::size_t display_width(std::string_view text);

// Rows of cells, in the columns' order, laid out as columns two blanks apart, each as wide as its
// widest cell (the heading too when header is set): the lines without their newlines, the
// header's first. The last column is not padded on the right, so no line ends in blanks; missing
// cells are empty.
std::vector<std::string> aligned_lines(std::span<const TableColumn> columns,
                                       std::span<const std::vector<std::string>> rows, bool header);
// The same lines, each ended by a newline.
std::string aligned_table(std::span<const TableColumn> columns,
                          std::span<const std::vector<std::string>> rows, bool header);

// The listing's columns: the default row's, then with info those of --info (and the rates).
std::vector<TableColumn> endpoint_columns(bool info, bool rates);

// An endpoint's cells in the table: the fields of the command's default row, then its info.
std::vector<std::string> endpoint_cells(const Endpoint& endpoint, bool info = false,
                                        bool rates = false);

// The endpoints' text rows (the fields of the command's default row) as an aligned table.
std::string aligned_endpoint_table(std::span<const Endpoint> endpoints, bool header,
                                   bool info = false, bool rates = false);

// The endpoint listing's header as one tab-separated line, for a pipe that asks for it.
std::string endpoint_header_line(bool info = false, bool rates = false);

}  // namespace qv
