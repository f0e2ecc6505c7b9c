// The platform seam: everything the engine asks of the operating system, as plain functions.
// Each platform supplies one implementation (os/win32, os/linux); unit tests link a fake instead.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace os {

// Endpoint rows exactly as the IP Helper tables deliver them: each address holds its four octets
// in network order (first octet in the first byte); each port field holds the 16-bit port in
// network byte order in its first two bytes.
struct TcpRow {
  std::uint32_t state;
  std::uint32_t localAddress;
  std::uint32_t localPort;
  std::uint32_t remoteAddress;
  std::uint32_t remotePort;
  std::uint32_t owningPid;
};

struct UdpRow {
  std::uint32_t localAddress;
  std::uint32_t localPort;
  std::uint32_t owningPid;
};

// The machine's IPv4 endpoints, unsorted, in the system's order; nullopt when the request fails.
std::optional<std::vector<TcpRow>> tcp_table();
std::optional<std::vector<UdpRow>> udp_table();

// The words of every socket row, named once for the whole program. The numbers are the system's
// connection-table numbers, which the meter shows and its settings store.
enum class Protocol : std::int32_t { tcp = 1, udp = 2 };

// TCP states as the IP Helper's MIB numbers them; none for a socket without state (UDP).
enum class TcpState : std::uint32_t {
  none = 0,
  closed = 1,
  listen = 2,
  synSent = 3,
  synReceived = 4,
  established = 5,
  finWait1 = 6,
  finWait2 = 7,
  closeWait = 8,
  closing = 9,
  lastAck = 10,
  timeWait = 11,
  deleteTcb = 12,
};
// Arrays and sets indexed by a state's number hold this many slots (none included).
inline constexpr std::size_t kTcpStateCount = 13;

constexpr std::size_t state_index(TcpState state) { return static_cast<std::size_t>(state); }

inline constexpr std::uint8_t kFamilyIpv4 = 4;
inline constexpr std::uint8_t kFamilyIpv6 = 6;

// A TCP connection's counters and round-trip figures as its kernel keeps them, each nullopt where
// this kernel or platform does not say. Round trips are in microseconds, the kernel's own unit.
struct TcpTraffic {
  std::optional<std::uint64_t> bytesSent;  // data bytes sent, retransmissions included
  std::optional<std::uint64_t> bytesReceived;
  std::optional<std::uint64_t> bytesRetrans;
  std::optional<std::uint32_t> retransmits;  // segments retransmitted over the connection's life
  std::optional<std::uint32_t> rttUs;
  std::optional<std::uint32_t> rttVarUs;
  std::optional<std::uint32_t> minRttUs;
  std::optional<std::uint32_t> cwnd;          // segments
  std::optional<std::uint64_t> deliveryRate;  // bytes per second
};

// One end of a socket: the address in network order (an IPv4 address in the first four bytes,
// the rest zero) and the port in host order.
struct SocketEnd {
  std::array<std::uint8_t, 16> address;
  std::uint16_t port;
};

// The command's view: every TCP and UDP endpoint of either family, owner included.
struct SocketRow {
  Protocol protocol;
  std::uint8_t family;  // kFamilyIpv4 or kFamilyIpv6
  bool ipv6Only;        // an IPv6 socket that refuses IPv4 peers (IPV6_V6ONLY)
  SocketEnd local;
  SocketEnd remote;  // all zero, with port 0: not connected
  TcpState tcpState;
  std::uint32_t owningPid;  // 0 when no process visible here holds the socket
  // Bytes waiting to be read and to be acknowledged; for a listener the connections waiting to
  // be accepted and the limit of that queue, as ss shows them. nullopt where not known.
  std::optional<std::uint32_t> recvQueue = std::nullopt;
  std::optional<std::uint32_t> sendQueue = std::nullopt;
  // Asked for (SocketKinds::traffic) and reported by the kernel: TCP only, not in time-wait.
  std::optional<TcpTraffic> traffic = std::nullopt;
  // Every process visible here that holds the socket (a forked server's parent and children),
  // ascending; owningPid is the first. Empty when none is.
  std::vector<std::uint32_t> owningPids{};
  // Tells apart sockets on the same addresses (SO_REUSEPORT listeners, sockets bound to different
  // devices): the kernel's socket cookie, the socket's inode where only that is to be had, or the
  // owner's pid where the platform names sockets by nothing else; 0 when unknown.
  std::uint64_t identity = 0;
  // The device a scoped address or SO_BINDTODEVICE ties the socket to, by index (0: none) and by
  // name ("lo"; empty when none, or when the device has gone since).
  std::uint32_t interfaceIndex = 0;
  std::string interfaceName{};
  // The network namespace the socket lives in, filled in by namespace_socket_table only: its
  // inode, and its name under /run/netns or /run/docker/netns (empty when it has none).
  std::uint64_t netnsInode = 0;
  std::string netnsName{};
  // The user the socket belongs to (Linux: its creator's uid); nullopt where the platform does
  // not say.
  std::optional<std::uint32_t> ownerUid = std::nullopt;
};

