// The twelve entry points the host calls, under their plain names and the Windows API calling
// convention (the called function removes its arguments).
#pragma once

#include <cstdint>

#ifdef _WIN32
#define QV_CALL __stdcall
#else
#define QV_CALL
#endif

extern "C" {

std::int32_t QV_CALL dlltype() noexcept;
std::int32_t QV_CALL dllstartup(std::uintptr_t hostWindow, std::int32_t ignored) noexcept;
std::int32_t QV_CALL dllshutdown(std::int32_t ignored) noexcept;
const char* QV_CALL getinfo(std::int32_t index) noexcept;
const char* QV_CALL init() noexcept;
const char* QV_CALL getparam(std::int32_t ignored) noexcept;
std::int32_t QV_CALL configure() noexcept;
std::int32_t QV_CALL source_configure(std::int32_t instance, const char* functionName) noexcept;
std::int32_t QV_CALL pastemeter(std::int32_t source, std::int32_t destination) noexcept;
std::int32_t QV_CALL src_load_settings(std::int32_t instance, const char* file,
                                       const char* section) noexcept;
std::int32_t QV_CALL src_save_settings(std::int32_t instance, const char* file,
                                       const char* section) noexcept;
const char* QV_CALL ListPorts(std::int32_t instance) noexcept;

}  // extern "C"

// Where no loader notifies the library (on Linux, and where the engine is linked into a program
// rather than loaded as the DLL), its host does: once before the first call, once after the last.
void quorvane_process_attach() noexcept;
void quorvane_process_detach() noexcept;
