// The command's outputs: default rows, templates through the shared engine (uncut, unlike the
// meter's), JSON and CSV records, the settings filters, and the meter view's safe names.
#include <gtest/gtest.h>

#include "collector/collector.hpp"
#include "command/endpoint_text.hpp"
#include "command/meter_view.hpp"
#include "command/output.hpp"
#include "common/text.hpp"
#include "endpoint_builder.hpp"
#include "fake/fake_os.hpp"

namespace {

using test_address::v4;
using test_address::v6;

using test_endpoint::endpoint;
using test_endpoint::Protocol;
using test_endpoint::TcpState;

qv::Endpoint connection() {
  return endpoint({.local = {v4(10, 0, 0, 1), 80},
                   .remote = {v4(10, 0, 0, 9), 51234},
                   .state = TcpState::established,
                   .pid = 42,
                   .program = "odd\x1b[2J\nname",
                   .host = "peer\texample"});
}

qv::Endpoint dual_listener() {
  return endpoint({.family = os::kFamilyIpv6,
                   .local = {{}, 8080},
                   .state = TcpState::listen,
                   .pid = 7,
                   .program = "java"});
}

qv::Endpoint unowned_udp() {
  return endpoint({.protocol = Protocol::udp, .local = {v4(0, 0, 0, 0), 53}});
}

qv::Endpoint mapped_peer() {
  return endpoint({.family = os::kFamilyIpv6,
                   .local = {v6("::ffff:127.0.0.1"), 8080},
                   .remote = {v6("::ffff:127.0.0.2"), 40000},
                   .state = TcpState::established,
                   .pid = 7,
                   .program = "java"});
}

// A connection whose owner is known: a user, a unit, an LXC container.
qv::Endpoint owned_connection() {
  qv::Endpoint owned = connection();
  owned.socket.ownerUid = 33;
  owned.userName = "www\ndata";
  owned.place = {"nginx.service", "web01", "lxc", ""};
  owned.containerName = "web01";
  return owned;
}

std::string expansion(std::string_view outputTemplate, const qv::Endpoint& endpoint,
                      bool noLeadingZeros = true) {
  std::string out;
  qv::ExpansionWork work;
  qv::append_expansion(out, outputTemplate, noLeadingZeros, endpoint, work);
  return out;
}

TEST(TextRow, FieldsAsSsWritesThemNamesEscapedDashForNothing) {
  std::string out;
  qv::append_text_row(out, connection());
  qv::append_text_row(out, dual_listener());
  qv::append_text_row(out, unowned_udp());
  qv::append_text_row(out, mapped_peer());
  EXPECT_EQ(out,
            "TCP\t10.0.0.1:80\t10.0.0.9:51234\tEstablished\t42\todd\\033[2J\\nname\t"
            "peer\\texample\n"
            "TCP\t*:8080\t*:*\tListening\t7\tjava\t-\n"
            "UDP\t0.0.0.0:53\t0.0.0.0:*\t-\t-\t-\t-\n"
            "TCP\t[::ffff:127.0.0.1]:8080\t[::ffff:127.0.0.2]:40000\tEstablished\t7\tjava\t"
            "::ffff:127.0.0.2\n");
  // A device-bound or scoped socket's device follows its local address, as ss writes it.
  qv::Endpoint bound = unowned_udp();
  bound.socket.interfaceName = "lo";
  qv::Endpoint scoped = dual_listener();
  scoped.socket.ipv6Only = true;
  scoped.socket.local.address = v6("fe80::1234");
  scoped.socket.interfaceName = "eth\n0";
  out.clear();
  qv::append_text_row(out, bound);
  qv::append_text_row(out, scoped);
  EXPECT_EQ(out,
            "UDP\t0.0.0.0%lo:53\t0.0.0.0:*\t-\t-\t-\t-\n"
            "TCP\t[fe80::1234]%eth\\n0:8080\t[::]:*\tListening\t7\tjava\t-\n");
  // Ports the services database names are written by name, as ss writes them without -n; a
  // name is text from outside, escaped like the others.
  qv::Endpoint named = connection();
  named.localService = "http";
  qv::Endpoint odd = mapped_peer();
  odd.remoteService = "x\ty";
  out.clear();
  qv::append_text_row(out, named);
  qv::append_text_row(out, odd);
  EXPECT_EQ(out,
            "TCP\t10.0.0.1:http\t10.0.0.9:51234\tEstablished\t42\todd\\033[2J\\nname\t"
            "peer\\texample\n"
            "TCP\t[::ffff:127.0.0.1]:8080\t[::ffff:127.0.0.2]:x\\ty\tEstablished\t7\tjava\t"
            "::ffff:127.0.0.2\n");
  EXPECT_EQ(expansion("%lip:%lsv %rip:%rsv|", named), "10.0.0.1:http 10.0.0.9:51234|");
  EXPECT_EQ(expansion("%lsv %rsv|", odd, false), "8080 x\\ty|");
  EXPECT_EQ(expansion("%lsv %rsv|", unowned_udp()), "53 *|");
  out.clear();
  qv::append_json_record(out, named);
  EXPECT_NE(out.find(R"("local_port":80,"local_service":"http",)"), std::string::npos) << out;
  EXPECT_NE(out.find(R"("remote_port":51234,"remote_service":null,)"), std::string::npos) << out;
  // Across namespaces a first column says where: the namespace's name, else its inode.
  bound.socket.netnsInode = 4026532001;
  scoped.socket.netnsInode = 4026532002;
  scoped.socket.netnsName = "web\x1b";
  out.clear();
  qv::append_text_row(out, bound, {.namespaces = true});
  qv::append_text_row(out, scoped, {.namespaces = true});
  EXPECT_EQ(out,
            "net:[4026532001]\tUDP\t0.0.0.0%lo:53\t0.0.0.0:*\t-\t-\t-\t-\n"
            "web\\033\tTCP\t[fe80::1234]%eth\\n0:8080\t[::]:*\tListening\t7\tjava\t-\n");
  EXPECT_EQ(qv::endpoint_header_line({.namespaces = true}),
            "Netns\tProto\tLocal\tRemote\tState\tPID\tProgram\tHost\n");
  // The hook for a container's name: it goes before the namespace's.
  EXPECT_EQ(qv::place_text("db", "web", 4026532002), "db");
  EXPECT_EQ(qv::place_text({}, {}, 4026532002), "net:[4026532002]");
}

TEST(CommandTemplate, EveryPlaceholderWithTheMetersWidths) {
  const char* all = "%ptt %lip:%lpt %rip:%rpt %stat %pid %nm %hn|";
  EXPECT_EQ(expansion(all, connection(), false),
            "TCP 10.0.0.1:00080 10.0.0.9:51234 Established 0042 odd\\033[2J\\nname "
            "peer\\texample|");
  EXPECT_EQ(expansion(all, dual_listener()), "TCP *:8080 *:* Listening 7 java |");
  EXPECT_EQ(expansion(all, unowned_udp(), false), "UDP 0.0.0.0:00053 0.0.0.0:*  - - |");
  EXPECT_EQ(expansion(all, mapped_peer()),
            "TCP ::ffff:127.0.0.1:8080 ::ffff:127.0.0.2:40000 Established 7 java "
            "::ffff:127.0.0.2|");
  // The template's own control characters are its own: untouched.
  EXPECT_EQ(expansion("%lpt\t%rpt\n", connection()), "80\t51234\n");
  // A namespace's placeholders: %ns does not take the beginning of %nsino; absent, a dash.
  qv::Endpoint inside = connection();
  inside.socket.netnsInode = 4026532001;
  inside.socket.netnsName = "web\n";
  EXPECT_EQ(expansion("%nsino %ns %nsx|", inside), "4026532001 web\\n web\\nx|");
  EXPECT_EQ(expansion("%nsino %ns|", connection()), "- -|");
  // Who owns it: names escaped, a container's id where its runtime gave no name, "-" for none.
  EXPECT_EQ(expansion("%uid %user %unit %cid %ctr %pod|", owned_connection()),
            "33 www\\ndata nginx.service web01 web01 -|");
  qv::Endpoint inContainer = owned_connection();
  inContainer.place = {"", "3f4e", "docker", "9c1a"};
  inContainer.userName.reset();
  inContainer.containerName.reset();
  EXPECT_EQ(expansion("%user %unit %cid %ctr %pod", inContainer), "33 - 3f4e 3f4e 9c1a");
  EXPECT_TRUE(qv::template_needs_owners("%lpt %pod"));
  EXPECT_FALSE(qv::template_needs_owners("%lpt %pid %nm"));
  EXPECT_FALSE(qv::template_needs_traffic("%uid %user"));
}

TEST(CommandTemplate, TheMetersRulesWithoutItsCut) {
  // Same rules as the meter: inserted text searched by later placeholders only.
  qv::Endpoint tricky = connection();
  tricky.program = "%hn-%nm-%lip";
  EXPECT_EQ(expansion("%nm", tricky), "peer\\texample-%nm-%lip");
  EXPECT_EQ(expansion("%LIP %lipx %% %", tricky), "%LIP 10.0.0.1x %% %");
  // No 511-character line: a long template comes out whole, and so do its last placeholders.
  const std::string padding(600, '.');
  EXPECT_EQ(expansion(padding + "%lpt", connection()), padding + "80");

  // The meter, through the same engine, cuts its line at 511 after each placeholder; the
  // command keeps all of it.
  std::string repeated;
  for (int i = 0; i < 127; ++i) repeated += "%lpt";
  qv::ConnectionEntry entry{};
  entry.localPort = 12345;
  qv::InstanceSettings settings{};
  qv::store_text(settings.outputTemplate, repeated);
  settings.noLeadingZeros = 1;
  char line[qv::kLineCapacity + 1];
  EXPECT_EQ(qv::expand_line(entry, settings, line), qv::kLineCapacity);
  qv::Endpoint endpoint = connection();
  endpoint.socket.local.port = 12345;
  const std::string whole = expansion(repeated, endpoint);
  EXPECT_EQ(whole.size(), 127U * 5);
  EXPECT_EQ(whole.substr(0, qv::kLineCapacity), line);
}

TEST(CommandTemplate, HostNeededOnlyWhenAnExpansionAsksForIt) {
  const qv::Endpoint endpoints[] = {connection(), dual_listener()};
  EXPECT_TRUE(qv::template_needs_host("%hn", endpoints));
  EXPECT_FALSE(qv::template_needs_host("%lip %nm %rip", endpoints));
  EXPECT_FALSE(qv::template_needs_host("%HN", endpoints));
  qv::Endpoint carrier = connection();
  carrier.program = "n";
  const qv::Endpoint carried[] = {dual_listener(), carrier};
  // "%h" and a program named "n" make "%hn" at the host name's turn.
  EXPECT_TRUE(qv::template_needs_host("%h%nm", carried));
  // ... but only for an endpoint with a remote end, the only kind that has a host.
  const qv::Endpoint unconnected[] = {dual_listener()};
  EXPECT_FALSE(qv::template_needs_host("%h%nm", unconnected));
  qv::ListingStyle style;
  EXPECT_TRUE(qv::style_needs_host(style, endpoints));
  style.outputTemplate = "%lpt";
  EXPECT_FALSE(qv::style_needs_host(style, endpoints));
}

TEST(Records, JsonKeysInOrderNullsAndExactNames) {
  std::string out;
  qv::append_json_record(out, connection());
  qv::append_json_record(out, unowned_udp());
  // Held by two processes, bound to a device, its executable replaced since it started.
  qv::Endpoint shared = dual_listener();
  shared.socket.owningPids = {7, 9};
  shared.socket.interfaceName = "lo";
  shared.deleted = true;
  qv::append_json_record(out, shared);
  EXPECT_EQ(out,
            R"({"protocol":"tcp","family":"ipv4","ipv6_only":null,"local_address":"10.0.0.1",)"
            R"("local_port":80,"local_service":null,)"
            R"("interface":null,)"
            R"("remote_address":"10.0.0.9","remote_port":51234,"remote_service":null,)"
            R"("state":"Established","pid":42,)"
            R"("pids":[42],"program":"odd\u001b[2J\nname","deleted":false,"host":"peer\texample"})"
            "\n"
            R"({"protocol":"udp","family":"ipv4","ipv6_only":null,"local_address":"0.0.0.0",)"
            R"("local_port":53,"local_service":null,)"
            R"("interface":null,)"
            R"("remote_address":null,"remote_port":null,"remote_service":null,"state":null,)"
            R"("pid":null,)"
            R"("pids":[],"program":null,"deleted":null,"host":null})"
            "\n"
            R"({"protocol":"tcp","family":"ipv6","ipv6_only":false,"local_address":"::",)"
            R"("local_port":8080,"local_service":null,)"
            R"("interface":"lo",)"
            R"("remote_address":null,"remote_port":null,"remote_service":null,)"
            R"("state":"Listening","pid":7,)"
            R"("pids":[7,9],"program":"java","deleted":true,"host":null})"
            "\n");
  // -e: who owns it, after the other fields; null for what is not known.
  out.clear();
  qv::append_json_record(out, owned_connection(), {.owners = true});
  EXPECT_TRUE(
      out.ends_with(R"("host":"peer\texample","uid":33,"user":"www\ndata",)"
                    R"("unit":"nginx.service","container":"web01","container_name":"web01",)"
                    R"("container_runtime":"lxc","pod":null})"
                    "\n"))
      << out;
  out.clear();
  qv::append_json_record(out, unowned_udp(), {.owners = true});
  EXPECT_TRUE(out.ends_with(R"("uid":null,"user":null,"unit":null,"container":null,)"
                            R"("container_name":null,"container_runtime":null,"pod":null})"
                            "\n"))
      << out;
  out.clear();
  qv::append_csv_header(out, {.owners = true});
  EXPECT_TRUE(
      out.ends_with(",host,uid,user,unit,container,container_name,container_runtime,pod\r\n"))
      << out;
  // The table gains the user and the unit only.
  const auto columns = qv::endpoint_columns({.owners = true});
  ASSERT_EQ(columns.size(), qv::endpoint_columns().size() + 2);
  EXPECT_EQ(columns[columns.size() - 2].heading, "User");
  EXPECT_EQ(columns.back().heading, "Unit");
  out.clear();
  qv::append_text_row(out, owned_connection(), {.owners = true});
  EXPECT_TRUE(out.ends_with("\tpeer\\texample\twww\\ndata\tnginx.service\n")) << out;
}

// A busy connection as --info sees it while watching.
qv::Endpoint busy_connection() {
  qv::Endpoint e = connection();
  e.socket.recvQueue = 0;
  e.socket.sendQueue = 2896;
  os::TcpTraffic& t = e.socket.traffic.emplace();
  t.bytesSent = 123456789;
  t.bytesReceived = 340000;
  t.bytesRetrans = 1448;
  t.retransmits = 1;
  t.rttUs = 1250;
  t.rttVarUs = 52;
  t.cwnd = 10;
  t.deliveryRate = 2000000;
  e.rateIn = 999.6;
  e.rateOut = 1234567;
  return e;
}

TEST(Records, TrafficFieldsWithInfoNullWhereUnknown) {
  std::string out;
  qv::append_json_record(out, busy_connection(), {.info = true});
  EXPECT_NE(out.find(R"("host":"peer\texample","recv_queue":0,"send_queue":2896,)"
                     R"("bytes_sent":123456789,"bytes_received":340000,"bytes_retrans":1448,)"
                     R"("retransmits":1,"rtt_ms":1.25,"rtt_var_ms":0.052,"min_rtt_ms":null,)"
                     R"("cwnd":10,"delivery_rate":2000000,"rate_in":1000,"rate_out":1234567)"),
            std::string::npos)
      << out;
  // The namespace's fields follow the host's, when the listing spans namespaces.
  qv::Endpoint inside = unowned_udp();
  inside.socket.netnsInode = 4026532001;
  out.clear();
  qv::append_json_record(out, inside, {.namespaces = true});
  EXPECT_TRUE(out.ends_with(R"("host":null,"netns_inode":4026532001,"netns":null})"
                            "\n"))
      << out;
  out.clear();
  qv::append_json_record(out, unowned_udp(), {.info = true});
  EXPECT_NE(out.find(R"("recv_queue":null,"send_queue":null,"bytes_sent":null,)"),
            std::string::npos)
      << out;
  qv::ListingStyle style;
  style.format = qv::OutputFormat::csv;
  style.fields.info = true;
  const qv::Endpoint endpoints[] = {unowned_udp()};
  EXPECT_EQ(
      qv::listing_text(endpoints, style),
      "protocol,family,ipv6_only,local_address,local_port,local_service,interface,remote_address,"
      "remote_port,remote_service,state,pid,pids,program,deleted,host,recv_queue,send_queue,"
      "bytes_sent,bytes_received,bytes_retrans,retransmits,rtt_ms,rtt_var_ms,min_rtt_ms,cwnd,"
      "delivery_rate,rate_in,rate_out\r\n"
      "udp,ipv4,,0.0.0.0,53,,,,,,,,,,,,,,,,,,,,,,,,\r\n");
  // For people: sizes and rates in SI units, round trips in milliseconds.
  out.clear();
  qv::append_text_row(out, busy_connection(), {.info = true, .rates = true});
  EXPECT_TRUE(out.ends_with("\t0\t2896\t1.25 ms\t123 MB\t340 kB\t1.0 kB/s\t1.2 MB/s\n")) << out;
  EXPECT_EQ(qv::human_bytes(0), "0 B");
  EXPECT_EQ(qv::human_bytes(999), "999 B");
  EXPECT_EQ(qv::human_bytes(1000), "1.0 kB");
  EXPECT_EQ(qv::human_bytes(9960), "10 kB");
  EXPECT_EQ(qv::human_bytes(5e18), "5.0 EB");
  EXPECT_EQ(qv::human_bytes(5e21), "5000 EB");
}

TEST(Records, CsvHeaderThenTheSameFieldsCrlf) {
  qv::Endpoint comma = connection();
  comma.program = "a,b";
  comma.hostName.reset();
  const qv::Endpoint endpoints[] = {comma, unowned_udp()};
  qv::ListingStyle style;
  style.format = qv::OutputFormat::csv;
  EXPECT_EQ(
      qv::listing_text(endpoints, style),
      "protocol,family,ipv6_only,local_address,local_port,local_service,interface,remote_address,"
      "remote_port,remote_service,state,pid,pids,program,deleted,host\r\n"
      "tcp,ipv4,,10.0.0.1,80,,,10.0.0.9,51234,,Established,42,42,\"a,b\",false,\r\n"
      "udp,ipv4,,0.0.0.0,53,,,,,,,,,,,\r\n");
  // To a terminal the names are escaped once, as in the text rows; to a pipe they stay exact.
  qv::Endpoint odd = unowned_udp();
  odd.socket.owningPid = 9;
  odd.program = "red\x1b[31m\nline\xff";
  style.header = false;
  EXPECT_EQ(qv::listing_text(std::span(&odd, 1), style),
            "udp,ipv4,,0.0.0.0,53,,,,,,,9,9,\"red\x1b[31m\nline\xff\",false,\r\n");
  style.terminal = true;
  EXPECT_EQ(qv::listing_text(std::span(&odd, 1), style),
            "udp,ipv4,,0.0.0.0,53,,,,,,,9,9,red\\033[31m\\nline\\377,false,\r\n");
}

TEST(SettingsFilters, TheMetersFiltersOnBothFamilies) {
  qv::InstanceSettings settings{};
  settings.hideZeroAddress = 1;
  settings.rangeLow = 127000000001;
  settings.rangeHigh = 127000000003;
  EXPECT_FALSE(qv::endpoint_listed(dual_listener(), settings));  // no remote end
  EXPECT_FALSE(qv::endpoint_listed(unowned_udp(), settings));
  EXPECT_FALSE(qv::endpoint_listed(mapped_peer(), settings));  // 127.0.0.2, inside the range
  EXPECT_TRUE(qv::endpoint_listed(connection(), settings));
  qv::Endpoint six = mapped_peer();
  six.socket.remote.address = v6("2001:db8::2");
  EXPECT_TRUE(qv::endpoint_listed(six, settings));  // beyond IPv4: no range applies
  settings.hideZeroAddress = 0;
  EXPECT_TRUE(qv::endpoint_listed(unowned_udp(), settings));
}

TEST(MeterView, ControlBytesOfNamesBecomeQuestionMarksOneForOne) {
  qv::ConnectionEntry entry{};
  qv::store_text(entry.programName, "odd\x1b[2J\nname\x7f");
  qv::store_text(entry.hostName, "h\tst");
  qv::store_text(entry.localAddressText, "1.2.3.4");
  qv::replace_control_bytes(entry);
  EXPECT_EQ(qv::field_text(entry.programName), "odd?[2J?name?");
  EXPECT_EQ(qv::field_text(entry.hostName), "h?st");
  EXPECT_EQ(qv::field_text(entry.localAddressText), "1.2.3.4");
  // C1 controls too (CSI, U+009B, is C2 9B), each byte one '?'; printable UTF-8 and bytes of
  // other code pages stay.
  qv::store_text(entry.programName,
                 "a\xc2\x9b"
                 "31mb\xc2\xa0\xe9");
  qv::replace_control_bytes(entry);
  EXPECT_EQ(qv::field_text(entry.programName), "a??31mb\xc2\xa0\xe9");
}

TEST(MeterView, OnePassOnTheCallingThreadListedThroughTheRecord) {
  fake::reset();
  qv::release_collector();
  fake::Os& m = fake::machine();
  m.tcpRows = std::vector<os::TcpRow>{{5, fake::address(10, 0, 0, 1), fake::port(80),
                                       fake::address(10, 0, 0, 9), fake::port(5000), 100},
                                      {5, fake::address(10, 0, 0, 1), fake::port(81),
                                       fake::address(127, 0, 0, 2), fake::port(5001), 100}};
  m.processes[100] = fake::Process{true, true, "/tmp/odd\x1b[2J\nname", std::nullopt};
  m.ptrAnswers["9.0.0.10.IN-ADDR.ARPA"] = "bell\a.example";
  qv::InstanceSettings record{};
  qv::store_text(record.outputTemplate, "%nm|%hn;");
  record.rangeLow = 127000000001;  // the meter's filters apply
  record.rangeHigh = 127000000003;
  std::vector<qv::ConnectionEntry> snapshot;
  ASSERT_TRUE(qv::refresh_meter_listing(record, snapshot));
  EXPECT_EQ(qv::field_text(record.outputText), "odd?[2J?name|bell?.example;");
  EXPECT_EQ(m.threadStarts, 0);
  EXPECT_FALSE(qv::collector_started());
  qv::release_collector();
}

}  // namespace
