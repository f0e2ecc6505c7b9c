// Stands in for the meter host: loads Quorvane.dll by name, finds its exports by name, and plays
// host scenarios, checking what comes back. Usage: harness SCENARIO [ARGS...]
#include "harness.hpp"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace harness {

int failures = 0;

bool check_at(const char* file, int line, bool condition, const char* format, ...) {
  if (condition) return true;
  ++failures;
  const char* name = file;
  for (const char* c = file; *c != '\0'; ++c) {
    if (*c == '/' || *c == '\\') name = c + 1;
  }
  std::printf("FAIL %s:%d: ", name, line);
  va_list arguments;
  va_start(arguments, format);
  std::vprintf(format, arguments);
  va_end(arguments);
  std::printf("\n");
  std::fflush(stdout);
  return false;
}

std::string full_path(const char* name) {
  char path[MAX_PATH];
  const DWORD length = GetFullPathNameA(name, sizeof path, path, nullptr);
  return length > 0 && length < sizeof path ? std::string(path) : std::string(name);
}

std::string file_contents(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

// Without the plug-in nothing can be checked: the run ends here, its output flushed first since
// ExitProcess (unlike std::exit, which is not thread-safe) leaves stdio's buffers as they are.
[[noreturn]] void end_run() {
  std::fflush(stdout);
  ExitProcess(2);
}

Plugin load_plugin(const char* path) {
  Plugin plugin{};
  plugin.module = LoadLibraryA(path);
  if (plugin.module == nullptr) {
    std::printf("FAIL: LoadLibrary(%s) error %lu\n", path, GetLastError());
    end_run();
  }
  const auto find = [&](auto& slot, const char* name) {
    slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(
        reinterpret_cast<void*>(GetProcAddress(plugin.module, name)));
    if (slot == nullptr) {
      std::printf("FAIL: export %s not found\n", name);
      end_run();
    }
  };
  find(plugin.dlltype, "dlltype");
  find(plugin.dllstartup, "dllstartup");
  find(plugin.dllshutdown, "dllshutdown");
  find(plugin.getinfo, "getinfo");
  find(plugin.init, "init");
  find(plugin.getparam, "getparam");
  find(plugin.configure, "configure");
  find(plugin.source_configure, "source_configure");
  find(plugin.pastemeter, "pastemeter");
  find(plugin.src_load_settings, "src_load_settings");
  find(plugin.src_save_settings, "src_save_settings");
  find(plugin.ListPorts, "ListPorts");
  return plugin;
}

}  // namespace harness

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: harness SCENARIO [ARGS...]\n");
    return 2;
  }
  for (const auto& scenario : harness::scenarios()) {
    if (std::strcmp(argv[1], scenario.name) == 0) {
      const int status = scenario.run(argc - 2, argv + 2);
      if (status != 0 || harness::failures != 0) {
        std::printf("%s: %d check(s) failed\n", scenario.name, harness::failures);
        return 1;
      }
      std::printf("%s: all checks passed\n", scenario.name);
      return 0;
    }
  }
  std::fprintf(stderr, "harness: unknown scenario %s\n", argv[1]);
  return 2;
}
