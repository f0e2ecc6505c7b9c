// Linux: threads, pauses, heap, date and month names.
#include <pthread.h>
#include <sched.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "os/english_months.hpp"
#include "os/os.hpp"

namespace os {

namespace {

struct ThreadStart {
  void (*routine)(void*);
  void* argument;
};

void* run_thread(void* start) {
  const ThreadStart what = *static_cast<ThreadStart*>(start);
  delete static_cast<ThreadStart*>(start);
  what.routine(what.argument);
  return nullptr;
}

}  // namespace

std::optional<ThreadHandle> start_thread(void (*routine)(void*), void* argument) {
  auto* start = new ThreadStart{routine, argument};
  pthread_t thread;
  if (pthread_create(&thread, nullptr, run_thread, start) != 0) {
    delete start;
    return std::nullopt;
  }
  return ThreadHandle{static_cast<std::uintptr_t>(thread)};
}

void wait_thread(ThreadHandle thread) {
  pthread_join(static_cast<pthread_t>(thread.value), nullptr);
}

void sleep_ms(std::uint32_t milliseconds) {
  timespec remaining{static_cast<time_t>(milliseconds / 1000),
                     static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

void yield() { sched_yield(); }

void* allocate_zeroed(std::size_t bytes) { return std::calloc(1, bytes); }

void release(void* block) { std::free(block); }

LocalDate local_date() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

std::string month_name(int month) { return english_month_name(month); }

}  // namespace os
