// Scenario "odd-settings": the settings exports on settings files a desktop may really hold, under
// the real profile service: read-only, a folder, in a missing folder, 50 MB, binary junk, no final
// line break, CRLF. Every call returns 0, the other settings in the file survive a save, and what
// a load gives is seen through a save of it into a fresh file.
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "harness.hpp"
#include "scenarios.hpp"

namespace harness {

namespace {

std::string file_text(const std::string& file) {
  std::ostringstream text;
  text << std::ifstream(file, std::ios::binary).rdbuf();
  return text.str();
}

void put(const std::string& file, const std::string& text) {
  std::ofstream(file, std::ios::binary) << text;
}

std::string other_value(const std::string& file) {
  char value[64];
  GetPrivateProfileStringA("Other", "k", "(missing)", value, sizeof value, file.c_str());
  return value;
}

// Instance 1 holds distinctive settings; instance 2 is loaded from the odd file; both are saved
// into fresh files so that what instance 2 holds can be compared.
struct Meters {
  const Plugin& plugin;
  std::string folder;

  std::string saved(std::int32_t instance, const char* name) const {
    const std::string file = folder + "\\" + name;
    DeleteFileA(file.c_str());
    ok(plugin.src_save_settings(instance, file.c_str(), "Meter") == 0, "save into a fresh file");
    return file_text(file);
  }
};

struct OddFile {
  const char* what;
  std::string name;
  std::string text;  // written before the calls unless empty
  bool readOnly;
  bool loads;      // loading it gives instance 1's settings (else the defaults)
  bool otherKept;  // it holds [Other] k=v, which a save must keep
};

}  // namespace

int odd_settings(int, char**) {
  char current[MAX_PATH];
  GetCurrentDirectoryA(sizeof current, current);
  const std::string folder = std::string(current) + "\\odd-settings";
  CreateDirectoryA(folder.c_str(), nullptr);

  const Plugin plugin = load_plugin();
  ok(plugin.dllstartup(0, 0) == 1, "first instance is 1");
  ok(plugin.dllstartup(0, 0) == 2, "second instance is 2");
  ok(plugin.dllstartup(0, 0) == 3, "third instance is 3");
  const std::string ours =
      "[Meter]\r\nSot=42\r\nTemplate=\" %lip:%lpt \"\r\nfltL=10000000001\r\nfltH=10000000099\r\n"
      "fltE=1\r\nflt0=1\r\nzero=1\r\n";
  put(folder + "\\ours.ini", ours);
  ok(plugin.src_load_settings(1, (folder + "\\ours.ini").c_str(), "Meter") == 0, "load ours");
  ok(plugin.src_load_settings(3, (folder + "\\none.ini").c_str(), "Meter") == 0, "load defaults");
  const Meters meters{plugin, folder};
  const std::string distinct = meters.saved(1, "expected-1.ini");
  const std::string defaults = meters.saved(3, "expected-defaults.ini");

  std::mt19937 random(7);
  std::string junk(4096, '\0');
  for (char& c : junk) c = static_cast<char>(random());
  const std::string other = "[Other]\r\nk=v\r\n";
  const OddFile files[] = {
      {"read-only", "readonly.ini", ours + other, true, true, true},
      {"a folder", "folder.ini", "", false, false, false},
      {"in a missing folder", "no\\such\\settings.ini", "", false, false, false},
      {"50 MB", "huge.ini", ours + other + std::string(50 << 20, ';') + "\r\n", false, true, true},
      {"binary junk", "junk.ini", junk + "\r\n" + other + ours + junk, false, true, true},
      {"no final line break", "nobreak.ini", "[Other]\nk=v\n[Meter]\nSot=7", false, true, true},
      {"CRLF", "crlf.ini", "; note\r\n[Meter]\r\nzero=5\r\n\r\n" + other, false, true, true},
  };
  CreateDirectoryA((folder + "\\folder.ini").c_str(), nullptr);
  for (const OddFile& odd : files) {
    std::printf("odd-settings: %s\n", odd.what);
    const std::string file = folder + "\\" + odd.name;
    if (!odd.text.empty()) {
      SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
      put(file, odd.text);
      if (odd.readOnly) SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY);
    }
    ok(plugin.src_save_settings(1, file.c_str(), "Meter") == 0, "src_save_settings is 0");
    if (odd.readOnly) ok(file_text(file) == odd.text, "a read-only file stays as it was");
    if (odd.otherKept) ok(other_value(file) == "v", "the other section's value is kept");
    ok(plugin.src_load_settings(2, file.c_str(), "Meter") == 0, "src_load_settings is 0");
    const std::string loaded = meters.saved(2, "loaded.ini");
    ok(loaded == (odd.loads ? distinct : defaults), "load gives the saved settings or defaults");
  }
  const DWORD folderAttributes = GetFileAttributesA((folder + "\\folder.ini").c_str());
  ok(folderAttributes != INVALID_FILE_ATTRIBUTES &&
         (folderAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
     "the folder is still a folder");
  ok(GetFileAttributesA((folder + "\\no").c_str()) == INVALID_FILE_ATTRIBUTES,
     "no missing folder was made");

  DeleteFileA((folder + "\\huge.ini").c_str());  // 50 MB need not stay in the build folder

  ok(plugin.dllshutdown(0) == 0, "dllshutdown is 0");
  ok(FreeLibrary(plugin.module) != 0, "FreeLibrary");
  return 0;
}

}  // namespace harness
