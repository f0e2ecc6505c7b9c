// The platform seam: everything the engine asks of the operating system, as plain functions.
// Each platform supplies one implementation (os/win32, os/linux); unit tests link a fake instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
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

// A process opened with query-information and read-memory rights.
struct ProcessHandle {
  std::uintptr_t value;
};

std::optional<ProcessHandle> open_process(std::uint32_t pid);
// Whether the process's module list can be read (the executable's path is only asked then).
bool process_modules_readable(ProcessHandle process);
// Full path of the process's executable, cut to the buffer and NUL-terminated; returns the number
// of characters stored, 0 on failure.
std::size_t process_executable_path(ProcessHandle process, std::span<char> buffer);
void close_process(ProcessHandle process);
// The executable's full path through the limited query right, for processes whose module list is
// out of reach (another bitness, protected); nullopt where that is not to be had either.
std::optional<std::string> process_image_path_limited(std::uint32_t pid);

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// Reverse name query (PTR) through the system's resolver and its cache: the name carried by the
// first record of the answer; nullopt when the query did not succeed.
std::optional<std::string> query_ptr_first_name(const char* queryName);

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
// The full name of a month (1 to 12) in the user's language, at most 19 characters; empty when
// the locale service fails.
std::string month_name(int month);

}  // namespace os
