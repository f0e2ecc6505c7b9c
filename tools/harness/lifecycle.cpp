// Scenario "lifecycle": the plug-in's whole life as the host drives it, from LoadLibrary to
// FreeLibrary, with two meter instances. Usage: harness lifecycle SETTINGS.ini SAVED.ini
// SETTINGS.ini holds the sections Meter1 and Meter2 (read); SAVED.ini is written anew.
// winsock2.h brings windows.h itself, in the order it needs.
#include <winsock2.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "dialog/filter_output_controls.hpp"
#include "harness.hpp"
#include "scenarios.hpp"
#include "sockets.hpp"

namespace harness {

namespace {

constexpr char kDialogCaption[] = "Filter & Output";
// Bounds for a hung step only: under qemu every step is slow, and a pass takes its time.
constexpr DWORD kPatienceMs = 180000;
constexpr DWORD kPollMs = 100;

// A text that the plug-in returned, with a null pointer told apart from every text.
std::string text_of(const char* text) { return text != nullptr ? text : "(null pointer)"; }

// Static text of the plug-in's image lives as long as the library; a stack or scratch buffer
// would not outlive the call.
bool inside_module(HMODULE module, const char* text) {
  MEMORY_BASIC_INFORMATION region{};
  return VirtualQuery(text, &region, sizeof region) != 0 && region.AllocationBase == module;
}

// The version record of the loaded file, read back as Explorer reads it.
void check_version_record(HMODULE module) {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(module, path, MAX_PATH);
  DWORD unused = 0;
  const DWORD size = GetFileVersionInfoSizeA(path, &unused);
  if (!ok(size != 0, "the DLL carries a version record")) return;
  std::vector<char> record(size);
  if (!ok(GetFileVersionInfoA(path, 0, size, record.data()) != 0, "version record read")) return;

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (ok(VerQueryValueA(record.data(), "\\", reinterpret_cast<void**>(&fixed), &length) != 0 &&
             length >= sizeof *fixed && fixed->dwSignature == VS_FFI_SIGNATURE,
         "fixed version part")) {
    ok(fixed->dwFileVersionMS == 0 && fixed->dwFileVersionLS == 0, "fixed file version 0.0.0.0");
    ok(fixed->dwProductVersionMS == MAKELONG(0, 1) && fixed->dwProductVersionLS == MAKELONG(1, 0),
       "fixed product version 1.0.0.1");
  }

  struct Translation {
    WORD language;
    WORD codePage;
  }* translation = nullptr;
  if (!ok(VerQueryValueA(record.data(), "\\VarFileInfo\\Translation",
                         reinterpret_cast<void**>(&translation), &length) != 0 &&
              length >= sizeof *translation,
          "version record names its language")) {
    return;
  }
  const struct {
    const char* key;
    const char* text;
  } strings[] = {{"FileDescription", "Quorvane for Samurize"},
                 {"FileVersion", "0.02"},
                 {"ProductVersion", "1.00.0001"}};
  for (const auto& [key, text] : strings) {
    char query[64];
    std::snprintf(query, sizeof query, R"(\StringFileInfo\%04x%04x\%s)", translation->language,
                  translation->codePage, key);
    char* value = nullptr;
    const bool found =
        VerQueryValueA(record.data(), query, reinterpret_cast<void**>(&value), &length) != 0;
    const std::string got = text_of(found ? value : nullptr);
    ok(got == text, "version record %s: got \"%s\", expected \"%s\"", key, got.c_str(), text);
  }
}

// "December 08 2026": the month name in the user's language, day and year of the local date.
std::string today_text() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  char month[20] = {};
  GetLocaleInfoA(0, LOCALE_SMONTHNAME1 + now.wMonth - 1, month, sizeof month);
  char text[64];
  std::snprintf(text, sizeof text, "%s %02u %04u", month, now.wDay, now.wYear);
  return text;
}

void check_description(const Plugin& plugin) {
  ok(plugin.dlltype() == 1, "dlltype is 1");
  const char* const fixed[] = {"Quorvane", "Orvexa",      "Beta 0.1", "Today",
                               nullptr,    "No Homepage", "No"};
  for (int index = 0; index <= 6; ++index) {
    const char* text = plugin.getinfo(index);
    ok(inside_module(plugin.module, text), "getinfo(%d)'s text lives in the plug-in", index);
    ok(fixed[index] == nullptr || text_of(text) == fixed[index],
       "getinfo(%d): got \"%s\", expected \"%s\"", index, text_of(text).c_str(),
       fixed[index] != nullptr ? fixed[index] : "");
  }
  // The date may turn over during the call: either side of it is right.
  const std::string before = today_text();
  const std::string date = plugin.getinfo(4);
  const std::string after = today_text();
  ok(date == before || date == after, "getinfo(4): got \"%s\", expected \"%s\"", date.c_str(),
     after.c_str());
  ok(date.find(' ') > 0, "the month has a name");
  for (const int index : {7, -1}) {
    ok(text_of(plugin.getinfo(index)).empty(), "getinfo(%d): got \"%s\"", index,
       text_of(plugin.getinfo(index)).c_str());
  }
  ok(text_of(plugin.init()) == "ListPorts", "init: got \"%s\"", text_of(plugin.init()).c_str());
  ok(inside_module(plugin.module, plugin.init()), "init's text lives in the plug-in");
  for (const int value : {0, 12345}) {
    ok(text_of(plugin.getparam(value)).empty(), "getparam(%d): got \"%s\"", value,
       text_of(plugin.getparam(value)).c_str());
  }
  ok(plugin.configure() == 0, "configure returns 0");
}

// The harness's own endpoints, for the listing to show: a TCP connection and a UDP socket on
// loopback. Wine learns a socket's owner only once the process has sent on it, so both carry data.
struct OwnSockets {
  // Started before the first socket, cleaned up after the last one is closed.
  struct Winsock {
    Winsock() {
      WSADATA data;
      WSAStartup(MAKEWORD(2, 2), &data);
    }
    Winsock(const Winsock&) = delete;
    Winsock& operator=(const Winsock&) = delete;
    ~Winsock() { WSACleanup(); }
  } winsock;
  SocketSet sockets;
  SOCKET listener = sockets.open(AF_INET, SOCK_STREAM);
  SOCKET client = sockets.open(AF_INET, SOCK_STREAM);
  SOCKET server = INVALID_SOCKET;
  SOCKET datagram = sockets.open(AF_INET, SOCK_DGRAM);
  unsigned tcpPort = 0;  // the client's end
  unsigned udpPort = 0;
  bool carried = false;

