// --watch between refreshes: endpoints matched by identity, the rows a terminal shows with their
// marks, and how the marks are written with and without colour.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command/output.hpp"
#include "command/watch_diff.hpp"
#include "command/watch_marks.hpp"
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
  std::vector<qv::Endpoint> others(6, base);
  others[0].socket.protocol = os::Protocol::udp;
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

}  // namespace
