// Aligned tables for people on a terminal, as ss and `column -t` lay them out: columns as wide as
// their widest cell.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

enum class Align { left, right };

struct TableColumn {
  std::string_view heading;
  Align align = Align::left;
};

// Rows of cells, in the columns' order, laid out as columns two blanks apart, each as wide as its
// widest cell (the heading too when header is set): the lines without their newlines, the
// header's first. The last column is not padded on the right, so no line ends in blanks; missing
// cells are empty.
std::vector<std::string> aligned_lines(std::span<const TableColumn> columns,
                                       std::span<const std::vector<std::string>> rows, bool header);
// The same lines, each ended by a newline.
std::string aligned_table(std::span<const TableColumn> columns,
                          std::span<const std::vector<std::string>> rows, bool header);

}  // namespace qv