  OwnSockets() {
    sockaddr_in loopback{};
    loopback.sin_family = AF_INET;
    loopback.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    auto* address = reinterpret_cast<sockaddr*>(&loopback);
    if (bind(listener, address, sizeof loopback) != 0 || listen(listener, 1) != 0) return;
    loopback.sin_port = htons(static_cast<u_short>(port_of(listener)));
    if (connect(client, address, sizeof loopback) != 0) return;
    server = sockets.adopt(accept(listener, nullptr, nullptr));
    tcpPort = static_cast<unsigned>(port_of(client));
    loopback.sin_port = 0;
    if (bind(datagram, address, sizeof loopback) != 0) return;
    udpPort = static_cast<unsigned>(port_of(datagram));
    loopback.sin_port = htons(static_cast<u_short>(udpPort));
    carried = send(client, "q", 1, 0) == 1 && send(server, "v", 1, 0) == 1 &&
              sendto(datagram, "u", 1, 0, address, sizeof loopback) == 1;
  }
};

// This program's file name as the plug-in names programs: the path's last part.
std::string own_program_name() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  const std::string full = path;
  return full.substr(full.find_last_of('\\') + 1);
}

// Calls ListPorts until the listing holds every expected text, or patience runs out.
std::string list_until(const Plugin& plugin, std::int32_t instance,
                       const std::vector<std::string>& expected) {
  std::string listing;
  for (DWORD waited = 0;; waited += kPollMs) {
    listing = plugin.ListPorts(instance);
    bool complete = true;
    for (const auto& text : expected) complete = complete && listing.find(text) != listing.npos;
    if (complete || waited >= kPatienceMs) return listing;
    Sleep(kPollMs);
  }
}

// The expected texts that the listing lacks, each in quotes.
std::string missing_from(const std::string& listing, const std::vector<std::string>& expected) {
  std::string missing;
  for (const auto& text : expected) {
    if (listing.find(text) == listing.npos) missing += " \"" + text + "\"";
  }
  return missing;
}