// Which endpoints to ask for; the platform skips the requests that are not wanted.
struct SocketKinds {
  bool tcp = true;
  bool udp = true;
  bool ipv4 = true;
  bool ipv6 = true;
  bool traffic = false;  // each TCP socket's counters too, which costs a larger dump
};

// The machine's endpoints of the wanted kinds, TCP before UDP, IPv4 before IPv6 within each;
// nullopt when no table at all could be read. A platform may remember owners between calls, so
// that a repeated call costs less than the first.
std::optional<std::vector<SocketRow>> socket_table(SocketKinds kinds);

// Why the last socket_table call could not give the counters it was asked for, in a few words
// for the user; empty when nothing stood in the way. Windows keeps them only for connections
// whose statistics an elevated process switched on.
std::string_view traffic_notice();
// Which network namespaces a table covers: every one the machine has, or the namespace files
// that find_network_namespace gave (each read once, however many of them name it).
struct NamespaceScope {
  bool every = false;
  std::vector<std::string> files;
};

// The namespaces of the scope that could not be read (not entered, or gone), and why the first of
// them could not, in the system's words.
struct NamespaceShortfall {
  std::size_t count = 0;
  std::string reason;
};

// socket_table over the scope's namespaces, each row carrying its namespace, the owners found in
// one pass for all of them; nullopt when no namespace at all could be read. The calling thread
// stays in its own namespace. A platform without namespaces reads its one table.
std::optional<std::vector<SocketRow>> namespace_socket_table(SocketKinds kinds,
                                                             const NamespaceScope& scope,
                                                             NamespaceShortfall& shortfall);

// The namespace file named by a value as ss -N and ip netns exec take it: a name under
// /run/netns, the path of a namespace file, or a process id whose namespace to read. nullopt,
// with the reason in one line, when it names no network namespace (or the platform has none).
std::optional<std::string> find_network_namespace(const std::string& value, std::string& reason);

// A process opened with query-information and read-memory rights.
struct ProcessHandle {
  std::uintptr_t value;
};

std::optional<ProcessHandle> open_process(std::uint32_t pid);
// Whether the process's module list can be read (the executable's path is only asked then).
bool process_modules_readable(ProcessHandle process);
// The text a process's path comes in. Windows: ansi is the system's ANSI code page, which the
// meter's host reads; utf8 is converted from the system's wide path functions, for the command.
// Linux hands over the bytes the file system holds (UTF-8 by convention) whichever is asked.
enum class PathText { ansi, utf8 };
// Full path of the process's executable as `text`, cut to the buffer (in UTF-8 at a whole
// character) and NUL-terminated; returns the number of bytes stored, 0 on failure.
std::size_t process_executable_path(ProcessHandle process, std::span<char> buffer,
                                    PathText text = PathText::ansi);
void close_process(ProcessHandle process);
// The executable's full path as `text` through the limited query right, for processes whose
// module list is out of reach (another bitness, protected); nullopt where that is not to be had.
std::optional<std::string> process_image_path_limited(std::uint32_t pid,
                                                      PathText text = PathText::ansi);
// The name the system gives the process besides its executable's (Linux: comm, as ps and ss show
// it); empty where the platform has none or the process has gone.
std::string process_name(std::uint32_t pid);

