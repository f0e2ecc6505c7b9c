// Linux: reverse (PTR) queries through the system resolver, with the cache the Windows DNS client
// would otherwise keep, so that a pass every second does not ask the network for every connection.
#include <arpa/nameser.h>
#include <netinet/in.h>
#include <resolv.h>

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
  return resolver().query(queryNames, parallel, std::chrono::milliseconds(timeLimitMs));
}

}  // namespace os
