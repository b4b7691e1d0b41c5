#include "hostkit/host_services.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "host/four_char_code.h"
#include "hostkit/protocol.h"

namespace vhost {
namespace {

// Host services over a home directory holding a resource file of one dialog.
class HostServicesTest : public testing::Test {
 protected:
  void SetUp() override {
    // A folder of this test's own: CTest runs tests in parallel, and one test
    // rewriting the files another is reading would make both flaky.
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    home_ = testing::TempDir() + "vhost-services-" + test->name() + "-" +
            std::to_string(std::random_device{}());
    std::filesystem::create_directories(home_);
    std::ofstream(home_ + "/Vestrel.rsc")
        << "dialog 21000 \"Vestrel\"\n  edit 3 \"5\"\n  checkbox 4 \"Freeze\"\nend\n";
    std::ofstream(home_ + "/Broken.rsc") << "dialog 21000 \"Vestrel\"\n  slider 3 \"5\"\nend\n";
    findings_.echo = false;
    services_ = std::make_unique<HostServices>(home_, &runner_, faults_, findings_);
    services_->BeginEntryCall("INTF");
  }

  void TearDown() override {
    services_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(home_, ignored);
  }

  void* OpenFile(const char* name) {
    void* directory = services_->GetHomeDirectory();
    void* file = services_->MakeFileRef(directory, name, FourCC("rsrc"), "rsc");
    void* resource = services_->OpenResourceFile(file);
    services_->DestroyFileRef(file);
    services_->DestroyDirectoryRef(directory);
    return resource;
  }