// The control groups a process belongs to, as the system lists them (Linux: /proc/PID/cgroup),
// which name its service unit and container; nullopt where the process has gone or the platform
// has none.
std::optional<std::string> process_cgroups(std::uint32_t pid);
// A user's name by uid, and a uid by name, from the system's user database; nullopt where there
// is no such user (or, on Windows, no such database).
std::optional<std::string> user_name(std::uint32_t uid);
std::optional<std::uint32_t> user_id(const std::string& name);

// One request to a local service listening on a unix stream socket (a container runtime's API):
// connects to path, sends request and reads until the service closes the connection. nullopt
// when nothing listens there, the exchange fails, the answer exceeds maxBytes or timeLimitMs
// passes first.
std::optional<std::string> local_socket_exchange(const std::string& path, std::string_view request,
                                                 std::uint32_t timeLimitMs, std::size_t maxBytes);

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
inline constexpr bool kNetworkNamespaces = false;  // one network stack for the machine
#else
inline constexpr char kPathSeparator = '/';
inline constexpr bool kNetworkNamespaces = true;
#endif

// Host names come as the resolver gives them: ANSI text on Windows (DnsQuery_A), on Linux the
// answer's name with anything but printable ASCII escaped as \DDD; either way ASCII in practice.

// Reverse name query (PTR) through the system's resolver and its cache: the name carried by the
// first record of the answer; nullopt when the query did not succeed.
std::optional<std::string> query_ptr_first_name(const char* queryName);

// Many reverse name look-ups at once, for the command, in the system's order of sources where it
// has one (Linux: /etc/hosts and the other NSS sources, then DNS): at most `parallel` run at the
// same time, and the call returns when every one has been answered or timeLimit has passed,
// whichever is first. Each result is the name of the first record of the answer, or nullopt when
// the query failed or is still running. A query still running goes on after the call; its outcome
// is kept with the others in the resolver's cache, so a later call with the same name gets it at
// once, and a name already in flight is never asked twice.
std::vector<std::optional<std::string>> query_ptr_names(std::span<const std::string> queryNames,
                                                        std::size_t parallel,
                                                        std::uint32_t timeLimitMs);

// The services database (/etc/services and the other NSS sources on Linux, the system's services
// file on Windows): the name it gives a port of the protocol, and the port it gives a name;
// nullopt when it has none.
std::optional<std::string> service_name(std::uint16_t port, Protocol protocol);
std::optional<std::uint16_t> service_port(const std::string& name, Protocol protocol);

// The range the system takes local ports from for outgoing connections, both ends included.
struct PortRange {
  std::uint16_t first;
  std::uint16_t last;
};
// Linux: this network namespace's ip_local_port_range; nullopt when it cannot be read.
std::optional<PortRange> ephemeral_port_range();

// An address as a user writes it ("127.0.0.1", "::1", "fe80::1"), read by the system's inet_pton;
// nullopt when it is neither family's.
struct IpAddress {
  std::uint8_t family;                 // kFamilyIpv4 or kFamilyIpv6
  std::array<std::uint8_t, 16> bytes;  // network order; IPv4 in the first four
};
std::optional<IpAddress> ip_address_from_text(const std::string& text);

// The profile service of the host's settings file. Reading stores the value (or the default
// text) cut to the buffer, NUL-terminated, and returns the number of characters stored.
std::size_t read_profile_string(const char* section, const char* key, const char* defaultText,
                                std::span<char> buffer, const char* file);
// Creates the file, section or key as needed; false when the file could not be written.
bool write_profile_string(const char* section, const char* key, const char* value,
                          const char* file);

// Zero-filled memory from the process heap; nullptr when none is to be had.
void* allocate_zeroed(std::size_t bytes);
void release(void* block);

struct ThreadHandle {
  std::uintptr_t value;
};

// nullopt when the platform refuses a new thread.
std::optional<ThreadHandle> start_thread(void (*routine)(void*), void* argument);
// Waits without a time limit for the thread to end, then releases its handle.
void wait_thread(ThreadHandle thread);
void sleep_ms(std::uint32_t milliseconds);
// Gives up the rest of this time slice.
void yield();

struct LocalDate {
  int year;
  int month;  // 1 to 12
  int day;
};

LocalDate local_date();
// The full name of a month (1 to 12) in the user's language as ANSI text (the host shows it), at
// most 19 characters; empty when the locale service fails. Linux names it in English.
std::string month_name(int month);

}  // namespace os
