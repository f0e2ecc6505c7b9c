// Scenario "command": quorvane.exe, run as a user runs it, lists this process's own IPv4 and IPv6
// endpoints with its pid, with -i their statistics or why there are none, names a program whose
// file name is not ASCII exactly, in UTF-8, and its --meter view agrees with what the DLL's
// ListPorts shows for the same settings. Meant for a
// private network namespace whose DNS server names 127.0.0.1.
// Usage: harness command QUORVANE.exe
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "harness.hpp"
#include "scenarios.hpp"
#include "sockets.hpp"

namespace harness {

namespace {

// Fields joined by ",", each endpoint closed by ";": the meter's view in both programs.
constexpr char kMeterTemplate[] = "%ptt,%lip,%lpt,%rip,%rpt,%stat,%pid,%nm,%hn;";
constexpr DWORD kPatienceMs = 120000;

sockaddr_storage loopback(int family, int port) {
  sockaddr_storage where{};
  if (family == AF_INET) {
    auto& v4 = reinterpret_cast<sockaddr_in&>(where);
    v4.sin_family = AF_INET;
    v4.sin_port = htons(static_cast<u_short>(port));
    v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  } else {
    auto& v6 = reinterpret_cast<sockaddr_in6&>(where);
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(static_cast<u_short>(port));
    v6.sin6_addr = in6addr_loopback;
  }
  return where;
}

int length_of(const sockaddr_storage& where) {
  return where.ss_family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
}

// An endpoint of this process as the listing must show it.
struct Expected {
  std::string protocol;  // "tcp", "udp"
  std::string family;    // "ipv4", "ipv6"
  int localPort;
  int remotePort;     // 0: none
  std::string state;  // as the JSON writes it; empty for UDP (null)
  bool ownerKnown;    // Wine names the owner only of sockets it has seen this process send on
  const char* what;
};

// A listener on the family's loopback (or, dual stack, on the IPv6 wildcard), a client
// connected to it and the accepted side, all carrying data. Returns the listener's port.
int open_connection(SocketSet& sockets, int family, bool dualStack, int clientFamily,
                    std::vector<Expected>& expected, const char* what) {
  const SOCKET listener = sockets.open(family, SOCK_STREAM);
  sockaddr_storage where = loopback(family, 0);
  if (dualStack) {
    const DWORD off = 0;
    setsockopt(listener, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&off),
               sizeof off);
    reinterpret_cast<sockaddr_in6&>(where).sin6_addr = in6addr_any;
  }
  if (!ok(bind(listener, reinterpret_cast<sockaddr*>(&where), length_of(where)) == 0 &&
              listen(listener, 4) == 0,
          "%s: listener, error %d", what, WSAGetLastError())) {
    return 0;
  }
  const int port = port_of(listener);
  const SOCKET client = sockets.open(clientFamily, SOCK_STREAM);
  const sockaddr_storage target = loopback(clientFamily, port);
  const bool connected =
      connect(client, reinterpret_cast<const sockaddr*>(&target), length_of(target)) == 0;
  const SOCKET accepted =
      connected ? sockets.adopt(accept(listener, nullptr, nullptr)) : INVALID_SOCKET;
  if (!ok(accepted != INVALID_SOCKET && send(client, "q", 1, 0) == 1 &&
              send(accepted, "v", 1, 0) == 1,
          "%s: connection carrying data, error %d", what, WSAGetLastError())) {
    return 0;
  }
  const char* listenerFamily = family == AF_INET ? "ipv4" : "ipv6";
  const char* clientName = clientFamily == AF_INET ? "ipv4" : "ipv6";
  const int clientPort = port_of(client);
  expected.push_back({"tcp", listenerFamily, port, 0, "Listening", false, what});
  // Wine: it names the owner of an IPv4 client once it has sent, of an IPv6 client never.
  expected.push_back(
      {"tcp", clientName, clientPort, port, "Established", clientFamily == AF_INET, what});
  // An IPv4 peer of a dual-stack listener arrives as an IPv4-mapped IPv6 socket.
  expected.push_back({"tcp", listenerFamily, port, clientPort, "Established", false, what});
  return port;
}

void open_datagrams(SocketSet& sockets, int family, std::vector<Expected>& expected,
                    const char* what) {
  const SOCKET s = sockets.open(family, SOCK_DGRAM);
  sockaddr_storage where = loopback(family, 0);
  if (!ok(bind(s, reinterpret_cast<sockaddr*>(&where), length_of(where)) == 0, "%s: bind, error %d",
          what, WSAGetLastError())) {
    return;
  }
  where = loopback(family, port_of(s));
  ok(sendto(s, "u", 1, 0, reinterpret_cast<sockaddr*>(&where), length_of(where)) == 1,
     "%s: sendto, error %d", what, WSAGetLastError());
  expected.push_back({"udp", family == AF_INET ? "ipv4" : "ipv6", port_of(s), 0, "", true, what});
}

struct RunResult {
  DWORD status = 1;
  std::string out;
  std::string errors;  // its standard error, when asked for
};

void read_to_end(HANDLE reader, std::string& into) {
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(reader, chunk, sizeof chunk, &got, nullptr) && got > 0) into.append(chunk, got);
}

