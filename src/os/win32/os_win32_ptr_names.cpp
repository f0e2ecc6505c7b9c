// Windows: the command's reverse look-ups, many at once on worker threads, with the answers kept
// so that one arriving after a call's time limit is there for the next call. Vista or later
// (slim reader/writer locks, condition variables, GetTickCount64): the command's, never the DLL's.
#include <windows.h>

#include <deque>
#include <map>
#include <utility>

#include "os/os.hpp"

namespace os {

namespace {

// How long an outcome is kept: the DNS Client's own cache keeps answers for their TTL, so this
// only spares it the question while a watch runs; failures are asked again sooner.
constexpr ULONGLONG kAnswerLifeMs = 5ULL * 60 * 1000;
constexpr ULONGLONG kFailureLifeMs = 60ULL * 1000;
constexpr std::size_t kMostKept = 2048;

struct Outcome {
  bool done = false;
  std::optional<std::string> name;
  ULONGLONG expires = 0;
};

struct Resolver {
  SRWLOCK lock = SRWLOCK_INIT;
  CONDITION_VARIABLE answered = CONDITION_VARIABLE_INIT;
  std::map<std::string, Outcome> outcomes;
  std::deque<std::string> waiting;  // asked for, not yet taken by a worker
  std::size_t workers = 0;
};

// Workers may still be inside DnsQuery_A when the process ends: the state they share is never
// destroyed, so no exit-time destructor can pull it from under them.
Resolver& resolver() {
  static auto* const shared = new Resolver;
  return *shared;
}

class Locked {
 public:
  explicit Locked(Resolver& r) : lock_(r.lock) { AcquireSRWLockExclusive(&lock_); }
  ~Locked() { ReleaseSRWLockExclusive(&lock_); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  SRWLOCK& lock_;
};

DWORD WINAPI work(LPVOID) {
  Resolver& r = resolver();
  for (;;) {
    std::string name;
    {
      const Locked held(r);
      if (r.waiting.empty()) {
        --r.workers;
        return 0;
      }
      name = std::move(r.waiting.front());
      r.waiting.pop_front();
    }
    std::optional<std::string> answer = query_ptr_first_name(name.c_str());
    const Locked held(r);
    Outcome& outcome = r.outcomes[name];
    outcome.expires = GetTickCount64() + (answer ? kAnswerLifeMs : kFailureLifeMs);
    outcome.name = std::move(answer);
    outcome.done = true;
    WakeAllConditionVariable(&r.answered);
  }
}

// Under the lock: drops outcomes past their life, and all finished ones when too many are kept.
void forget_old(Resolver& r, ULONGLONG now) {
  const bool crowded = r.outcomes.size() > kMostKept;
  std::erase_if(r.outcomes, [&](const auto& entry) {
    return entry.second.done && (crowded || entry.second.expires <= now);
  });
}

// Under the lock: one more worker; false when the system refuses a thread.
bool start_worker(Resolver& r) {
  const HANDLE thread = CreateThread(nullptr, 0, work, nullptr, 0, nullptr);
  if (thread == nullptr) return false;
  CloseHandle(thread);
  ++r.workers;
  return true;
}

}  // namespace

std::vector<std::optional<std::string>> query_ptr_names(std::span<const std::string> queryNames,
                                                        std::size_t parallel,
                                                        std::uint32_t timeLimitMs) {
  Resolver& r = resolver();
  const ULONGLONG deadline = GetTickCount64() + timeLimitMs;
  std::vector<std::optional<std::string>> results(queryNames.size());
  const Locked held(r);
  forget_old(r, GetTickCount64());
  for (const std::string& name : queryNames) {
    // A name already answered or in flight is not asked again.
    if (r.outcomes.try_emplace(name).second) r.waiting.push_back(name);
  }
  const std::size_t most = parallel == 0 ? 1 : parallel;
  while (!r.waiting.empty() && r.workers < most) {
    if (!start_worker(r)) break;
  }
  std::vector<bool> settled(queryNames.size(), false);
  for (;;) {
    std::size_t open = 0;
    for (std::size_t i = 0; i < queryNames.size(); ++i) {
      if (settled[i]) continue;
      const auto found = r.outcomes.find(queryNames[i]);
      // Another caller may have let a finished outcome go since it was seen here.
      if (found == r.outcomes.end() || found->second.done) {
        settled[i] = true;
        if (found != r.outcomes.end()) results[i] = found->second.name;
      } else {
        ++open;
      }
    }
    const ULONGLONG now = GetTickCount64();
    if (open == 0 || now >= deadline) return results;
    SleepConditionVariableSRW(&r.answered, &r.lock, static_cast<DWORD>(deadline - now), 0);
  }
}

}  // namespace os
