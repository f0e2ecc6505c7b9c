// --serve on Windows: none, since Debian builds the HTTP server library for Linux only.
#include <cstdio>

#include "command/serve.hpp"

namespace qv {

int run_exporter(const Options& /*options*/,
                 const std::optional<os::NamespaceScope>& /*namespaces*/,
                 std::string_view /*version*/,
                 const std::function<void(const os::NamespaceShortfall&)>& /*sayShortfall*/) {
  std::fputs("quorvane: --serve is available on Linux only\n", stderr);
  return 2;
}

}  // namespace qv