// Runs a program with its standard output in a pipe, and its standard error in another when
// asked (read after the output: it must stay within a pipe's buffer), and waits for it to end.
RunResult run_program(const std::string& commandLine, bool captureErrors = false) {
  RunResult result;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE reader = nullptr;
  HANDLE writer = nullptr;
  HANDLE errorReader = nullptr;
  HANDLE errorWriter = GetStdHandle(STD_ERROR_HANDLE);
  if (!CreatePipe(&reader, &writer, &inherit, 0)) return result;
  SetHandleInformation(reader, HANDLE_FLAG_INHERIT, 0);
  if (captureErrors && CreatePipe(&errorReader, &errorWriter, &inherit, 0)) {
    SetHandleInformation(errorReader, HANDLE_FLAG_INHERIT, 0);
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writer;
  startup.hStdError = errorWriter;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION process{};
  std::string line = commandLine;
  const bool started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &process) != 0;
  CloseHandle(writer);
  if (errorReader != nullptr) CloseHandle(errorWriter);
  if (started) {
    read_to_end(reader, result.out);
    if (errorReader != nullptr) read_to_end(errorReader, result.errors);
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &result.status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  } else {
    std::printf("  CreateProcess(%s) error %lu\n", commandLine.c_str(), GetLastError());
  }
  CloseHandle(reader);
  if (errorReader != nullptr) CloseHandle(errorReader);
  return result;
}

// The value of one key of a flat JSON object on one line: a string's characters (the scenario's
// own names need no unescaping) or a number's text; empty when the key is missing or null.
std::string json_value(const std::string& object, const std::string& key) {
  const std::string quoted = "\"" + key + "\":";
  std::size_t at = object.find(quoted);
  if (at == std::string::npos) return {};
  at += quoted.size();
  while (at < object.size() && object[at] == ' ') ++at;
  if (at < object.size() && object[at] == '"') {
    const std::size_t end = object.find('"', at + 1);
    return object.substr(at + 1, end - at - 1);
  }
  const std::size_t end = object.find_first_of(",}", at);
  const std::string text = object.substr(at, end - at);
  return text == "null" ? std::string() : text;
}

// The parts between separators, the empty ones included.
std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find(separator, start)) != std::string::npos; start = end + 1) {
    parts.push_back(text.substr(start, end - start));
  }
  parts.push_back(text.substr(start));
  return parts;
}

// A listing's entries: each ends with the separator.
std::vector<std::string> entries(const std::string& listing, char end) {
  std::vector<std::string> lines = split(listing, end);
  lines.pop_back();
  return lines;
}

// This program's file name as the listings name programs.
std::string own_program_name() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  const std::string full = path;
  return full.substr(full.find_last_of('\\') + 1);
}

