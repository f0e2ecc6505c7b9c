// source_configure remembers the instance whatever the function name; only "ListPorts" exactly
// opens the dialog (which has nothing to show on Linux).
#include <gtest/gtest.h>

#include "fake/fake_os.hpp"
#include "host/exports.hpp"
#include "host/host_state.hpp"

namespace {

TEST(SourceConfigure, EveryNameMakesTheInstanceTheConfiguredOne) {
  fake::reset();
  quorvane_process_attach();
  dllstartup(0, 0);
  dllstartup(0, 0);
  const char* const names[] = {"ListPorts", "listports", "LISTPORTS", "ListPorts ",
                               "ListPort",  "",          nullptr};
  std::int32_t instance = 1;
  for (const char* name : names) {
    EXPECT_EQ(source_configure(instance, name), 0) << (name != nullptr ? name : "(null)");
    EXPECT_EQ(qv::host.configuredInstance, instance) << (name != nullptr ? name : "(null)");
    instance = 3 - instance;  // 1, 2, 1, ...: each call must replace the previous number
  }
  quorvane_process_detach();
}

}  // namespace
