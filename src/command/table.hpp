// Aligned tables for people on a terminal, as ss and `column -t` lay them out: columns as wide as
// their widest cell.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

enum class Align { left, right };

struct TableColumn {
  std::string_view heading;
  Align align = Align::left;
  // Free text (names) that narrows first when the table must fit a window.
  bool givesWay = false;
};

// The text cut to at most width cells, its last cell an ellipsis when anything was cut.
std::string cut_to_width(std::string_view text, std::size_t width);

// Column widths narrowed so that the columns, two blanks apart, take at most limit cells: the
// columns that give way narrow first, the widest of them first, down to their heading's width;
// then every column, the widest first, down to one cell. Widths that fit are kept.
std::vector<std::size_t> fitted_widths(std::span<const TableColumn> columns,
                                       std::vector<std::size_t> widths, std::size_t limit);

// Rows of cells, in the columns' order, laid out as columns two blanks apart, each as wide as its
// widest cell (the heading too when header is set): the lines without their newlines, the
// header's first. The last column is not padded on the right, so no line ends in blanks; missing
// cells are empty. With a width, the columns are fitted into it and cells cut to their column.
std::vector<std::string> aligned_lines(std::span<const TableColumn> columns,
                                       std::span<const std::vector<std::string>> rows, bool header,
                                       std::optional<std::size_t> width = std::nullopt);
// The same lines, each ended by a newline.
std::string aligned_table(std::span<const TableColumn> columns,
                          std::span<const std::vector<std::string>> rows, bool header);

}  // namespace qv
