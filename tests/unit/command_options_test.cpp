// The command's options through getopt_long: bundles, both value forms, "--", the filters that
// repeat, the view switches, and the one-line reasons for arguments it cannot use.
#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "command/options.hpp"

namespace {

std::variant<qv::Options, std::string> parse(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "quorvane");
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 1);
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  return qv::parse_options(static_cast<int>(arguments.size()), argv.data());
}

qv::Options options(std::vector<std::string> arguments) {
  auto parsed = parse(std::move(arguments));
  if (const auto* reason = std::get_if<std::string>(&parsed)) ADD_FAILURE() << *reason;
  return std::get_if<qv::Options>(&parsed) != nullptr ? std::get<qv::Options>(parsed)
                                                      : qv::Options{};
}

std::string reason(std::vector<std::string> arguments) {
  auto parsed = parse(std::move(arguments));
  return std::get_if<std::string>(&parsed) != nullptr ? std::get<std::string>(parsed) : "(parsed)";
}

TEST(CommandOptions, DefaultsListEverything) {
  const qv::Options o = options({});
  EXPECT_TRUE(o.kinds.tcp && o.kinds.udp && o.kinds.ipv4 && o.kinds.ipv6);
  EXPECT_FALSE(o.listeningOnly || o.numeric || o.meter || o.watchSeconds || o.outputTemplate ||
               o.info);
  EXPECT_EQ(o.format, qv::OutputFormat::text);
}

TEST(CommandOptions, ShortOptionsBundleAsSsUsersTypeThem) {
  const qv::Options o = options({"-tuanp", "-l6"});
  EXPECT_TRUE(o.kinds.tcp && o.kinds.udp && o.numeric && o.listeningOnly);
  EXPECT_TRUE(o.kinds.ipv6);
  EXPECT_FALSE(o.kinds.ipv4);
  const qv::Options udp4 = options({"--udp", "--ipv4"});
  EXPECT_TRUE(udp4.kinds.udp && udp4.kinds.ipv4);
  EXPECT_FALSE(udp4.kinds.tcp || udp4.kinds.ipv6);
  EXPECT_TRUE(options({"-tuanpi"}).info);
  EXPECT_TRUE(options({"--info"}).info);
  const qv::Options sorted = options({"--sort", "rate", "--top=3"});
  EXPECT_EQ(sorted.sort, qv::SortKey::rate);
  EXPECT_EQ(sorted.top, 3U);
  EXPECT_TRUE(options({"-h"}).help);
  EXPECT_TRUE(options({"-V"}).version);
}

TEST(CommandOptions, ValuesAttachedOrFollowing) {
  EXPECT_EQ(options({"--format", "json"}).format, qv::OutputFormat::json);
  EXPECT_EQ(options({"--format=csv"}).format, qv::OutputFormat::csv);
  EXPECT_EQ(options({"--template", "%lip\\t%lpt\\n\\x"}).outputTemplate, "%lip\t%lpt\n\\x");
  EXPECT_EQ(options({"--template=a=b"}).outputTemplate, "a=b");
  const qv::Options s = options({"--settings", "f.ini", "--section=Meter1", "--meter"});
  EXPECT_EQ(s.settingsFile, "f.ini");
  EXPECT_EQ(s.section, "Meter1");
  EXPECT_TRUE(s.meter);
  EXPECT_EQ(options({"--watch"}).watchSeconds, qv::kDefaultWatchSeconds);
  EXPECT_EQ(options({"--watch", "0.5", "-n"}).watchSeconds, 0.5);
  EXPECT_EQ(options({"--watch=2"}).watchSeconds, 2.0);
  // An option after --watch is not its number.
  const qv::Options w = options({"--watch", "-t"});
  EXPECT_EQ(w.watchSeconds, qv::kDefaultWatchSeconds);
  EXPECT_FALSE(w.kinds.udp);
}

TEST(CommandOptions, ParsingStartsAfreshEachTime) {
  EXPECT_TRUE(options({"-t"}).kinds.tcp);
  EXPECT_TRUE(options({"-u"}).kinds.udp);
  EXPECT_FALSE(options({"-u"}).kinds.tcp);
}