void check_json_listing(const std::string& quorvane, const std::vector<Expected>& expected) {
  const RunResult run = run_program("\"" + quorvane + "\" --format json");
  ok(run.status == 0, "quorvane --format json: got status %lu", run.status);
  const std::string pid = std::to_string(GetCurrentProcessId());
  const std::string program = own_program_name();
  const std::vector<std::string> objects = entries(run.out, '\n');
  for (const Expected& endpoint : expected) {
    const std::string* found = nullptr;
    for (const std::string& object : objects) {
      if (json_value(object, "protocol") == endpoint.protocol &&
          json_value(object, "family") == endpoint.family &&
          json_value(object, "local_port") == std::to_string(endpoint.localPort) &&
          (endpoint.remotePort == 0 ||
           json_value(object, "remote_port") == std::to_string(endpoint.remotePort)) &&
          json_value(object, "state") == endpoint.state) {
        found = &object;
        break;
      }
    }
    const std::string what = std::string(endpoint.what) + ": " + endpoint.protocol + " " +
                             endpoint.family + " port " + std::to_string(endpoint.localPort) + " " +
                             endpoint.state;
    if (!ok(found != nullptr, "%s is not listed", what.c_str())) continue;
    const std::string ownerPid = json_value(*found, "pid");
    const std::string ownerProgram = json_value(*found, "program");
    const bool own = ownerPid == pid && ownerProgram == program;
    const bool unknown = ownerPid == "0" || ownerPid.empty();
    ok(own || (!endpoint.ownerKnown && unknown), "%s: got owner %s %s, expected %s %s",
       what.c_str(), ownerPid.c_str(), ownerProgram.c_str(), pid.c_str(), program.c_str());
  }
  if (failures != 0) std::printf("listing:\n%s", run.out.c_str());
}

// With -i: no queues (Windows keeps none for us), and for the IPv4 connection either its bytes
// from the connection's statistics or, where they cannot be had (Wine has none; Windows switches
// them on for an elevated process only), null and one line on standard error saying why.
void check_info_listing(const std::string& quorvane, int port) {
  const RunResult run = run_program("\"" + quorvane + "\" -i -t --format json", true);
  ok(run.status == 0, "quorvane -i --format json: got status %lu", run.status);
  const std::string* connection = nullptr;
  const std::vector<std::string> objects = entries(run.out, '\n');
  for (const std::string& object : objects) {
    if (json_value(object, "remote_port") == std::to_string(port) &&
        json_value(object, "family") == "ipv4") {
      connection = &object;
    }
  }
  if (connection == nullptr) {
    ok(false, "-i: the IPv4 client is not listed");
    return;
  }
  ok(json_value(*connection, "recv_queue").empty() && json_value(*connection, "send_queue").empty(),
     "-i: queues are null on Windows");
  const bool counted = !json_value(*connection, "bytes_sent").empty();
  const std::vector<std::string> said = entries(run.errors, '\n');
  if (counted) {
    ok(said.empty(), "-i with statistics: nothing on standard error, got '%s'", run.errors.c_str());
  } else {
    ok(said.size() == 1 && said[0].starts_with("quorvane: ") &&
           said[0].find("statistics") != std::string::npos,
       "-i without statistics: one line saying why, got '%s'", run.errors.c_str());
    ok(json_value(*connection, "rtt_ms").empty(), "-i without statistics: no round trip either");
  }
  std::printf("-i: connection statistics %s\n", counted ? "read" : "unavailable");
  if (failures != 0) std::printf("listing:\n%s", run.out.c_str());
}

// Whether the text holds the field, with blanks or line ends on both sides.
bool holds_field(const std::string& text, const std::string& field) {
  const auto blank = [&](std::size_t at) {
    return at >= text.size() || text[at] == ' ' || text[at] == '\t' || text[at] == '\n';
  };
  for (std::size_t at = text.find(field); at != std::string::npos; at = text.find(field, at + 1)) {
    if ((at == 0 || blank(at - 1)) && blank(at + field.size())) return true;
  }
  return false;
}

// The text listing writes a wildcard listener that takes IPv4 peers too as "*:PORT", as ss does,
// and one that takes IPv6 peers only as "[::]:PORT"; the tables do not say which is which, so the
// command must have found it out from the accepted connections.
void check_text_listing(const std::string& quorvane, int ipv6OnlyPort, int dualStackPort) {
  const RunResult run = run_program("\"" + quorvane + "\" --numeric");
  ok(run.status == 0, "quorvane --numeric: got status %lu", run.status);
  const std::string dual = "*:" + std::to_string(dualStackPort);
  ok(run.out.find("[::1]:" + std::to_string(ipv6OnlyPort)) != std::string::npos,
     "the IPv6 listener is written [::1]:PORT");
  ok(holds_field(run.out, dual), "the dual-stack listener is *:PORT");
  ok(run.out.find("[::]:" + std::to_string(dualStackPort)) == std::string::npos,
     "the dual-stack listener is not written as IPv6-only");
  if (failures != 0) std::printf("listing:\n%s", run.out.c_str());
}

