// The host functions as the plug-in finds and forwards them, and
// OpenResourceFile. The functions found are the ones this test program
// exports (fake_dialog_host.cpp), reached through the real run-time lookup.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/four_char_code.h"
#include "host/host_functions.h"
#include "host/host_functions_detail.h"
#include "tests/support/fake_dialog_host.h"

namespace {

using Calls = std::vector<std::string>;

TEST(HostFunctionLookup, FindsTheHostsExportsNotThePluginsOwnFunctions) {
  for (std::string name : kHostFunctionNames) {
    void* found = LookUpInProcess(name.c_str());
    EXPECT_NE(found, nullptr) << name;
    EXPECT_EQ(found, FakeDialogHost::ExportedFunction(name)) << name;
  }
  EXPECT_NE(LookUpInProcess(vhost::kOrvoMakeDialog), reinterpret_cast<void*>(&Orvo_MakeDialog));
}

TEST(HostFunctionLookup, LooksEachNameUpOnceOnFirstUseOnly) {
  FakeDialogHost fake;
  HostResourceFile file = OpenResourceFile("Vestrel.rsc");
  HostDialog dialog = Orvo_MakeDialog(file, 21000);
  ASSERT_NE(dialog, nullptr);
  EXPECT_NE(Orvo_FindControlByID(dialog, 3), nullptr);
  EXPECT_NE(Orvo_FindControlByID(dialog, 4), nullptr);
  EXPECT_EQ(Orvo_FindControlByID(dialog, 99), nullptr);
  Orvo_DestroyDialog(dialog);
  Orvo_CloseResourceFile(file);

  EXPECT_EQ(fake.lookups()[vhost::kOrvoFindControlByID], 1);
  EXPECT_EQ(fake.CallsOf(vhost::kOrvoFindControlByID), 3);
  EXPECT_EQ(fake.lookups()[vhost::kOrvoMakeDialog], 1);
  EXPECT_EQ(fake.lookups().count(vhost::kOrvoExecuteDialog), 0u)
      << "a function never called is never looked up";
  EXPECT_EQ(fake.LiveCount(), 0);
  EXPECT_TRUE(fake.violations().empty());
}

TEST(HostFunctionLookup, MissingFunctionIsNotCalledAndLookedUpAgainOnEveryCall) {
  FakeDialogHost fake;
  fake.Hide(vhost::kOrvoExecuteDialog);
  HostResourceFile file = OpenResourceFile("Vestrel.rsc");
  HostDialog dialog = Orvo_MakeDialog(file, 21000);

  EXPECT_EQ(Orvo_ExecuteDialog(dialog), 0);
  EXPECT_EQ(Orvo_ExecuteDialog(dialog), 0);
  EXPECT_EQ(fake.lookups()[vhost::kOrvoExecuteDialog], 2);
  EXPECT_EQ(fake.CallsOf(vhost::kOrvoExecuteDialog), 0);

  // Once the host has it, the next call finds and calls it.
  fake.Unhide(vhost::kOrvoExecuteDialog);
  EXPECT_EQ(Orvo_ExecuteDialog(dialog), 1);
  EXPECT_EQ(Orvo_ExecuteDialog(dialog), 1);
  EXPECT_EQ(fake.lookups()[vhost::kOrvoExecuteDialog], 3);
  EXPECT_EQ(fake.CallsOf(vhost::kOrvoExecuteDialog), 2);

  Orvo_DestroyDialog(dialog);
  Orvo_CloseResourceFile(file);
  EXPECT_TRUE(fake.violations().empty());
}

TEST(OpenResourceFile, PassesNameTypeAndExtensionThenReleasesBothReferences) {
  FakeDialogHost fake;
  HostResourceFile file = OpenResourceFile("Vestrel.rsc");

  ASSERT_NE(file, nullptr);
  EXPECT_EQ(fake.calls(), (Calls{vhost::kOrvoGetHomeDirectory, vhost::kOrvoMakeFileRef,
                                 vhost::kOrvoOpenResourceFile, vhost::kOrvoDestroyFileRef,
                                 vhost::kOrvoDestroyDirectoryRef}));
  EXPECT_EQ(fake.fileNames(), (Calls{"Vestrel.rsc"}));
  EXPECT_EQ(fake.fileTypes(), (std::vector<uint32_t>{FourCC("rsrc")}));
  EXPECT_EQ(fake.extensions(), (Calls{"rsc"}));
  EXPECT_EQ(fake.Live(), (std::map<std::string, int>{{"resource file", 1}}));

  Orvo_CloseResourceFile(file);
  EXPECT_EQ(fake.LiveCount(), 0);
  EXPECT_TRUE(fake.violations().empty());
}

TEST(OpenResourceFile, FileThatDoesNotOpenStillReleasesBothReferences) {
  FakeDialogHost fake;
  fake.homeDirectory = "/nonexistent-vestrel-home";

  EXPECT_EQ(OpenResourceFile("Vestrel.rsc"), nullptr);
  EXPECT_EQ(fake.calls(), (Calls{vhost::kOrvoGetHomeDirectory, vhost::kOrvoMakeFileRef,
                                 vhost::kOrvoOpenResourceFile, vhost::kOrvoDestroyFileRef,
                                 vhost::kOrvoDestroyDirectoryRef}));
  EXPECT_EQ(fake.LiveCount(), 0);
  EXPECT_TRUE(fake.violations().empty());
}

TEST(OpenResourceFile, NoStepIsSkippedWhenTheHomeDirectoryIsMissing) {
  FakeDialogHost fake;
  fake.Hide(vhost::kOrvoGetHomeDirectory);

  EXPECT_EQ(OpenResourceFile("Vestrel.rsc"), nullptr);
  EXPECT_EQ(fake.calls(), (Calls{vhost::kOrvoMakeFileRef, vhost::kOrvoOpenResourceFile,
                                 vhost::kOrvoDestroyFileRef, vhost::kOrvoDestroyDirectoryRef}));
  EXPECT_EQ(fake.nullReleases(), 2);
  EXPECT_TRUE(fake.violations().empty());
}

}  // namespace
