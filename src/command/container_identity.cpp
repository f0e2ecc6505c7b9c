// Reading cgroup paths into units, containers and pods.
#include "command/container_identity.hpp"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

namespace qv {

namespace {

// The ids Docker, Podman, containerd and CRI-O give their containers.
constexpr std::size_t kContainerIdLength = 64;

bool is_container_id(std::string_view text) {
  return text.size() == kContainerIdLength && std::all_of(text.begin(), text.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

bool is_pod_uid(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || c == '-' || c == '_';
  });
}

std::string hyphenated(std::string_view uid) {
  std::string text(uid);
  std::replace(text.begin(), text.end(), '_', '-');
  return text;
}

std::string_view without_suffix(std::string_view text, std::string_view suffix) {
  return text.ends_with(suffix) ? text.substr(0, text.size() - suffix.size()) : text;
}

// A systemd driver's scope (or a cgroupfs driver's directory) named for the container:
// "docker-<id>.scope", "libpod-<id>", "cri-containerd-<id>.scope", "crio-<id>.scope". A
// runtime's helper beside the container ("crio-conmon-<id>.scope") is not the container.
constexpr std::array<std::pair<std::string_view, std::string_view>, 4> kScopePrefixes = {{
    {"docker-", "docker"},
    {"libpod-", "podman"},
    {"cri-containerd-", "containerd"},
    {"crio-", "cri-o"},
}};

// Kubernetes' pod directory: "kubepods-burstable-pod<uid>.slice" under the systemd driver (the
// uid with underscores), "pod<uid>" under the cgroupfs driver.
std::string pod_of(std::string_view part, bool underKubepods) {
  if (part.starts_with("kubepods") && part.ends_with(".slice")) {
    const std::size_t at = part.rfind("-pod");
    if (at == std::string_view::npos) return {};
    const std::string_view uid = without_suffix(part.substr(at + 4), ".slice");
    return is_pod_uid(uid) ? hyphenated(uid) : std::string();
  }
  if (underKubepods && part.starts_with("pod") && is_pod_uid(part.substr(3))) {
    return hyphenated(part.substr(3));
  }
  return {};
}

ContainerIdentity identity_of_path(std::string_view path) {
  std::vector<std::string_view> parts;
  while (!path.empty()) {
    const std::size_t slash = path.find('/');
    const std::string_view part = path.substr(0, slash);
    if (!part.empty()) parts.push_back(part);
    path.remove_prefix(slash == std::string_view::npos ? path.size() : slash + 1);
  }
  ContainerIdentity identity;
  bool underKubepods = false;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const std::string_view part = parts[i];
    const std::string_view parent = i > 0 ? parts[i - 1] : std::string_view();
    // The innermost unit is the one the process is in.
    if (part.ends_with(".service") || part.ends_with(".scope")) identity.unit = part;
    if (identity.pod.empty()) identity.pod = pod_of(part, underKubepods);
    underKubepods = underKubepods || part.starts_with("kubepods");
    // The outermost container is the one this machine runs; any inside it are its own business.
    if (!identity.container.empty()) continue;
    for (const auto& [prefix, runtime] : kScopePrefixes) {
      const std::string_view id =
          without_suffix(part.substr(std::min(prefix.size(), part.size())), ".scope");
      if (part.starts_with(prefix) && is_container_id(id)) {
        identity.container = id;
        identity.runtime = runtime;
      }
    }
    if (!identity.container.empty()) continue;
    if (parent == "docker" && is_container_id(part)) {
      identity.container = part;
      identity.runtime = "docker";
    } else if (parent.starts_with("pod") && !identity.pod.empty() && is_container_id(part)) {
      // The cgroupfs driver's bare id names no runtime; containerd is the one Kubernetes runs
      // now that dockershim is gone (CRI-O writes "crio-<id>" under either driver).
      identity.container = part;
      identity.runtime = "containerd";
    } else if (parent == "lxc" || parent == "lxc.payload") {
      identity.container = part;
      identity.runtime = "lxc";
    } else if (part.starts_with("lxc.payload.") && part.size() > 12) {
      identity.container = part.substr(12);
      identity.runtime = "lxc";
    }
  }
  return identity;
}

// The unified hierarchy first, then systemd's own, then the controllers'.
int path_rank(std::string_view hierarchy, std::string_view controllers) {
  if (hierarchy == "0" && controllers.empty()) return 0;
  return controllers == "name=systemd" ? 1 : 2;
}

}  // namespace

ContainerIdentity container_identity(std::string_view cgroupListing) {
  ContainerIdentity withContainer;
  ContainerIdentity withUnit;
  int containerRank = 3;
  int unitRank = 3;
  while (!cgroupListing.empty()) {
    const std::size_t end = cgroupListing.find('\n');
    const std::string_view line = cgroupListing.substr(0, end);
    cgroupListing.remove_prefix(end == std::string_view::npos ? cgroupListing.size() : end + 1);
    const std::size_t first = line.find(':');
    const std::size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
    if (second == std::string_view::npos) continue;
    const int rank = path_rank(line.substr(0, first), line.substr(first + 1, second - first - 1));
    ContainerIdentity identity = identity_of_path(line.substr(second + 1));
    if (!identity.container.empty() && rank < containerRank) {
      containerRank = rank;
      withContainer = identity;
    }
    if (!identity.unit.empty() && rank < unitRank) {
      unitRank = rank;
      withUnit = std::move(identity);
    }
  }
  return containerRank < 3 ? withContainer : withUnit;
}

}  // namespace qv