TEST(CommandOptions, OneLineReasons) {
  const struct {
    std::vector<std::string> arguments;
    std::string reason;
  } cases[] = {
      {{"--bogus"}, "unknown option '--bogus'"},
      {{"-y"}, "unknown option '-y'"},
      {{"-tuy"}, "unknown option '-y'"},
      {{"-yt"}, "unknown option '-y'"},
      // ss's options for what quorvane does not do say so, in a bundle too.
      {{"-x"}, "quorvane lists TCP and UDP only: -x (--unix) asks for UNIX sockets"},
      {{"-tux"}, "quorvane lists TCP and UDP only: -x (--unix) asks for UNIX sockets"},
      {{"--raw"}, "quorvane lists TCP and UDP only: -w (--raw) asks for raw sockets"},
      {{"--vsock"}, "quorvane lists TCP and UDP only: --vsock asks for VSOCK sockets"},
      {{"-tno"},
       "quorvane shows no socket timers: -o (--options) is ss's; -i shows queues and round trips"},
      {{"-K"}, "quorvane never closes sockets: -K (--kill) is ss's"},
      {{"--not-port", "x"}, "--not-port needs a port number from 0 to 65535, not 'x'"},
      {{"--not-state=up"},
       "--not-state needs a TCP state such as established, listen, time-wait or syn-sent, not "
       "'up'"},
      {{"--local", "10.0.0.0/40"},
       "--local needs an IPv4 or IPv6 address, or one and a prefix length (10.0.0.0/8), not "
       "'10.0.0.0/40'"},
      {{"stray"}, "unexpected argument 'stray'"},
      {{"-t", "--", "-u"}, "unexpected argument '-u'"},
      {{"--template"}, "--template needs a value"},
      {{"--settings"}, "--settings needs a value"},
      {{"--help=1"}, "--help takes no value"},
      {{"--meter=yes"}, "--meter takes no value"},
      {{"--format", "xml"}, "--format takes text, json or csv, not 'xml'"},
      {{"--watch", "0"}, "--watch needs a number of seconds from 0.1 to 86400, not '0'"},
      {{"--watch=abc"}, "--watch needs a number of seconds from 0.1 to 86400, not 'abc'"},
      {{"--watch="}, "--watch needs a number of seconds from 0.1 to 86400, not ''"},
      {{"--watch", "90000"}, "--watch needs a number of seconds from 0.1 to 86400, not '90000'"},
      {{"--settings", "f.ini"}, "--settings and --section go together"},
      {{"--section", "S"}, "--settings and --section go together"},
      {{"--help", "--section", "S"}, "--settings and --section go together"},
  };
  for (const auto& c : cases) EXPECT_EQ(reason(c.arguments), c.reason);
}

TEST(CommandOptions, OptionsThatDoNotGoTogether) {
  const std::string templateText =
      "--template lays out text: it does not go with --format json or csv";
  const std::string meterFormat =
      "--meter shows the meter's text listing: it does not go with --format";
  const std::string meterFilters =
      "--meter shows the meter's listing with its own filters: it does not go with --summary, "
      "--state, --port, --pid or --program";
  const std::string meterOwners =
      "--meter shows the meter's listing with its own fields and filters: it does not go with "
      "--extended, --container, --unit or --user";
  const std::string summary =
      "--summary is a table or, with --format json, one object: it does not go with --template "
      "or --format csv";
  const std::string logTraffic =
      "--log-traffic adds to the connection log: it goes with --watch and --format json, without "
      "--summary";
  const std::string namespaces =
      "-A and --netns list the command's endpoints: they do not go with --meter";
  const struct {
    std::vector<std::string> arguments;
    std::string reason;
  } cases[] = {
      {{"--log-traffic", "5", "--format", "json"}, logTraffic},
      {{"--log-traffic", "5", "--watch"}, logTraffic},
      {{"--log-traffic=5", "--watch", "--format=csv"}, logTraffic},
      {{"--log-traffic=5", "--watch", "--format=json", "--summary"}, logTraffic},
      {{"--log-traffic=0.05", "--watch", "--format=json"},
       "--log-traffic needs a number of seconds from 0.1 to 86400, not '0.05'"},
      {{"--template=%lip", "--format=json"}, templateText},
      {{"--format=csv", "--template=%lip"}, templateText},
      {{"--meter", "--format", "json"}, meterFormat},
      {{"--meter", "--format", "csv"}, meterFormat},
      {{"--meter", "--summary"}, meterFilters},
      {{"--meter", "--state", "listen"}, meterFilters},
      {{"--meter", "--port", "80"}, meterFilters},
      {{"--pid", "1", "--meter"}, meterFilters},
      {{"--meter", "--program", "sshd"}, meterFilters},
      {{"--meter", "--not-port", "22"}, meterFilters},
      {{"--meter", "-s"}, meterFilters},
      {{"--summary", "--template", "%lip"}, summary},
      {{"--summary", "--format", "csv"}, summary},
      {{"-A", "--meter"}, namespaces},
      {{"--netns", "web", "--meter"}, namespaces},
      {{"--meter", "-e"}, meterOwners},
      {{"--meter", "--container", "web"}, meterOwners},
      {{"--unit=ssh", "--meter"}, meterOwners},
  };
  for (const auto& c : cases) EXPECT_EQ(reason(c.arguments), c.reason);
  // Near misses that do go together.
  EXPECT_TRUE(options({"--meter", "--format", "text", "--template", "%lip", "-4"}).meter);
  EXPECT_TRUE(options({"--summary", "--format", "json", "--state", "listen"}).summary);
  EXPECT_EQ(options({"--watch", "--format=json", "--log-traffic", "2.5"}).logTrafficSeconds, 2.5);
  // The exporter labels each namespace's and container's metrics.
  EXPECT_TRUE(options({"-A", "--netns", "web", "--serve", "9100"}).allNamespaces);
  // Help and version show neither listing, so they go with anything.
  EXPECT_TRUE(options({"--help", "--meter", "--format", "json"}).help);
  EXPECT_TRUE(options({"--version", "--summary", "--template", "x"}).version);
}

