// The aligned table: widths in terminal cells, the header, right-aligned numbers, no blanks at
// the ends of lines.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

#include "command/fields.hpp"
#include "common/utf8.hpp"
#include "endpoint_builder.hpp"

namespace {

TEST(CommandTable, WidthInCells) {
  // The widths are glibc's under a UTF-8 LC_CTYPE, for every character it can print (controls
  // are escaped before they are measured).
  // The tests run one at a time on the main thread.
  ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);  // NOLINT(concurrency-mt-unsafe)
  for (char32_t code = U' '; code <= 0x10FFFF; ++code) {
    const int glibc = ::wcwidth(static_cast<wchar_t>(code));
    if (glibc >= 0) {
      ASSERT_EQ(qv::char_width(code), static_cast<std::size_t>(glibc))
          << static_cast<std::uint32_t>(code);
    }
  }
  EXPECT_EQ(qv::display_width(""), 0U);
  EXPECT_EQ(qv::display_width("sshd"), 4U);
  EXPECT_EQ(qv::display_width("caf\xc3\xa9"), 4U);                   // é
  EXPECT_EQ(qv::display_width("\xe2\x82\xac\xf0\x9f\x98\x80"), 3U);  // €, and an emoji of two
  // CJK and full-width forms take two cells; a combining accent none.
  EXPECT_EQ(qv::display_width("\xe4\xb8\xad\xe6\x96\x87"), 4U);  // 中文
  EXPECT_EQ(qv::display_width("\xef\xbc\xa1"), 2U);              // full-width A
  EXPECT_EQ(qv::display_width("e\xcc\x81"), 1U);                 // e and U+0301
  // Bytes that are not UTF-8: each is drawn as one replacement.
  EXPECT_EQ(qv::display_width("\xff\xfe"), 2U);
  EXPECT_EQ(qv::display_width("a\xe2\x82"), 3U);     // a sequence cut short
  EXPECT_EQ(qv::display_width("\xc3("), 2U);         // a lead byte without its continuation
  EXPECT_EQ(qv::display_width("\xc0\xaf"), 2U);      // an overlong form
  EXPECT_EQ(qv::display_width("\xe0\x80\x80"), 3U);  // an overlong form of three
  EXPECT_EQ(qv::display_width("\xed\xa0\x80"), 3U);  // an encoded surrogate
}

TEST(CommandTable, ColumnsSizedToTheirWidestCell) {
  const std::array<qv::TableColumn, 3> columns = {
      {{"Name"}, {"Count", qv::Align::right}, {"Note"}}};
  const std::vector<std::vector<std::string>> rows = {
      {"caf\xc3\xa9-longer", "7", "x"},
      {"b", "12345678", "last column is never padded"},
      {"c"},
  };
  EXPECT_EQ(qv::aligned_table(columns, rows, true),
            "Name            Count  Note\n"
            "caf\xc3\xa9-longer         7  x\n"
            "b            12345678  last column is never padded\n"
            "c\n");
  EXPECT_EQ(qv::aligned_table(columns, rows, false),
            "caf\xc3\xa9-longer         7  x\n"
            "b            12345678  last column is never padded\n"
            "c\n");
  // The heading alone sets the width of a column whose cells are narrower.
  EXPECT_EQ(
      qv::aligned_table(columns, std::vector<std::vector<std::string>>{{"a", "1", "n"}}, true),
      "Name  Count  Note\n"
      "a         1  n\n");
  EXPECT_EQ(qv::aligned_table(columns, {}, true), "Name  Count  Note\n");
  EXPECT_EQ(qv::aligned_table(columns, {}, false), "");
}

