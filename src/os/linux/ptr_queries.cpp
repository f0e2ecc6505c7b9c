// The worker pool of the parallel reverse queries and the waiting of their callers.
#include "os/linux/ptr_queries.hpp"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>

namespace os::linux_dns {

namespace {

// One caller's names and what has come back for them.
struct Batch {
  std::vector<std::optional<std::string>> names;
  std::size_t outstanding = 0;
};

struct Waiter {
  Batch* batch;
  std::size_t index;
};

}  // namespace

struct PtrQueries::State {
  AskPtr ask;
  std::mutex mutex;
  std::condition_variable answered;
  PtrCache cache;
  std::unordered_map<std::string, std::vector<Waiter>> inFlight;  // asked or waiting to be
  std::deque<std::string> waiting;                                // not yet taken by a worker
  std::condition_variable work;  // a name waits and a query may start
  std::size_t workers = 0;       // threads started, each asking or idle
  std::size_t asking = 0;        // queries running now
  std::size_t most = 1;          // queries that may run at once, as the last caller said

  State(AskPtr function, PtrCache::Limits limits) : ask(std::move(function)), cache(limits) {}

  // Hands an outcome to every caller still waiting for the name; the caller holds the lock.
  void deliver(const std::string& queryName, const std::optional<std::string>& name) {
    const auto found = inFlight.find(queryName);
    if (found == inFlight.end()) return;
    for (const Waiter& waiter : found->second) {
      waiter.batch->names[waiter.index] = name;
      --waiter.batch->outstanding;
    }
    inFlight.erase(found);
    answered.notify_all();
  }
};

PtrQueries::PtrQueries(AskPtr ask, PtrCache::Limits limits)
    : state_(std::make_shared<State>(std::move(ask), limits)) {}

// Workers never end. A thread ending while the process exits races glibc's release of its
// resolver state with the exit, and a pool kept warm spares the next caller the thread starts.
void PtrQueries::work(const std::shared_ptr<State>& state) {
  std::unique_lock lock(state->mutex);
  for (;;) {
    state->work.wait(lock, [&] { return !state->waiting.empty() && state->asking < state->most; });
    const std::string queryName = std::move(state->waiting.front());
    state->waiting.pop_front();
    ++state->asking;
    lock.unlock();
    const std::optional<FirstAnswer> answer = state->ask(queryName);
    lock.lock();
    --state->asking;
    const auto now = Clock::now();
    if (answer) {
      state->cache.store_answer(queryName, answer->name, answer->ttlSeconds, now);
      state->deliver(queryName, answer->name);
    } else {
      state->cache.store_failure(queryName, now);
      state->deliver(queryName, std::nullopt);
    }
    state->work.notify_one();  // a query's place is free
  }
}

std::vector<std::optional<std::string>> PtrQueries::query(std::span<const std::string> queryNames,
                                                          std::size_t parallel,
                                                          std::chrono::milliseconds timeLimit) {
  const auto deadline = Clock::now() + timeLimit;
  Batch batch;
  batch.names.resize(queryNames.size());
  State& state = *state_;
  std::unique_lock lock(state.mutex);
  const auto now = Clock::now();
  for (std::size_t i = 0; i < queryNames.size(); ++i) {
    if (const auto cached = state.cache.find(queryNames[i], now)) {
      batch.names[i] = cached->name;
      continue;
    }
    const auto [entry, added] = state.inFlight.try_emplace(queryNames[i]);
    entry->second.push_back({&batch, i});
    ++batch.outstanding;
    if (added) state.waiting.push_back(queryNames[i]);
  }
  state.most = std::max<std::size_t>(parallel, 1);
  const std::size_t wanted = std::min(state.most, state.asking + state.waiting.size());
  while (state.workers < wanted) {
    try {
      std::thread(work, state_).detach();
    } catch (const std::system_error&) {
      break;  // the system refuses more threads: the ones there share the work
    }
    ++state.workers;
  }
  state.work.notify_all();
  if (state.workers == 0) {
    // No thread at all to ask with: what waits fails now, without being cached as failed.
    while (!state.waiting.empty()) {
      state.deliver(state.waiting.front(), std::nullopt);
      state.waiting.pop_front();
    }
  }
  state.answered.wait_until(lock, deadline, [&batch] { return batch.outstanding == 0; });
  if (batch.outstanding > 0) {
    // Late answers go to the cache only: this batch ends with the call.
    for (const std::string& queryName : queryNames) {
      const auto found = state.inFlight.find(queryName);
      if (found == state.inFlight.end()) continue;
      std::erase_if(found->second,
                    [&batch](const Waiter& waiter) { return waiter.batch == &batch; });
    }
  }
  return std::move(batch.names);
}

std::optional<std::string> PtrQueries::query_one(const std::string& queryName) {
  State& state = *state_;
  {
    std::lock_guard lock(state.mutex);
    if (const auto cached = state.cache.find(queryName, Clock::now())) return cached->name;
  }
  // The query runs outside the lock: it may take as long as the resolver's time-outs.
  const std::optional<FirstAnswer> answer = state.ask(queryName);
  std::lock_guard lock(state.mutex);
  if (!answer) {
    state.cache.store_failure(queryName, Clock::now());
    return std::nullopt;
  }
  state.cache.store_answer(queryName, answer->name, answer->ttlSeconds, Clock::now());
  return answer->name;
}

}  // namespace os::linux_dns
