// How a terminal shows --watch's changes: appeared endpoints in green and vanished ones in red,
// as TCPView does, or "+" and "-" at the start of their lines where colour is turned off.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "command/output.hpp"
#include "command/watch_diff.hpp"

namespace qv {

enum class MarkStyle { kColour, kSigns };

// Colour unless --no-color was given or NO_COLOR is set to anything but the empty text
// (no-color.org). noColorVariable is the variable's value, nullptr when unset.
MarkStyle mark_style(bool noColorOption, const char* noColorVariable);

// Appends one row's text marked. Colour wraps each of its lines, leaving the line breaks
// outside, so that what the terminal does at a line's end never takes the colour. Signs put
// "+ ", "- " or two blanks (unmarked rows, header lines) before each line, so that columns
// stay aligned.
void append_marked(std::string& out, std::string_view text, WatchMark mark, MarkStyle style);

// A refresh's rows laid out as a terminal's listing is, through the template or as the aligned
// table (with its header unless the style says no), and each row marked.
std::string marked_listing(std::span<const WatchRow> rows, const ListingStyle& listing,
                           MarkStyle style);

}  // namespace qv
