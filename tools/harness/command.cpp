// Scenario "command": quorvane.exe, run as a user runs it, lists this process's own IPv4 and IPv6
// endpoints with its pid, with -i their statistics or why there are none, names a program whose
// file name is not ASCII exactly, in UTF-8, and its --meter view agrees with what the DLL's
// ListPorts shows for the same settings; and the read of a connection's statistics behind -i,
// which Wine lacks, against stand-ins that answer as Windows does. Meant for a
// private network namespace whose DNS server names 127.0.0.1.
// Usage: harness command QUORVANE.exe
#include <winsock2.h>
#include <ws2tcpip.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "harness.hpp"
#include "os/win32/tcp_statistics.hpp"
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
    for (const char* key :
         {"bytes_received", "bytes_retrans", "retransmits", "rtt_var_ms", "min_rtt_ms"}) {
      ok(json_value(*connection, key).empty(), "-i without statistics: %s is null", key);
    }
  }
  std::printf("-i: connection statistics %s\n", counted ? "read" : "unavailable");
  if (failures != 0) std::printf("listing:\n%s", run.out.c_str());
}

// Stand-ins for the statistics functions of the IP Helper, for one connection, answering as
// Windows documents them: each kind's collection is off until switched on, and only an elevated
// process may switch it (ERROR_ACCESS_DENIED otherwise); the read-only dynamic record means
// something only while collection is on; a row that names no connection is ERROR_NOT_FOUND, a
// version other than 0 ERROR_NOT_SUPPORTED, a buffer too small ERROR_INSUFFICIENT_BUFFER.
struct StatisticsKind {
  bool on = false;
  ULONG answer = NO_ERROR;  // what a read answers besides, as when the connection closes meanwhile
  std::vector<std::uint8_t> record;
};

struct StandInConnection {
  std::vector<std::uint8_t> row;  // the MIB_TCPROW or MIB_TCP6ROW that names it
  ULONG switching = NO_ERROR;     // what switching collection on answers, the parameters aside
  StatisticsKind data;
  StatisticsKind path;
};

StandInConnection standIn;

// Both kinds' read/write records are EnableCollection alone.
static_assert(sizeof(TCP_ESTATS_DATA_RW_v0) == 1 && sizeof(TCP_ESTATS_PATH_RW_v0) == 1);

StatisticsKind* stand_in_kind(TCP_ESTATS_TYPE type) {
  if (type == TcpConnectionEstatsData) return &standIn.data;
  if (type == TcpConnectionEstatsPath) return &standIn.path;
  return nullptr;
}

template <typename Row>
bool names_stand_in(const Row& row) {
  return standIn.row.size() == sizeof row && std::memcmp(standIn.row.data(), &row, sizeof row) == 0;
}

template <typename Row>
ULONG WINAPI stand_in_get(Row* row, TCP_ESTATS_TYPE type, PUCHAR rw, ULONG rwVersion, ULONG rwSize,
                          PUCHAR ros, ULONG rosVersion, ULONG rosSize, PUCHAR rod, ULONG rodVersion,
                          ULONG rodSize) {
  StatisticsKind* kind = stand_in_kind(type);
  // Neither kind has a read-only static record.
  if (row == nullptr || kind == nullptr || ros != nullptr || rosSize != 0) {
    return ERROR_INVALID_PARAMETER;
  }
  if (rwVersion != 0 || rosVersion != 0 || rodVersion != 0) return ERROR_NOT_SUPPORTED;
  if ((rw != nullptr && rwSize < 1) || (rod != nullptr && rodSize < kind->record.size())) {
    return ERROR_INSUFFICIENT_BUFFER;
  }
  if (!names_stand_in(*row)) return ERROR_NOT_FOUND;
  if (kind->answer != NO_ERROR) return kind->answer;
  if (rw != nullptr) rw[0] = kind->on ? TRUE : FALSE;
  if (rod != nullptr) {
    // Junk while off, so that a reader who takes it anyway is caught.
    if (kind->on) {
      std::memcpy(rod, kind->record.data(), kind->record.size());
    } else {
      std::memset(rod, 0xA5, rodSize);
    }
  }
  return NO_ERROR;
}

