// The options of the command's views: filters that repeat, --summary, and the header switches
// among ss-style bundled short options.
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
  const auto parsed = parse(std::move(arguments));
  if (const auto* reason = std::get_if<std::string>(&parsed)) ADD_FAILURE() << *reason;
  return std::get_if<qv::Options>(&parsed) != nullptr ? std::get<qv::Options>(parsed)
                                                      : qv::Options{};
}

std::string refusal(std::vector<std::string> arguments) {
  const auto parsed = parse(std::move(arguments));
  return std::holds_alternative<std::string>(parsed) ? std::get<std::string>(parsed) : "";
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
  EXPECT_FALSE(options({}).summary);
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
  EXPECT_EQ(refusal({"--state", "listenin"}),
            "--state needs a TCP state such as established, listen, time-wait or syn-sent, not "
            "'listenin'");
  EXPECT_EQ(refusal({"--port", "80", "--port", "x"}),
            "--port needs a port number from 0 to 65535, not 'x'");
  EXPECT_EQ(refusal({"--pid"}), "--pid needs a value");
  EXPECT_EQ(refusal({"--program="}), "--program needs a program's file name");
  EXPECT_EQ(refusal({"--summary=yes"}), "--summary takes no value");
  EXPECT_EQ(refusal({"--no-header=1"}), "--no-header takes no value");
}

}  // namespace
