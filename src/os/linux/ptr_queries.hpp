// Reverse queries many at a time on worker threads, over one cache of outcomes: a caller waits at
// most its time limit, queries it leaves behind finish in the background into the cache, and a
// name already being asked is never asked again. The query itself is passed in, so that tests can
// answer late or never.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "os/linux/reverse_dns.hpp"

namespace os::linux_dns {

// Asks the network for the first record of a PTR answer; nullopt when the query failed.
using AskPtr = std::function<std::optional<FirstAnswer>(const std::string& queryName)>;

class PtrQueries {
 public:
  explicit PtrQueries(AskPtr ask, PtrCache::Limits limits = {});

  // The names of the first records, in the order asked; nullopt for a failed query and for one
  // still running when timeLimit passes. At most parallel queries run at a time.
  std::vector<std::optional<std::string>> query(std::span<const std::string> queryNames,
                                                std::size_t parallel,
                                                std::chrono::milliseconds timeLimit);

  // One query on the caller's thread, unless the cache knows the outcome.
  std::optional<std::string> query_one(const std::string& queryName);

 private:
  struct State;
  static void work(const std::shared_ptr<State>& state);
  // Workers hold the state too, so that nothing waits for a query still running when the owner
  // goes (the process may end under it).
  std::shared_ptr<State> state_;
};

}  // namespace os::linux_dns
