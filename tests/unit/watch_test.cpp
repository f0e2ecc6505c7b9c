// --watch between refreshes: endpoints matched by identity, the rows a terminal shows with their
// marks, and how the marks are written with and without colour.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "command/filters.hpp"
#include "command/output.hpp"
#include "command/table.hpp"
#include "command/watch_diff.hpp"
#include "command/watch_marks.hpp"
#include "common/utf8.hpp"
#include "endpoint_builder.hpp"

namespace {

using test_endpoint::loopback_tcp;
using test_endpoint::TcpState;

constexpr auto kCloseWait = TcpState::closeWait;

// Each row as "mark port", "+" appeared, "-" gone, " " unchanged.
std::vector<std::string> shown(const std::vector<qv::Endpoint>& previous,
                               const std::vector<qv::Endpoint>& current) {
  std::vector<std::string> rows;
  for (const qv::WatchRow& row :
       qv::watch_rows(previous, current, qv::diff_endpoints(previous, current))) {
    const char mark = row.mark == qv::WatchMark::kAppeared ? '+'
                      : row.mark == qv::WatchMark::kGone   ? '-'
                                                           : ' ';
    rows.push_back(mark + std::to_string(row.endpoint->socket.local.port));
  }
  return rows;
}

TEST(WatchDiff, MatchesByIdentityAlone) {
  const qv::Endpoint base = loopback_tcp(80, 5000);
  std::vector<qv::Endpoint> others(7, base);
  others[0].socket.protocol = os::Protocol::udp;
  // The same two ends in another network namespace are another connection.
  others[6].socket.netnsInode = 4026532000;
  others[1].socket.family = os::kFamilyIpv6;
  others[2].socket.local.address[3] = 2;
  others[3].socket.local.port = 81;
  others[4].socket.remote.address[0] = 10;
  others[5].socket.remote.port = 5001;
  for (const qv::Endpoint& other : others) {
    const qv::WatchDiff diff = qv::diff_endpoints(std::vector{base}, std::vector{other});
    EXPECT_FALSE(diff.previousIndex[0].has_value());
    EXPECT_EQ(diff.vanished, std::vector<std::size_t>{0});
  }
  qv::Endpoint same = base;
  same.socket.tcpState = kCloseWait;
  same.socket.owningPid = 7;
  same.socket.ipv6Only = true;
  same.program = "other";
  same.hostName = "peer.example";
  const qv::WatchDiff diff = qv::diff_endpoints(std::vector{base}, std::vector{same});
  EXPECT_EQ(diff.previousIndex[0], 0U);
  EXPECT_TRUE(diff.vanished.empty());
  EXPECT_TRUE(qv::state_changed(base, same));
  EXPECT_FALSE(qv::state_changed(base, base));
}

TEST(WatchRates, FromTheCountersChangeOfTheSameConnectionOnly) {
  const auto counted = [](std::uint16_t port, std::uint64_t in, std::uint64_t out) {
    qv::Endpoint e = loopback_tcp(port);
    e.socket.traffic = os::TcpTraffic{};
    e.socket.traffic->bytesReceived = in;
    e.socket.traffic->bytesSent = out;
    return e;
  };
  std::vector previous{counted(1, 1000, 0), counted(2, 5000, 5000), counted(3, 0, 0),
                       counted(4, 0, 0),    loopback_tcp(5),        counted(7, 100, 100)};
  std::vector current{counted(1, 3000, 0),  counted(2, 100, 6000), counted(3, 0, 0),
                      counted(6, 500, 500), loopback_tcp(5),       counted(4, 0, 0),
                      counted(7, 900, 900)};
  // Port 7's pair closed and opened again between the refreshes: another socket, however its
  // new counters compare with the old ones.
  previous[5].socket.identity = 70;
  current[6].socket.identity = 71;
  current[2].socket.traffic->bytesSent.reset();  // a kernel that does not count what it sent
  current[5].rateIn = 7;                         // left over from before: replaced
  qv::set_rates(previous, current, qv::diff_endpoints(previous, current), 2.0);
  EXPECT_EQ(current[0].rateIn, 1000.0);
  EXPECT_EQ(current[0].rateOut, 0.0);  // idle that way: 0 B/s, not unknown
  // Received went backwards: another connection on the same addresses, no rates.
  EXPECT_FALSE(current[1].rateIn || current[1].rateOut);
  EXPECT_EQ(current[2].rateIn, 0.0);
  EXPECT_FALSE(current[2].rateOut);
  EXPECT_FALSE(current[3].rateIn || current[3].rateOut);  // new since
  EXPECT_FALSE(current[4].rateIn || current[4].rateOut);  // no counters (UDP, Windows)
  EXPECT_EQ(current[5].rateIn, 0.0);
  EXPECT_FALSE(current[6].rateIn || current[6].rateOut);
}

TEST(WatchRates, SortedBusiestFirstThoseWithoutRatesLast) {
  std::vector<qv::Endpoint> endpoints;
  for (const auto& [port, rate] : {std::pair<std::uint16_t, std::optional<double>>{1, 10.0},
                                   {2, std::nullopt},
                                   {3, 300.0},
                                   {4, 20.0},
                                   {5, std::nullopt}}) {
    endpoints.push_back(loopback_tcp(port));
    endpoints.back().rateOut = rate;
  }
  qv::sort_endpoints(endpoints, qv::SortKey::rate);
  std::vector<std::uint16_t> ports;
  ports.reserve(endpoints.size());
  for (const auto& e : endpoints) ports.push_back(e.socket.local.port);
  EXPECT_EQ(ports, (std::vector<std::uint16_t>{3, 4, 1, 2, 5}));
  qv::sort_endpoints(endpoints, qv::SortKey::port);
  EXPECT_EQ(endpoints.front().socket.local.port, 1);
  EXPECT_EQ(qv::read_sort_key("busiest"), std::nullopt);
}

TEST(WatchDiff, AppearedVanishedAndMovedEndpoints) {
  const std::vector previous{loopback_tcp(1, 9), loopback_tcp(2, 9), loopback_tcp(3, 9),
                             loopback_tcp(4, 9)};
  const std::vector current{loopback_tcp(4, 9), loopback_tcp(5, 9), loopback_tcp(2, 9)};
  const qv::WatchDiff diff = qv::diff_endpoints(previous, current);
  EXPECT_EQ(diff.previousIndex[0], 3U);
  EXPECT_FALSE(diff.previousIndex[1].has_value());
  EXPECT_EQ(diff.previousIndex[2], 1U);
  EXPECT_EQ(diff.vanished, (std::vector<std::size_t>{0, 2}));

  const qv::WatchDiff fromNothing = qv::diff_endpoints({}, current);
  EXPECT_EQ(fromNothing.previousIndex.size(), 3U);
  for (const auto& index : fromNothing.previousIndex) EXPECT_FALSE(index.has_value());
}

TEST(WatchDiff, EndpointsSharingAnIdentityMatchInOrder) {
  // Two UDP sockets bound alike (SO_REUSEPORT) become three, then one.
  qv::Endpoint udp = loopback_tcp(53, 0, TcpState::none);
  udp.socket.protocol = os::Protocol::udp;
  const std::vector two{udp, loopback_tcp(80, 1), udp};
  const std::vector three{udp, udp, udp};
  qv::WatchDiff diff = qv::diff_endpoints(two, three);
  EXPECT_EQ(diff.previousIndex[0], 0U);
  EXPECT_EQ(diff.previousIndex[1], 2U);
  EXPECT_FALSE(diff.previousIndex[2].has_value());
  EXPECT_EQ(diff.vanished, std::vector<std::size_t>{1});

  diff = qv::diff_endpoints(three, std::vector{udp});
  EXPECT_EQ(diff.previousIndex[0], 0U);
  EXPECT_EQ(diff.vanished, (std::vector<std::size_t>{1, 2}));
}

TEST(WatchRows, VanishedEndpointsStayWhereTheyWere) {
  // 1 and 2 vanish from the start, 4 and 5 after 3, 7 at the end; 8 appears.
  const std::vector previous{loopback_tcp(1, 9), loopback_tcp(2, 9), loopback_tcp(3, 9),
                             loopback_tcp(4, 9), loopback_tcp(5, 9), loopback_tcp(6, 9),
                             loopback_tcp(7, 9)};
  const std::vector current{loopback_tcp(3, 9), loopback_tcp(8, 9), loopback_tcp(6, 9)};
  EXPECT_EQ(shown(previous, current),
            (std::vector<std::string>{"-1", "-2", " 3", "-4", "-5", "+8", " 6", "-7"}));
  // The previous order decides the place even when the table reorders.
  EXPECT_EQ(shown(std::vector{loopback_tcp(1, 9), loopback_tcp(2, 9), loopback_tcp(3, 9)},
                  std::vector{loopback_tcp(3, 9), loopback_tcp(1, 9)}),
            (std::vector<std::string>{" 3", " 1", "-2"}));
  EXPECT_EQ(shown({}, std::vector{loopback_tcp(1, 9)}), std::vector<std::string>{"+1"});
  EXPECT_EQ(shown(std::vector{loopback_tcp(1, 9)}, {}), std::vector<std::string>{"-1"});
}

TEST(WatchRows, GoneRowsShowTheEndpointAsLastSeen) {
  const std::vector previous{loopback_tcp(1, 9, kCloseWait)};
  const std::vector<qv::Endpoint> current;
  const auto rows = qv::watch_rows(previous, current, qv::diff_endpoints(previous, current));
  ASSERT_EQ(rows.size(), 1U);
  EXPECT_EQ(rows[0].endpoint, &previous[0]);
}

TEST(WatchScreen, MarksLastTwoSecondsWhateverTheInterval) {
  using namespace std::chrono_literals;
  const auto start = std::chrono::steady_clock::time_point{} + 1h;
  qv::WatchScreen screen;
  // Each row as "mark port": "+" appeared, "~" state changed, "-" gone, " " unmarked.
  const auto frame = [&](std::vector<qv::Endpoint> current, std::chrono::milliseconds at) {
    std::vector<std::string> rows;
    for (const qv::WatchRow& row : qv::watch_screen_rows(screen, std::move(current), start + at)) {
      const char mark = row.mark == qv::WatchMark::kAppeared  ? '+'
                        : row.mark == qv::WatchMark::kChanged ? '~'
                        : row.mark == qv::WatchMark::kGone    ? '-'
                                                              : ' ';
      rows.push_back(mark + std::to_string(row.endpoint->socket.local.port));
    }
    return rows;
  };
  using Rows = std::vector<std::string>;
  EXPECT_EQ(frame({loopback_tcp(1), loopback_tcp(2)}, 0ms),
            (Rows{" 1", " 2"}));  // nothing new at first
  EXPECT_EQ(frame({loopback_tcp(1), loopback_tcp(2), loopback_tcp(3)}, 100ms),
            (Rows{" 1", " 2", "+3"}));
  EXPECT_EQ(frame({loopback_tcp(1, 9000, kCloseWait), loopback_tcp(3)}, 200ms),
            (Rows{"~1", "-2", "+3"}));
  EXPECT_EQ(frame({loopback_tcp(1, 9000, kCloseWait), loopback_tcp(3)}, 2099ms),
            (Rows{"~1", "-2", "+3"}));
  EXPECT_EQ(frame({loopback_tcp(1, 9000, kCloseWait), loopback_tcp(3)}, 2100ms),
            (Rows{"~1", "-2", " 3"}));
  EXPECT_EQ(frame({loopback_tcp(1, 9000, kCloseWait), loopback_tcp(3)}, 2200ms),
            (Rows{" 1", " 3"}));
  // An endpoint like a gone one is a new row, the gone one staying as it was until its time.
  EXPECT_EQ(frame({loopback_tcp(3)}, 2300ms), (Rows{"-1", " 3"}));
  EXPECT_EQ(frame({loopback_tcp(1), loopback_tcp(3)}, 2400ms), (Rows{"-1", "+1", " 3"}));
  EXPECT_EQ(frame({loopback_tcp(1), loopback_tcp(3)}, 4399ms), (Rows{"+1", " 3"}));
  EXPECT_EQ(frame({loopback_tcp(1), loopback_tcp(3)}, 4400ms), (Rows{" 1", " 3"}));
}

TEST(WatchMarks, NoColorAndTheOption) {
  EXPECT_EQ(qv::mark_style(false, nullptr), qv::MarkStyle::kColour);
  EXPECT_EQ(qv::mark_style(false, ""), qv::MarkStyle::kColour);  // set but empty: ignored
  EXPECT_EQ(qv::mark_style(false, "1"), qv::MarkStyle::kSigns);
  EXPECT_EQ(qv::mark_style(false, "0"), qv::MarkStyle::kSigns);
  EXPECT_EQ(qv::mark_style(true, nullptr), qv::MarkStyle::kSigns);
}

TEST(WatchMarks, WrittenPerLine) {
  struct Case {
    std::string_view text;
    qv::WatchMark mark;
    qv::MarkStyle style;
    std::string_view expected;
  };
  using enum qv::WatchMark;
  using enum qv::MarkStyle;
  const Case cases[] = {
      {"tcp\t80\n", kAppeared, kColour, "\x1b[32mtcp\t80\x1b[0m\n"},
      {"tcp\t80\n", kGone, kColour, "\x1b[31mtcp\t80\x1b[0m\n"},
      {"tcp\t80\n", kNone, kColour, "tcp\t80\n"},
      {"a\n\nb", kGone, kColour, "\x1b[31ma\x1b[0m\n\n\x1b[31mb\x1b[0m"},
      {"tcp 80\n", kAppeared, kSigns, "+ tcp 80\n"},
      {"a\nb\n", kGone, kSigns, "- a\n- b\n"},
      {"Proto  Local\n", kNone, kSigns, "  Proto  Local\n"},
      {"80 ", kAppeared, kSigns, "+ 80 "},
      {"", kAppeared, kColour, ""},
      {"tcp\t80\n", kChanged, kColour, "\x1b[33mtcp\t80\x1b[0m\n"},
      {"a\nb\n", kChanged, kSigns, "~ a\n~ b\n"},
  };
  for (const Case& c : cases) {
    std::string out = "before|";
    qv::append_marked(out, c.text, c.mark, c.style);
    EXPECT_EQ(out, "before|" + std::string(c.expected)) << c.text;
  }
}

}  // namespace

