// The quorvane command's options, read from its arguments.
#pragma once

#include <optional>
#include <string>
#include <variant>

namespace quorvane {

struct Options {
  bool help = false;
  bool version = false;
  std::optional<std::string> outputTemplate;  // escapes already turned into characters
  std::optional<std::string> settingsFile;
  std::optional<std::string> section;
  std::optional<double> watchSeconds;  // set: refresh like a meter until interrupted
};

inline constexpr double kDefaultWatchSeconds = 1.0;

// The options, or a one-line reason why the arguments are not usable.
std::variant<Options, std::string> parse_options(int argc, const char* const* argv);

// "\n", "\t" and "\\" in a template given on the command line; any other backslash stays.
std::string unescape_template(const std::string& text);

extern const char kUsage[];

}  // namespace quorvane
