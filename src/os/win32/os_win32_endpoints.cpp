// Windows: the IPv4 endpoint tables with owning process ids. Windows XP offers them through
// AllocateAndGet*ExTableFromStack, which later Windows (and Wine, for UDP) lacks; GetExtended*Table
// gives the same rows from XP SP2 on. Both are bound at run time, so the DLL loads everywhere.
// Order matters: winsock2 before windows, both before the IP Helper.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
// clang-format on

#include <cstring>

#include "os/os.hpp"

namespace os {

namespace {

using AllocateAndGetTable = DWORD(WINAPI*)(PVOID* table, BOOL sort, HANDLE heap, DWORD flags,
                                           DWORD family);
using GetExtendedTable = DWORD(WINAPI*)(PVOID table, PDWORD bytes, BOOL sort, ULONG family,
                                        int tableClass, ULONG reserved);

struct IpHelper {
  AllocateAndGetTable allocateTcp;
  AllocateAndGetTable allocateUdp;
  GetExtendedTable extendedTcp;
  GetExtendedTable extendedUdp;
};

template <typename Function>
Function bound(HMODULE module, const char* name) {
  return module == nullptr
             ? nullptr
             : reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

const IpHelper& ip_helper() {
  // Loaded on first use from the collector's thread, never in DllMain; kept for the process.
  static const IpHelper functions = [] {
    const HMODULE module = LoadLibraryA("iphlpapi.dll");
    return IpHelper{
        bound<AllocateAndGetTable>(module, "AllocateAndGetTcpExTableFromStack"),
        bound<AllocateAndGetTable>(module, "AllocateAndGetUdpExTableFromStack"),
        bound<GetExtendedTable>(module, "GetExtendedTcpTable"),
        bound<GetExtendedTable>(module, "GetExtendedUdpTable"),
    };
  }();
  return functions;
}

// A table the IP Helper allocated on the process heap, given back on every way out.
class HeapTable {
 public:
  HeapTable() = default;
  ~HeapTable() {
    if (table_ != nullptr) HeapFree(GetProcessHeap(), 0, table_);
  }
  HeapTable(const HeapTable&) = delete;
  HeapTable& operator=(const HeapTable&) = delete;
  PVOID* receiver() { return &table_; }
  const void* get() const { return table_; }

 private:
  PVOID table_ = nullptr;
};

// The rows of a table laid out as a 32-bit count and then the rows, checked against its size.
template <typename Row>
std::optional<std::vector<Row>> rows_of(const void* table, std::size_t bytes) {
  DWORD count;
  if (bytes < sizeof count) return std::nullopt;
  std::memcpy(&count, table, sizeof count);
  if (count > (bytes - sizeof count) / sizeof(Row)) return std::nullopt;
  std::vector<Row> rows(count);
  if (count != 0)
    std::memcpy(rows.data(), static_cast<const char*>(table) + sizeof count, count * sizeof(Row));
  return rows;
}

template <typename Row>
std::optional<std::vector<Row>> allocated_table(AllocateAndGetTable allocate) {
  HeapTable table;
  if (allocate(table.receiver(), FALSE, GetProcessHeap(), 0, AF_INET) != NO_ERROR ||
      table.get() == nullptr) {
    return std::nullopt;
  }
  // The heap knows the block's size; the rows must lie within it.
  const SIZE_T bytes = HeapSize(GetProcessHeap(), 0, table.get());
  return bytes == static_cast<SIZE_T>(-1) ? std::nullopt : rows_of<Row>(table.get(), bytes);
}

// Asks for the size, then for the table, again with more room while the table keeps growing
// between the two calls.
template <typename Row>
std::optional<std::vector<Row>> extended_table(GetExtendedTable get, int tableClass) {
  std::vector<DWORD> buffer(1);
  for (int attempt = 0; attempt < 16; ++attempt) {
    DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(DWORD));
    const DWORD status = get(buffer.data(), &bytes, FALSE, AF_INET, tableClass, 0);
    if (status == NO_ERROR) return rows_of<Row>(buffer.data(), bytes);
    if (status != ERROR_INSUFFICIENT_BUFFER) return std::nullopt;
    // Room for what was asked and for a few endpoints more that may appear meanwhile.
    buffer.resize(bytes / sizeof(DWORD) + 16 * sizeof(Row) / sizeof(DWORD) + 1);
  }
  return std::nullopt;
}

}  // namespace

static_assert(sizeof(TcpRow) == sizeof(MIB_TCPROW_OWNER_PID));
static_assert(sizeof(UdpRow) == sizeof(MIB_UDPROW_OWNER_PID));

std::optional<std::vector<TcpRow>> tcp_table() {
  const IpHelper& ip = ip_helper();
  if (ip.allocateTcp != nullptr) return allocated_table<TcpRow>(ip.allocateTcp);
  if (ip.extendedTcp != nullptr)
    return extended_table<TcpRow>(ip.extendedTcp, TCP_TABLE_OWNER_PID_ALL);
  return std::nullopt;
}

std::optional<std::vector<UdpRow>> udp_table() {
  const IpHelper& ip = ip_helper();
  if (ip.allocateUdp != nullptr) return allocated_table<UdpRow>(ip.allocateUdp);
  if (ip.extendedUdp != nullptr) return extended_table<UdpRow>(ip.extendedUdp, UDP_TABLE_OWNER_PID);
  return std::nullopt;
}

}  // namespace os
