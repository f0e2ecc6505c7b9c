// Linux: the machine's network namespaces, found from its processes, the named ones under
// /run/netns and Docker's under /run/docker/netns, and a --netns value's namespace file.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace os::linux_netns {

// Where a namespace was met; the order is the preference for its name and for the file it is
// entered through.
enum class Seen { current, named, docker, process };

struct Sighting {
  std::uint64_t inode;
  Seen seen;
  std::string path;  // the namespace file (unused for the current namespace)
  std::string name;  // the entry's name under /run/netns or /run/docker/netns; empty otherwise
};

struct Namespace {
  std::uint64_t inode;
  bool current;      // the caller's own: read without entering it
  std::string path;  // the file to enter it through: a named file before a process's
  std::string name;  // /run/netns's name before Docker's; empty when it has none
};

// One namespace per inode: the current one first, then the named ones by name, then the rest by
// inode. Of several names in one folder the first in byte order is taken.
std::vector<Namespace> merge_sightings(std::vector<Sighting> sightings);

// The file a --netns value stands for: /proc/PID/ns/net for a number, the value itself for
// anything holding a slash, else the name under /run/netns.
std::string namespace_file_path(std::string_view value);

// The named namespaces (/run/netns, /run/docker/netns) and the caller's own; with processes,
// also every namespace a process of the machine is in, as far as this user may look.
std::vector<Namespace> find_namespaces(bool processes);

// The inode of the network namespace whose file is at path; nullopt with the reason when the file
// is missing or holds no network namespace.
std::optional<std::uint64_t> namespace_inode(const std::string& path, std::string& reason);

}  // namespace os::linux_netns
