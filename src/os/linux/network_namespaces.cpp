// Finding the machine's network namespaces: the nsfs inodes of namespace files, by stat.
#include "os/linux/network_namespaces.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <linux/nsfs.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <tuple>

#include "os/linux/descriptor.hpp"
#include "os/linux/process_sockets.hpp"

namespace os::linux_netns {

namespace {

bool all_digits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Every namespace file lives on the one nsfs file system: a file elsewhere (a name under
// /run/netns whose mount has gone) is no namespace.
std::optional<std::uint64_t> nsfs_inode(const std::string& path, dev_t nsfs) {
  struct stat file {};
  if (::stat(path.c_str(), &file) != 0 || file.st_dev != nsfs) return std::nullopt;
  return file.st_ino;
}

void add_folder(const char* folder, Seen seen, dev_t nsfs, std::vector<Sighting>& sightings) {
  DIR* directory = ::opendir(folder);
  if (directory == nullptr) return;
  // NOLINTNEXTLINE(concurrency-mt-unsafe): each stream is read by the thread that opened it.
  while (const dirent* entry = ::readdir(directory)) {
    if (entry->d_name[0] == '.') continue;
    std::string path = std::string(folder) + '/' + entry->d_name;
    if (const auto inode = nsfs_inode(path, nsfs)) {
      sightings.push_back({*inode, seen, std::move(path), entry->d_name});
    }
  }
  ::closedir(directory);
}

}  // namespace

std::vector<Namespace> merge_sightings(std::vector<Sighting> sightings) {
  std::sort(sightings.begin(), sightings.end(), [](const Sighting& a, const Sighting& b) {
    return std::tie(a.inode, a.seen, a.name) < std::tie(b.inode, b.seen, b.name);
  });
  std::vector<Namespace> merged;
  for (std::size_t i = 0; i < sightings.size();) {
    // The best sighting of an inode comes first; its names, in preference order, follow.
    const Sighting& best = sightings[i];
    Namespace found{best.inode, best.seen == Seen::current, best.path, {}};
    for (; i < sightings.size() && sightings[i].inode == best.inode; ++i) {
      const Sighting& other = sightings[i];
      if (found.path.empty() && other.seen != Seen::current) found.path = other.path;
      if (found.name.empty()) found.name = other.name;
    }
    merged.push_back(std::move(found));
  }
  std::stable_sort(merged.begin(), merged.end(), [](const Namespace& a, const Namespace& b) {
    const auto rank = [](const Namespace& n) { return n.current ? 0 : n.name.empty() ? 2 : 1; };
    return rank(a) != rank(b) ? rank(a) < rank(b) : !a.name.empty() && a.name < b.name;
  });
  return merged;
}

std::string namespace_file_path(std::string_view value) {
  if (all_digits(value)) return "/proc/" + std::string(value) + "/ns/net";
  if (value.find('/') != std::string_view::npos) return std::string(value);
  return "/run/netns/" + std::string(value);
}

std::uint64_t current_inode() {
  struct stat file {};
  return ::stat("/proc/thread-self/ns/net", &file) == 0 ? file.st_ino : 0;
}

std::vector<Namespace> find_namespaces(bool processes) {
  struct stat own {};
  if (::stat("/proc/thread-self/ns/net", &own) != 0) return {};
  std::vector<Sighting> sightings{{own.st_ino, Seen::current, {}, {}}};
  add_folder("/run/netns", Seen::named, own.st_dev, sightings);
  add_folder("/run/docker/netns", Seen::docker, own.st_dev, sightings);
  if (processes) {
    linux_proc::ProcReader proc;
    std::vector<linux_owners::Process> list;
    proc.list_processes(list);
    for (const linux_owners::Process& process : list) {
      std::string path = "/proc/" + std::to_string(process.pid) + "/ns/net";
      // Another user's process answers EACCES: its namespace is out of reach anyway.
      if (const auto inode = nsfs_inode(path, own.st_dev)) {
        sightings.push_back({*inode, Seen::process, std::move(path), {}});
      }
    }
  }
  return merge_sightings(std::move(sightings));
}

std::optional<std::uint64_t> namespace_inode(const std::string& path, std::string& reason) {
  const Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat status {};
  if (file.get() < 0 || ::fstat(file.get(), &status) != 0) {
    reason = path + ": " + std::strerror(errno);  // NOLINT(concurrency-mt-unsafe)
    return std::nullopt;
  }
  if (::ioctl(file.get(), NS_GET_NSTYPE) != CLONE_NEWNET) {
    reason = path + ": not a network namespace";
    return std::nullopt;
  }
  return status.st_ino;
}

}  // namespace os::linux_netns
