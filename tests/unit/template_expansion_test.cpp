// Golden listings: placeholders, number widths, filters, and the 511 and 4,095 cuts.
#include "listing/template_expansion.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/text.hpp"
#include "listing/names.hpp"

namespace {

qv::ConnectionEntry tcp_entry() {
  qv::ConnectionEntry e{};
  e.localPort = 80;
  qv::store_text(e.localAddressText, "10.0.0.5");
  e.remotePort = 51234;
  qv::store_text(e.remoteAddressText, "192.168.0.7");
  e.remoteAddressNumber = 192168000007;
  e.processId = 4;
  qv::store_text(e.programName, "httpd.exe");
  e.tcpState = 5;
  e.protocol = qv::kProtocolTcp;
  qv::store_text(e.hostName, "peer.example");
  return e;
}

qv::ConnectionEntry udp_entry() {
  qv::ConnectionEntry e{};
  e.localPort = 53;
  qv::store_text(e.localAddressText, "0.0.0.0");
  qv::store_text(e.remoteAddressText, "000.000.000.000");
  e.processId = 1234;
  qv::store_text(e.programName, "dns.exe");
  e.protocol = qv::kProtocolUdp;
  return e;
}

qv::InstanceSettings settings_with(std::string_view outputTemplate, int noLeadingZeros = 0) {
  qv::InstanceSettings s{};
  qv::store_text(s.outputTemplate, outputTemplate);
  s.noLeadingZeros = noLeadingZeros;
  return s;
}

std::string expand(const qv::ConnectionEntry& entry, const qv::InstanceSettings& settings) {
  char line[qv::kLineCapacity + 1];
  const std::size_t length = qv::expand_line(entry, settings, line);
  EXPECT_EQ(length, std::char_traits<char>::length(line));
  return line;
}

TEST(Names, StatesAndProtocols) {
  const char* const states[] = {"",
                                "Closed",
                                "Listening",
                                "SYN Sent",
                                "SYN Recieved",
                                "Established",
                                "FIN Wait 1",
                                "FIN Wait 2",
                                "Close Wait",
                                "Closing",
                                "Last ACK",
                                "Time Wait",
                                "Delete TCB",
                                ""};
  for (int state = 0; state <= 13; ++state) EXPECT_EQ(qv::TcpStateName(state), states[state]);
  EXPECT_EQ(qv::TcpStateName(-1), "");
  EXPECT_EQ(qv::ProtocolName(0), "");
  EXPECT_EQ(qv::ProtocolName(1), "TCP");
  EXPECT_EQ(qv::ProtocolName(2), "UDP");
  EXPECT_EQ(qv::ProtocolName(3), "");
}

struct LineCase {
  const char* what;
  qv::ConnectionEntry entry;
  const char* outputTemplate;
  int noLeadingZeros;
  const char* expected;
};

TEST(ExpandLine, GoldenLines) {
  qv::ConnectionEntry bigNumbers = tcp_entry();
  bigNumbers.processId = 123456;
  bigNumbers.localPort = 65535;
  bigNumbers.remotePort = 0;
  qv::ConnectionEntry nameWithHost = tcp_entry();
  qv::store_text(nameWithHost.programName, "a%hnb%lip");
  qv::ConnectionEntry hostWithName = tcp_entry();
  qv::store_text(hostWithName.hostName, "h%nm%hn");
  qv::ConnectionEntry nameIsItsPlaceholder = tcp_entry();
  qv::store_text(nameIsItsPlaceholder.programName, "%nm");
  qv::ConnectionEntry noName = tcp_entry();
  qv::store_text(noName.programName, "");
  qv::ConnectionEntry badNumbers = tcp_entry();
  badNumbers.tcpState = 13;
  badNumbers.protocol = 0;

  const LineCase cases[] = {
      {"all nine, TCP", tcp_entry(), "%lip|%lpt|%rpt|%pid|%rip|%nm|%stat|%ptt|%hn", 0,
       "10.0.0.5|00080|51234|0004|192.168.0.7|httpd.exe|Established|TCP|peer.example"},
      {"all nine, UDP", udp_entry(), "%lip|%lpt|%rpt|%pid|%rip|%nm|%stat|%ptt|%hn", 0,
       "0.0.0.0|00053|00000|1234|000.000.000.000|dns.exe||UDP|"},
      {"plain numbers", tcp_entry(), "%lpt %rpt %pid", 1, "80 51234 4"},
      {"plain remote port 0", udp_entry(), "%rpt", 1, "0"},
      {"only exactly 1 means plain", tcp_entry(), "%lpt %pid", 2, "00080 0004"},
      {"numbers wider than the mask", bigNumbers, "%lpt %rpt %pid", 0, "65535 00000 123456"},
      {"twice", tcp_entry(), "%lip and %lip", 0, "10.0.0.5 and 10.0.0.5"},
      {"letters after a placeholder", tcp_entry(), "%lipx%ptts", 0, "10.0.0.5xTCPs"},
      {"capitals untouched", tcp_entry(), "%LIP %Lpt %HN %Stat", 0, "%LIP %Lpt %HN %Stat"},
      {"unknown placeholders", tcp_entry(), "%xyz 100% %", 0, "%xyz 100% %"},
      {"percent before a placeholder", tcp_entry(), "%%ptt%", 0, "%TCP%"},
      {"later placeholders search earlier insertions", nameWithHost, "[%nm]", 0,
       "[apeer.exampleb%lip]"},
      {"the host name is never searched", hostWithName, "%hn", 0, "h%nm%hn"},
      {"an insertion is not searched for its own placeholder", nameIsItsPlaceholder, "%nm%nm", 0,
       "%nm%nm"},
      {"a placeholder formed by a removal is past its turn", noName, "%l%nmip %st%nmat", 0,
       "%lip Established"},
      {"numbers outside the name tables", badNumbers, "<%stat><%ptt>", 0, "<><>"},
      {"empty template", tcp_entry(), "", 0, ""},
      {"no placeholders", tcp_entry(), "x", 0, "x"},
  };
  for (const LineCase& c : cases) {
    EXPECT_EQ(expand(c.entry, settings_with(c.outputTemplate, c.noLeadingZeros)), c.expected)
        << c.what;
  }
}

TEST(ExpandLine, CutTo511AfterEachPlaceholder) {
  qv::ConnectionEntry entry = tcp_entry();
  const std::string name(127, 'n');
  const std::string host(255, 'h');
  qv::store_text(entry.programName, name);
  qv::store_text(entry.hostName, host);

  // The program name pushes "%hn" past 511 characters: it is cut away before its turn.
  EXPECT_EQ(expand(entry, settings_with("%nm" + std::string(480, 'b') + "%hn")),
            name + std::string(511 - 127, 'b'));
  // A placeholder inside the first 511 characters is replaced, and the tail cut.
  EXPECT_EQ(expand(entry, settings_with("%hn" + std::string(500, 'c'))),
            host + std::string(511 - 255, 'c'));
  // A placeholder at the very end of a full template leaves only what fits.
  EXPECT_EQ(expand(entry, settings_with(std::string(507, 'd') + "%lip")),
            std::string(507, 'd') + "10.0");
  // Many replacements, each longer than its placeholder, stop at the capacity.
  std::string manyHosts;
  for (int i = 0; i < 100; ++i) manyHosts += "%hn";
  EXPECT_EQ(expand(entry, settings_with(manyHosts)), (host + host + host).substr(0, 511));
}

struct FilterCase {
  std::int32_t hideZeroAddress;
  std::int64_t rangeLow;
  std::int64_t rangeHigh;
  std::int64_t remoteAddressNumber;
  bool listed;
};

TEST(Filters, ZeroAddressAndRangeAtTheirBounds) {
  const std::int64_t low = 192168000001;
  const std::int64_t high = 192168000255;
  const FilterCase cases[] = {
      {0, low, high, 192168000001, true},
      {0, low, high, 192168000002, false},
      {0, low, high, 192168000254, false},
      {0, low, high, 192168000255, true},
      {0, low, high, 192168001000, true},
      {0, low, high, 10000000001, true},
      {0, low, high, 0, true},
      {1, low, high, 0, false},
      {2, low, high, 0, true},
      {1, low, high, 192168000255, true},
      {0, 5, 5, 5, true},
      {0, 10, 5, 7, true},
      {0, 1, 2, 1, true},
      {0, 1, 2, 2, true},
      {0, -1, 10, 0, false},
      {0, 0, 255255255255, 1, false},
  };
  for (const FilterCase& c : cases) {
    qv::InstanceSettings s{};
    s.hideZeroAddress = c.hideZeroAddress;
    s.rangeLow = c.rangeLow;
    s.rangeHigh = c.rangeHigh;
    qv::ConnectionEntry e = tcp_entry();
    e.remoteAddressNumber = c.remoteAddressNumber;
    EXPECT_EQ(qv::entry_listed(e, s), c.listed) << c.hideZeroAddress << " " << c.rangeLow << " "
                                                << c.rangeHigh << " " << c.remoteAddressNumber;
  }
}

std::string build(const std::vector<qv::ConnectionEntry>& entries,
                  const qv::InstanceSettings& settings) {
  char listing[qv::kListingCapacity + 1];
  const std::size_t length = qv::build_listing(entries, settings, listing);
  EXPECT_EQ(length, std::char_traits<char>::length(listing));
  return listing;
}

TEST(BuildListing, JoinsKeptEntriesWithoutSeparators) {
  qv::ConnectionEntry near = tcp_entry();
  near.remoteAddressNumber = 192168000100;
  qv::store_text(near.programName, "near");
  const std::vector<qv::ConnectionEntry> entries = {tcp_entry(), near, udp_entry()};
  qv::InstanceSettings s = settings_with("%nm;");
  s.rangeLow = 192168000050;
  s.rangeHigh = 192168000200;
  EXPECT_EQ(build(entries, s), "httpd.exe;dns.exe;");
  s.hideZeroAddress = 1;
  EXPECT_EQ(build(entries, s), "httpd.exe;");
  EXPECT_EQ(build({}, s), "");
  EXPECT_EQ(build(entries, settings_with("x")), "xxx");
  EXPECT_EQ(build(entries, settings_with("")), "");
}

// A full table whose lines differ entry by entry, against the plain join cut at 4,095: the
// listing stops expanding once full, and must equal the join however the lines fall on the cut.
TEST(BuildListing, CutAt4095SameAsTheWholeJoinCut) {
  const std::size_t padding[] = {0, 1, 2, 4, 6, 95, 200, 506};
  for (const std::size_t pad : padding) {
    for (const std::int32_t hideZeroAddress : {0, 1}) {
      std::vector<qv::ConnectionEntry> entries(qv::kConnectionTableSize, tcp_entry());
      std::string join;
      for (std::size_t i = 0; i < entries.size(); ++i) {
        entries[i].localPort = static_cast<std::int32_t>(i);
        entries[i].remoteAddressNumber = i % 3 == 0 ? 0 : 10000000001;
        if (hideZeroAddress == 1 && i % 3 == 0) continue;
        join += std::to_string(i) + std::string(pad, '.');
      }
      qv::InstanceSettings s = settings_with("%lpt" + std::string(pad, '.'), 1);
      s.hideZeroAddress = hideZeroAddress;
      EXPECT_EQ(build(entries, s), join.substr(0, qv::kListingCapacity)) << pad;
    }
  }
}

TEST(BuildListing, WritesIntoTheRecordsOwnOutputText) {
  qv::InstanceSettings s = settings_with("%ptt ");
  qv::store_text(s.outputText, "previous listing");
  const std::vector<qv::ConnectionEntry> entries = {tcp_entry(), udp_entry()};
  EXPECT_EQ(qv::build_listing(entries, s, s.outputText), 8U);
  EXPECT_STREQ(s.outputText, "TCP UDP ");
}

}  // namespace
