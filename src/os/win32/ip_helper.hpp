// Windows: the IP Helper's endpoint-table functions, bound at run time so that one binary loads on
// every Windows version, and the read of a table whose size is only known by asking.
#pragma once

// Order matters: winsock2 before windows, both before the IP Helper, which declares the IPv6 and
// statistics functions only after ws2ipdef.
// clang-format off
#include <winsock2.h>
#include <ws2ipdef.h>
#include <windows.h>
#include <iphlpapi.h>
#include <tcpestats.h>
// clang-format on

#include <cstddef>
#include <cstring>
#include <optional>
#include <vector>

namespace os::win32 {

using AllocateAndGetTable = DWORD(WINAPI*)(PVOID* table, BOOL sort, HANDLE heap, DWORD flags,
                                           DWORD family);
using GetExtendedTable = DWORD(WINAPI*)(PVOID table, PDWORD bytes, BOOL sort, ULONG family,
                                        int tableClass, ULONG reserved);
using GetTcpEStats = decltype(&GetPerTcpConnectionEStats);
using GetTcp6EStats = decltype(&GetPerTcp6ConnectionEStats);
using SetTcpEStats = decltype(&SetPerTcpConnectionEStats);
using SetTcp6EStats = decltype(&SetPerTcp6ConnectionEStats);

// Any of them may be missing: the XP pair after XP (and in Wine, for UDP), the extended pair
// before XP SP2, the per-connection statistics before Vista (and in Wine).
struct IpHelper {
  AllocateAndGetTable allocateTcp;
  AllocateAndGetTable allocateUdp;
  GetExtendedTable extendedTcp;
  GetExtendedTable extendedUdp;
  GetTcpEStats getTcpEStats;
  GetTcp6EStats getTcp6EStats;
  SetTcpEStats setTcpEStats;
  SetTcp6EStats setTcp6EStats;
};

const IpHelper& ip_helper();

// An extended table as the system wrote it: a 32-bit row count, then the rows.
struct TableBuffer {
  std::vector<DWORD> words;
  std::size_t bytes;
};

// Asks for the size, then for the table, again with more room while the table keeps growing
// between the two calls; nullopt when the request fails.
std::optional<TableBuffer> extended_table(GetExtendedTable get, ULONG family, int tableClass,
                                          std::size_t rowBytes);

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
std::optional<std::vector<Row>> extended_rows(GetExtendedTable get, ULONG family, int tableClass) {
  if (get == nullptr) return std::nullopt;
  const auto table = extended_table(get, family, tableClass, sizeof(Row));
  if (!table) return std::nullopt;
  return rows_of<Row>(table->words.data(), table->bytes);
}

}  // namespace os::win32