TEST(CommandViewOptions, FiltersRepeatAndGather) {
  const qv::Options o =
      options({"--state", "established", "--port=80", "--state", "TIME-WAIT", "--port", ":443",
               "--pid", "7", "--program=ssh", "--program", "sshd", "--summary"});
  EXPECT_TRUE(o.filter.states.test(5));
  EXPECT_TRUE(o.filter.states.test(11));
  EXPECT_EQ(o.filter.states.count(), 2U);
  EXPECT_EQ(o.filter.ports, (std::vector<std::uint16_t>{80, 443}));
  EXPECT_EQ(o.filter.pids, (std::vector<std::uint32_t>{7}));
  EXPECT_EQ(o.filter.programs, (std::vector<std::string>{"ssh", "sshd"}));
  EXPECT_TRUE(o.summary);
  EXPECT_TRUE(qv::filter_is_empty(options({}).filter));
  const qv::Options owners = options({"-te", "--container", "web", "--unit=nginx", "--container",
                                      "3f4e", "--user", "0", "--user=65534"});
  EXPECT_TRUE(owners.extended);
  EXPECT_FALSE(owners.kinds.udp);
  EXPECT_EQ(owners.filter.containers, (std::vector<std::string>{"web", "3f4e"}));
  EXPECT_EQ(owners.filter.units, (std::vector<std::string>{"nginx"}));
  EXPECT_EQ(owners.filter.users, (std::vector<std::uint32_t>{0, 65534}));
  EXPECT_FALSE(options({}).extended);
  EXPECT_FALSE(options({}).summary);
  // ss's habits: -s, -r, ranges and names of ports, addresses, and each filter refusing.
  const qv::Options ss =
      options({"-tuanrs", "--port", "1-1023", "--port=https", "--not-port", "22", "--address",
               "127.0.0.0/8", "--not-remote=::1", "--not-program", "sshd"});
  EXPECT_TRUE(ss.summary && ss.numeric);
  EXPECT_EQ(ss.filter.ports, (std::vector<std::uint16_t>{443}));
  ASSERT_EQ(ss.filter.portRanges.size(), 1U);
  EXPECT_EQ(ss.filter.portRanges[0].first, 1);
  EXPECT_EQ(ss.filter.addresses.size(), 1U);
  EXPECT_EQ(ss.filter.refused.ports, (std::vector<std::uint16_t>{22}));
  EXPECT_EQ(ss.filter.refused.remoteAddresses.size(), 1U);
  EXPECT_EQ(ss.filter.refused.programs, (std::vector<std::string>{"sshd"}));
  EXPECT_TRUE(ss.filter.remoteAddresses.empty() && ss.filter.programs.empty());
  // Namespaces: -A bundles as kubectl users type it; --netns gathers its values as given.
  const qv::Options spread = options({"-tlA", "--netns", "web", "--netns=/proc/1/ns/net"});
  EXPECT_TRUE(spread.allNamespaces && spread.listeningOnly);
  EXPECT_EQ(spread.netns, (std::vector<std::string>{"web", "/proc/1/ns/net"}));
  EXPECT_TRUE(options({"--all-namespaces"}).allNamespaces);
  EXPECT_FALSE(options({}).allNamespaces);
  EXPECT_EQ(reason({"--netns"}), "--netns needs a value");
}

