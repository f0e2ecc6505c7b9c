// Reverse-query cache with expiry and a bound, the reading of a reply's first answer, and the
// address behind a reverse query name.
#include "os/linux/reverse_dns.hpp"

#include <arpa/nameser.h>
#include <resolv.h>

#include <algorithm>
#include <cctype>
#include <charconv>

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

namespace {

bool ends_with_folded(std::string_view text, std::string_view suffix) {
  if (text.size() < suffix.size()) return false;
  text.remove_prefix(text.size() - suffix.size());
  return std::equal(text.begin(), text.end(), suffix.begin(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == b;
  });
}

int nibble_of(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  const int lower = std::tolower(static_cast<unsigned char>(c));
  return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

}  // namespace

std::optional<ReverseAddress> address_of_query_name(std::string_view queryName) {
  ReverseAddress address{};
  constexpr std::string_view kIpv4Suffix = ".in-addr.arpa";
  constexpr std::string_view kIpv6Suffix = ".ip6.arpa";
  if (ends_with_folded(queryName, kIpv4Suffix)) {
    std::string_view labels = queryName.substr(0, queryName.size() - kIpv4Suffix.size());
    address.family = 4;
    // The labels name the octets last first.
    for (std::size_t i = 4; i-- > 0;) {
      const std::size_t dot = labels.find('.');
      const std::string_view label = labels.substr(0, dot);
      unsigned value = 0;
      const auto [end, error] = std::from_chars(label.data(), label.data() + label.size(), value);
      if (label.empty() || error != std::errc() || end != label.data() + label.size() ||
          value > 255 || (i == 0) != (dot == std::string_view::npos)) {
        return std::nullopt;
      }
      address.bytes[i] = static_cast<std::uint8_t>(value);
      labels = dot == std::string_view::npos ? std::string_view() : labels.substr(dot + 1);
    }
    return address;
  }
  if (!ends_with_folded(queryName, kIpv6Suffix)) return std::nullopt;
  const std::string_view labels = queryName.substr(0, queryName.size() - kIpv6Suffix.size());
  if (labels.size() != 63) return std::nullopt;  // 32 nibbles and the dots between them
  address.family = 6;
  for (std::size_t i = 0; i < 32; ++i) {
    const int value = nibble_of(labels[2 * i]);
    if (value < 0 || (i < 31 && labels[2 * i + 1] != '.')) return std::nullopt;
    // The first label is the last byte's low nibble.
    std::uint8_t& byte = address.bytes[15 - i / 2];
    byte = static_cast<std::uint8_t>(byte | (i % 2 == 0 ? value : value << 4));
  }
  return address;
}

}  // namespace os::linux_dns
