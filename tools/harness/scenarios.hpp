// Scenario entry points, one per host story.
#pragma once

namespace harness {

// The description exports and instance numbering.
int describe(int argc, char** argv);
// Settings loaded from a profile file and saved to another, under the real profile service.
int settings(int argc, char** argv);
// Settings exports on read-only, missing, huge, junk and odd line-break files.
int odd_settings(int argc, char** argv);

}  // namespace harness
