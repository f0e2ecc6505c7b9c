// The kernel's socket tables and fd links, replayed from captured text; the network namespaces
// met under /proc and /run, merged.
#include "os/linux/proc_net.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "os/linux/network_namespaces.hpp"

namespace {

using os::linux_net::SocketLine;

std::uint32_t delivered(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
  const std::uint8_t bytes[4] = {a, b, c, d};
  std::uint32_t field;
  std::memcpy(&field, bytes, sizeof field);
  return field;
}

// Captured from a machine with a DNS listener, an ssh session, a lingering close and a loopback
// connection, plus damage: a line cut short and a line of nonsense.
constexpr const char* kTcp =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout "
    "inode                                                     \n"
    "   0: 0100007F:0035 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 "
    "18232 1 0000000000000000 100 0 0 10 0                     \n"
    "   1: 0A00A8C0:D431 0100A8C0:0016 01 00000000:00000000 02:000A7B0F 00000000  1000        0 "
    "4711 2 0000000000000000 20 4 31 10 -1                     \n"
    "   2: 0100007F:8AE2 0100007F:1F90 06 00000000:00000000 03:00001770 00000000     0        0 0 "
    "3 0000000000000000\n"
    "  10: FFFFFFFF:FFFF 8A00000A:0050 08 00000000:00000000 00:00000000 00000000     0        0 "
    "99999999999 1 0000000000000000 20 4 0 10 -1\n"
    "   3: 0100007F:1F90 0100007F:8AE2 01 00000000:00000000 00:000000\n"
    "garbage line without fields\n"
    "   4: 0100007G:0035 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 7";

constexpr const char* kUdp =
    "   sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout "
    "inode ref pointer drops            \n"
    "  251: 00000000:0044 00000000:0000 07 00000000:00000000 00:00000000 00000000     0        0 "
    "16021 2 0000000000000000 0         \n"
    "  832: 0100007F:E2B5 0100007F:0035 01 00000000:00000000 00:00000000 00000000  1000        0 "
    "52114 2 0000000000000000 0";

TEST(SocketLines, TcpLinesInTheFilesOrderWithDamagedLinesLeftOut) {
  std::vector<SocketLine> lines;
  os::linux_net::parse_socket_lines(kTcp, lines);
  const SocketLine expected[] = {
      {delivered(127, 0, 0, 1), 53, 0, 0, 0x0A, 18232},
      {delivered(192, 168, 0, 10), 54321, delivered(192, 168, 0, 1), 22, 0x01, 4711},
      {delivered(127, 0, 0, 1), 35554, delivered(127, 0, 0, 1), 8080, 0x06, 0},
      {delivered(255, 255, 255, 255), 65535, delivered(10, 0, 0, 138), 80, 0x08, 99999999999},
  };
  ASSERT_EQ(lines.size(), std::size(expected));
  for (std::size_t i = 0; i < lines.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(lines[i].localAddress, expected[i].localAddress);
    EXPECT_EQ(lines[i].localPort, expected[i].localPort);
    EXPECT_EQ(lines[i].remoteAddress, expected[i].remoteAddress);
    EXPECT_EQ(lines[i].remotePort, expected[i].remotePort);
    EXPECT_EQ(lines[i].state, expected[i].state);
    EXPECT_EQ(lines[i].inode, expected[i].inode);
  }
}

TEST(SocketLines, UdpLinesAndEmptyOrHeaderOnlyTables) {
  std::vector<SocketLine> lines;
  os::linux_net::parse_socket_lines(kUdp, lines);
  ASSERT_EQ(lines.size(), 2U);
  EXPECT_EQ(lines[0].localPort, 68);
  EXPECT_EQ(lines[0].inode, 16021U);
  EXPECT_EQ(lines[1].remotePort, 53);
  EXPECT_EQ(lines[1].inode, 52114U);
  EXPECT_EQ(lines[0].uid, 0U);
  EXPECT_EQ(lines[1].uid, 1000U);

  for (const char* text : {"", "  sl  local_address rem_address\n", "\n\n\n"}) {
    os::linux_net::parse_socket_lines(text, lines);
    EXPECT_TRUE(lines.empty()) << text;
  }
}

TEST(SocketLines, SockstatCountsTheTablesAboutToBeRead) {
  const auto counts = os::linux_net::parse_sockstat(
      "sockets: used 290\nTCP: inuse 5 orphan 0 tw 12 alloc 7 mem 1\nUDP: inuse 3 mem 2\n"
      "UDPLITE: inuse 0\n",
      "TCP6: inuse 4\nUDP6: inuse 2\nUDPLITE6: inuse 9\n");
  EXPECT_EQ(counts.tcp4, 5U);
  EXPECT_EQ(counts.tcpTimeWait, 12U);
  EXPECT_EQ(counts.udp4, 3U);  // not UDPLITE's
  EXPECT_EQ(counts.tcp6, 4U);
  EXPECT_EQ(counts.udp6, 2U);
  // Missing files, lines or keys, and damaged counts, count nothing.
  const auto none = os::linux_net::parse_sockstat("", "TCP6: inuse x\nUDP6:\n");
  EXPECT_EQ(none.tcp4 + none.tcp6 + none.tcpTimeWait + none.udp4 + none.udp6, 0U);
}

TEST(TcpStates, KernelNumbersBecomeMibNumbers) {
  const struct {
    unsigned linuxState;
    std::uint32_t mib;
  } cases[] = {{1, 5},  {2, 3},  {3, 4},  {4, 6},  {5, 7}, {6, 11}, {7, 1},  {8, 8},
               {9, 10}, {10, 2}, {11, 9}, {12, 4}, {0, 1}, {13, 1}, {255, 1}};
  for (const auto& c : cases) {
    EXPECT_EQ(os::linux_net::mib_tcp_state(c.linuxState), c.mib) << c.linuxState;
  }
}

TEST(DeliveredPort, HighByteFirstInTheFirstTwoBytes) {
  for (const std::uint16_t port : {0, 80, 443, 49152, 65535}) {
    const std::uint32_t field = os::linux_net::delivered_port(port);
    unsigned char bytes[4];
    std::memcpy(bytes, &field, sizeof bytes);
    EXPECT_EQ(bytes[0] * 256 + bytes[1], port);
    EXPECT_EQ(bytes[2] + bytes[3], 0);
  }
}

TEST(FdLinks, OnlySocketLinksNameAnInode) {
  const struct {
    const char* link;
    std::optional<std::uint64_t> inode;
  } cases[] = {
      {"socket:[12345]", 12345},
      {"socket:[0]", 0},
      {"pipe:[12345]", std::nullopt},
      {"/dev/null", std::nullopt},
      {"socket:[]", std::nullopt},
      {"socket:[12a]", std::nullopt},
      {"socket:[123", std::nullopt},
      {"socket:[99999999999999999999]", std::nullopt},
      {"anon_inode:[eventpoll]", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(os::linux_net::socket_inode_of_link(c.link), c.inode) << c.link;
  }
}

// /proc/net/tcp6 and udp6 print each address as four words, each as the IPv4 tables do.
constexpr const char* kTcp6 =
    "  sl  local_address                         remote_address                        st "
    "tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n"
    "   0: 00000000000000000000000000000000:1F90 00000000000000000000000000000000:0000 0A "
    "00000000:00000000 00:00000000 00000000     0        0 31337 1 0000000000000000 100 0 0 10 0\n"
    "   1: 0000000000000000FFFF00000100007F:1F90 0000000000000000FFFF00000100007F:9C40 01 "
    "00000000:00000000 00:00000000 00000000     0        0 31338 1 0000000000000000 20 4 30 10 -1\n"
    "   2: 000080FE00000000FF005452AB8912FE:0016 00000000000000000000000001000000:D431 06 "
    "00000000:00000000 03:00001770 00000000     0        0 0 3 0000000000000000\n"
    "   3: 0100007F:0035 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 7\n"
    "   4: 00000000000000000000000000000000:1F90 00000000000000000000000000000000:0000 0A";

TEST(SocketLines, Ipv6TablesGiveSixteenByteAddressesAndSkipIpv4Lines) {
  std::vector<os::linux_net::SocketLine6> lines;
  os::linux_net::parse_socket_lines(kTcp6, lines);
  ASSERT_EQ(lines.size(), 3U);
  const std::array<std::uint8_t, 16> any{};
  const std::array<std::uint8_t, 16> mapped{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 127, 0, 0, 1};
  const std::array<std::uint8_t, 16> linkLocal{0xFE, 0x80, 0,    0,    0,    0,    0,    0,
                                               0x52, 0x54, 0x00, 0xFF, 0xFE, 0x12, 0x89, 0xAB};
  const std::array<std::uint8_t, 16> loopback{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  EXPECT_EQ(lines[0].localAddress, any);
  EXPECT_EQ(lines[0].localPort, 8080);
  EXPECT_EQ(lines[0].state, 0x0AU);
  EXPECT_EQ(lines[0].inode, 31337U);
  EXPECT_EQ(lines[1].localAddress, mapped);
  EXPECT_EQ(lines[1].remoteAddress, mapped);
  EXPECT_EQ(lines[1].remotePort, 40000);
  EXPECT_EQ(lines[2].localAddress, linkLocal);
  EXPECT_EQ(lines[2].remoteAddress, loopback);
  EXPECT_EQ(lines[2].inode, 0U);

  // And the IPv4 reader refuses the IPv6 form.
  std::vector<SocketLine> ipv4;
  os::linux_net::parse_socket_lines(kTcp6, ipv4);
  ASSERT_EQ(ipv4.size(), 1U);
  EXPECT_EQ(ipv4[0].inode, 7U);
}

TEST(NetworkNamespaces, OneEachCurrentFirstNamedByNameEnteredThroughAFile) {
  using os::linux_netns::Seen;
  const auto merged = os::linux_netns::merge_sightings({
      {30, Seen::process, "/proc/9/ns/net", ""},
      {20, Seen::docker, "/run/docker/netns/1a2b", "1a2b"},
      {20, Seen::process, "/proc/8/ns/net", ""},
      {10, Seen::current, "", ""},
      {10, Seen::process, "/proc/1/ns/net", ""},
      {40, Seen::named, "/run/netns/web", "web"},
      {40, Seen::docker, "/run/docker/netns/ffee", "ffee"},
      {40, Seen::named, "/run/netns/api", "api"},
      {5, Seen::process, "/proc/7/ns/net", ""},
  });
  ASSERT_EQ(merged.size(), 5U);
  EXPECT_TRUE(merged[0].current);
  EXPECT_EQ(merged[0].inode, 10U);
  EXPECT_EQ(merged[0].name, "");
  // /run/netns's name before Docker's, the first in byte order; a named file before a pid's.
  EXPECT_EQ(merged[1].name, "1a2b");
  EXPECT_EQ(merged[1].path, "/run/docker/netns/1a2b");
  EXPECT_EQ(merged[2].name, "api");
  EXPECT_EQ(merged[2].path, "/run/netns/api");
  // The rest by inode.
  EXPECT_EQ(merged[3].inode, 5U);
  EXPECT_EQ(merged[4].inode, 30U);
  EXPECT_EQ(merged[4].path, "/proc/9/ns/net");
  EXPECT_EQ(os::linux_netns::merge_sightings({{5, Seen::process, "/proc/7/ns/net", ""}}).size(),
            1U);

  EXPECT_EQ(os::linux_netns::namespace_file_path("1234"), "/proc/1234/ns/net");
  EXPECT_EQ(os::linux_netns::namespace_file_path("web"), "/run/netns/web");
  EXPECT_EQ(os::linux_netns::namespace_file_path("./web"), "./web");
  EXPECT_EQ(os::linux_netns::namespace_file_path("12a"), "/run/netns/12a");
}

}  // namespace