// Watches the host thread for the configuration dialog while source_configure runs, and closes
// it at once with the system close command, as Alt+F4 would.
struct DialogWatch {
  DWORD hostThread;
  HWND owner;
  std::atomic<bool> stop{false};
  HANDLE thread = nullptr;
  // What the watch saw; read them after finish().
  HWND dialog = nullptr;
  bool ownerDisabled = false;
  std::string shownTemplate;

  DialogWatch(DWORD host, HWND ownerWindow) : hostThread(host), owner(ownerWindow) {
    thread = CreateThread(nullptr, 0, run, this, 0, nullptr);
  }
  DialogWatch(const DialogWatch&) = delete;
  DialogWatch& operator=(const DialogWatch&) = delete;
  ~DialogWatch() { finish(); }

  void finish() {
    stop = true;
    if (thread == nullptr) return;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    thread = nullptr;
  }

  static BOOL CALLBACK match(HWND window, LPARAM self) {
    char caption[64] = {};
    GetWindowTextA(window, caption, sizeof caption);
    if (IsWindowVisible(window) && std::string(caption) == kDialogCaption) {
      reinterpret_cast<DialogWatch*>(self)->dialog = window;
      return FALSE;
    }
    return TRUE;
  }

  static DWORD WINAPI run(LPVOID self) {
    auto& watch = *static_cast<DialogWatch*>(self);
    for (DWORD waited = 0; !watch.stop && waited < kPatienceMs; waited += kPollMs) {
      EnumThreadWindows(watch.hostThread, match, reinterpret_cast<LPARAM>(&watch));
      if (watch.dialog != nullptr) {
        watch.ownerDisabled =
            GetWindow(watch.dialog, GW_OWNER) == watch.owner && !IsWindowEnabled(watch.owner);
        char text[600] = {};
        GetDlgItemTextA(watch.dialog, qv::kTemplateEdit, text, sizeof text);
        watch.shownTemplate = text;
        SendMessageA(watch.dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        return 0;
      }
      Sleep(kPollMs);
    }
    return 0;
  }
};

}  // namespace