template <typename Row>
ULONG WINAPI stand_in_set(Row* row, TCP_ESTATS_TYPE type, PUCHAR rw, ULONG rwVersion, ULONG rwSize,
                          ULONG offset) {
  StatisticsKind* kind = stand_in_kind(type);
  if (row == nullptr || kind == nullptr || rw == nullptr || rwSize < 1) {
    return ERROR_INVALID_PARAMETER;
  }
  if (rwVersion != 0 || offset != 0) return ERROR_NOT_SUPPORTED;
  if (!names_stand_in(*row)) return ERROR_NOT_FOUND;
  if (standIn.switching != NO_ERROR) return standIn.switching;
  kind->on = rw[0] != FALSE;
  return NO_ERROR;
}

template <typename Record>
std::vector<std::uint8_t> bytes_of(const Record& record) {
  std::vector<std::uint8_t> bytes(sizeof record);
  std::memcpy(bytes.data(), &record, sizeof record);
  return bytes;
}

MIB_TCPROW statistics_row(const MIB_TCPROW* /*family*/) {
  MIB_TCPROW row{};
  row.dwState = MIB_TCP_STATE_ESTAB;
  row.dwLocalAddr = htonl(0x7F000001);
  row.dwLocalPort = htons(50123);
  row.dwRemoteAddr = htonl(0x7F000002);
  row.dwRemotePort = htons(8080);
  return row;
}

MIB_TCP6ROW statistics_row(const MIB_TCP6ROW* /*family*/) {
  MIB_TCP6ROW row{};
  row.State = MIB_TCP_STATE_ESTAB;
  row.LocalAddr.s6_addr[0] = 0xFD;
  row.LocalAddr.s6_addr[15] = 1;
  row.dwLocalScopeId = 3;
  row.dwLocalPort = htons(50123);
  row.RemoteAddr.s6_addr[0] = 0xFD;
  row.RemoteAddr.s6_addr[15] = 2;
  row.dwRemoteScopeId = 4;
  row.dwRemotePort = htons(8080);
  return row;
}

using os::win32::StatisticsProblem;

// One way a connection's statistics stand; each is played for an IPv4 and an IPv6 connection.
struct StatisticsCase {
  const char* what;
  ULONG switching;
  bool alreadyOn;  // switched on earlier, by an elevated process
  ULONG dataAnswer;
  ULONG pathAnswer;
  ULONG smoothedRttMs;
  ULONG minRttMs;
  StatisticsProblem before;  // what earlier connections left
  bool bytesKnown;
  bool pathKnown;
  StatisticsProblem after;
};

// Beyond this many milliseconds a round trip has no 32-bit count of microseconds.
constexpr ULONG kRttMsOutOfRange = UINT32_MAX / 1000 + 1;

constexpr ULONG kElevated = NO_ERROR;
constexpr ULONG kNotElevated = ERROR_ACCESS_DENIED;
constexpr StatisticsProblem kNone = StatisticsProblem::none;
constexpr StatisticsProblem kNotPermitted = StatisticsProblem::notPermitted;
constexpr StatisticsProblem kMissing = StatisticsProblem::missing;

constexpr StatisticsCase kStatisticsCases[] = {
    {"not elevated, collection off", kNotElevated, false, NO_ERROR, NO_ERROR, 25, 20, kNone, false,
     false, kNotPermitted},
    {"not elevated after a missing function", kNotElevated, false, NO_ERROR, NO_ERROR, 25, 20,
     kMissing, false, false, kMissing},
    {"not elevated, collection already on", kNotElevated, true, NO_ERROR, NO_ERROR, 25, 20, kNone,
     true, true, kNone},
    {"elevated, collection switched on", kElevated, false, NO_ERROR, NO_ERROR, 25, 20, kNone, true,
     true, kNone},
    {"no round-trip sample yet", kElevated, false, NO_ERROR, NO_ERROR, 25, ULONG_MAX, kNone, true,
     true, kNone},
    {"a round trip beyond 32-bit microseconds", kElevated, true, NO_ERROR, NO_ERROR,
     kRttMsOutOfRange, 20, kNone, true, true, kNone},
    {"data readable, path not", kElevated, false, NO_ERROR, ERROR_NOT_FOUND, 25, 20, kNone, true,
     false, kNone},
    {"path readable, data not", kElevated, false, ERROR_NOT_FOUND, NO_ERROR, 25, 20, kNone, false,
     true, kNone},
    {"connection closed before the read", kNotElevated, false, ERROR_NOT_FOUND, ERROR_NOT_FOUND, 25,
     20, kNone, false, false, kNone},
    {"connection closed before the switch", ERROR_NOT_FOUND, false, NO_ERROR, NO_ERROR, 25, 20,
     kNone, false, false, kNone},
};