namespace {

TEST(WatchMarks, TableRowsKeepTheirColumns) {
  const std::vector previous{loopback_tcp(80, 5000), loopback_tcp(7, 6000)};
  const std::vector current{loopback_tcp(80, 5000), loopback_tcp(12345, 6000)};
  const auto rows = qv::watch_rows(previous, current, qv::diff_endpoints(previous, current));
  qv::ListingStyle table;
  table.aligned = true;
  const std::string signs = qv::marked_listing(rows, table, qv::MarkStyle::kSigns);
  std::vector<std::string> lines;
  for (std::size_t start = 0, end; (end = signs.find('\n', start)) != std::string::npos;
       start = end + 1) {
    lines.push_back(signs.substr(start, end - start));
  }
  ASSERT_EQ(lines.size(), 4U) << signs;
  EXPECT_TRUE(lines[0].starts_with("  Proto")) << lines[0];
  EXPECT_TRUE(lines[1].starts_with("  TCP    127.0.0.1:80 ")) << lines[1];
  EXPECT_TRUE(lines[2].starts_with("- TCP    127.0.0.1:7 ")) << lines[2];
  EXPECT_TRUE(lines[3].starts_with("+ TCP    127.0.0.1:12345")) << lines[3];
  // Every row's remote column starts where the header's does.
  const std::size_t remote = lines[0].find("Remote");
  for (std::size_t i = 1; i < lines.size(); ++i) EXPECT_EQ(lines[i].find("127.0.0.1:", 10), remote);

  // Colour wraps the same lines; without a header the rows come alone.
  table.header = false;
  const std::string colour = qv::marked_listing(rows, table, qv::MarkStyle::kColour);
  EXPECT_TRUE(colour.starts_with("TCP "));
  EXPECT_NE(colour.find("\n\x1b[31mTCP "), std::string::npos);
  EXPECT_TRUE(colour.ends_with("\x1b[0m\n"));

  qv::ListingStyle expansion;
  expansion.outputTemplate = "%lpt ";
  EXPECT_EQ(qv::marked_listing(rows, expansion, qv::MarkStyle::kSigns), "  80 - 7 + 12345 ");
}

TEST(WatchMarks, FittedToTheWindow) {
  std::vector<qv::Endpoint> endpoints;
  for (std::uint16_t port = 7000; port < 7010; ++port)
    endpoints.push_back(loopback_tcp(port, 40000));
  endpoints[0].program = std::string(200, 'p');
  endpoints[0].socket.owningPid = 42;
  std::vector<qv::WatchRow> rows;
  rows.reserve(endpoints.size());
  for (const qv::Endpoint& endpoint : endpoints) rows.push_back({&endpoint, qv::WatchMark::kNone});
  rows[1].mark = qv::WatchMark::kAppeared;
  const auto lines_of = [](const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
         start = end + 1) {
      lines.push_back(text.substr(start, end - start));
    }
    return lines;
  };
  qv::ListingStyle table;
  table.aligned = true;
  // The header kept, as many rows as fit, and a last line counting the others; nothing wider
  // than the window, signs included.
  const auto signs = lines_of(qv::marked_listing(rows, table, qv::MarkStyle::kSigns, {{6, 60}}));
  ASSERT_EQ(signs.size(), 6U);
  EXPECT_TRUE(signs[0].starts_with("  Proto")) << signs[0];
  EXPECT_TRUE(signs[2].starts_with("+ TCP")) << signs[2];
  EXPECT_EQ(signs[5], "  \u2026 6 more rows not shown");
  for (const std::string& line : signs) EXPECT_LE(qv::display_width(line), 60U) << line;
  EXPECT_NE(signs[1].find("ppp\u2026"), std::string::npos) << signs[1];
  // All rows fit: no count line.
  EXPECT_EQ(lines_of(qv::marked_listing(rows, table, qv::MarkStyle::kColour, {{11, 300}})).size(),
            11U);