// The meter's lines of this process's endpoints: what both views must show alike. Lines of
// other programs may come and go between the two reads.
std::set<std::string> own_lines(const std::string& listing) {
  const std::string pid = std::to_string(GetCurrentProcessId());
  std::string padded = pid;
  padded.insert(0, padded.size() < 4 ? 4 - padded.size() : 0, '0');
  std::set<std::string> lines;
  for (const std::string& line : entries(listing, ';')) {
    const std::vector<std::string> fields = split(line, ',');
    if (fields.size() == 9 && fields[6] == padded) lines.insert(line);
  }
  return lines;
}

// Every line has the meter's shape: nine fields, IPv4 addresses, five-digit ports.
bool meter_shaped(const std::string& listing) {
  for (const std::string& line : entries(listing, ';')) {
    const std::vector<std::string> fields = split(line, ',');
    if (fields.size() != 9 || (fields[0] != "TCP" && fields[0] != "UDP") ||
        fields[1].find(':') != std::string::npos || fields[2].size() != 5 ||
        fields[4].size() != 5 || fields[6].size() < 4) {
      std::printf("  not a meter line: \"%s\"\n", line.c_str());
      return false;
    }
  }
  return true;
}

void check_meter_view(const std::string& quorvane) {
  char folder[MAX_PATH];
  GetCurrentDirectoryA(sizeof folder, folder);
  const std::string ini = std::string(folder) + "\\command-meter.ini";
  DeleteFileA(ini.c_str());
  // Every endpoint (an empty range), numbers at their widths.
  WritePrivateProfileStringA("Preview", "Template", kMeterTemplate, ini.c_str());
  WritePrivateProfileStringA("Preview", "fltL", "0", ini.c_str());
  WritePrivateProfileStringA("Preview", "fltH", "0", ini.c_str());

  const Plugin plugin = load_plugin();
  ok(plugin.dllstartup(0, 0) == 1, "the DLL's first instance");
  plugin.src_load_settings(1, ini.c_str(), "Preview");
  std::string shown;
  for (const DWORD start = GetTickCount(); shown.empty() && GetTickCount() - start < kPatienceMs;
       Sleep(50)) {
    shown = plugin.ListPorts(1);
  }
  const RunResult preview =
      run_program("\"" + quorvane + "\" --meter --settings \"" + ini + "\" --section Preview");
  ok(preview.status == 0, "quorvane --meter: got status %lu", preview.status);
  // The meter adds no line break; the command ends its output with one.
  std::string previewed = preview.out;
  if (!previewed.empty() && previewed.back() == '\n') previewed.pop_back();
  std::printf("ListPorts: %s\nquorvane --meter: %s\n", shown.c_str(), previewed.c_str());

  ok(meter_shaped(shown), "ListPorts lines have the meter's shape");
  ok(meter_shaped(previewed), "quorvane --meter lines have the meter's shape");
  const std::set<std::string> fromDll = own_lines(shown);
  const std::set<std::string> fromCommand = own_lines(previewed);
  ok(!fromDll.empty(), "ListPorts shows this process's endpoints");
  ok(fromDll == fromCommand, "quorvane --meter shows this process's endpoints as ListPorts does");
  for (const std::string& line : fromDll) {
    if (!fromCommand.contains(line)) std::printf("  only in ListPorts: %s\n", line.c_str());
  }
  for (const std::string& line : fromCommand) {
    if (!fromDll.contains(line)) std::printf("  only in quorvane --meter: %s\n", line.c_str());
  }
  ok(plugin.dllshutdown(0) == 0, "dllshutdown");
  FreeLibrary(plugin.module);
  DeleteFileA(ini.c_str());
}

