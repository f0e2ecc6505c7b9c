// Windows: the IPv4 endpoint tables with owning process ids. Windows XP offers them through
// AllocateAndGet*ExTableFromStack, which later Windows (and Wine, for UDP) lacks; GetExtended*Table
// gives the same rows from XP SP2 on. Both are bound at run time, so the DLL loads everywhere.
#include <utility>

#include "os/os.hpp"
#include "os/win32/ip_helper.hpp"

namespace os {

namespace win32 {

namespace {

template <typename Function>
Function bound(HMODULE module, const char* name) {
  return module == nullptr
             ? nullptr
             : reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

const IpHelper& ip_helper() {
  // Loaded on first use from the collector's thread, never in DllMain; kept for the process.
  static const IpHelper functions = [] {
    const HMODULE module = LoadLibraryA("iphlpapi.dll");
    return IpHelper{
        bound<AllocateAndGetTable>(module, "AllocateAndGetTcpExTableFromStack"),
        bound<AllocateAndGetTable>(module, "AllocateAndGetUdpExTableFromStack"),
        bound<GetExtendedTable>(module, "GetExtendedTcpTable"),
        bound<GetExtendedTable>(module, "GetExtendedUdpTable"),
        bound<GetTcpEStats>(module, "GetPerTcpConnectionEStats"),
        bound<GetTcp6EStats>(module, "GetPerTcp6ConnectionEStats"),
        bound<SetTcpEStats>(module, "SetPerTcpConnectionEStats"),
        bound<SetTcp6EStats>(module, "SetPerTcp6ConnectionEStats"),
    };
  }();
  return functions;
}

std::optional<TableBuffer> extended_table(GetExtendedTable get, ULONG family, int tableClass,
                                          std::size_t rowBytes) {
  std::vector<DWORD> buffer(1);
  for (int attempt = 0; attempt < 16; ++attempt) {
    auto bytes = static_cast<DWORD>(buffer.size() * sizeof(DWORD));
    const DWORD status = get(buffer.data(), &bytes, FALSE, family, tableClass, 0);
    if (status == NO_ERROR) return TableBuffer{std::move(buffer), bytes};
    if (status != ERROR_INSUFFICIENT_BUFFER) return std::nullopt;
    // Room for what was asked and for a few endpoints more that may appear meanwhile.
    buffer.resize(bytes / sizeof(DWORD) + 16 * rowBytes / sizeof(DWORD) + 1);
  }
  return std::nullopt;
}

}  // namespace win32

namespace {

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
  [[nodiscard]] const void* get() const { return table_; }

 private:
  PVOID table_ = nullptr;
};

template <typename Row>
std::optional<std::vector<Row>> allocated_table(win32::AllocateAndGetTable allocate) {
  HeapTable table;
  if (allocate(table.receiver(), FALSE, GetProcessHeap(), 0, AF_INET) != NO_ERROR ||
      table.get() == nullptr) {
    return std::nullopt;
  }
  // The heap knows the block's size; the rows must lie within it.
  const SIZE_T bytes = HeapSize(GetProcessHeap(), 0, table.get());
  return bytes == static_cast<SIZE_T>(-1) ? std::nullopt : win32::rows_of<Row>(table.get(), bytes);
}

}  // namespace

static_assert(sizeof(TcpRow) == sizeof(MIB_TCPROW_OWNER_PID));
static_assert(sizeof(UdpRow) == sizeof(MIB_UDPROW_OWNER_PID));

std::optional<std::vector<TcpRow>> tcp_table() {
  const win32::IpHelper& ip = win32::ip_helper();
  if (ip.allocateTcp != nullptr) return allocated_table<TcpRow>(ip.allocateTcp);
  return win32::extended_rows<TcpRow>(ip.extendedTcp, AF_INET, TCP_TABLE_OWNER_PID_ALL);
}

std::optional<std::vector<UdpRow>> udp_table() {
  const win32::IpHelper& ip = win32::ip_helper();
  if (ip.allocateUdp != nullptr) return allocated_table<UdpRow>(ip.allocateUdp);
  return win32::extended_rows<UdpRow>(ip.extendedUdp, AF_INET, UDP_TABLE_OWNER_PID);
}

}  // namespace os
