// Plays profile reads and writes from a script through the platform's profile service and prints
// what each one answers; built for Windows (the system's service) and Linux (the INI layer) so
// that the two can be compared on the same files. Usage: profile_probe FILE SCRIPT
// Script lines hold tab-separated fields, bytes escaped as \t \n \r \\ \xHH:
//   R <section> <key> <default> <buffer size>   prints "<count>\t<value up to its NUL>"
//   W <section> <key> <value>                    prints "1" on success, "0" on failure
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "os/os.hpp"

namespace {

std::string unescape(const std::string& field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '\\' || i + 1 == field.size()) {
      out += field[i];
      continue;
    }
    const char code = field[++i];
    if (code == 't')
      out += '\t';
    else if (code == 'n')
      out += '\n';
    else if (code == 'r')
      out += '\r';
    else if (code == 'x' && i + 2 < field.size()) {
      out += static_cast<char>(std::strtoul(field.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else
      out += code;
  }
  return out;
}

std::string escape(const char* text) {
  std::string out;
  for (; *text != '\0'; ++text) {
    const auto byte = static_cast<unsigned char>(*text);
    if (byte == '\\')
      out += "\\\\";
    else if (byte < 0x20 || byte >= 0x7F) {
      char code[5];
      std::snprintf(code, sizeof code, "\\x%02X", byte);
      out += code;
    } else
      out += static_cast<char>(byte);
  }
  return out;
}

std::vector<std::string> fields_of(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    fields.push_back(unescape(line.substr(start, tab - start)));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: profile_probe FILE SCRIPT\n");
    return 2;
  }
  std::FILE* script = std::fopen(argv[2], "rb");
  if (script == nullptr) {
    std::fprintf(stderr, "profile_probe: cannot open %s\n", argv[2]);
    return 2;
  }
  const char* file = argv[1];
  std::string line;
  for (int c = std::fgetc(script); c != EOF || !line.empty(); c = std::fgetc(script)) {
    if (c != '\n' && c != EOF) {
      line += static_cast<char>(c);
      continue;
    }
    const std::vector<std::string> f = fields_of(line);
    line.clear();
    if (f.size() == 5 && f[0] == "R") {
      std::vector<char> buffer(std::strtoul(f[4].c_str(), nullptr, 10) + 1, '\0');
      const std::size_t count = os::read_profile_string(f[1].c_str(), f[2].c_str(), f[3].c_str(),
                                                        {buffer.data(), buffer.size() - 1}, file);
      std::printf("%zu\t%s\n", count, escape(buffer.data()).c_str());
    } else if (f.size() == 4 && f[0] == "W") {
      std::printf("%d\n", os::write_profile_string(f[1].c_str(), f[2].c_str(), f[3].c_str(), file));
    } else {
      std::fprintf(stderr, "profile_probe: bad script line\n");
      std::fclose(script);
      return 2;
    }
    if (c == EOF) break;
  }
  std::fclose(script);
  return 0;
}
