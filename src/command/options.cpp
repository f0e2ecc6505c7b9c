// Argument parsing for quorvane: long options, "--name VALUE" or "--name=VALUE".
#include "options.hpp"

#include <cmath>
#include <cstdlib>
#include <string_view>

namespace quorvane {

const char kUsage[] =
    "Usage: quorvane [--template TEXT] [--settings FILE --section NAME] [--watch [SECONDS]]\n"
    "Lists this machine's IPv4 TCP and UDP endpoints through the Quorvane meter engine.\n"
    "\n"
    "  --template TEXT     lay out each endpoint with TEXT; placeholders %lip %lpt %rpt %pid\n"
    "                      %rip %nm %stat %ptt %hn; \\n, \\t and \\\\ stand for newline, tab\n"
    "                      and backslash\n"
    "  --settings FILE     load the meter's settings (Template, fltL, fltH, flt0, zero, ...)\n"
    "  --section NAME      from this section of FILE; options given here override the file\n"
    "  --watch [SECONDS]   refresh every SECONDS (default 1) until Ctrl-C\n"
    "  --help              show this text\n"
    "  --version           show the engine's version\n"
    "\n"
    "Without --settings: one endpoint per line, plain numbers, no endpoint filtered out.\n"
    "Exit status: 0 listed, 1 output could not be written, 2 bad arguments or settings file,\n"
    "130 interrupted before the first listing.\n";

namespace {

std::optional<double> read_seconds(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (*end != '\0' || !std::isfinite(value) || value < 0.1 || value > 86400) return std::nullopt;
  return value;
}

}  // namespace

std::string unescape_template(const std::string& text) {
  std::string result;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char next = i + 1 < text.size() ? text[i + 1] : '\0';
    if (text[i] == '\\' && (next == 'n' || next == 't' || next == '\\')) {
      result += next == 'n' ? '\n' : next == 't' ? '\t' : '\\';
      ++i;
    } else {
      result += text[i];
    }
  }
  return result;
}

std::variant<Options, std::string> parse_options(int argc, const char* const* argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    const std::size_t equals = argument.find('=');
    const std::string_view name = argument.substr(0, equals);
    std::optional<std::string> attached;
    if (equals != std::string_view::npos) attached = std::string(argument.substr(equals + 1));
    const auto value = [&]() -> std::optional<std::string> {
      if (attached) return attached;
      if (i + 1 < argc) return std::string(argv[++i]);
      return std::nullopt;
    };

    if (name == "--help" || name == "-h" || name == "--version" || name == "-V") {
      if (attached) return "option " + std::string(name) + " takes no value";
      (name == "--help" || name == "-h" ? options.help : options.version) = true;
    } else if (name == "--template" || name == "--settings" || name == "--section") {
      const std::optional<std::string> text = value();
      if (!text) return "option " + std::string(name) + " needs a value";
      if (name == "--template") options.outputTemplate = unescape_template(*text);
      if (name == "--settings") options.settingsFile = *text;
      if (name == "--section") options.section = *text;
    } else if (name == "--watch") {
      // The number is optional: a following argument that is not an option is taken as it.
      if (!attached && i + 1 < argc && argv[i + 1][0] != '-') attached = argv[++i];
      options.watchSeconds = kDefaultWatchSeconds;
      if (attached) {
        options.watchSeconds = read_seconds(*attached);
        if (!options.watchSeconds) {
          return "--watch needs a number of seconds from 0.1 to 86400, not '" + *attached + "'";
        }
      }
    } else if (argument.starts_with("-")) {
      return "unknown option '" + std::string(argument) + "'";
    } else {
      return "unexpected argument '" + std::string(argument) + "'";
    }
  }
  if (options.settingsFile.has_value() != options.section.has_value()) {
    return "--settings and --section go together";
  }
  return options;
}

}  // namespace quorvane
