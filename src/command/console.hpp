// The few things the command needs from its platform beyond the OS seam: whether stdout is a
// terminal and what it can draw, its window's size, interrupts, the settings file's kind, the
// heap's pages, and leaving at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace qv::console {

bool stdout_is_terminal();

// Whether stdout is a terminal that can move its cursor and erase, so that --watch can redraw
// one screen: not TERM=dumb, nor a terminal the system has no description of.
bool stdout_redraws();

struct WindowSize {
  std::size_t rows = 0;
  std::size_t columns = 0;
};
// The size of the window that stdout's terminal shows; nullopt when it tells none.
std::optional<WindowSize> window_size();

// From now on a change of the window's size cuts a pause short.
void notice_resizes();
// Waits up to milliseconds, less when the window's size changes meanwhile (or changed since the
// last pause), so that a redraw can follow at once.
void pause_ms(std::uint32_t milliseconds);

// From now on Ctrl-C and SIGTERM end the process at once with this status: while the command
// collects or pauses, it holds nothing that needs tidying up.
void exit_on_interrupt(int status);
// From now on an interrupt is only noted, so that output under way is written whole; the next
// exit_on_interrupt then ends the process.
void note_interrupts();

// The system's text for an error number (errno).
std::string error_text(int error);

// Why the settings file cannot be read as one ("No such file or directory", "not a regular
// file", ...), found without blocking on a FIFO or a device; nullopt for a readable file.
std::optional<std::string> settings_file_problem(const std::string& file);
// The settings file's name as the profile service must be given it: Windows looks for a name
// without a folder in the Windows folder rather than the current one, so there it is made whole.
std::string settings_path(const std::string& file);

// Flushes the standard streams and ends the process with status at once, without waiting for
// look-ups still in flight or running destructors.
[[noreturn]] void exit_now(int status);

// Readies the heap for the tables of a listing, megabytes allocated and filled at once: where the
// system can, they are backed by huge pages, and memory freed between refreshes stays for the
// next. Called first thing, before any thread starts.
void prepare_heap();

}  // namespace qv::console
