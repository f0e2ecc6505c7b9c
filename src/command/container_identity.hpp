// Where a process runs in the system's own terms: its service unit and its container, read from
// the paths of its control groups as systemd and the container runtimes lay them out.
#pragma once

#include <string>
#include <string_view>

namespace qv {

struct ContainerIdentity {
  std::string unit;       // the systemd unit ("nginx.service", "session-3.scope"); empty: none
  std::string container;  // the whole id (an LXC container's name); empty: not in a container
  std::string runtime;    // docker, podman, containerd, cri-o or lxc; empty with no container
  std::string pod;        // the Kubernetes pod's uid, hyphenated as Kubernetes writes it

  bool operator==(const ContainerIdentity&) const = default;
};

// The identity told by a process's cgroup listing (/proc/PID/cgroup: "ID:CONTROLLERS:PATH" lines,
// cgroup v1 and v2 alike). One path decides, never a mix of several: the first that names a
// container, else the first that names a unit, the unified hierarchy's before name=systemd's
// before the controllers'.
ContainerIdentity container_identity(std::string_view cgroupListing);

}  // namespace qv
