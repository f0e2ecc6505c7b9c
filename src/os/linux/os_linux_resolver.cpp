// Linux: reverse (PTR) queries through the system resolver, with the cache the Windows DNS client
// would otherwise keep, so that a pass every second does not ask the network for every connection.
#include <arpa/nameser.h>
#include <netinet/in.h>
#include <resolv.h>

#include <mutex>

#include "os/linux/reverse_dns.hpp"
#include "os/os.hpp"

namespace os {

namespace {

struct Resolver {
  std::mutex mutex;
  linux_dns::PtrCache cache;
};

Resolver& resolver() {
  static Resolver* shared = new Resolver;  // never destroyed: a worker may still ask at exit
  return *shared;
}

}  // namespace

std::optional<std::string> query_ptr_first_name(const char* queryName) {
  Resolver& state = resolver();
  const std::string name = queryName;
  {
    std::lock_guard lock(state.mutex);
    if (const auto cached = state.cache.find(name, linux_dns::Clock::now())) return cached->name;
  }
  // The query runs outside the lock: it may take as long as the resolver's time-outs. res_query
  // keeps its state per thread.
  unsigned char reply[4096];
  const int length = res_query(queryName, ns_c_in, ns_t_ptr, reply, sizeof reply);
  const auto answer = length > 0
                          ? linux_dns::first_answer_name(
                                reply, std::min(static_cast<std::size_t>(length), sizeof reply))
                          : std::nullopt;
  std::lock_guard lock(state.mutex);
  if (!answer) {
    state.cache.store_failure(name, linux_dns::Clock::now());
    return std::nullopt;
  }
  state.cache.store_answer(name, answer->name, answer->ttlSeconds, linux_dns::Clock::now());
  return answer->name;
}

}  // namespace os
