// The fake platform behind the seam, for unit tests.
#include "fake/fake_os.hpp"

#include <arpa/inet.h>

#include <cstdlib>
#include <cstring>
#include <thread>

#include "os/english_months.hpp"
#include "os/ini_text.hpp"

namespace fake {

namespace {
Os* instance = new Os;  // never destroyed: a collector thread may outlive a test's scope
}

Os& machine() { return *instance; }

std::map<std::pair<os::Protocol, std::uint16_t>, std::string> default_services() {
  using os::Protocol;
  return {{{Protocol::tcp, 22}, "ssh"},    {{Protocol::tcp, 53}, "domain"},
          {{Protocol::udp, 53}, "domain"}, {{Protocol::tcp, 80}, "http"},
          {{Protocol::tcp, 443}, "https"}, {{Protocol::udp, 443}, "https"},
          {{Protocol::udp, 5353}, "mdns"}, {{Protocol::tcp, 57000}, "dircproxy"}};
}

void reset() {
  Os& m = machine();
  std::function<void()> none;
  std::lock_guard lock(m.mutex);
  m.tcpRows = std::vector<os::TcpRow>{};
  m.udpRows = std::vector<os::UdpRow>{};
  m.socketRows = std::vector<os::SocketRow>{};
  m.socketTableCalls.clear();
  m.processes.clear();
  m.processOpens.clear();
  m.ptrBatches.clear();
  m.lateAnswers.clear();
  m.ptrAnswers.clear();
  m.files.clear();
  m.dnsQueries.clear();
  m.sleeps.clear();
  m.cgroups.clear();
  m.cgroupReads.clear();
  m.users.clear();
  m.localServices.clear();
  m.localRequests.clear();
  m.openProcessHandles = 0;
  m.failAllocation = false;
  m.failThreadStart = false;
  m.threadStarts = 0;
  m.date = {2026, 12, 8};
  m.services = default_services();
  m.ephemeralPorts = os::PortRange{32768, 60999};
  m.onTcpTable = nullptr;
  m.onUdpTable = nullptr;
  m.onDnsQuery = nullptr;
  m.onSleep = nullptr;
  m.onThreadStarted = nullptr;
}

std::uint32_t address(std::uint8_t o1, std::uint8_t o2, std::uint8_t o3, std::uint8_t o4) {
  const std::uint8_t bytes[4] = {o1, o2, o3, o4};
  std::uint32_t value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

std::uint32_t port(std::uint16_t hostOrder) {
  const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(hostOrder >> 8),
                                 static_cast<std::uint8_t>(hostOrder & 0xFF), 0xCC, 0xCC};
  std::uint32_t value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

}  // namespace fake

namespace os {

using fake::machine;

namespace {
void call(const std::function<void()>& hook) {
  if (hook) hook();
}
}  // namespace

std::optional<std::vector<TcpRow>> tcp_table() {
  call(machine().onTcpTable);
  std::lock_guard lock(machine().mutex);
  return machine().tcpRows;
}

std::optional<std::vector<UdpRow>> udp_table() {
  call(machine().onUdpTable);
  std::lock_guard lock(machine().mutex);
  return machine().udpRows;
}

std::optional<std::vector<SocketRow>> socket_table(SocketKinds kinds) {
  std::lock_guard lock(machine().mutex);
  machine().socketTableCalls.push_back(kinds);
  if (!machine().socketRows) return std::nullopt;
  std::vector<SocketRow> rows;
  for (const SocketRow& row : *machine().socketRows) {
    const bool protocol = row.protocol == Protocol::tcp ? kinds.tcp : kinds.udp;
    const bool family = row.family == kFamilyIpv4 ? kinds.ipv4 : kinds.ipv6;
    if (protocol && family) rows.push_back(row);
  }
  return rows;
}

// One namespace, as on Windows.
std::optional<std::vector<SocketRow>> namespace_socket_table(SocketKinds kinds,
                                                             const NamespaceScope& /*scope*/,
                                                             NamespaceShortfall& shortfall) {
  shortfall = {};
  return socket_table(kinds);
}

std::optional<std::string> find_network_namespace(const std::string& value, std::string& reason) {
  reason = "--netns " + value + ": no such namespace";
  return std::nullopt;
}

std::vector<std::optional<std::string>> query_ptr_names(std::span<const std::string> queryNames,
                                                        std::size_t parallel,
                                                        std::uint32_t timeLimitMs) {
  std::lock_guard lock(machine().mutex);
  fake::Os& m = machine();
  m.ptrBatches.push_back({{queryNames.begin(), queryNames.end()}, parallel, timeLimitMs});
  std::vector<std::optional<std::string>> answers;
  for (const std::string& name : queryNames) {
    if (m.lateAnswers.erase(name) != 0) {
      answers.emplace_back();
      continue;
    }
    const auto found = m.ptrAnswers.find(name);
    answers.push_back(found != m.ptrAnswers.end() ? std::optional(found->second) : std::nullopt);
  }
  return answers;
}

std::optional<ProcessHandle> open_process(std::uint32_t pid) {
  std::lock_guard lock(machine().mutex);
  ++machine().processOpens[pid];
  const auto found = machine().processes.find(pid);
  if (found == machine().processes.end() || !found->second.openable) return std::nullopt;
  ++machine().openProcessHandles;
  return ProcessHandle{pid};
}

bool process_modules_readable(ProcessHandle process) {
  std::lock_guard lock(machine().mutex);
  const auto found = machine().processes.find(static_cast<std::uint32_t>(process.value));
  return found != machine().processes.end() && found->second.modulesReadable;
}

std::size_t process_executable_path(ProcessHandle process, std::span<char> buffer,
                                    PathText /*text*/) {
  std::lock_guard lock(machine().mutex);
  const auto found = machine().processes.find(static_cast<std::uint32_t>(process.value));
  if (found == machine().processes.end() || !found->second.executablePath || buffer.empty()) {
    return 0;
  }
  const std::string& path = *found->second.executablePath;
  const std::size_t length = std::min(path.size(), buffer.size() - 1);
  std::memcpy(buffer.data(), path.data(), length);
  buffer[length] = '\0';
  return length;
}

void close_process(ProcessHandle /*process*/) {
  std::lock_guard lock(machine().mutex);
  --machine().openProcessHandles;
}

std::string process_name(std::uint32_t /*pid*/) { return {}; }

std::optional<std::string> process_cgroups(std::uint32_t pid) {
  std::lock_guard lock(machine().mutex);
  ++machine().cgroupReads[pid];
  const auto found = machine().cgroups.find(pid);
  if (found == machine().cgroups.end()) return std::nullopt;
  return found->second;
}

std::optional<std::string> user_name(std::uint32_t uid) {
  std::lock_guard lock(machine().mutex);
  const auto found = machine().users.find(uid);
  if (found == machine().users.end()) return std::nullopt;
  return found->second;
}

std::optional<std::uint32_t> user_id(const std::string& name) {
  std::lock_guard lock(machine().mutex);
  for (const auto& [uid, userName] : machine().users) {
    if (userName == name) return uid;
  }
  return std::nullopt;
}

std::optional<std::string> local_socket_exchange(const std::string& path, std::string_view request,
                                                 std::uint32_t /*timeLimitMs*/,
                                                 std::size_t maxBytes) {
  std::lock_guard lock(machine().mutex);
  machine().localRequests.emplace_back(request);
  const auto found = machine().localServices.find(path);
  if (found == machine().localServices.end() || found->second.size() > maxBytes) {
    return std::nullopt;
  }
  return found->second;
}

std::optional<std::string> process_image_path_limited(std::uint32_t pid, PathText /*text*/) {
  std::lock_guard lock(machine().mutex);
  const auto found = machine().processes.find(pid);
  if (found == machine().processes.end()) return std::nullopt;
  return found->second.limitedPath;
}

std::optional<std::string> service_name(std::uint16_t port, Protocol protocol) {
  std::lock_guard lock(machine().mutex);
  const auto found = machine().services.find({protocol, port});
  if (found == machine().services.end()) return std::nullopt;
  return found->second;
}

std::optional<std::uint16_t> service_port(const std::string& name, Protocol protocol) {
  std::lock_guard lock(machine().mutex);
  for (const auto& [key, service] : machine().services) {
    if (key.first == protocol && service == name) return key.second;
  }
  return std::nullopt;
}

std::optional<PortRange> ephemeral_port_range() {
  std::lock_guard lock(machine().mutex);
  return machine().ephemeralPorts;
}

// The host's own reading of addresses: what the fake stands in for is the tables, not inet_pton.
std::optional<IpAddress> ip_address_from_text(const std::string& text) {
  IpAddress address{kFamilyIpv4, {}};
  if (inet_pton(AF_INET, text.c_str(), address.bytes.data()) == 1) return address;
  address.family = kFamilyIpv6;
  if (inet_pton(AF_INET6, text.c_str(), address.bytes.data()) == 1) return address;
  return std::nullopt;
}

std::optional<std::string> query_ptr_first_name(const char* queryName) {
  const std::string name = queryName;
  if (machine().onDnsQuery) machine().onDnsQuery(name);
  std::lock_guard lock(machine().mutex);
  machine().dnsQueries.push_back(name);
  const auto found = machine().ptrAnswers.find(name);
  if (found == machine().ptrAnswers.end()) return std::nullopt;
  return found->second;
}

std::size_t read_profile_string(const char* section, const char* key, const char* defaultText,
                                std::span<char> buffer, const char* file) {
  std::lock_guard lock(machine().mutex);
  const auto found = machine().files.find(file);
  std::string_view text;
  if (found != machine().files.end()) text = found->second;
  return ini::read_value(text, section, key, defaultText, buffer);
}

bool write_profile_string(const char* section, const char* key, const char* value,
                          const char* file) {
  std::lock_guard lock(machine().mutex);
  std::string& text = machine().files[file];
  text = ini::write_value(text, section, key, value);
  return true;
}

void* allocate_zeroed(std::size_t bytes) {
  {
    std::lock_guard lock(machine().mutex);
    if (machine().failAllocation) return nullptr;
  }
  return std::calloc(1, bytes);
}

void release(void* block) { std::free(block); }

std::optional<ThreadHandle> start_thread(void (*routine)(void*), void* argument) {
  {
    std::lock_guard lock(machine().mutex);
    if (machine().failThreadStart) return std::nullopt;
    ++machine().threadStarts;
  }
  auto* thread = new std::thread(routine, argument);
  if (machine().onThreadStarted) machine().onThreadStarted();
  return ThreadHandle{reinterpret_cast<std::uintptr_t>(thread)};
}

void wait_thread(ThreadHandle thread) {
  auto* running = reinterpret_cast<std::thread*>(thread.value);
  running->join();
  delete running;
}

void sleep_ms(std::uint32_t milliseconds) {
  {
    std::lock_guard lock(machine().mutex);
    machine().sleeps.push_back(milliseconds);
  }
  if (machine().onSleep) {
    machine().onSleep(milliseconds);
  } else {
    // Passes of the fake collector follow each other quickly but not in a busy loop.
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void yield() { std::this_thread::yield(); }

LocalDate local_date() {
  std::lock_guard lock(machine().mutex);
  return machine().date;
}

std::string month_name(int month) { return english_month_name(month); }

}  // namespace os