TEST(CommandViewOptions, HeaderSwitches) {
  EXPECT_EQ(options({}).header, std::nullopt);
  EXPECT_EQ(options({"--header"}).header, true);
  EXPECT_EQ(options({"--no-header"}).header, false);
  // Bundled as ss users type it; the last switch given wins.
  const qv::Options bundled = options({"-tnH"});
  EXPECT_EQ(bundled.header, false);
  EXPECT_TRUE(bundled.numeric);
  EXPECT_FALSE(bundled.kinds.udp);
  EXPECT_EQ(options({"-H", "--header"}).header, true);
}

TEST(CommandViewOptions, BadValuesAreOneLineReasons) {
  EXPECT_EQ(reason({"--state", "listenin"}),
            "--state needs a TCP state such as established, listen, time-wait or syn-sent, not "
            "'listenin'");
  EXPECT_EQ(reason({"--port", "80", "--port", "x"}),
            "--port needs a port number from 0 to 65535, not 'x'");
  EXPECT_EQ(reason({"--pid"}), "--pid needs a value");
  EXPECT_EQ(reason({"--program="}), "--program needs a program's file name");
  EXPECT_EQ(reason({"--summary=yes"}), "--summary takes no value");
  EXPECT_EQ(reason({"--no-header=1"}), "--no-header takes no value");
  EXPECT_EQ(reason({"--sort", "busiest"}),
            "--sort takes rate, bytes, rtt, port, pid, program or state, not 'busiest'");
  EXPECT_EQ(reason({"--top", "0"}), "--top needs a number of endpoints from 1, not '0'");
  EXPECT_EQ(reason({"--top=-3"}), "--top needs a number of endpoints from 1, not '-3'");
  // Decided while parsing: an unknown user is refused before anything is listed.
  EXPECT_EQ(reason({"--user", "no-such-user"}),
            "--user needs a user's name or uid: there is no user 'no-such-user'");
  EXPECT_EQ(reason({"--user="}), "--user needs a user's name or uid: there is no user ''");
  EXPECT_EQ(reason({"--container="}), "--container needs a container's name or id");
  EXPECT_EQ(reason({"--unit", ""}), "--unit needs a unit's name");
  EXPECT_EQ(reason({"--extended=1"}), "--extended takes no value");
}

TEST(CommandServeOptions, AddressesPortsAndTheirReasons) {
  const qv::Options plain = options({"--serve", "9100", "--state", "close-wait", "-4"});
  ASSERT_TRUE(plain.serveAddress);
  EXPECT_EQ(plain.serveAddress->host, "127.0.0.1");  // nothing leaves the machine unasked
  EXPECT_EQ(plain.serveAddress->port, 9100);
  EXPECT_EQ(plain.serveIntervalSeconds, 1.0);
  EXPECT_TRUE(plain.filter.states.test(8));
  const qv::Options every = options({"--serve=[::]:80", "--serve-interval", "0.5"});
  EXPECT_EQ(every.serveAddress->host, "::");
  EXPECT_EQ(every.serveIntervalSeconds, 0.5);
  EXPECT_EQ(options({"--serve", "0.0.0.0:65535"}).serveAddress->host, "0.0.0.0");

  const std::string needs = "--serve needs [ADDRESS:]PORT with a port from 1 to 65535, not ";
  EXPECT_EQ(reason({"--serve", "0"}), needs + "'0'");
  EXPECT_EQ(reason({"--serve", "127.0.0.1:65536"}), needs + "'127.0.0.1:65536'");
  EXPECT_EQ(reason({"--serve", ":80"}), needs + "':80'");
  EXPECT_EQ(reason({"--serve", "localhost:"}), needs + "'localhost:'");
  EXPECT_EQ(reason({"--serve", "[::1]"}), "--serve needs [IPV6]:PORT with brackets, not '[::1]'");
  EXPECT_EQ(reason({"--serve", "::1:80"}),
            "--serve writes an IPv6 address in brackets ([::1]:PORT), not '::1:80'");
  EXPECT_EQ(reason({"--serve-interval", "2"}), "--serve-interval goes with --serve");
  EXPECT_EQ(reason({"--serve", "80", "--serve-interval", "0"}),
            "--serve-interval needs a number of seconds from 0.05 to 86400, not '0'");
  for (const char* other : {"--watch", "--meter", "--summary", "--format=csv"}) {
    EXPECT_EQ(reason({"--serve", "80", other}),
              "--serve exports metrics: it does not go with --watch, --meter, --summary, "
              "--settings, --template or --format")
        << other;
  }
}

}  // namespace
