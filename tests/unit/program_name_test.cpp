// Program names from process ids: file names, "System", the empty name and the limited query.
#include "collector/program_name.hpp"

#include <gtest/gtest.h>

#include <string>

#include "fake/fake_os.hpp"

namespace {

struct NameCase {
  const char* what;
  std::optional<fake::Process> process;  // nullopt: no process has the id
  std::string expected;
};

TEST(ProgramName, EveryWayToANameOrItsFallback) {
  const std::string longName(200, 'n');
  const NameCase cases[] = {
      {"path with folders", fake::Process{true, true, "/opt/tools/app", std::nullopt}, "app"},
      {"path without a separator", fake::Process{true, true, "app.bin", std::nullopt}, "app.bin"},
      {"long file name kept whole", fake::Process{true, true, "/x/" + longName, std::nullopt},
       longName},
      {"no such process", std::nullopt, "System"},
      {"path query fails", fake::Process{true, true, std::nullopt, std::nullopt}, ""},
      {"module list hidden, no limited path", fake::Process{true, false, "/a/b", std::nullopt},
       "System"},
      {"module list hidden, limited path", fake::Process{true, false, "/a/b", "/c/limited"},
       "limited"},
      {"cannot open, limited path", fake::Process{false, true, "/a/b", "/c/protected"},
       "protected"},
      {"cannot open, no limited path", fake::Process{false, true, "/a/b", std::nullopt}, "System"},
  };
  for (const auto& c : cases) {
    fake::reset();
    if (c.process) fake::machine().processes[42] = *c.process;
    EXPECT_EQ(qv::ProgramName(42), c.expected) << c.what;
    EXPECT_EQ(fake::machine().openProcessHandles, 0) << c.what << ": handle left open";
  }
}

TEST(ProgramName, PathIsReadThroughTheModuleQueryRoomOf259Characters) {
  fake::reset();
  const std::string name(300, 'p');
  fake::machine().processes[7] = fake::Process{true, true, name, std::nullopt};
  EXPECT_EQ(qv::ProgramName(7), name.substr(0, 259));
  // The command's UTF-8 name has no fixed field to fit: it comes whole.
  EXPECT_EQ(qv::ProgramName(7, os::PathText::utf8), name);
}

}  // namespace
