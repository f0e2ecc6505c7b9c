// The Linux resolver's stand-in for a system DNS cache: reverse-query outcomes, names and failures
// alike, kept until they expire, within a bounded number of entries. Pure: the clock is passed in.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace os::linux_dns {

using Clock = std::chrono::steady_clock;

struct CachedOutcome {
  std::optional<std::string> name;  // nullopt: the query failed
};

class PtrCache {
 public:
  struct Limits {
    std::size_t capacity = 2048;  // room for every remote address of two full tables
    // An answer lives for its record's TTL within these bounds, so that a zero TTL still spares
    // the network a query every pass and a long one does not outlive a renumbering by days.
    std::chrono::seconds shortestAnswerLife{30};
    std::chrono::seconds longestAnswerLife{3600};
    std::chrono::seconds failureLife{60};
  };

  PtrCache() = default;
  explicit PtrCache(Limits limits) : limits_(limits) {}

  // The outcome cached for queryName, nullopt when there is none or it has expired.
  std::optional<CachedOutcome> find(const std::string& queryName, Clock::time_point now) const;
  void store_answer(const std::string& queryName, std::string name, std::uint32_t ttlSeconds,
                    Clock::time_point now);
  void store_failure(const std::string& queryName, Clock::time_point now);
  std::size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    CachedOutcome outcome;
    Clock::time_point expiry;
  };

  void store(const std::string& queryName, CachedOutcome outcome, Clock::time_point expiry,
             Clock::time_point now);
  void make_room(Clock::time_point now);

  Limits limits_;
  std::unordered_map<std::string, Entry> entries_;
};

// The name carried by the first answer record of a DNS reply (a PTR record's host name, or the
// target of a CNAME that leads the answer), with that record's TTL; nullopt for a reply without
// answers, whose first answer is of another type, or that does not parse.
struct FirstAnswer {
  std::string name;
  std::uint32_t ttlSeconds;
};
std::optional<FirstAnswer> first_answer_name(const unsigned char* reply, std::size_t length);

// The address a reverse query name stands for: "4.3.2.1.in-addr.arpa" (IPv4, family 4) or the 32
// nibbles of "....ip6.arpa" (family 6), either case; nullopt for any other name.
struct ReverseAddress {
  std::uint8_t family;
  std::array<std::uint8_t, 16> bytes;  // an IPv4 address in the first four
};
std::optional<ReverseAddress> address_of_query_name(std::string_view queryName);

}  // namespace os::linux_dns
