// Linux: reverse look-ups through the system resolver, with the cache the Windows DNS client would
// otherwise keep, so that a pass every second does not ask the network for every connection. The
// meter asks DNS for PTR records; the command asks in the system's order (/etc/hosts and the other
// NSS sources, then DNS), as getent and ss -r do.
#include <arpa/nameser.h>
#include <netdb.h>
#include <netinet/in.h>
#include <resolv.h>
#include <sys/socket.h>

#include <cstring>

#include "os/linux/ptr_queries.hpp"
#include "os/linux/reverse_dns.hpp"
#include "os/os.hpp"

namespace os {

namespace {

// res_query keeps its state per thread, so workers may ask side by side.
std::optional<linux_dns::FirstAnswer> ask_resolver(const std::string& queryName) {
  unsigned char reply[4096];
  const int length = res_query(queryName.c_str(), ns_c_in, ns_t_ptr, reply, sizeof reply);
  if (length <= 0) return std::nullopt;
  return linux_dns::first_answer_name(reply,
                                      std::min(static_cast<std::size_t>(length), sizeof reply));
}

// getnameinfo gives no TTL: the name is kept for the cache's shortest life.
std::optional<linux_dns::FirstAnswer> ask_system(const std::string& queryName) {
  const auto address = linux_dns::address_of_query_name(queryName);
  if (!address) return std::nullopt;
  sockaddr_storage socketAddress{};
  socklen_t length;
  if (address->family == 4) {
    auto& ipv4 = reinterpret_cast<sockaddr_in&>(socketAddress);
    ipv4.sin_family = AF_INET;
    std::memcpy(&ipv4.sin_addr, address->bytes.data(), 4);
    length = sizeof ipv4;
  } else {
    auto& ipv6 = reinterpret_cast<sockaddr_in6&>(socketAddress);
    ipv6.sin6_family = AF_INET6;
    std::memcpy(&ipv6.sin6_addr, address->bytes.data(), 16);
    length = sizeof ipv6;
  }
  char host[NI_MAXHOST];
  if (::getnameinfo(reinterpret_cast<const sockaddr*>(&socketAddress), length, host, sizeof host,
                    nullptr, 0, NI_NAMEREQD) != 0) {
    return std::nullopt;
  }
  return linux_dns::FirstAnswer{host, 0};
}

linux_dns::PtrQueries& host_names() {
  // Never destroyed: look-ups may still be running when the process ends.
  static auto* shared = new linux_dns::PtrQueries(ask_system);
  return *shared;
}

linux_dns::PtrQueries& resolver() {
  // Never destroyed: queries may still be running when the process ends.
  static auto* shared = new linux_dns::PtrQueries(ask_resolver);
  return *shared;
}

}  // namespace

std::optional<std::string> query_ptr_first_name(const char* queryName) {
  return resolver().query_one(queryName);
}

std::vector<std::optional<std::string>> query_ptr_names(std::span<const std::string> queryNames,
                                                        std::size_t parallel,
                                                        std::uint32_t timeLimitMs) {
  return host_names().query(queryNames, parallel, std::chrono::milliseconds(timeLimitMs));
}

}  // namespace os
