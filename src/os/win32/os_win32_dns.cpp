// Windows: reverse (PTR) queries through the DNS Client, whose cache answers repeated addresses.
// Order matters: winsock2 before windows, both before the DNS API.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <windns.h>
// clang-format on

#include <memory>

#include "os/os.hpp"

namespace os {

namespace {

struct RecordListFree {
  void operator()(DNS_RECORDA* list) const {
    DnsRecordListFree(reinterpret_cast<PDNS_RECORD>(list), DnsFreeRecordList);
  }
};

}  // namespace

std::optional<std::string> query_ptr_first_name(const char* queryName) {
  DNS_RECORDA* list = nullptr;
  const DNS_STATUS status = DnsQuery_A(queryName, DNS_TYPE_PTR, DNS_QUERY_STANDARD, nullptr,
                                       reinterpret_cast<PDNS_RECORD*>(&list), nullptr);
  const std::unique_ptr<DNS_RECORDA, RecordListFree> records(list);
  if (status != 0 || records == nullptr) return std::nullopt;
  // A PTR record carries the host name; a CNAME that leads the list (classless reverse
  // delegation) carries its target in the same place. Wine ends the list with the OPT record.
  if (records->wType != DNS_TYPE_PTR && records->wType != DNS_TYPE_CNAME) return std::nullopt;
  if (records->Data.PTR.pNameHost == nullptr) return std::nullopt;
  return std::string(records->Data.PTR.pNameHost);
}

}  // namespace os
