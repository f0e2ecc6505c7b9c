// Scenario "meter": the harness's own sockets as ListPorts lists them, through the real endpoint
// tables, process names and DNS resolver; the filters; dllshutdown's wait. Meant for a private
// network namespace where SERVER and CLIENT are local addresses and the DNS server has a PTR record
// naming SERVER (and none for CLIENT).
// Usage: harness meter SERVER CLIENT SERVER-PTR-NAME [xp|vista]   (see check_ip_helper)
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <string>
#include <vector>

#include "harness.hpp"
#include "scenarios.hpp"
#include "sockets.hpp"

namespace harness {

namespace {

// The template of both instances: fields joined by ",", each endpoint closed by ";".
constexpr const char* kTemplate = "%ptt,%lip,%lpt,%rip,%rpt,%stat,%pid,%nm,%hn;";

sockaddr_in endpoint(const char* address, int port) {
  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_port = htons(static_cast<u_short>(port));
  inet_pton(AF_INET, address, &where.sin_addr);
  return where;
}

bool bind_to(SOCKET s, const char* address, int port) {
  const sockaddr_in where = endpoint(address, port);
  return bind(s, reinterpret_cast<const sockaddr*>(&where), sizeof where) == 0;
}

// 10.77.0.2 as its twelve-digit number.
long long twelve_digits(const char* address) {
  const sockaddr_in where = endpoint(address, 0);
  const auto* octets = reinterpret_cast<const unsigned char*>(&where.sin_addr);
  return ((octets[0] * 1000LL + octets[1]) * 1000 + octets[2]) * 1000 + octets[3];
}

std::string padded(long long value, int digits) {
  char text[32];
  std::snprintf(text, sizeof text, "%0*lld", digits, value);
  return text;
}

using Line = std::vector<std::string>;

std::vector<Line> lines_of(const std::string& listing) {
  std::vector<Line> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = listing.find(';', start)) != std::string::npos; start = end + 1) {
    Line fields;
    const std::string line = listing.substr(start, end - start);
    std::size_t from = 0;
    for (std::size_t comma; (comma = line.find(',', from)) != std::string::npos; from = comma + 1) {
      fields.push_back(line.substr(from, comma - from));
    }
    fields.push_back(line.substr(from));
    lines.push_back(fields);
  }
  return lines;
}

// The line of the listing for protocol and local port (and remote address, when given).
const Line* find_line(const std::vector<Line>& lines, const char* protocol, const std::string& port,
                      const std::string& remote = {}) {
  for (const Line& line : lines) {
    if (line.size() == 9 && line[0] == protocol && line[2] == port &&
        (remote.empty() || line[3] == remote)) {
      return &line;
    }
  }
  return nullptr;
}

// The listing's fields, in the template's order.
enum Field {
  kProtocol,
  kLocalAddress,
  kLocalPort,
  kRemoteAddress,
  kRemotePort,
  kState,
  kPid,
  kProgram,
  kHostName
};

struct Expected {
  Field field;
  std::string text;
};

// The fields of line that differ from what is expected, as "name: got ..., expected ...; ".
std::string differences(const Line& line, const std::vector<Expected>& expected) {
  static const char* const kNames[] = {
      "protocol", "local address", "local port", "remote address", "remote port",
      "state",    "pid",           "program",    "host name"};
  std::string text;
  for (const Expected& want : expected) {
    if (line[want.field] != want.text) {
      text += std::string(kNames[want.field]) + " \"" + line[want.field] + "\", expected \"" +
              want.text + "\"; ";
    }
  }
  return text;
}

// The owner as Wine or Windows reports it: this process, or none (pid 0) for sockets that Wine
// has not seen this process use yet. The program name must go with it.
bool owned_by(const Line& line, const std::string& ownPid, const std::string& noPid) {
  return (line[kPid] == ownPid && line[kProgram] == "harness.exe") ||
         (line[kPid] == noPid && line[kProgram] == "System");
}

// The table functions that the plug-in will find: the IP Helper that LoadLibrary gives this
// process. "xp": the XP function for TCP is there (Wine lacks the one for UDP). "vista": neither
// is, as on every Windows since Vista, and the library is the copy in this program's folder.
void check_ip_helper(const std::string& expected) {
  const HMODULE ip = LoadLibraryA("iphlpapi.dll");
  if (!ok(ip != nullptr, "LoadLibrary(iphlpapi.dll): error %lu", GetLastError())) return;
  char path[MAX_PATH] = {};
  GetModuleFileNameA(ip, path, sizeof path);
  const bool tcp = GetProcAddress(ip, "AllocateAndGetTcpExTableFromStack") != nullptr;
  const bool udp = GetProcAddress(ip, "AllocateAndGetUdpExTableFromStack") != nullptr;
  std::printf(
      "IP Helper %s: AllocateAndGetTcpExTableFromStack %s, "
      "AllocateAndGetUdpExTableFromStack %s\n",
      path, tcp ? "found" : "missing", udp ? "found" : "missing");
  if (expected == "xp") {
    ok(tcp, "the IP Helper offers AllocateAndGetTcpExTableFromStack");
  } else {
    ok(!tcp && !udp, "the IP Helper lacks both XP table functions");
    char program[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, program, sizeof program);
    const std::string folder(program, std::string(program).find_last_of('\\') + 1);
    ok(std::string(path) == folder + "iphlpapi.dll", "the IP Helper is %s, not %siphlpapi.dll",
       path, folder.c_str());
    ok(GetProcAddress(ip, "GetExtendedTcpTable") != nullptr &&
           GetProcAddress(ip, "GetExtendedUdpTable") != nullptr,
       "the IP Helper offers GetExtendedTcpTable and GetExtendedUdpTable");
  }
  FreeLibrary(ip);
}

