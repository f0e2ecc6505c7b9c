// sock_diag replies built by hand, as the kernel lays them out, read into rows.
#include "os/linux/sock_diag.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstring>

namespace {

using os::linux_diag::DumpProgress;
constexpr std::uint32_t kSequence = 7;

// A datagram of netlink messages, each padded to the netlink alignment.
struct Datagram {
  std::vector<std::uint8_t> bytes;
  std::uint32_t interfaceIndex = 0;  // of the sockets added next
  std::uint32_t uid = 0;             // their owner

  void message(std::uint16_t type, const void* payload, std::size_t length,
               std::uint32_t sequence = kSequence) {
    nlmsghdr header{};
    header.nlmsg_len = static_cast<std::uint32_t>(NLMSG_LENGTH(length));
    header.nlmsg_type = type;
    header.nlmsg_seq = sequence;
    const std::size_t at = bytes.size();
    bytes.resize(at + NLMSG_ALIGN(header.nlmsg_len));
    std::memcpy(bytes.data() + at, &header, sizeof header);
    if (length > 0) std::memcpy(bytes.data() + at + NLMSG_HDRLEN, payload, length);
  }

  // A socket's message: the body, then the attributes the kernel adds without extensions, then
  // the extra attributes given (type and payload), as a dump that asked for them carries.
  void socket(int family, const char* local, int localPort, const char* remote, int remotePort,
              std::uint8_t state, std::uint32_t inode, std::optional<std::uint8_t> v6only = {},
              std::uint32_t sequence = kSequence,
              const std::vector<std::pair<std::uint16_t, std::vector<std::uint8_t>>>& extra = {},
              std::uint32_t rqueue = 0, std::uint32_t wqueue = 0) {
    inet_diag_msg body{};
    body.idiag_family = static_cast<std::uint8_t>(family);
    body.idiag_state = state;
    body.id.idiag_sport = htons(static_cast<std::uint16_t>(localPort));
    body.id.idiag_dport = htons(static_cast<std::uint16_t>(remotePort));
    inet_pton(family, local, body.id.idiag_src);
    inet_pton(family, remote, body.id.idiag_dst);
    body.idiag_inode = inode;
    body.idiag_rqueue = rqueue;
    body.idiag_wqueue = wqueue;
    body.id.idiag_if = interfaceIndex;
    body.idiag_uid = uid;
    body.id.idiag_cookie[0] = inode;  // the cookie's halves: the inode, then 1
    body.id.idiag_cookie[1] = 1;
    std::vector<std::uint8_t> payload(sizeof body);
    std::memcpy(payload.data(), &body, sizeof body);
    attribute(payload, INET_DIAG_SHUTDOWN, {0});
    if (v6only) attribute(payload, INET_DIAG_SKV6ONLY, {*v6only});
    for (const auto& [type, value] : extra) attribute(payload, type, value);
    message(SOCK_DIAG_BY_FAMILY, payload.data(), payload.size(), sequence);
  }

  static void attribute(std::vector<std::uint8_t>& payload, std::uint16_t type,
                        const std::vector<std::uint8_t>& value) {
    rtattr header{static_cast<std::uint16_t>(RTA_LENGTH(value.size())), type};
    const std::size_t at = payload.size();
    payload.resize(at + RTA_SPACE(value.size()));
    std::memcpy(payload.data() + at, &header, sizeof header);
    if (!value.empty())
      std::memcpy(payload.data() + at + RTA_LENGTH(0), value.data(), value.size());
  }

  void done(int error = 0) { message(NLMSG_DONE, &error, sizeof error); }

