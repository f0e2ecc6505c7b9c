// Scenario entry points, one per host story.
#pragma once

namespace harness {

// The description exports and instance numbering.
int describe(int argc, char** argv);

}  // namespace harness
