// The parallel reverse queries' scheduling, with a query function the test answers: late, never,
// or at once. Runs under ThreadSanitizer too.
#include "os/linux/ptr_queries.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

namespace {

using os::linux_dns::FirstAnswer;
using os::linux_dns::PtrQueries;
using std::chrono::milliseconds;
using Names = std::vector<std::optional<std::string>>;

// A resolver the test drives: names in held wait until released; every ask is counted.
struct Resolver {
  std::mutex mutex;
  std::condition_variable released;
  std::set<std::string> held;
  std::map<std::string, std::string> answers;
  std::map<std::string, int> asked;
  int running = 0;
  int mostRunning = 0;

  std::optional<FirstAnswer> ask(const std::string& name) {
    std::unique_lock lock(mutex);
    ++asked[name];
    mostRunning = std::max(mostRunning, ++running);
    released.wait(lock, [&] { return !held.contains(name); });
    --running;
    const auto found = answers.find(name);
    if (found == answers.end()) return std::nullopt;
    return FirstAnswer{found->second, 300};
  }

  void release(const std::string& name) {
    std::lock_guard lock(mutex);
    held.erase(name);
    released.notify_all();
  }

  int count(const std::string& name) {
    std::lock_guard lock(mutex);
    return asked[name];
  }

  // Waits (without a time limit: a hang is the failure) until name has been asked.
  void wait_asked(const std::string& name) {
    for (;;) {
      {
        std::lock_guard lock(mutex);
        if (asked[name] > 0) return;
      }
      std::this_thread::yield();
    }
  }
};

// The query function holds the resolver, so both live as long as the last worker.
struct Scripted {
  std::shared_ptr<Resolver> resolver = std::make_shared<Resolver>();
  PtrQueries queries{[r = resolver](const std::string& n) { return r->ask(n); }};
};

std::vector<std::string> numbered(int count) {
  std::vector<std::string> names;
  names.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) names.push_back(std::to_string(i) + ".in-addr.arpa");
  return names;
}

TEST(PtrQueries, AllAnsweredWithinTheLimitOfParallelQueriesAskedOnceEach) {
  Scripted s;
  auto names = numbered(40);
  for (int i = 0; i < 40; i += 2) s.resolver->answers[names[i]] = "host" + std::to_string(i);
  names.push_back(names[0]);  // asked twice in one call, queried once
  const Names got = s.queries.query(names, 4, milliseconds(60000));
  ASSERT_EQ(got.size(), names.size());
  for (int i = 0; i < 40; ++i) {
    EXPECT_EQ(got[i], i % 2 == 0 ? std::optional("host" + std::to_string(i)) : std::nullopt) << i;
    EXPECT_EQ(s.resolver->count(names[i]), 1) << i;
  }
  EXPECT_EQ(got[40], "host0");
  EXPECT_LE(s.resolver->mostRunning, 4);
  // Answers and failures alike come from the cache now.
  EXPECT_EQ(s.queries.query(names, 4, milliseconds(0)), got);
  EXPECT_EQ(s.resolver->count(names[1]), 1);
  EXPECT_EQ(s.queries.query_one(names[2]), "host2");
  EXPECT_EQ(s.resolver->count(names[2]), 1);
}

TEST(PtrQueries, LateAnswersLandInTheCacheAndAreNeverAskedTwice) {
  Scripted s;
  const std::vector<std::string> names = {"fast.ip6.arpa", "slow.ip6.arpa", "dead.ip6.arpa"};
  for (const auto& name : names) s.resolver->answers[name] = "name-of-" + name;
  s.resolver->held = {"slow.ip6.arpa", "dead.ip6.arpa"};
  const std::vector<std::string> fast = {"fast.ip6.arpa"};
  ASSERT_EQ(s.queries.query(fast, 8, milliseconds(60000)), Names{"name-of-fast.ip6.arpa"});
  const Names first = s.queries.query(names, 8, milliseconds(50));
  EXPECT_EQ(first, (Names{"name-of-fast.ip6.arpa", std::nullopt, std::nullopt}));
  // Still in flight: a second caller waits for the same query rather than asking again.
  const Names second = s.queries.query(names, 8, milliseconds(0));
  EXPECT_EQ(second, first);
  s.resolver->release("slow.ip6.arpa");
  const std::vector<std::string> slow = {"slow.ip6.arpa"};
  EXPECT_EQ(s.queries.query(slow, 8, milliseconds(60000)), Names{"name-of-slow.ip6.arpa"});
  const Names third = s.queries.query(names, 8, milliseconds(0));
  EXPECT_EQ(third[1], "name-of-slow.ip6.arpa");
  EXPECT_FALSE(third[2]);
  for (const auto& name : names) EXPECT_EQ(s.resolver->count(name), 1) << name;
  s.resolver->release("dead.ip6.arpa");
}

TEST(PtrQueries, AWaitingCallerGetsTheAnswerOfAQueryAnotherStarted) {
  Scripted s;
  s.resolver->answers["a.in-addr.arpa"] = "a.example";
  s.resolver->held = {"a.in-addr.arpa"};
  const std::vector<std::string> names = {"a.in-addr.arpa"};
  EXPECT_EQ(s.queries.query(names, 1, milliseconds(0)), Names{std::nullopt});
  s.resolver->wait_asked("a.in-addr.arpa");
  std::thread releaser([&] {
    std::this_thread::sleep_for(milliseconds(20));
    s.resolver->release("a.in-addr.arpa");
  });
  EXPECT_EQ(s.queries.query(names, 1, milliseconds(60000)), Names{"a.example"});
  releaser.join();
  EXPECT_EQ(s.resolver->count("a.in-addr.arpa"), 1);
}

TEST(PtrQueries, MoreNamesThanWorkersWaitTheirTurn) {
  Scripted s;
  const auto names = numbered(6);
  s.resolver->held = {names.begin(), names.end()};
  EXPECT_EQ(s.queries.query(names, 2, milliseconds(0)), Names(6));
  s.resolver->wait_asked(names[0]);
  s.resolver->wait_asked(names[1]);
  EXPECT_EQ(s.resolver->count(names[2]), 0);  // two workers, both held
  for (const auto& name : names) s.resolver->release(name);
  const Names got = s.queries.query(names, 2, milliseconds(60000));
  EXPECT_EQ(got, Names(6));  // no answers: failures, each asked once
  for (const auto& name : names) EXPECT_EQ(s.resolver->count(name), 1);
  EXPECT_LE(s.resolver->mostRunning, 2);
}

TEST(PtrQueriesDeathTest, TheProcessMayEndWhileQueriesRun) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        Scripted s;
        s.resolver->held = {"never.in-addr.arpa"};
        const std::vector<std::string> names = {"never.in-addr.arpa"};
        s.queries.query(names, 1, milliseconds(10));
        // A full exit, static destructors and all, with the worker still asking.
        std::exit(3);  // NOLINT(concurrency-mt-unsafe): no other thread ends the process
      },
      testing::ExitedWithCode(3), "");
}

}  // namespace