// A pipe whose one end a child inherits; both ends closed on every way out.
struct InheritedPipe {
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  explicit InheritedPipe(bool childReads) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    if (!CreatePipe(&read, &write, &inherit, 0)) return;
    SetHandleInformation(childReads ? write : read, HANDLE_FLAG_INHERIT, 0);
  }
  InheritedPipe(const InheritedPipe&) = delete;
  InheritedPipe& operator=(const InheritedPipe&) = delete;
  ~InheritedPipe() {
    close(read);
    close(write);
  }
  static void close(HANDLE& handle) {
    if (handle != nullptr) CloseHandle(handle);
    handle = nullptr;
  }
};

// The harness copied to café.exe holds a socket: the JSON listing names its owner "café.exe" in
// UTF-8, whatever the console's or the system's code page (the bytes of the pipe are compared).
void check_non_ascii_program(const std::string& quorvane) {
  const wchar_t* const copy = L"caf\u00e9.exe";
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (!ok(CopyFileW(self, copy, FALSE) != 0, "copy to caf\xC3\xA9.exe, error %lu",
          GetLastError())) {
    return;
  }
  InheritedPipe input(true);
  InheritedPipe output(false);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input.read;
  startup.hStdOutput = output.write;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION holder{};
  std::wstring line = std::wstring(L"\"") + copy + L"\" hold-socket";
  const bool started = CreateProcessW(copy, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &holder) != 0;
  InheritedPipe::close(input.read);
  InheritedPipe::close(output.write);
  std::string said;
  char chunk[256];
  DWORD got = 0;
  while (started && said.find("ready") == std::string::npos &&
         ReadFile(output.read, chunk, sizeof chunk, &got, nullptr) && got > 0) {
    said.append(chunk, got);
  }
  if (ok(said.find("ready") != std::string::npos, "caf\xC3\xA9.exe holds its socket: %s",
         said.c_str())) {
    const RunResult run = run_program("\"" + quorvane + "\" --format json --udp");
    const std::string pid = std::to_string(holder.dwProcessId);
    std::string program = "(not listed)";
    for (const std::string& object : entries(run.out, '\n')) {
      if (json_value(object, "pid") == pid) program = json_value(object, "program");
    }
    ok(program == "caf\xC3\xA9.exe", "process %s: got program \"%s\", expected caf\xC3\xA9.exe",
       pid.c_str(), program.c_str());
  }
  // The holder lets go once its standard input ends.
  InheritedPipe::close(input.write);
  if (started) {
    WaitForSingleObject(holder.hProcess, kPatienceMs);
    CloseHandle(holder.hThread);
    CloseHandle(holder.hProcess);
  }
  DeleteFileW(copy);
}

}  // namespace

int hold_socket(int /*argc*/, char** /*argv*/) {
  WSADATA winsock;
  if (!ok(WSAStartup(MAKEWORD(2, 2), &winsock) == 0, "WSAStartup")) return 1;
  {
    SocketSet sockets;
    std::vector<Expected> expected;
    open_datagrams(sockets, AF_INET, expected, "held UDP socket");
    std::printf("ready\n");
    std::fflush(stdout);
    char ignored[64];
    DWORD got = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), ignored, sizeof ignored, &got, nullptr) &&
           got > 0) {
    }
  }
  WSACleanup();
  return 0;
}

int command(int argc, char** argv) {
  if (argc != 1) {
    std::printf("usage: harness command QUORVANE.exe\n");
    return 2;
  }
  WSADATA winsock;
  if (!ok(WSAStartup(MAKEWORD(2, 2), &winsock) == 0, "WSAStartup")) return 1;
  std::vector<Expected> expected;
  {
    SocketSet sockets;
    const int ipv4Port =
        open_connection(sockets, AF_INET, false, AF_INET, expected, "IPv4 connection");
    const int ipv6Port =
        open_connection(sockets, AF_INET6, false, AF_INET6, expected, "IPv6 connection");
    const int dualPort =
        open_connection(sockets, AF_INET6, true, AF_INET, expected, "dual-stack listener");
    open_datagrams(sockets, AF_INET, expected, "IPv4 UDP socket");
    open_datagrams(sockets, AF_INET6, expected, "IPv6 UDP socket");
    check_json_listing(argv[0], expected);
    check_text_listing(argv[0], ipv6Port, dualPort);
    check_info_listing(argv[0], ipv4Port);
    check_non_ascii_program(argv[0]);
    check_meter_view(argv[0]);
  }
  WSACleanup();
  return 0;
}

}  // namespace harness
