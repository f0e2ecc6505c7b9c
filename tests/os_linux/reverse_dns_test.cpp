// The reverse-query cache's expiry and bound, and the reading of a reply's first answer.
#include "os/linux/reverse_dns.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using os::linux_dns::Clock;
using os::linux_dns::PtrCache;
using std::chrono::seconds;

TEST(PtrCache, OutcomesLiveAsLongAsTheirKindAllows) {
  const auto t0 = Clock::time_point{} + seconds(1000);
  const struct {
    const char* what;
    std::optional<std::uint32_t> ttl;  // nullopt: a failure is stored
    int lastSecondFound;
  } cases[] = {
      {"failure", std::nullopt, 59},
      {"zero TTL kept for the shortest life", 0, 29},
      {"TTL within bounds", 100, 99},
      {"day-long TTL cut to an hour", 86400, 3599},
  };
  for (const auto& c : cases) {
    PtrCache cache;
    if (c.ttl) {
      cache.store_answer("q", "name.example", *c.ttl, t0);
    } else {
      cache.store_failure("q", t0);
    }
    const auto found = cache.find("q", t0 + seconds(c.lastSecondFound));
    ASSERT_TRUE(found) << c.what;
    EXPECT_EQ(found->name, c.ttl ? std::optional<std::string>("name.example") : std::nullopt)
        << c.what;
    EXPECT_FALSE(cache.find("q", t0 + seconds(c.lastSecondFound + 1))) << c.what;
    EXPECT_FALSE(cache.find("other", t0)) << c.what;
  }
}

TEST(PtrCache, StaysWithinItsBoundDroppingExpiredThenSoonestExpiring) {
  const auto t0 = Clock::time_point{} + seconds(1000);
  PtrCache::Limits limits;
  limits.capacity = 3;
  PtrCache cache(limits);
  cache.store_answer("long", "l", 3000, t0);
  cache.store_failure("fail", t0);  // expires at t0 + 60
  cache.store_answer("mid", "m", 600, t0);
  cache.store_answer("mid", "m2", 600, t0);  // replacing an entry takes no extra room
  EXPECT_EQ(cache.size(), 3U);

  cache.store_answer("new", "n", 300, t0 + seconds(10));  // all alive: the soonest ("fail") goes
  EXPECT_EQ(cache.size(), 3U);
  EXPECT_FALSE(cache.find("fail", t0 + seconds(10)));
  EXPECT_EQ(cache.find("mid", t0 + seconds(10))->name, "m2");

  // At t0 + 700 "mid" and "new" have expired: both make way, "long" stays.
  cache.store_failure("late", t0 + seconds(700));
  EXPECT_EQ(cache.size(), 2U);
  EXPECT_TRUE(cache.find("long", t0 + seconds(700)));
  EXPECT_TRUE(cache.find("late", t0 + seconds(700)));
}

// A DNS reply built by hand: one question, then the answers given.
class Reply {
 public:
  explicit Reply(const std::string& question) {
    bytes_ = {0x12, 0x34, 0x81, 0x80, 0, 1, 0, 0, 0, 0, 0, 0};
    name(question);
    bytes_.insert(bytes_.end(), {0, 12, 0, 1});
  }

  // An answer owned by the question's name (a pointer to offset 12), with rdata a name.
  Reply& answer(std::uint16_t type, std::uint32_t ttl, const std::string& target) {
    ++bytes_[7];
    bytes_.insert(bytes_.end(), {0xC0, 12, static_cast<unsigned char>(type >> 8),
                                 static_cast<unsigned char>(type), 0, 1});
    for (int shift = 24; shift >= 0; shift -= 8) bytes_.push_back(ttl >> shift & 0xFF);
    const std::size_t lengthAt = bytes_.size();
    bytes_.insert(bytes_.end(), {0, 0});
    name(target);
    const std::size_t length = bytes_.size() - lengthAt - 2;
    bytes_[lengthAt] = static_cast<unsigned char>(length >> 8);
    bytes_[lengthAt + 1] = static_cast<unsigned char>(length);
    return *this;
  }

  // An A record, whose rdata is not a name.
  Reply& address_answer() {
    ++bytes_[7];
    bytes_.insert(bytes_.end(), {0xC0, 12, 0, 1, 0, 1, 0, 0, 0, 60, 0, 4, 10, 0, 0, 1});
    return *this;
  }

