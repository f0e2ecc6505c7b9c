// Scenario entry points, one per host story.
#pragma once

namespace harness {

// The description exports and instance numbering.
int describe(int argc, char** argv);
// The configuration dialog, driven from a second thread.
int dialog(int argc, char** argv);
// The configuration dialog held open for a screenshot until a line arrives on standard input.
int dialog_show(int argc, char** argv);
// Settings loaded from a profile file and saved to another, under the real profile service.
int settings(int argc, char** argv);
// The harness's own sockets through ListPorts, the filters and dllshutdown's wait.
int meter(int argc, char** argv);
// Settings exports on read-only, missing, huge, junk and odd line-break files.
int odd_settings(int argc, char** argv);
// The host's whole lifecycle with two instances: harness lifecycle SETTINGS.ini SAVED.ini
int lifecycle(int argc, char** argv);
// FreeLibrary while the collector runs, then the process's end.
int unload(int argc, char** argv);
// quorvane.exe's listing of the harness's own sockets, and its meter view against ListPorts.
int command(int argc, char** argv);
// A UDP socket that has carried a datagram, held until standard input ends; "ready" once it is
// (a text-mode line: the reader must not count on a bare line feed).
int hold_socket(int argc, char** argv);

}  // namespace harness
