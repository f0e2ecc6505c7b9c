// The harness's view of the plug-in: its exports by name, and the scenarios it can play.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace harness {

struct Plugin {
  HMODULE module;
  std::int32_t(__stdcall* dlltype)();
  std::int32_t(__stdcall* dllstartup)(std::uintptr_t hostWindow, std::int32_t ignored);
  std::int32_t(__stdcall* dllshutdown)(std::int32_t ignored);
  const char*(__stdcall* getinfo)(std::int32_t index);
  const char*(__stdcall* init)();
  const char*(__stdcall* getparam)(std::int32_t ignored);
  std::int32_t(__stdcall* configure)();
  std::int32_t(__stdcall* source_configure)(std::int32_t instance, const char* function);
  std::int32_t(__stdcall* pastemeter)(std::int32_t source, std::int32_t destination);
  std::int32_t(__stdcall* src_load_settings)(std::int32_t instance, const char* file,
                                             const char* section);
  std::int32_t(__stdcall* src_save_settings)(std::int32_t instance, const char* file,
                                             const char* section);
  const char*(__stdcall* ListPorts)(std::int32_t instance);
};

// Loads the DLL by name (exits with status 2 when it or an export cannot be found).
Plugin load_plugin(const char* path = "Quorvane.dll");

// One check, written as Wine's own tests write theirs: ok(got == 1, "dlltype: got %d", got).
// A failure is counted and printed with the file and line of the check; the condition comes back.
#define ok(condition, ...) ::harness::check_at(__FILE__, __LINE__, (condition), __VA_ARGS__)
bool check_at(const char* file, int line, bool condition, const char* format, ...)
    __attribute__((format(__MINGW_PRINTF_FORMAT, 4, 5)));
extern int failures;

// A file name made absolute (the profile service looks for bare names in the Windows folder).
std::string full_path(const char* name);
// A file's bytes, empty when it cannot be read.
std::string file_contents(const std::string& path);

struct Scenario {
  const char* name;
  int (*run)(int argc, char** argv);
};

// Every scenario, from the scenario files of this folder.
const std::vector<Scenario>& scenarios();

}  // namespace harness
