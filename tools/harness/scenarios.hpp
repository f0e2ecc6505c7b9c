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

}  // namespace harness
