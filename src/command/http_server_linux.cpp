// The exporter's HTTP server on Linux: libmicrohttpd on a listening socket of our own (so that an
// address in use is reported as such), bounded in connections, time and request size, and the
// periodic task on the calling thread until SIGTERM or SIGINT. The library is loaded only here:
// with it come the TLS libraries, whose loading would slow every other run of the command.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <exception>
#include <optional>

#include "command/console.hpp"
#include "command/http_server.hpp"
#include "os/linux/descriptor.hpp"

namespace qv {

namespace {

// A scraper needs one connection; the limit leaves room for many scrapers and for idle clients
// that a polling thread holds at no cost to the others.
constexpr std::intptr_t kConnectionLimit = 256;
// A client silent this long is dropped.
constexpr std::intptr_t kConnectionTimeoutSeconds = 10;
// A request's line and headers must fit here; a longer one is refused with an error status.
constexpr std::intptr_t kRequestMemoryLimit = std::intptr_t{16} * 1024;
// Each thread polls its own share of the connections with epoll: a slow or silent client costs
// a descriptor in the poll, never a thread, so it holds up no other scrape.
constexpr std::intptr_t kServerThreads = 2;
constexpr int kListenBacklog = 128;

constexpr const char* kLibraryName = "libmicrohttpd.so.12";

// The library's functions that the server calls, typed from its header so that they cannot drift
// from what the library exports.
struct Microhttpd {
  decltype(&MHD_start_daemon) startDaemon = nullptr;
  decltype(&MHD_quiesce_daemon) quiesceDaemon = nullptr;
  decltype(&MHD_stop_daemon) stopDaemon = nullptr;
  decltype(&MHD_lookup_connection_value) lookupConnectionValue = nullptr;
  decltype(&MHD_create_response_from_buffer) createResponseFromBuffer = nullptr;
  decltype(&MHD_add_response_header) addResponseHeader = nullptr;
  decltype(&MHD_queue_response) queueResponse = nullptr;
  decltype(&MHD_destroy_response) destroyResponse = nullptr;
};

// What each request is answered with: the library's functions and the caller's handler.
struct RequestContext {
  const Microhttpd& library;
  const HttpHandler& handler;
};

template <typename Function>
bool find_function(void* library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(dlsym(library, name));
  return function != nullptr;
}

// Loads the library into microhttpd; the one-line reason when it cannot. It stays loaded for the
// rest of the process: the server is the last thing the command does.
std::optional<std::string> load_microhttpd(Microhttpd& microhttpd) {
  void* library = dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr || !find_function(library, "MHD_start_daemon", microhttpd.startDaemon) ||
      !find_function(library, "MHD_quiesce_daemon", microhttpd.quiesceDaemon) ||
      !find_function(library, "MHD_stop_daemon", microhttpd.stopDaemon) ||
      !find_function(library, "MHD_lookup_connection_value", microhttpd.lookupConnectionValue) ||
      !find_function(library, "MHD_create_response_from_buffer",
                     microhttpd.createResponseFromBuffer) ||
      !find_function(library, "MHD_add_response_header", microhttpd.addResponseHeader) ||
      !find_function(library, "MHD_queue_response", microhttpd.queueResponse) ||
      !find_function(library, "MHD_destroy_response", microhttpd.destroyResponse)) {
    // NOLINTNEXTLINE(concurrency-mt-unsafe): glibc keeps the last loading error per thread.
    const char* error = dlerror();
    return std::string("--serve needs ") + kLibraryName +
           " (Debian package libmicrohttpd12): " + (error ? error : "not found");
  }
  return std::nullopt;
}

std::string address_text(const ServeAddress& address) {
  const bool ipv6 = address.host.find(':') != std::string::npos;
  return (ipv6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(address.port);
}

// Opens a listening, non-blocking socket on the address into listener; the one-line reason when it
// cannot.
std::optional<std::string> listen_on(const ServeAddress& address,
                                     std::optional<os::Descriptor>& listener) {
  sockaddr_in ipv4{};
  sockaddr_in6 ipv6{};
  const sockaddr* name = nullptr;
  socklen_t length = 0;
  if (inet_pton(AF_INET, address.host.c_str(), &ipv4.sin_addr) == 1) {
    ipv4.sin_family = AF_INET;
    ipv4.sin_port = htons(address.port);
    name = reinterpret_cast<const sockaddr*>(&ipv4);
    length = sizeof ipv4;
  } else if (inet_pton(AF_INET6, address.host.c_str(), &ipv6.sin6_addr) == 1) {
    ipv6.sin6_family = AF_INET6;
    ipv6.sin6_port = htons(address.port);
    name = reinterpret_cast<const sockaddr*>(&ipv6);
    length = sizeof ipv6;
  } else {
    return "--serve needs a numeric IPv4 or IPv6 address, not '" + address.host + "'";
  }
  const std::string cannot = "cannot listen on " + address_text(address) + ": ";
  const int fd = ::socket(name->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return cannot + console::error_text(errno);
  listener.emplace(fd);
  // A restarted exporter takes its port back while the last one's connections are in TIME-WAIT.
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (bind(fd, name, length) != 0 || listen(fd, kListenBacklog) != 0) {
    return cannot + console::error_text(errno);
  }
  return std::nullopt;
}

MHD_Response* response_for(const Microhttpd& library, const HttpReply& reply) {
  MHD_Response* response = library.createResponseFromBuffer(
      reply.body.size(), const_cast<char*>(reply.body.data()), MHD_RESPMEM_MUST_COPY);
  if (response == nullptr) return nullptr;
  library.addResponseHeader(response, MHD_HTTP_HEADER_CONTENT_TYPE, reply.contentType.c_str());
  if (reply.status == MHD_HTTP_METHOD_NOT_ALLOWED) {
    library.addResponseHeader(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
  }
  return response;
}

MHD_Result answer(void* context, MHD_Connection* connection, const char* url, const char* method,
                  const char* /*version*/, const char* /*uploadData*/, size_t* uploadDataSize,
                  void** requestState) {
  // The answer goes out on the request's first call, before any body; later calls only have a
  // body to pass over.
  static char answered;
  if (*requestState == &answered) {
    *uploadDataSize = 0;
    return MHD_YES;
  }
  *requestState = &answered;
  const auto& [library, handler] = *static_cast<const RequestContext*>(context);
  try {
    const char* accept =
        library.lookupConnectionValue(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_ACCEPT);
    const HttpReply reply = handler(method, url, accept ? accept : "");
    MHD_Response* response = response_for(library, reply);
    if (response == nullptr) return MHD_NO;
    const MHD_Result queued = library.queueResponse(connection, reply.status, response);
    library.destroyResponse(response);
    return queued;
  } catch (const std::exception&) {
    // Out of memory while writing the answer: the connection is closed, the server goes on.
    return MHD_NO;
  }
}

// Waits until due for SIGTERM or SIGINT (blocked in every thread); true when one came.
bool stop_signal_before(std::chrono::steady_clock::time_point due, const sigset_t& stops) {
  for (;;) {
    const auto left = due - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return false;
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
    const timespec wait{
        seconds.count(),
        std::chrono::duration_cast<std::chrono::nanoseconds>(left - seconds).count()};
    const int signal = sigtimedwait(&stops, nullptr, &wait);
    if (signal == SIGTERM || signal == SIGINT) return true;
    if (signal < 0 && errno == EAGAIN) return false;
  }
}

}  // namespace

std::optional<std::string> serve_http(const ServeAddress& address, double intervalSeconds,
                                      const HttpHandler& handler,
                                      const std::function<void()>& tick) {
  Microhttpd library;
  if (auto reason = load_microhttpd(library)) return reason;
  std::optional<os::Descriptor> listener;
  if (auto reason = listen_on(address, listener)) return reason;

  // Blocked before the server's threads start, so that they inherit it and the signals wait
  // for this thread.
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGTERM);
  sigaddset(&stops, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);

  using Clock = std::chrono::steady_clock;
  const auto interval =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(intervalSeconds));
  Clock::time_point began = Clock::now();
  tick();

  MHD_OptionItem options[] = {
      {MHD_OPTION_LISTEN_SOCKET, listener->get(), nullptr},
      {MHD_OPTION_CONNECTION_LIMIT, kConnectionLimit, nullptr},
      {MHD_OPTION_CONNECTION_TIMEOUT, kConnectionTimeoutSeconds, nullptr},
      {MHD_OPTION_CONNECTION_MEMORY_LIMIT, kRequestMemoryLimit, nullptr},
      {MHD_OPTION_THREAD_POOL_SIZE, kServerThreads, nullptr},
      {MHD_OPTION_END, 0, nullptr},
  };
  RequestContext context{library, handler};
  MHD_Daemon* daemon =
      library.startDaemon(MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_USE_ITC, 0, nullptr,
                          nullptr, &answer, &context, MHD_OPTION_ARRAY, options, MHD_OPTION_END);
  if (daemon == nullptr) return "cannot start the HTTP server on " + address_text(address);

  while (!stop_signal_before(began + interval, stops)) {
    began = Clock::now();
    tick();
  }
  // The listening socket stays ours to close: the server only stops using it.
  library.quiesceDaemon(daemon);
  library.stopDaemon(daemon);
  return std::nullopt;
}

}  // namespace qv
