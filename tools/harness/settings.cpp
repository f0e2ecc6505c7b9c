// Scenario "settings": two instances load settings from a profile file (awkward values, and a
// missing section), save them to a new file, and the file is exactly the expected one; loading
// that file back and saving again gives the same file.
// Usage: harness settings AWKWARD.ini SAVED.ini EXPECTED.ini
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "harness.hpp"
#include "scenarios.hpp"

namespace harness {

namespace {

std::string full_path(const char* name) {
  char path[MAX_PATH];
  const DWORD length = GetFullPathNameA(name, sizeof path, path, nullptr);
  return length > 0 && length < sizeof path ? std::string(path) : std::string(name);
}

std::string contents(const std::string& file) {
  std::ostringstream text;
  text << std::ifstream(file, std::ios::binary).rdbuf();
  return text.str();
}

void save_both(const Plugin& plugin, const std::string& file) {
  DeleteFileA(file.c_str());
  ok(plugin.src_save_settings(1, file.c_str(), "Meter 1") == 0, "src_save_settings(1) is 0");
  ok(plugin.src_save_settings(2, file.c_str(), "Meter 2") == 0, "src_save_settings(2) is 0");
}

}  // namespace

int settings(int argc, char** argv) {
  if (argc != 3) {
    std::printf("usage: harness settings AWKWARD.ini SAVED.ini EXPECTED.ini\n");
    return 2;
  }
  const std::string awkward = full_path(argv[0]);
  const std::string saved = full_path(argv[1]);
  const std::string expected = contents(full_path(argv[2]));
  ok(!expected.empty(), "the expected file can be read");

  const Plugin plugin = load_plugin();
  ok(plugin.dllstartup(0, 0) == 1, "first instance is 1");
  ok(plugin.dllstartup(0, 0) == 2, "second instance is 2");
  ok(plugin.src_load_settings(1, awkward.c_str(), "Awkward") == 0, "src_load_settings(1) is 0");
  ok(plugin.src_load_settings(2, awkward.c_str(), "No Such Section") == 0,
     "src_load_settings(2) is 0");
  save_both(plugin, saved);
  const std::string written = contents(saved);
  if (!ok(written == expected, "the saved file is exactly the expected one")) {
    std::printf("saved:\n%s\nexpected:\n%s\n", written.c_str(), expected.c_str());
  }

  // Through the real profile service and back: nothing may change on the way.
  ok(plugin.src_load_settings(1, saved.c_str(), "meter 1") == 0, "reload of instance 1 is 0");
  ok(plugin.src_load_settings(2, saved.c_str(), "METER 2") == 0, "reload of instance 2 is 0");
  save_both(plugin, saved);
  ok(contents(saved) == expected, "saving the reloaded settings gives the same file");

  ok(plugin.dllshutdown(0) == 0, "dllshutdown is 0");
  ok(FreeLibrary(plugin.module) != 0, "FreeLibrary");
  return 0;
}

}  // namespace harness