TEST(CommandTable, FittedToAWidth) {
  // Cut on whole characters, the ellipsis taking the last cell.
  EXPECT_EQ(qv::cut_to_width("systemd-resolved", 16), "systemd-resolved");
  EXPECT_EQ(qv::cut_to_width("systemd-resolved", 8), "systemd\u2026");
  EXPECT_EQ(qv::cut_to_width("caf\xc3\xa9s", 4), "caf\u2026");
  EXPECT_EQ(qv::cut_to_width("ab", 1), "\u2026");
  EXPECT_EQ(qv::cut_to_width("ab", 0), "");

  // The text columns give way first, the widest of them first, down to their headings; only
  // then the others, the widest first.
  const std::array<qv::TableColumn, 4> columns = {{{"Local"},
                                                   {"PID", qv::Align::right},
                                                   {"Program", qv::Align::left, true},
                                                   {"Host", qv::Align::left, true}}};
  const std::vector<std::size_t> natural = {21, 5, 12, 30};  // 74 cells with the gaps
  EXPECT_EQ(qv::fitted_widths(columns, natural, 74), natural);
  EXPECT_EQ(qv::fitted_widths(columns, natural, 56), (std::vector<std::size_t>{21, 5, 12, 12}));
  EXPECT_EQ(qv::fitted_widths(columns, natural, 51), (std::vector<std::size_t>{21, 5, 10, 9}));
  EXPECT_EQ(qv::fitted_widths(columns, natural, 43), (std::vector<std::size_t>{21, 5, 7, 4}));
  EXPECT_EQ(qv::fitted_widths(columns, natural, 36), (std::vector<std::size_t>{14, 5, 7, 4}));
  EXPECT_EQ(qv::fitted_widths(columns, natural, 2), (std::vector<std::size_t>{1, 1, 1, 1}));

  // Every line of a fitted table fits, cells cut with the ellipsis, headings too.
  std::vector<std::vector<std::string>> rows = {
      {"127.0.0.1:8080", "812", "a-program-name-of-200-characters", "example.com"},
      {"[::1]:53", "1", "dnsmasq", "-"}};
  EXPECT_EQ(qv::aligned_lines(columns, rows, true, 40),
            (std::vector<std::string>{"Local           PID  Program    Host",
                                      "127.0.0.1:8080  812  a-progra\u2026  example\u2026",
                                      "[::1]:53          1  dnsmasq    -"}));
  rows.push_back({"[fe80::1]:5353", "2", "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", "\xff\xfe"});
  for (const std::size_t width : {80U, 40U, 30U, 12U, 3U}) {
    for (const std::string& line : qv::aligned_lines(columns, rows, true, width)) {
      EXPECT_LE(qv::display_width(line), width) << line;
    }
  }
}

TEST(CommandTable, EndpointRows) {
  using test_endpoint::endpoint;
  using test_endpoint::TcpState;
  const std::vector<qv::Endpoint> endpoints = {
      endpoint({.local = {{127, 0, 0, 1}, 8080},
                .state = TcpState::listen,
                .pid = 812,
                .program = "nginx"}),
      endpoint({.protocol = os::Protocol::udp,
                .family = os::kFamilyIpv6,
                .ipv6Only = true,
                .local = {{}, 5353},
                .pid = 1,
                .program = "systemd-resolved"}),
      endpoint({.local = {{10, 0, 0, 2}, 51000},
                .remote = {{93, 184, 216, 34}, 443},
                .state = TcpState::established,
                .pid = 40211,
                .program = "c\xc3\xa9rl\n",
                .host = "example.com"}),
  };
  EXPECT_EQ(
      qv::aligned_endpoint_table(endpoints, true),
      "Proto  Local           Remote             State          PID  Program           Host\n"
      "TCP    127.0.0.1:8080  0.0.0.0:*          Listening      812  nginx             -\n"
      "UDP    [::]:5353       [::]:*             -                1  systemd-resolved  -\n"
      "TCP    10.0.0.2:51000  93.184.216.34:443  Established  40211  c\xc3\xa9rl\\n            "
      "example.com\n");
  EXPECT_EQ(qv::endpoint_header_line(), "Proto\tLocal\tRemote\tState\tPID\tProgram\tHost\n");
  EXPECT_EQ(qv::aligned_endpoint_table({}, true),
            "Proto  Local  Remote  State  PID  Program  Host\n");
}

}  // namespace
