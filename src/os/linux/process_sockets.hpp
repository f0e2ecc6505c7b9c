// Linux: the processes under /proc and the sockets each one holds open, read through directory
// descriptors and raw directory reads, since a table's owners may take one read per open file of
// the machine.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "os/linux/descriptor.hpp"
#include "os/linux/socket_owners.hpp"

namespace os::linux_proc {

class ProcReader {
 public:
  ProcReader();
  // The processes now visible, by ascending pid; empty when /proc cannot be read.
  void list_processes(std::vector<linux_owners::Process>& processes);
  // Appends the inode of every socket the process holds; nothing when it has gone or hides them.
  void read_sockets(std::uint32_t pid, std::vector<std::uint64_t>& inodes);
  // The pid of the process's parent; nullopt when the process has gone.
  std::optional<std::uint32_t> parent_of(std::uint32_t pid);

 private:
  Descriptor proc_;
  std::vector<char> entries_;  // room for one batch of directory entries
};

}  // namespace os::linux_proc
