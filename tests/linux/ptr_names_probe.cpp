// Asks the Linux layer for many reverse names at once and prints one line per name, the name
// asked and the answer (empty when there is none yet), then leaves at once, queries still running
// or not. Usage: ptr_names_probe PARALLEL LIMIT_MS [--again] QUERY_NAME...
// --again asks a second time, without waiting, and prints that answer as a third field.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "os/os.hpp"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: ptr_names_probe PARALLEL LIMIT_MS [--again] QUERY_NAME...\n");
    return 2;
  }
  const auto parallel = static_cast<std::size_t>(std::strtoul(argv[1], nullptr, 10));
  const auto limit = static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10));
  int first = 3;
  const bool again = std::strcmp(argv[first], "--again") == 0;
  if (again) ++first;
  const std::vector<std::string> names(argv + first, argv + argc);
  const auto answers = os::query_ptr_names(names, parallel, limit);
  const auto later = again ? os::query_ptr_names(names, parallel, 0) : answers;
  for (std::size_t i = 0; i < names.size(); ++i) {
    std::printf("%s\t%s", names[i].c_str(), answers[i].value_or("").c_str());
    if (again) std::printf("\t%s", later[i].value_or("").c_str());
    std::printf("\n");
  }
  return 0;  // an ordinary exit, static destructors and all, with queries perhaps in flight
}