  std::string home_;
  ScriptedDialogRunner runner_{std::nullopt};
  FaultPlan faults_;
  Findings findings_;
  std::unique_ptr<HostServices> services_;
};

TEST_F(HostServicesTest, DialogFromTheResourceFileShowsAndReturnsTheValuesSet) {
  void* resource = OpenFile("Vestrel.rsc");
  ASSERT_NE(resource, nullptr);
  void* dialog = services_->MakeDialog(resource, 21000);
  ASSERT_NE(dialog, nullptr);
  void* edit = services_->FindControlByID(dialog, 3);
  void* box = services_->FindControlByID(dialog, 4);
  EXPECT_EQ(services_->FindControlByID(dialog, 5), nullptr);
  EXPECT_EQ(services_->GetEditTextStringSize(edit), 2);  // "5" and its NUL
  services_->SetEditTextString(edit, "12.25");
  services_->SetControlValue(box, 7);
  EXPECT_EQ(services_->ExecuteDialog(dialog), 1);
  EXPECT_EQ(services_->GetControlValue(box), 7);
  char buffer[8] = "xxxxxxx";
  int32_t length = 4;  // room for three characters and the NUL
  services_->GetEditTextString(edit, buffer, &length);
  EXPECT_STREQ(buffer, "12.");
  services_->DestroyDialog(dialog);
  services_->CloseResourceFile(resource);
  services_->EndEntryCall();
  EXPECT_FALSE(findings_.Failed());
  EXPECT_EQ(findings_.Count(ResourceKind::kDialog).obtained, 1u);
  EXPECT_EQ(findings_.Count(ResourceKind::kDialog).released, 1u);
}

TEST_F(HostServicesTest, BrokenResourceFileIsNotOpenedAndTheLineIsNoted) {
  EXPECT_EQ(OpenFile("Broken.rsc"), nullptr);
  ASSERT_FALSE(findings_.notes().empty());
  EXPECT_NE(findings_.notes()[0].find("Broken.rsc:2: unknown item 'slider'"), std::string::npos)
      << findings_.notes()[0];
  EXPECT_FALSE(findings_.Failed());  // the host's file, not the plug-in's fault
}

TEST_F(HostServicesTest, NullHandlesPassThroughQuietly) {
  EXPECT_EQ(services_->MakeFileRef(nullptr, "Vestrel.rsc", FourCC("rsrc"), "rsc"), nullptr);
  EXPECT_EQ(services_->OpenResourceFile(nullptr), nullptr);
  EXPECT_EQ(services_->MakeDialog(nullptr, 21000), nullptr);
  services_->DestroyFileRef(nullptr);
  services_->DestroyDirectoryRef(nullptr);
  services_->CloseResourceFile(nullptr);
  EXPECT_FALSE(findings_.Failed());
}

TEST_F(HostServicesTest, ReleasedOrUnknownHandlesAreViolations) {
  void* resource = OpenFile("Vestrel.rsc");
  void* dialog = services_->MakeDialog(resource, 21000);
  void* edit = services_->FindControlByID(dialog, 3);
  services_->DestroyDialog(dialog);
  services_->DestroyDialog(dialog);         // twice
  services_->SetEditTextString(edit, "1");  // control of a destroyed dialog
  services_->CloseResourceFile(resource);
  services_->CloseResourceFile(resource);  // twice
  services_->DestroyDirectoryRef(reinterpret_cast<void*>(0x1234));
  EXPECT_EQ(findings_.violations().size(), 4u);
}

TEST_F(HostServicesTest, WhatIsNotReleasedByTheEndOfTheCallIsALeak) {
  services_->GetHomeDirectory();
  void* resource = OpenFile("Vestrel.rsc");
  services_->MakeDialog(resource, 21000);
  services_->EndEntryCall();
  EXPECT_EQ(findings_.leaks().size(), 3u);
  EXPECT_TRUE(findings_.Failed());
  EXPECT_EQ(findings_.Count(ResourceKind::kDirectoryRef).leaked, 1u);
}

TEST_F(HostServicesTest, MissingDialogIsNullAndNoted) {
  void* resource = OpenFile("Vestrel.rsc");
  EXPECT_EQ(services_->MakeDialog(resource, 21001), nullptr);
  services_->CloseResourceFile(resource);
  EXPECT_FALSE(findings_.Failed());
}

TEST_F(HostServicesTest, CallsBetweenEntryCallsAreViolations) {
  services_->EndEntryCall();
  services_->GetHomeDirectory();
  EXPECT_FALSE(findings_.violations().empty());
}

TEST(FaultPlanTest, OptionValuesAreParsedOrRefused) {
  FaultPlan plan;
  std::string message;
  EXPECT_TRUE(plan.AddSelectorRefusal("TOBJ", &message));
  EXPECT_TRUE(plan.AddSelectorRefusal("ALOC:-108", &message));
  EXPECT_TRUE(plan.AddCallRefusal("3:7", &message));
  EXPECT_TRUE(plan.AddHiddenFunction(vhost::kOrvoExecuteDialog, &message));
  EXPECT_FALSE(plan.AddSelectorRefusal("INFO", &message));    // the host sends that one
  EXPECT_FALSE(plan.AddSelectorRefusal("TOBJ:0", &message));  // 0 is success
  EXPECT_FALSE(plan.AddSelectorRefusal("TOBJ:x", &message));
  EXPECT_FALSE(plan.AddCallRefusal("0", &message));
  EXPECT_FALSE(plan.AddCallRefusal("-2:5", &message));
  EXPECT_FALSE(plan.AddFunctionRefusal("Orvo_Nothing", &message));
  EXPECT_EQ(plan.CallbackRefusal(FourCC("TOBJ"), 1), kDefaultRefusalCode);
  EXPECT_EQ(plan.CallbackRefusal(FourCC("ALOC"), 1), -108);
  EXPECT_EQ(plan.CallbackRefusal(FourCC("CREA"), 3), 7);
  EXPECT_EQ(plan.CallbackRefusal(FourCC("CREA"), 4), std::nullopt);
  EXPECT_TRUE(plan.Hidden(vhost::kOrvoExecuteDialog));
}

TEST(FaultPlanTest, NumbersAreWholeDecimalsWithinTheCountRange) {
  for (const char* number : {" 3", "3 ", "+2", "2147483648", "18446744073709551617", "0x10", ""}) {
    SCOPED_TRACE(number);
    FaultPlan plan;
    std::string message;
    EXPECT_FALSE(plan.AddFunctionCallRefusal(number, &message));
    EXPECT_FALSE(plan.AddHiddenLookup(number, &message));
    EXPECT_FALSE(plan.AddCallRefusal(number, &message));
    EXPECT_FALSE(plan.AddCallRefusal(std::string("3:") + number, &message));
  }
  FaultPlan plan;
  std::string message;
  EXPECT_TRUE(plan.AddFunctionCallRefusal("2147483647", &message));
  EXPECT_TRUE(plan.AddCallRefusal("1:-2147483648", &message));
}

}  // namespace
}  // namespace vhost