int lifecycle(int argc, char** argv) {
  if (argc != 2) {
    std::printf("usage: harness lifecycle SETTINGS.ini SAVED.ini\n");
    return 2;
  }
  const std::string settings = full_path(argv[0]);
  const std::string saved = full_path(argv[1]);
  DeleteFileA(saved.c_str());
  const OwnSockets sockets;
  ok(sockets.carried, "the harness's own connection and UDP socket carry data");

  // Load, and what the host reads before it starts any meter.
  const Plugin plugin = load_plugin();
  check_version_record(plugin.module);
  check_description(plugin);

  // Two meters, owned by a window of the host's.
  const HWND host = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                                    nullptr, nullptr, nullptr, nullptr);
  const auto hostWindow = reinterpret_cast<std::uintptr_t>(host);
  ok(plugin.dllstartup(hostWindow, 0) == 1, "first instance is 1");
  ok(plugin.dllstartup(hostWindow, 0) == 2, "second instance is 2");
  ok(plugin.src_load_settings(1, settings.c_str(), "Meter1") == 0, "src_load_settings(1)");
  ok(plugin.src_load_settings(2, settings.c_str(), "Meter2") == 0, "src_load_settings(2)");

  // Meter1 writes numbers plainly, Meter2 with leading zeros; both list the harness's endpoints
  // under its own process id and program name.
  const std::string pid = std::to_string(GetCurrentProcessId());
  char padded[16];
  std::snprintf(padded, sizeof padded, "%04lu", GetCurrentProcessId());
  const std::string program = own_program_name();
  const std::vector<std::string> plain = {
      "TCP 127.0.0.1:" + std::to_string(sockets.tcpPort) + " Established " + pid + " " + program,
      "UDP 127.0.0.1:" + std::to_string(sockets.udpPort) + "  " + pid + " " + program};
  char tcpPadded[16];
  char udpPadded[16];
  std::snprintf(tcpPadded, sizeof tcpPadded, "%05u", sockets.tcpPort);
  std::snprintf(udpPadded, sizeof udpPadded, "%05u", sockets.udpPort);
  const std::vector<std::string> zeros = {
      "<" + std::string(tcpPadded) + "/" + padded + "/" + program + ">",
      "<" + std::string(udpPadded) + "/" + padded + "/" + program + ">"};

  // The first call starts the collector, which counts as busy until its first pass has
  // published: the freshly loaded instance's empty listing comes back.
  const DWORD started = GetTickCount();
  ok(text_of(plugin.ListPorts(1)).empty(), "the first ListPorts returns the empty last listing");
  const std::string first = list_until(plugin, 1, plain);
  std::printf("lifecycle: own endpoints listed after %lu ms\n", GetTickCount() - started);
  ok(missing_from(first, plain).empty(),
     "Meter1 lists the harness's endpoints, pid and program name: missing%s in \"%s\"",
     missing_from(first, plain).c_str(), first.c_str());
  const std::string second = list_until(plugin, 2, zeros);
  ok(missing_from(second, zeros).empty(),
     "Meter2 lists them with leading zeros: missing%s in \"%s\"",
     missing_from(second, zeros).c_str(), second.c_str());

  // After pastemeter both meters list alike. Endpoints may change between two calls, so a few
  // tries are allowed for a pair of calls that saw the same table.
  ok(plugin.pastemeter(1, 2) == 0, "pastemeter(1, 2)");
  ok(plugin.pastemeter(2, 2) == 0, "pastemeter(2, 2)");
  std::string one;
  std::string two;
  for (int attempt = 0; attempt < 10; ++attempt) {
    one = plugin.ListPorts(1);
    two = plugin.ListPorts(2);
    if (one == two) break;
    Sleep(kPollMs);
  }
  ok(two == one, "after pastemeter Meter2 lists exactly as Meter1: \"%s\" and \"%s\"", two.c_str(),
     one.c_str());
  ok(missing_from(two, plain).empty(), "Meter2 now lists as Meter1 does: missing%s",
     missing_from(two, plain).c_str());

  // The dialog opens on the exact name only, modal on the host's thread, owned by its window.
  {
    DialogWatch watch(GetCurrentThreadId(), host);
    ok(plugin.source_configure(2, "ListPorts") == 0, "source_configure(2, ListPorts)");
    watch.finish();
    ok(watch.dialog != nullptr, "the dialog opened");
    ok(watch.ownerDisabled, "the dialog is owned by the host's window, which it disables");
    ok(watch.shownTemplate == "%ptt %lip:%lpt %stat %pid %nm|",
       "the dialog shows the instance's template: got \"%s\"", watch.shownTemplate.c_str());
  }
  ok(IsWindowEnabled(host) != 0, "the host's window is enabled again");
  {
    DialogWatch watch(GetCurrentThreadId(), host);
    ok(plugin.source_configure(2, "listports") == 0, "source_configure(2, listports)");
    watch.finish();
    ok(watch.dialog == nullptr, "no dialog for the name in lower case");
  }

  // The pasted record, saved: Meter1's settings under Meter2's name; the dialog closed without
  // "Okay" changed nothing.
  ok(plugin.src_save_settings(2, saved.c_str(), "Meter2") == 0, "src_save_settings(2)");
  const std::vector<std::string> expected = {"[Meter2]",
                                             "Sot=42",
                                             "Template=%ptt %lip:%lpt %stat %pid %nm|",
                                             "fltL=10000000001",
                                             "fltH=10000000255",
                                             "fltE=1",
                                             "flt0=0",
                                             "zero=1"};
  std::string want;
  for (const auto& line : expected) want += line + "\r\n";
  const std::string written = file_contents(saved);
  ok(written == want, "the saved settings file: got \"%s\", expected \"%s\"", written.c_str(),
     want.c_str());

  // Shutdown ends the collector for every instance; the second call finds it ended.
  ok(plugin.dllshutdown(0) == 0, "dllshutdown");
  ok(plugin.dllshutdown(0) == 0, "second dllshutdown");
  ok(text_of(plugin.ListPorts(1)) == one, "after dllshutdown the last listing stays: got \"%s\"",
     text_of(plugin.ListPorts(1)).c_str());
  // With the collector gone nothing holds the library any more: FreeLibrary unloads it.
  ok(FreeLibrary(plugin.module) != 0, "FreeLibrary");
  ok(GetModuleHandleA("Quorvane.dll") == nullptr, "the library is unloaded");
  DestroyWindow(host);
  return 0;
}

}  // namespace harness