template <typename T>
std::string shown(const std::optional<T>& value) {
  return value ? std::to_string(*value) : std::string("null");
}

template <typename Row, typename Get, typename Set>
void check_statistics_case(const StatisticsCase& test, const char* family, Get get, Set set) {
  const Row row = statistics_row(static_cast<const Row*>(nullptr));
  TCP_ESTATS_DATA_ROD_v0 data{};
  data.DataBytesOut = 5'000'000'123;  // beyond 32 bits
  data.DataBytesIn = 777'000;
  TCP_ESTATS_PATH_ROD_v0 path{};
  path.SmoothedRtt = test.smoothedRttMs;
  path.RttVar = 4;
  path.MinRtt = test.minRttMs;
  path.BytesRetrans = 4380;
  path.PktsRetrans = 3;
  standIn = {bytes_of(row),
             test.switching,
             {test.alreadyOn, test.dataAnswer, bytes_of(data)},
             {test.alreadyOn, test.pathAnswer, bytes_of(path)}};
  StatisticsProblem problem = test.before;
  const std::optional<os::TcpTraffic> traffic =
      os::win32::connection_traffic(get, set, row, problem);
  const std::string what = std::string(family) + ", " + test.what;
  ok(problem == test.after, "%s: problem %d, expected %d", what.c_str(), static_cast<int>(problem),
     static_cast<int>(test.after));
  // Switched on for good where it could be read, as later listings count from then.
  const bool switched = test.switching == NO_ERROR;
  ok(standIn.data.on == (test.alreadyOn || (switched && test.dataAnswer == NO_ERROR)) &&
         standIn.path.on == (test.alreadyOn || (switched && test.pathAnswer == NO_ERROR)),
     "%s: collection data %d path %d afterwards", what.c_str(), standIn.data.on, standIn.path.on);
  if (!test.bytesKnown && !test.pathKnown) {
    ok(!traffic, "%s: no statistics, got some", what.c_str());
    return;
  }
  if (!ok(traffic.has_value(), "%s: no statistics", what.c_str())) return;
  const auto expect = [&](const char* field, const auto& got, std::optional<std::uint64_t> wanted) {
    const std::optional<std::uint64_t> value =
        got ? std::optional<std::uint64_t>(*got) : std::nullopt;
    ok(value == wanted, "%s: %s %s, expected %s", what.c_str(), field, shown(value).c_str(),
       shown(wanted).c_str());
  };
  const auto known = [](bool is, std::uint64_t value) {
    return is ? std::optional<std::uint64_t>(value) : std::nullopt;
  };
  expect("bytes sent", traffic->bytesSent, known(test.bytesKnown, 5'000'000'123));
  expect("bytes received", traffic->bytesReceived, known(test.bytesKnown, 777'000));
  const bool rttInRange = test.smoothedRttMs < kRttMsOutOfRange;
  expect("rtt", traffic->rttUs, known(test.pathKnown && rttInRange, 25'000));
  expect("rtt variance", traffic->rttVarUs, known(test.pathKnown, 4'000));
  expect("min rtt", traffic->minRttUs, known(test.pathKnown && test.minRttMs != ULONG_MAX, 20'000));
  expect("bytes retransmitted", traffic->bytesRetrans, known(test.pathKnown, 4380));
  expect("segments retransmitted", traffic->retransmits, known(test.pathKnown, 3));
  expect("cwnd (not kept here)", traffic->cwnd, std::nullopt);
}

void check_statistics_reading() {
  for (const StatisticsCase& test : kStatisticsCases) {
    check_statistics_case<MIB_TCPROW>(test, "IPv4", &stand_in_get<MIB_TCPROW>,
                                      &stand_in_set<MIB_TCPROW>);
    check_statistics_case<MIB_TCP6ROW>(test, "IPv6", &stand_in_get<MIB_TCP6ROW>,
                                       &stand_in_set<MIB_TCP6ROW>);
  }
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
    check_statistics_reading();
    check_non_ascii_program(argv[0]);
    check_meter_view(argv[0]);
  }
  WSACleanup();
  return 0;
}

}  // namespace harness
