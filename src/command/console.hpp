// The few things the command needs from its platform beyond the OS seam: whether stdout is a
// terminal, interrupts, the settings file's kind, and leaving at once.
#pragma once

#include <optional>
#include <string>

namespace qv::console {

bool stdout_is_terminal();

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

}  // namespace qv::console
