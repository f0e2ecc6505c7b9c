// Reverse query names and the PTR look-up that fills a host name.
#include "collector/reverse_lookup.hpp"

#include <gtest/gtest.h>

#include <cstring>

#include "common/text.hpp"
#include "fake/fake_os.hpp"

namespace {

TEST(ReverseQueryName, GroupsReversedUnderTheSuffix) {
  const struct {
    const char* dotted;
    const char* query;
  } cases[] = {
      {"192.168.0.1", "1.0.168.192.IN-ADDR.ARPA"},
      {"255.255.255.255", "255.255.255.255.IN-ADDR.ARPA"},  // 28 characters: fills the buffer
      {"10.0.0.138", "138.0.0.10.IN-ADDR.ARPA"},
      // Not the collector's input, but nothing may run past the buffer.
      {"1.2", "..2.1.IN-ADDR.ARPA"},
      {"1.2.3.4.5", "4.3.2.1.IN-ADDR.ARPA"},
      {"1234.5678.9012.3456", "3456.9012.5678.1234.IN-ADDR."},  // cut at 28
  };
  for (const auto& c : cases) {
    qv::QueryNameBuffer buffer;
    qv::store_text(buffer, c.dotted);
    qv::ReverseQueryName(buffer);
    EXPECT_STREQ(buffer, c.query) << c.dotted;
  }
}

TEST(LookupHostName, AnswerFillsTheResultAndFailureLeavesIt) {
  fake::reset();
  fake::machine().ptrAnswers["1.0.168.192.IN-ADDR.ARPA"] = "router.example";
  const struct {
    const char* address;
    const char* expected;
  } cases[] = {{"192.168.0.1", "router.example"}, {"192.168.0.2", "as the caller left it"}};
  for (const auto& c : cases) {
    qv::QueryNameBuffer query;
    qv::store_text(query, c.address);
    qv::HostNameBuffer result;
    qv::store_text(result, "as the caller left it");
    qv::LookupHostName(query, result);
    EXPECT_STREQ(result, c.expected) << c.address;
  }
  const std::vector<std::string> asked = {"1.0.168.192.IN-ADDR.ARPA", "2.0.168.192.IN-ADDR.ARPA"};
  EXPECT_EQ(fake::machine().dnsQueries, asked);
}

}  // namespace