  // The OPT record an EDNS reply ends with.
  Reply& opt() {
    ++bytes_[11];
    bytes_.insert(bytes_.end(), {0, 0, 41, 0x10, 0, 0, 0, 0, 0, 0, 0});
    return *this;
  }

  [[nodiscard]] const std::vector<unsigned char>& bytes() const { return bytes_; }

 private:
  void name(const std::string& dotted) {
    std::size_t start = 0;
    while (start < dotted.size()) {
      const auto dot = std::min(dotted.find('.', start), dotted.size());
      bytes_.push_back(static_cast<unsigned char>(dot - start));
      bytes_.insert(bytes_.end(), dotted.begin() + static_cast<long>(start),
                    dotted.begin() + static_cast<long>(dot));
      start = dot + 1;
    }
    bytes_.push_back(0);
  }

  std::vector<unsigned char> bytes_;
};

TEST(FirstAnswerName, TheFirstRecordsNameOrNothing) {
  const std::string q = "1.0.168.192.IN-ADDR.ARPA";
  const struct {
    const char* what;
    std::vector<unsigned char> reply;
    std::optional<std::string> name;
    std::uint32_t ttl;
  } cases[] = {
      {"PTR", Reply(q).answer(12, 300, "router.example").bytes(), "router.example", 300},
      {"PTR then OPT", Reply(q).answer(12, 0, "a.b.example").opt().bytes(), "a.b.example", 0},
      {"CNAME leads (classless delegation)",
       Reply(q)
           .answer(5, 60, "1.0-25.0.168.192.IN-ADDR.ARPA")
           .answer(12, 60, "host.example")
           .bytes(),
       "1.0-25.0.168.192.IN-ADDR.ARPA", 60},
      {"no answer", Reply(q).bytes(), std::nullopt, 0},
      {"an address record first", Reply(q).address_answer().answer(12, 9, "x.example").bytes(),
       std::nullopt, 0},
      {"empty", {}, std::nullopt, 0},
  };
  for (const auto& c : cases) {
    const auto answer = os::linux_dns::first_answer_name(c.reply.data(), c.reply.size());
    ASSERT_EQ(answer.has_value(), c.name.has_value()) << c.what;
    if (answer) {
      EXPECT_EQ(answer->name, *c.name) << c.what;
      EXPECT_EQ(answer->ttlSeconds, c.ttl) << c.what;
    }
  }
}

TEST(FirstAnswerName, ACutReplyYieldsNothing) {
  const auto whole = Reply("4.3.2.1.IN-ADDR.ARPA").answer(12, 300, "name.example").bytes();
  for (std::size_t cut = 0; cut < whole.size(); ++cut) {
    EXPECT_FALSE(os::linux_dns::first_answer_name(whole.data(), cut)) << cut;
  }
  EXPECT_TRUE(os::linux_dns::first_answer_name(whole.data(), whole.size()));
}

TEST(AddressOfQueryName, BothFamiliesBackFromTheirReverseNames) {
  const auto ipv4 = os::linux_dns::address_of_query_name("1.0.0.127.IN-ADDR.ARPA");
  ASSERT_TRUE(ipv4);
  EXPECT_EQ(ipv4->family, 4);
  EXPECT_EQ((std::vector<int>{ipv4->bytes[0], ipv4->bytes[1], ipv4->bytes[2], ipv4->bytes[3]}),
            (std::vector<int>{127, 0, 0, 1}));
  std::string nibbles = "4.3.2.1.";
  for (int i = 0; i < 24; ++i) nibbles += "0.";
  const auto ipv6 = os::linux_dns::address_of_query_name(nibbles + "0.8.e.f.ip6.arpa");
  ASSERT_TRUE(ipv6);
  EXPECT_EQ(ipv6->family, 6);
  EXPECT_EQ(ipv6->bytes[0], 0xfe);
  EXPECT_EQ(ipv6->bytes[1], 0x80);
  EXPECT_EQ(ipv6->bytes[14], 0x12);
  EXPECT_EQ(ipv6->bytes[15], 0x34);
  for (const char* bad :
       {"1.0.0.IN-ADDR.ARPA", "1.0.0.0.127.IN-ADDR.ARPA", "256.0.0.1.in-addr.arpa",
        "a.0.0.1.in-addr.arpa", "4.3.2.1.ip6.arpa", "example.com", ""}) {
    EXPECT_FALSE(os::linux_dns::address_of_query_name(bad)) << bad;
  }
}

}  // namespace
