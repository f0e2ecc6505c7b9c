// How a terminal shows --watch's changes: appeared endpoints in green, vanished ones in red and
// those whose TCP state changed in yellow, as TCPView does, or "+", "-" and "~" at the start of
// their lines where colour is turned off; each mark lasting a while, and the whole fitted to the
// terminal's window.
#pragma once

#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "command/console.hpp"
#include "command/output.hpp"
#include "command/watch_diff.hpp"

namespace qv {

enum class MarkStyle { kColour, kSigns };

// Colour unless --no-color was given or NO_COLOR is set to anything but the empty text
// (no-color.org). noColorVariable is the variable's value, nullptr when unset.
MarkStyle mark_style(bool noColorOption, const char* noColorVariable);

// However short the interval, a mark stays this long so that the eye can catch it: a brief
// connection stays green, and a closed one stays on screen in red.
inline constexpr std::chrono::seconds kMarkLasts{2};

// What the terminal shows: the rows of the last refresh in order, the gone endpoints still shown
// among them, each row with its mark and the time the mark was set.
struct WatchScreen {
  std::vector<Endpoint> endpoints;
  std::vector<WatchMark> marks;
  std::vector<std::chrono::steady_clock::time_point> markedAt;
  bool drawn = false;
};

// Brings the screen to a refresh's endpoints, taken at now, and gives the rows to draw (pointing
// into the screen). Nothing is new in the first refresh. A mark set now lasts kMarkLasts, unless
// the endpoint changes again; a gone endpoint is shown where it stood until its mark ends.
std::vector<WatchRow> watch_screen_rows(WatchScreen& screen, std::vector<Endpoint> current,
                                        std::chrono::steady_clock::time_point now);

// Appends one row's text marked. Colour wraps each of its lines, leaving the line breaks
// outside, so that what the terminal does at a line's end never takes the colour. Signs put
// "+ ", "- ", "~ " or two blanks (unmarked rows, header lines) before each line, so that columns
// stay aligned.
void append_marked(std::string& out, std::string_view text, WatchMark mark, MarkStyle style);

// A refresh's rows laid out as a terminal's listing is, through the template or as the aligned
// table (with its header unless the style says no), and each row marked. With a window, the
// listing fits it: the table's columns narrow, lines are cut, and rows below the window's
// height give way to a last line that counts them.
std::string marked_listing(std::span<const WatchRow> rows, const ListingStyle& listing,
                           MarkStyle style,
                           std::optional<console::WindowSize> window = std::nullopt);

// A listing without marks made to fit the window in the same way.
std::string fitted_listing(std::string_view listing, console::WindowSize window);

// What redraws a terminal with a listing: from the top-left corner, each line cleared before it
// is written and what the previous frame left below cleared too. A listing as high as the window
// does not end its last line, which would scroll the window.
std::string terminal_frame(std::string_view listing, std::optional<console::WindowSize> window);

}  // namespace qv
