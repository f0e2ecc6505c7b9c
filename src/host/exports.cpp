// The host's entry points. Each export is a thin, non-throwing door into its subsystem.
#include "host/exports.hpp"

#include <cstring>
#include <string>

#include "collector/collector.hpp"
#include "common/text.hpp"
#include "dialog/filter_output_dialog.hpp"
#include "host/engine_version.hpp"
#include "host/host_state.hpp"
#include "host/settings.hpp"
#include "listing/list_ports.hpp"
#include "os/os.hpp"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// getinfo(4) answers with a text that must outlive the call.
char dateText[64];

// "May 01 2027": month name in the user's language, two-digit day, four-digit year.
const char* current_date_text() {
  const os::LocalDate date = os::local_date();
  std::string text = os::month_name(date.month);
  char number[21];
  text += ' ';
  qv::format_number(static_cast<std::uint64_t>(date.day), 2, number);
  text += number;
  text += ' ';
  qv::format_number(static_cast<std::uint64_t>(date.year), 4, number);
  text += number;
  qv::store_text(dateText, text);
  return dateText;
}

}  // namespace

extern "C" {

std::int32_t QV_CALL dlltype() noexcept { return 1; }

std::int32_t QV_CALL dllstartup(std::uintptr_t hostWindow, std::int32_t /*ignored*/) noexcept {
  return qv::start_instance(hostWindow);
}

std::int32_t QV_CALL dllshutdown(std::int32_t /*ignored*/) noexcept {
  qv::stop_collector();
  return 0;
}

const char* QV_CALL getinfo(std::int32_t index) noexcept {
  switch (index) {
    case 0:
      return "Quorvane";
    case 1:
      return "Orvexa";
    case 2:
      return qv::kEngineVersion;
    case 3:
      return "Today";
    case 4:
      try {
        return current_date_text();
      } catch (...) {
        return "";
      }
    case 5:
      return "No Homepage";
    case 6:
      return "No";
    default:
      return "";
  }
}

const char* QV_CALL init() noexcept { return "ListPorts"; }

const char* QV_CALL getparam(std::int32_t /*ignored*/) noexcept { return ""; }

std::int32_t QV_CALL configure() noexcept { return 0; }

std::int32_t QV_CALL source_configure(std::int32_t instance, const char* functionName) noexcept {
  qv::host.configuredInstance = instance;
  if (functionName != nullptr && std::strcmp(functionName, "ListPorts") == 0 &&
      qv::instance_record(instance) != nullptr) {
    qv::ShowFilterOutputDialog(qv::host.hostWindow);
  }
  return 0;
}

std::int32_t QV_CALL pastemeter(std::int32_t source, std::int32_t destination) noexcept {
  const qv::InstanceSettings* from = qv::instance_record(source);
  qv::InstanceSettings* to = qv::instance_record(destination);
  if (from != nullptr && to != nullptr && from != to) *to = *from;
  return 0;
}

std::int32_t QV_CALL src_load_settings(std::int32_t instance, const char* file,
                                       const char* section) noexcept {
  if (qv::InstanceSettings* record = qv::instance_record(instance)) {
    qv::load_settings(*record, file, section);
  }
  return 0;
}

std::int32_t QV_CALL src_save_settings(std::int32_t instance, const char* file,
                                       const char* section) noexcept {
  if (const qv::InstanceSettings* record = qv::instance_record(instance)) {
    qv::save_settings(*record, file, section);
  }
  return 0;
}

const char* QV_CALL ListPorts(std::int32_t instance) noexcept { return qv::list_ports(instance); }

}  // extern "C"

void quorvane_process_attach() noexcept { qv::host_attach(); }

void quorvane_process_detach() noexcept {
  qv::host_detach();
  qv::release_collector();
}

#ifdef _WIN32

BOOL WINAPI DllMain(HINSTANCE /*module*/, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      quorvane_process_attach();
      break;
    case DLL_PROCESS_DETACH:
      // At process exit (reserved != nullptr) the other threads are already gone, perhaps in the
      // middle of a pass: leave the memory to the system.
      if (reserved == nullptr) quorvane_process_detach();
      break;
    default:
      break;
  }
  return TRUE;
}

#endif
