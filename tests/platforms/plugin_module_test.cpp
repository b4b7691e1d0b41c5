// The shipped plug-in module, loaded as a host loads it: its lookup must reach
// this program's exported host functions even though the module holds
// forwarding functions of the same names, and it must export nothing but Main.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "host/entry.h"
#include "tests/support/fake_dialog_host.h"
#include "tests/support/test_host.h"

namespace {

TEST(PluginModule, LoadedPluginRunsTheDialogThroughThisProgramsHostFunctions) {
  void* module = dlopen(VESTREL_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(module, nullptr) << dlerror();
  auto entry = reinterpret_cast<TestHost::EntryFunction>(dlsym(module, "Main"));
  ASSERT_NE(entry, nullptr);
  ASSERT_NE(entry, &Main) << "found the test program's own entry, not the module's";
  for (std::string name : kHostFunctionNames) {
    EXPECT_EQ(dlsym(module, name.c_str()), nullptr) << name << " is exported by the plug-in";
  }

  FakeDialogHost fake;
  fake.user = [](FakeDialog& dialog) {
    dialog.Control(3)->text = "12.5";
    dialog.Control(4)->value = 1;
    return 1;
  };
  TestHost host;
  host.SetBlock(TestHost::MakeBlock(7.5f, 0, 0, {}));

  EXPECT_EQ(host.SendTo(entry, kSelectorInterface), 0);

  ASSERT_EQ(fake.shown.size(), 1u);
  EXPECT_EQ(fake.shown[0].title, "Vestrel 1.6");
  EXPECT_EQ(fake.shown[0].Control(3)->text, "7.5");
  EXPECT_EQ(host.Block()->angleTolerance, 12.5f);
  EXPECT_EQ(host.Block()->freezeFlag, 1);
  EXPECT_EQ(host.Selectors(), std::vector<uint32_t>{kSelectorReset});
  EXPECT_EQ(fake.LiveCount(), 0);
  EXPECT_TRUE(fake.violations().empty());
  // The module has its own cache and its own lookup: the fake's lookup in this
  // program was never asked.
  EXPECT_TRUE(fake.lookups().empty());
  dlclose(module);
}

}  // namespace
