// Linux: the container runtimes' API client: one HTTP/1.0 request over a unix socket per
// question, on a thread of its own, the answer read with nlohmann's JSON parser, the names kept
// for the whole run.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>
#include <unordered_map>

#include "command/container_names.hpp"
#include "os/os.hpp"

namespace qv {

namespace {

using Clock = std::chrono::steady_clock;

// A runtime slower than this is asked again later rather than waited for.
constexpr std::uint32_t kQuestionTimeLimitMs = 5000;
constexpr auto kAskAgainAfter = std::chrono::seconds(5);
// A list of many thousand containers stays well below this.
constexpr std::size_t kLargestAnswer = std::size_t{16} << 20;
constexpr std::string_view kRequest =
    "GET /containers/json HTTP/1.0\r\nHost: localhost\r\nAccept: application/json\r\n\r\n";

std::string socket_path(const char* variable, const char* fallback) {
  constexpr std::string_view kUnix = "unix://";
  if (variable != nullptr) {
    const std::string_view value = variable;
    if (value.starts_with(kUnix) && value.size() > kUnix.size()) {
      return std::string(value.substr(kUnix.size()));
    }
  }
  return fallback;
}

}  // namespace

struct ContainerNameBook {
  struct Asked {
    RuntimeSocket socket;
    bool inFlight = false;
    std::optional<Clock::time_point> answeredAt;
  };
  std::mutex mutex;
  std::condition_variable answered;
  std::vector<Asked> sockets;
  std::unordered_map<std::string, std::string> names;  // by container id
};

std::vector<RuntimeSocket> runtime_sockets(const char* dockerHost, const char* containerHost) {
  return {{"docker", socket_path(dockerHost, "/var/run/docker.sock")},
          {"podman", socket_path(containerHost, "/run/podman/podman.sock")}};
}

std::optional<std::vector<std::pair<std::string, std::string>>> read_container_list(
    std::string_view httpAnswer) {
  const std::size_t headEnd = httpAnswer.find("\r\n\r\n");
  const std::size_t space = httpAnswer.find(' ');
  if (!httpAnswer.starts_with("HTTP/1.") || headEnd == std::string_view::npos ||
      space == std::string_view::npos || httpAnswer.substr(space + 1, 4) != "200 ") {
    return std::nullopt;
  }
  const auto list = nlohmann::json::parse(httpAnswer.substr(headEnd + 4), nullptr, false);
  if (!list.is_array()) return std::nullopt;
  std::vector<std::pair<std::string, std::string>> containers;
  for (const auto& container : list) {
    if (!container.is_object()) continue;
    const auto id = container.find("Id");
    const auto names = container.find("Names");
    if (id == container.end() || !id->is_string() || names == container.end() ||
        !names->is_array() || names->empty() || !names->front().is_string()) {
      continue;
    }
    std::string name = names->front().get<std::string>();
    if (name.starts_with('/')) name.erase(0, 1);
    if (!name.empty()) containers.emplace_back(id->get<std::string>(), std::move(name));
  }
  return containers;
}

std::shared_ptr<ContainerNameBook> make_container_name_book(std::vector<RuntimeSocket> sockets) {
  auto book = std::make_shared<ContainerNameBook>();
  for (RuntimeSocket& socket : sockets)
    book->sockets.push_back({std::move(socket), false, std::nullopt});
  return book;
}

namespace {

void ask(const std::shared_ptr<ContainerNameBook>& book, std::size_t index,
         const std::string& path) {
  const auto answer =
      os::local_socket_exchange(path, kRequest, kQuestionTimeLimitMs, kLargestAnswer);
  const auto containers = answer ? read_container_list(*answer) : std::nullopt;
  const std::lock_guard lock(book->mutex);
  if (containers) {
    for (const auto& [id, name] : *containers) book->names[id] = name;
  }
  book->sockets[index].inFlight = false;
  book->sockets[index].answeredAt = Clock::now();
  book->answered.notify_all();
}

}  // namespace

void name_containers(const std::shared_ptr<ContainerNameBook>& book,
                     std::vector<Endpoint>& endpoints, std::uint32_t waitMs) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
  std::unique_lock lock(book->mutex);
  std::set<std::size_t> waitedFor;
  for (const Endpoint& endpoint : endpoints) {
    const ContainerIdentity& place = endpoint.place;
    if (place.container.empty() || book->names.contains(place.container)) continue;
    for (std::size_t i = 0; i < book->sockets.size(); ++i) {
      auto& asked = book->sockets[i];
      if (asked.socket.runtime != place.runtime) continue;
      waitedFor.insert(i);
      if (asked.inFlight || (asked.answeredAt && Clock::now() - *asked.answeredAt < kAskAgainAfter))
        continue;
      asked.inFlight = true;
      // The question outlives this call when the runtime is slow: it owns its share of the book.
      std::thread(ask, book, i, asked.socket.path).detach();
    }
  }
  book->answered.wait_until(lock, deadline, [&] {
    return std::none_of(waitedFor.begin(), waitedFor.end(),
                        [&](std::size_t i) { return book->sockets[i].inFlight; });
  });
  for (Endpoint& endpoint : endpoints) {
    const auto found = book->names.find(endpoint.place.container);
    if (found != book->names.end()) endpoint.containerName = found->second;
  }
}

}  // namespace qv