std::string listing_when_ready(const Plugin& plugin, std::int32_t instance, DWORD deadline) {
  for (;;) {
    std::string text = plugin.ListPorts(instance);
    if (!text.empty() || GetTickCount() > deadline) return text;
    Sleep(50);
  }
}

}  // namespace

int meter(int argc, char** argv) {
  const std::string ipHelper = argc == 4 ? argv[3] : "";
  if ((argc != 3 && argc != 4) || (argc == 4 && ipHelper != "xp" && ipHelper != "vista")) {
    std::printf("usage: harness meter SERVER CLIENT SERVER-PTR-NAME [xp|vista]\n");
    return 2;
  }
  const char* server = argv[0];
  const char* client = argv[1];
  const std::string serverName = argv[2];
  if (!ipHelper.empty()) check_ip_helper(ipHelper);
  WSADATA winsock;
  if (!ok(WSAStartup(MAKEWORD(2, 2), &winsock) == 0, "WSAStartup")) return 1;

  // A listener, a connected pair through it, a UDP socket; Wine names the owner of a socket
  // only after the process has sent on it.
  SocketSet sockets;
  const SOCKET listener = sockets.open(AF_INET, SOCK_STREAM);
  ok(bind_to(listener, server, 0) && listen(listener, 4) == 0, "listener");
  const SOCKET connection = sockets.open(AF_INET, SOCK_STREAM);
  const sockaddr_in listening = endpoint(server, port_of(listener));
  ok(bind_to(connection, client, 0) &&
         connect(connection, reinterpret_cast<const sockaddr*>(&listening), sizeof listening) == 0,
     "connection");
  const SOCKET accepted = sockets.adopt(accept(listener, nullptr, nullptr));
  ok(accepted != INVALID_SOCKET, "accept");
  ok(send(connection, "q", 1, 0) == 1 && send(accepted, "v", 1, 0) == 1, "send");
  const SOCKET datagrams = sockets.open(AF_INET, SOCK_DGRAM);
  ok(bind_to(datagrams, "127.0.0.1", 0), "UDP socket");
  const sockaddr_in itself = endpoint("127.0.0.1", port_of(datagrams));
  ok(sendto(datagrams, "u", 1, 0, reinterpret_cast<const sockaddr*>(&itself), sizeof itself) == 1,
     "sendto");

  char folder[MAX_PATH];
  GetCurrentDirectoryA(sizeof folder, folder);
  const std::string ini = std::string(folder) + "\\meter.ini";
  DeleteFileA(ini.c_str());
  const long long clientNumber = twelve_digits(client);
  // One: every endpoint, numbers at their widths. Two: no leading zeros, zero addresses hidden,
  // and the range just around CLIENT excluded.
  const char* const values[][3] = {
      {"one", "fltL", "0"}, {"one", "fltH", "0"}, {"two", "zero", "1"}, {"two", "flt0", "1"}};
  for (const char* section : {"one", "two"}) {
    WritePrivateProfileStringA(section, "Template", kTemplate, ini.c_str());
  }
  for (const auto& value : values) {
    WritePrivateProfileStringA(value[0], value[1], value[2], ini.c_str());
  }
  WritePrivateProfileStringA("two", "fltL", std::to_string(clientNumber - 1).c_str(), ini.c_str());
  WritePrivateProfileStringA("two", "fltH", std::to_string(clientNumber + 1).c_str(), ini.c_str());

  const Plugin plugin = load_plugin();
  ok(plugin.dllstartup(0, 0) == 1 && plugin.dllstartup(0, 0) == 2, "two instances");
  plugin.src_load_settings(1, ini.c_str(), "one");
  plugin.src_load_settings(2, ini.c_str(), "two");

  const DWORD started = GetTickCount();
  ok(std::string(plugin.ListPorts(1)).empty(), "the call that starts the collector lists nothing");
  const std::string one = listing_when_ready(plugin, 1, started + 60000);
  const DWORD firstPass = GetTickCount() - started;
  const std::string two = listing_when_ready(plugin, 2, started + 60000);
  std::printf("first listing after %lu ms\none: %s\ntwo: %s\n", firstPass, one.c_str(),
              two.c_str());

  const std::string ownPid = padded(GetCurrentProcessId(), 4);
  const std::string serverPort = padded(port_of(listener), 5);
  const std::string clientPort = padded(port_of(connection), 5);
  const std::string udpPort = padded(port_of(datagrams), 5);
  const std::vector<Line> lines = lines_of(one);
  if (const Line* line = find_line(lines, "TCP", serverPort, "0.0.0.0")) {
    const std::string wrong = differences(
        *line,
        {{kLocalAddress, server}, {kRemotePort, "00000"}, {kState, "Listening"}, {kHostName, ""}});
    ok(wrong.empty(), "listener: %s", wrong.c_str());
    ok(owned_by(*line, ownPid, "0000"), "listener: owner %s %s", line->at(kPid).c_str(),
       line->at(kProgram).c_str());
  } else {
    ok(false, "the listener is listed");
  }
  if (const Line* line = find_line(lines, "TCP", clientPort, server)) {
    const std::string wrong = differences(*line, {{kLocalAddress, client},
                                                  {kRemotePort, serverPort},
                                                  {kState, "Established"},
                                                  {kPid, ownPid},
                                                  {kProgram, "harness.exe"},
                                                  {kHostName, serverName}});
    ok(wrong.empty(), "connection (host name from the PTR record): %s", wrong.c_str());
  } else {
    ok(false, "the connection is listed");
  }
  if (const Line* line = find_line(lines, "TCP", serverPort, client)) {
    const std::string wrong = differences(
        *line, {{kRemotePort, clientPort}, {kState, "Established"}, {kHostName, client}});
    ok(wrong.empty(), "accepted side (no PTR record: the address as host name): %s", wrong.c_str());
    ok(owned_by(*line, ownPid, "0000"), "accepted side: owner %s %s", line->at(kPid).c_str(),
       line->at(kProgram).c_str());
  } else {
    ok(false, "the accepted side is listed");
  }
  if (const Line* line = find_line(lines, "UDP", udpPort)) {
    // Wine binds a UDP socket to the any-address in the kernel, whatever the program asked for.
    ok(line->at(kLocalAddress) == "127.0.0.1" || line->at(kLocalAddress) == "0.0.0.0",
       "UDP socket's address %s", line->at(kLocalAddress).c_str());
    const std::string wrong = differences(*line, {{kRemoteAddress, "000.000.000.000"},
                                                  {kRemotePort, "00000"},
                                                  {kState, ""},
                                                  {kPid, ownPid},
                                                  {kProgram, "harness.exe"},
                                                  {kHostName, ""}});
    ok(wrong.empty(), "UDP socket: %s", wrong.c_str());
  } else {
    ok(false, "the UDP socket is listed");
  }
  // Every endpoint, the harness's own numbers in words, for a comparison across runs.
  for (Line line : lines) {
    if (line.size() != 9) continue;
    for (const int field : {kLocalPort, kRemotePort}) {
      const std::string port = line[field];
      line[field] = port == serverPort   ? "<server port>"
                    : port == clientPort ? "<client port>"
                    : port == udpPort    ? "<UDP port>"
                                         : port;
    }
    if (line[kPid] == ownPid) line[kPid] = "<harness>";
    std::string text = line[0];
    for (std::size_t i = 1; i < line.size(); ++i) text += "," + line[i];
    std::printf("endpoint %s\n", text.c_str());
  }

  const std::vector<Line> filtered = lines_of(two);
  const Line* kept = find_line(filtered, "TCP", std::to_string(port_of(connection)), server);
  if (ok(kept != nullptr, "instance two lists the connection, numbers without leading zeros")) {
    const std::string wrong = differences(*kept, {{kRemotePort, std::to_string(port_of(listener))},
                                                  {kPid, std::to_string(GetCurrentProcessId())}});
    ok(wrong.empty(), "instance two's connection: %s", wrong.c_str());
  }
  for (const Line& line : filtered) {
    ok(line.size() == 9 && line[kRemoteAddress] != "0.0.0.0" &&
           line[kRemoteAddress] != "000.000.000.000",
       "instance two hides every endpoint without a remote address");
    ok(line.size() == 9 && line[kRemoteAddress] != client,
       "instance two hides the range around CLIENT");
  }

  // The worker looks at the request after its pass and pause: one pass and one second at most,
  // with room for a slow machine.
  const DWORD asked = GetTickCount();
  ok(plugin.dllshutdown(0) == 0, "dllshutdown is 0");
  const DWORD waited = GetTickCount() - asked;
  std::printf("dllshutdown waited %lu ms\n", waited);
  ok(waited <= firstPass + 1000 + 2000,
     "dllshutdown returns within one pass and one second: waited %lu ms", waited);
  ok(!std::string(plugin.ListPorts(1)).empty(), "the last listing stays after shutdown");
  ok(plugin.dllshutdown(0) == 0, "a second dllshutdown is 0");
  ok(FreeLibrary(plugin.module) != 0, "FreeLibrary");
  DeleteFileA(ini.c_str());
  WSACleanup();
  return 0;
}

}  // namespace harness
