// --serve on Windows: none, since Debian builds the HTTP server library for Linux only.
#include <cstdio>

#include "command/serve.hpp"

namespace qv {

int run_exporter(const Options& /*options*/, std::string_view /*version*/) {
  std::fputs("quorvane: --serve is available on Linux only\n", stderr);
  return 2;
}

}  // namespace qv