  void error(int code) {
    nlmsgerr body{};
    body.error = code;
    message(NLMSG_ERROR, &body, sizeof body);
  }
};

struct Parsed {
  DumpProgress progress;
  std::vector<os::SocketRow> rows;
  std::vector<std::uint64_t> inodes;
};

Parsed parse(const std::vector<std::uint8_t>& bytes, os::Protocol protocol = os::Protocol::tcp) {
  Parsed parsed;
  parsed.progress =
      os::linux_diag::parse_dump(bytes, kSequence, protocol, parsed.rows, parsed.inodes);
  return parsed;
}

std::array<std::uint8_t, 16> address(int family, const char* text) {
  std::array<std::uint8_t, 16> bytes{};
  inet_pton(family, text, bytes.data());
  return bytes;
}

TEST(SockDiag, SocketsOfBothFamiliesBecomeRowsWithTheirInodes) {
  Datagram d;
  d.interfaceIndex = 1;                                        // bound to a device
  d.socket(AF_INET, "127.0.0.1", 53, "0.0.0.0", 0, 10, 1001);  // LISTEN
  d.interfaceIndex = 0;
  d.uid = 65534;
  d.socket(AF_INET6, "::", 8080, "::", 0, 10, 1002, 0);  // dual-stack listener
  d.uid = 0;
  d.socket(AF_INET6, "::", 8443, "::", 0, 10, 1003, 1);  // v6-only listener
  d.socket(AF_INET6, "::ffff:127.0.0.1", 8080, "::ffff:127.0.0.1", 40000, 1, 1004);
  d.socket(AF_INET, "10.0.0.1", 40001, "10.0.0.2", 80, 6, 0);  // TIME_WAIT: no inode
  d.socket(AF_INET, "10.0.0.1", 1, "10.0.0.2", 2, 3, 1005, {}, kSequence + 1);  // another dump's
  const Parsed p = parse(d.bytes);
  EXPECT_EQ(p.progress, DumpProgress::more);
  ASSERT_EQ(p.rows.size(), 5U);
  EXPECT_EQ(p.inodes, (std::vector<std::uint64_t>{1001, 1002, 1003, 1004, 0}));

  EXPECT_EQ(p.rows[0].family, os::kFamilyIpv4);
  EXPECT_EQ(p.rows[0].local.address, address(AF_INET, "127.0.0.1"));
  EXPECT_EQ(p.rows[0].local.port, 53);
  EXPECT_EQ(p.rows[0].ownerUid, 0U);
  EXPECT_EQ(p.rows[1].ownerUid, 65534U);
  EXPECT_EQ(p.rows[0].tcpState, os::TcpState::listen);  // Listen
  EXPECT_FALSE(p.rows[0].ipv6Only);
  EXPECT_EQ(p.rows[0].interfaceIndex, 1U);
  EXPECT_EQ(p.rows[0].identity, 1001 + (std::uint64_t{1} << 32));
  EXPECT_EQ(p.rows[1].interfaceIndex, 0U);
  EXPECT_EQ(p.rows[1].family, os::kFamilyIpv6);
  EXPECT_FALSE(p.rows[1].ipv6Only);
  EXPECT_TRUE(p.rows[2].ipv6Only);
  EXPECT_EQ(p.rows[3].local.address, address(AF_INET6, "::ffff:127.0.0.1"));
  EXPECT_EQ(p.rows[3].remote.port, 40000);
  EXPECT_EQ(p.rows[3].tcpState, os::TcpState::established);  // Established
  EXPECT_EQ(p.rows[4].remote.address, address(AF_INET, "10.0.0.2"));
  EXPECT_EQ(p.rows[4].tcpState, os::TcpState::timeWait);  // Time Wait
  for (const auto& row : p.rows) {
    EXPECT_EQ(row.protocol, os::Protocol::tcp);
    EXPECT_EQ(row.owningPid, 0U);
  }
}

TEST(SockDiag, UdpRowsCarryNoStateAndConnectedOnesTheirPeer) {
  Datagram d;
  d.socket(AF_INET6, "::", 5353, "::", 0, 7, 2001, 0);
  d.socket(AF_INET, "127.0.0.1", 40000, "127.0.0.53", 53, 1, 2002);
  d.done();
  const Parsed p = parse(d.bytes, os::Protocol::udp);
  EXPECT_EQ(p.progress, DumpProgress::done);
  ASSERT_EQ(p.rows.size(), 2U);
  EXPECT_EQ(p.rows[0].protocol, os::Protocol::udp);
  EXPECT_EQ(p.rows[0].tcpState, os::TcpState::none);
  EXPECT_EQ(p.rows[1].tcpState, os::TcpState::none);
  EXPECT_EQ(p.rows[1].remote.address, address(AF_INET, "127.0.0.53"));
  EXPECT_EQ(p.rows[1].remote.port, 53);
}

TEST(SockDiag, EndsErrorsAndAcknowledgements) {
  const struct {
    const char* what;
    void (*build)(Datagram&);
    DumpProgress progress;
    std::size_t rows;
  } cases[] = {
      {"end without outcome", [](Datagram& d) { d.message(NLMSG_DONE, nullptr, 0); },
       DumpProgress::done, 0},
      {"end with an error", [](Datagram& d) { d.done(-EINTR); }, DumpProgress::failed, 0},
      {"error reply", [](Datagram& d) { d.error(-ENOENT); }, DumpProgress::failed, 0},
      {"acknowledgement, then a socket",
       [](Datagram& d) {
         d.error(0);
         d.socket(AF_INET, "1.2.3.4", 1, "0.0.0.0", 0, 10, 9);
       },
       DumpProgress::more, 1},
      {"messages after the end are not read",
       [](Datagram& d) {
         d.done();
         d.socket(AF_INET, "1.2.3.4", 1, "0.0.0.0", 0, 10, 9);
       },
       DumpProgress::done, 0},
      {"another dump's end", [](Datagram& d) { d.message(NLMSG_DONE, nullptr, 0, 99); },
       DumpProgress::more, 0},
      {"a family not ours, a type not ours",
       [](Datagram& d) {
         d.socket(AF_UNIX, "", 0, "", 0, 1, 5);
         d.message(NLMSG_NOOP, nullptr, 0);
       },
       DumpProgress::more, 0},
      {"empty datagram", [](Datagram&) {}, DumpProgress::more, 0},
  };
  for (const auto& c : cases) {
    Datagram d;
    c.build(d);
    const Parsed p = parse(d.bytes);
    EXPECT_EQ(p.progress, c.progress) << c.what;
    EXPECT_EQ(p.rows.size(), c.rows) << c.what;
  }
}

TEST(SockDiag, MessagesCutShortFailTheDump) {
  Datagram whole;
  whole.socket(AF_INET, "127.0.0.1", 53, "0.0.0.0", 0, 10, 1001);
  whole.socket(AF_INET6, "::1", 22, "::1", 50000, 1, 1002);
  const std::size_t first = whole.bytes.size() / 2;
  // Every cut inside the second message: the datagram as received is not whole.
  for (std::size_t cut = first + 1; cut < whole.bytes.size(); ++cut) {
    const std::vector<std::uint8_t> bytes(whole.bytes.begin(),
                                          whole.bytes.begin() + static_cast<std::ptrdiff_t>(cut));
    EXPECT_EQ(parse(bytes).progress, DumpProgress::failed) << cut;
  }
  // A header claiming less than a header, or a socket message too short for its body.
  Datagram tiny;
  tiny.message(SOCK_DIAG_BY_FAMILY, "x", 1);
  EXPECT_EQ(parse(tiny.bytes).progress, DumpProgress::failed);
  std::vector<std::uint8_t> bytes = whole.bytes;
  bytes[0] = 8;
  bytes[1] = bytes[2] = bytes[3] = 0;
  EXPECT_EQ(parse(bytes).progress, DumpProgress::failed);
}

// A tcp_info as a kernel sends it: the structure cut to sentBytes, or padded with a newer
// kernel's fields beyond ours.
std::vector<std::uint8_t> tcp_info_bytes(const tcp_info& info, std::size_t sentBytes) {
  std::vector<std::uint8_t> bytes(sentBytes, 0xEE);
  std::memcpy(bytes.data(), &info, std::min(sentBytes, sizeof info));
  return bytes;
}

TEST(SockDiag, TcpInfoIsReadAsFarAsTheKernelSentIt) {
  tcp_info info{};
  info.tcpi_rtt = 1500;
  info.tcpi_rttvar = 250;
  info.tcpi_snd_cwnd = 10;
  info.tcpi_total_retrans = 3;
  info.tcpi_bytes_received = 7000;
  info.tcpi_min_rtt = 40;
  info.tcpi_delivery_rate = 2000000;
  info.tcpi_bytes_sent = 123456789012;
  info.tcpi_bytes_retrans = 4096;
  // Linux 3.x ends before the byte counters; 4.6 has min_rtt but no delivery rate; 4.9 ends
  // before bytes_sent; a later kernel sends more than we know of.
  const std::size_t linux3 = offsetof(tcp_info, tcpi_pacing_rate);
  const std::size_t linux46 = offsetof(tcp_info, tcpi_data_segs_in);
  const std::size_t linux49 = offsetof(tcp_info, tcpi_busy_time);
  Datagram d;
  for (const std::size_t sent : {linux3, linux46, linux49, sizeof info + 24}) {
    d.socket(AF_INET, "127.0.0.1", 5000, "127.0.0.1", 40000, 1, 1, {}, kSequence,
             {{INET_DIAG_INFO, tcp_info_bytes(info, sent)}}, 17, 42);
  }
  // A TIME_WAIT socket has no tcp_info: no traffic at all, not zeros.
  d.socket(AF_INET, "127.0.0.1", 5000, "127.0.0.1", 40001, 6, 0);
  // Before its first round trip the kernel's minimum is all ones: not a figure.
  info.tcpi_min_rtt = ~0U;
  d.socket(AF_INET6, "::1", 5000, "::1", 40002, 1, 2, {}, kSequence,
           {{INET_DIAG_INFO, tcp_info_bytes(info, sizeof info)}});
  const Parsed p = parse(d.bytes);
  ASSERT_EQ(p.rows.size(), 6U);
  for (std::size_t i = 0; i < 4; ++i) {
    ASSERT_TRUE(p.rows[i].traffic) << i;
    const os::TcpTraffic& t = *p.rows[i].traffic;
    EXPECT_EQ(t.rttUs, 1500U) << i;
    EXPECT_EQ(t.rttVarUs, 250U) << i;
    EXPECT_EQ(t.cwnd, 10U) << i;
    EXPECT_EQ(t.retransmits, 3U) << i;
    EXPECT_EQ(p.rows[i].recvQueue, 17U) << i;
    EXPECT_EQ(p.rows[i].sendQueue, 42U) << i;
  }
  const auto& old = *p.rows[0].traffic;
  EXPECT_FALSE(old.bytesReceived || old.bytesSent || old.bytesRetrans || old.minRttUs ||
               old.deliveryRate);
  EXPECT_EQ(p.rows[1].traffic->bytesReceived, 7000U);
  EXPECT_EQ(p.rows[1].traffic->minRttUs, 40U);
  EXPECT_FALSE(p.rows[1].traffic->deliveryRate);
  EXPECT_EQ(p.rows[2].traffic->deliveryRate, 2000000U);
  EXPECT_FALSE(p.rows[2].traffic->bytesSent || p.rows[2].traffic->bytesRetrans);
  EXPECT_EQ(p.rows[3].traffic->bytesSent, 123456789012U);
  EXPECT_EQ(p.rows[3].traffic->bytesRetrans, 4096U);
  EXPECT_FALSE(p.rows[4].traffic);
  EXPECT_EQ(p.rows[4].recvQueue, 0U);
  EXPECT_FALSE(p.rows[5].traffic->minRttUs);
  EXPECT_EQ(p.rows[5].traffic->bytesSent, 123456789012U);

  // UDP has no tcp_info: an attribute of that number is not read as one.
  Datagram udp;
  udp.socket(AF_INET, "127.0.0.1", 53, "0.0.0.0", 0, 7, 3, {}, kSequence,
             {{INET_DIAG_INFO, tcp_info_bytes(info, sizeof info)}}, 512, 0);
  const Parsed u = parse(udp.bytes, os::Protocol::udp);
  ASSERT_EQ(u.rows.size(), 1U);
  EXPECT_FALSE(u.rows[0].traffic);
  EXPECT_EQ(u.rows[0].recvQueue, 512U);
}

TEST(SockDiag, RequestAsksForEveryStateOfOneFamilyAndProtocol) {
  const auto request = os::linux_diag::dump_request(AF_INET6, IPPROTO_UDP, 42);
  EXPECT_EQ(request.header.nlmsg_len, sizeof request);
  EXPECT_EQ(request.header.nlmsg_type, SOCK_DIAG_BY_FAMILY);
  EXPECT_EQ(request.header.nlmsg_flags, NLM_F_REQUEST | NLM_F_DUMP);
  EXPECT_EQ(request.header.nlmsg_seq, 42U);
  EXPECT_EQ(request.body.sdiag_family, AF_INET6);
  EXPECT_EQ(request.body.sdiag_protocol, IPPROTO_UDP);
  EXPECT_EQ(request.body.idiag_states, ~0U);
  EXPECT_EQ(request.body.idiag_ext, 0);
  // tcp_info is asked for only when wanted, and only of TCP, the one protocol that has it.
  EXPECT_EQ(os::linux_diag::dump_request(AF_INET, IPPROTO_TCP, 1, true).body.idiag_ext,
            1 << (INET_DIAG_INFO - 1));
  EXPECT_EQ(os::linux_diag::dump_request(AF_INET, IPPROTO_UDP, 1, true).body.idiag_ext, 0);
  EXPECT_EQ(os::linux_diag::dump_request(AF_INET, IPPROTO_TCP, 1).body.idiag_ext, 0);
}

}  // namespace
