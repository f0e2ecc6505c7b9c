// Reverse-query cache with expiry and a bound, and the reading of a reply's first answer.
#include "os/linux/reverse_dns.hpp"

#include <arpa/nameser.h>
#include <resolv.h>

#include <algorithm>

namespace os::linux_dns {

std::optional<CachedOutcome> PtrCache::find(const std::string& queryName,
                                            Clock::time_point now) const {
  const auto found = entries_.find(queryName);
  if (found == entries_.end() || found->second.expiry <= now) return std::nullopt;
  return found->second.outcome;
}

void PtrCache::store_answer(const std::string& queryName, std::string name,
                            std::uint32_t ttlSeconds, Clock::time_point now) {
  const auto life = std::clamp<std::chrono::seconds>(
      std::chrono::seconds(ttlSeconds), limits_.shortestAnswerLife, limits_.longestAnswerLife);
  store(queryName, CachedOutcome{std::move(name)}, now + life, now);
}

void PtrCache::store_failure(const std::string& queryName, Clock::time_point now) {
  store(queryName, CachedOutcome{}, now + limits_.failureLife, now);
}

void PtrCache::store(const std::string& queryName, CachedOutcome outcome, Clock::time_point expiry,
                     Clock::time_point now) {
  if (limits_.capacity == 0) return;
  if (!entries_.contains(queryName)) make_room(now);
  entries_.insert_or_assign(queryName, Entry{std::move(outcome), expiry});
}

void PtrCache::make_room(Clock::time_point now) {
  if (entries_.size() < limits_.capacity) return;
  std::erase_if(entries_, [now](const auto& entry) { return entry.second.expiry <= now; });
  if (entries_.size() < limits_.capacity) return;
  // Still full of live entries: the one closest to expiring goes first.
  entries_.erase(std::min_element(
      entries_.begin(), entries_.end(),
      [](const auto& a, const auto& b) { return a.second.expiry < b.second.expiry; }));
}

std::optional<FirstAnswer> first_answer_name(const unsigned char* reply, std::size_t length) {
  ns_msg message;
  ns_rr record;
  if (ns_initparse(reply, static_cast<int>(std::min<std::size_t>(length, NS_MAXMSG)), &message) !=
          0 ||
      ns_parserr(&message, ns_s_an, 0, &record) != 0) {
    return std::nullopt;
  }
  if (ns_rr_type(record) != ns_t_ptr && ns_rr_type(record) != ns_t_cname) return std::nullopt;
  char name[NS_MAXDNAME];
  if (ns_name_uncompress(ns_msg_base(message), ns_msg_end(message), ns_rr_rdata(record), name,
                         sizeof name) < 0) {
    return std::nullopt;
  }
  return FirstAnswer{name, ns_rr_ttl(record)};
}

}  // namespace os::linux_dns