  // A template's lines are cut too, tabs taken as the terminal takes them.
  qv::ListingStyle expansion;
  expansion.outputTemplate = "%ptt\t%lpt\t%nm\n";
  const auto cut = lines_of(qv::marked_listing(rows, expansion, qv::MarkStyle::kColour, {{3, 24}}));
  EXPECT_EQ(cut, (std::vector<std::string>{"TCP     7000    ppppppp\u2026",
                                           "\x1b[32mTCP     7001    -\x1b[0m",
                                           "\u2026 8 more rows not shown"}));
  EXPECT_EQ(qv::fitted_listing("a\tb\nlong line here\nc\nd\n", {3, 8}),
            "a      \u2026\nlong li\u2026\n\u2026 2 mor\u2026\n");
}

TEST(WatchMarks, TerminalFrames) {
  // Each line cleared before it is written; the rest of the window cleared after the last.
  EXPECT_EQ(qv::terminal_frame("a\nb\n", std::nullopt), "\x1b[H\x1b[Ka\n\x1b[Kb\n\x1b[J");
  EXPECT_EQ(qv::terminal_frame("a\nb\n", qv::console::WindowSize{3, 80}),
            "\x1b[H\x1b[Ka\n\x1b[Kb\n\x1b[J");
  // As high as the window: the last line is not ended, or the window would scroll.
  EXPECT_EQ(qv::terminal_frame("a\nb\n", qv::console::WindowSize{2, 80}), "\x1b[H\x1b[Ka\n\x1b[Kb");
  EXPECT_EQ(qv::terminal_frame("", std::nullopt), "\x1b[H\x1b[J");
}

}  // namespace
