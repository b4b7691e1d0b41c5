// 'INTF' end to end: the test host sends the selector, the plug-in finds this
// program's host functions at run time and runs the shipped resource file's
// dialog in the fake dialog host, whose scripted user edits and closes it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <math.h>
#include <string.h>

#include <fstream>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "host/pascal_string.h"
#include "host/reset_record.h"
#include "tests/support/fake_dialog_host.h"
#include "tests/support/test_host.h"

namespace {

using Live = std::map<std::string, int>;

uint32_t Bits(float value) {
  uint32_t bits;
  memcpy(&bits, &value, sizeof bits);
  return bits;
}

// The user types text into control 3, sets the buttons and closes the dialog
// with answer (non-zero accepts).
std::function<int32_t(FakeDialog&)> User(const std::string& text, int32_t freeze, int32_t reverse,
                                         int32_t answer = 1) {
  return [=](FakeDialog& dialog) {
    if (FakeControl* angle = dialog.Control(3)) angle->text = text;
    if (FakeControl* control = dialog.Control(4)) control->value = freeze;
    if (FakeControl* control = dialog.Control(5)) control->value = reverse;
    return answer;
  };
}

std::function<int32_t(FakeDialog&)> Cancels() {
  return [](FakeDialog&) { return 0; };
}

// Every byte outside the three edited fields (4 to 15) is as it was.
void ExpectOnlyParametersChanged(const std::vector<uint8_t>& before,
                                 const std::vector<uint8_t>& after) {
  ASSERT_EQ(before.size(), after.size());
  for (size_t i = 0; i < before.size(); ++i) {
    if (i >= 4 && i < 16) continue;
    ASSERT_EQ(before[i], after[i]) << "byte " << i;
  }
}

void ExpectBalanced(const FakeDialogHost& fake) {
  EXPECT_EQ(fake.LiveCount(), 0) << "a handle was not released";
  EXPECT_TRUE(fake.violations().empty()) << fake.violations().front();
}

const std::vector<Fxyzu> kPath = {{1, 2, 3, 1}, {4, 5, 6, 2}};

// Leaves a number in every buffer of the string ring, so that a text buffer
// the host never writes would read as 99 rather than as nothing.
void FillStringRingWithNumbers() {
  for (int k = 0; k < kStringRingSize; ++k) strcpy(reinterpret_cast<char*>(PStrNext()), "99");
}

// A directory of the test's own holding a Vestrel.rsc with the given text.
std::string HomeWithResourceFile(const std::string& name, const std::string& text) {
  std::string directory = testing::TempDir() + "vestrel-" + name;
  mkdir(directory.c_str(), 0700);
  std::ofstream(directory + "/Vestrel.rsc") << text;
  return directory;
}

TEST(ResourceFile, ShippedFileHoldsTheDialogWithItsThreeControls) {
  std::ifstream stream(std::string(VESTREL_TEST_HOME_DIRECTORY) + "/Vestrel.rsc");
  ASSERT_TRUE(stream);
  std::stringstream text;
  text << stream.rdbuf();
  std::vector<FakeDialog> dialogs;
  std::string error;
  ASSERT_TRUE(ReadFakeDialogs(text.str(), &dialogs, &error)) << error;

  ASSERT_EQ(dialogs.size(), 1u);
  const FakeDialog& dialog = dialogs[0];
  EXPECT_EQ(dialog.id, 21000);
  ASSERT_NE(dialog.Control(3), nullptr);
  EXPECT_EQ(dialog.Control(3)->kind, "edit");
  EXPECT_EQ(dialog.Control(3)->text, "5");
  ASSERT_NE(dialog.Control(4), nullptr);
  EXPECT_EQ(dialog.Control(4)->kind, "checkbox");
  ASSERT_NE(dialog.Control(5), nullptr);
  EXPECT_EQ(dialog.Control(5)->kind, "checkbox");
  int ok = 0, cancel = 0;
  for (const FakeControl& control : dialog.controls) {
    ok += control.kind == "ok";
    cancel += control.kind == "cancel";
  }
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(cancel, 1);
}

struct ShowCase {
  const char* behaviour;
  float angle;
  int32_t freeze, reverse;
  const char* text;
};

TEST(Interface, ShowsTheBlocksParametersUnderItsOwnTitle) {
  const ShowCase cases[] = {
      {"defaults", 5.0f, 0, 0, "5"},
      {"one decimal", 7.5f, 1, 0, "7.5"},
      {"whole number", 10.0f, 0, 1, "10"},
      {"rounded to one decimal", 2.34f, 0, 0, "2.3"},
      {"small angle shows as 0", 0.04f, 0, 0, "0"},
      {"small negative angle shows as 0", -0.04f, 0, 0, "0"},
      {"button values shown as stored", 1.0f, 7, -3, "1"},
  };
  for (const ShowCase& c : cases) {
    SCOPED_TRACE(c.behaviour);
    FakeDialogHost fake;
    fake.user = Cancels();
    TestHost host;
    host.SetBlock(TestHost::MakeBlock(c.angle, c.freeze, c.reverse, kPath));

    EXPECT_EQ(host.Send(kSelectorInterface), 4);

    ASSERT_EQ(fake.shown.size(), 1u);
    const FakeDialog& shown = fake.shown[0];
    EXPECT_EQ(fake.dialogIds(), std::vector<int32_t>{21000});
    EXPECT_EQ(shown.title, "Vestrel 1.6");
    EXPECT_EQ(shown.Control(3)->text, c.text);
    EXPECT_EQ(shown.Control(4)->value, c.freeze);
    EXPECT_EQ(shown.Control(5)->value, c.reverse);
    ExpectBalanced(fake);
  }
}

TEST(Interface, NewInstanceGetsItsBlockThenShowsTheDefaults) {
  FakeDialogHost fake;
  fake.user = Cancels();
  TestHost host;

  EXPECT_EQ(host.Send(kSelectorInterface), 4);

  EXPECT_EQ(host.Selectors(), std::vector<uint32_t>{kSelectorAllocate});
  ASSERT_EQ(fake.shown.size(), 1u);
  EXPECT_EQ(fake.shown[0].Control(3)->text, "5");
  EXPECT_EQ(fake.shown[0].Control(4)->value, 0);
  EXPECT_EQ(fake.shown[0].Control(5)->value, 0);
}

struct AcceptCase {
  const char* behaviour;
  std::string typed;
  float stored;
};

TEST(Interface, AcceptStoresWhatTheUserTypedAndSendsReset) {
  const float kInfinity = std::numeric_limits<float>::infinity();
  const std::string kOverlong = std::string(250, ' ') + "12345" + "6789";  // 259 characters
  const AcceptCase cases[] = {
      {"decimal text", "12.34", 12.34f},
      {"unchanged text as shown", "2.3", 2.3f},
      {"-0 stored as +0", "-0", 0.0f},
      {"-0.0 stored as +0", "-0.0", 0.0f},
      {"beyond the float range becomes infinity", "1e39", kInfinity},
      {"typed infinity becomes 0", "inf", 0.0f},
      {"typed NaN becomes 0", "nan", 0.0f},
      {"text after the number ignored", "5 degrees", 5.0f},
      {"negative", "-10", -10.0f},
      {"empty text stores 0", "", 0.0f},
      {"text without a number stores 0", "abc", 0.0f},
      {"only the first 255 characters count", kOverlong, 12345.0f},
  };
  for (const AcceptCase& c : cases) {
    SCOPED_TRACE(c.behaviour);
    FakeDialogHost fake;
    fake.user = User(c.typed, 1, 0);
    TestHost host;
    host.SetBlock(TestHost::MakeBlock(2.34f, 0, 1, kPath));
    std::vector<uint8_t> before = host.BlockBytes();

    EXPECT_EQ(host.Send(kSelectorInterface), 0);

    EXPECT_EQ(Bits(host.Block()->angleTolerance), Bits(c.stored));
    EXPECT_EQ(host.Block()->freezeFlag, 1);
    EXPECT_EQ(host.Block()->reverseFlag, 0);
    ExpectOnlyParametersChanged(before, host.BlockBytes());
    ASSERT_EQ(host.Selectors(), std::vector<uint32_t>{kSelectorReset});
    EXPECT_EQ(host.calls[0].Sent<HostResetRec>().owner, host.Owner());
    for (int32_t offered : fake.textLengthsOffered()) EXPECT_LE(offered, 256);
    EXPECT_TRUE(host.violations.empty());
    ExpectBalanced(fake);
  }
}

TEST(Interface, HostThatFillsTheWholeTextBufferCountsOnly255Characters) {
  FakeDialogHost fake;
  fake.textFillsWholeBuffer = true;
  fake.user = User(std::string(250, ' ') + "12345" + "6789", 0, 0);
  TestHost host;
  host.SetBlock(TestHost::MakeBlock(5.0f, 0, 0, {}));

  EXPECT_EQ(host.Send(kSelectorInterface), 0);

  EXPECT_EQ(fake.textLengthsOffered(), std::vector<int32_t>{256});
  EXPECT_EQ(host.Block()->angleTolerance, 12345.0f);
  ExpectBalanced(fake);
}

TEST(Interface, AcceptedValueIsShownRoundedNextTime) {
  FakeDialogHost fake;
  fake.user = User("12.34", 0, 0);
  TestHost host;
  host.SetBlock(TestHost::MakeBlock(5.0f, 0, 0, {}));
  ASSERT_EQ(host.Send(kSelectorInterface), 0);

  fake.user = Cancels();
  host.Send(kSelectorInterface);
  ASSERT_EQ(fake.shown.size(), 2u);
  EXPECT_EQ(fake.shown[1].Control(3)->text, "12.3");
}

TEST(Interface, ButtonValuesAndAnyNonZeroAnswerAreTakenAsTheHostGivesThem) {
  FakeDialogHost fake;
  fake.user = User("3", 7, -1, /*answer=*/-2);
  TestHost host;
  host.SetBlock(TestHost::MakeBlock(5.0f, 0, 0, {}));

  EXPECT_EQ(host.Send(kSelectorInterface), 0);

  EXPECT_EQ(host.Block()->angleTolerance, 3.0f);
  EXPECT_EQ(host.Block()->freezeFlag, 7);
  EXPECT_EQ(host.Block()->reverseFlag, -1);
}

TEST(Interface, CancelLeavesTheBlockByteForByteAndSendsNoReset) {
  FakeDialogHost fake;
  fake.user = [](FakeDialog& dialog) {
    User("99", 1, 1)(dialog);  // edits made, then thrown away
    return 0;
  };
  TestHost host;
  host.SetBlock(TestHost::MakeBlock(7.5f, 1, 0, kPath));
  std::vector<uint8_t> before = host.BlockBytes();

  EXPECT_EQ(host.Send(kSelectorInterface), 4);

  EXPECT_EQ(host.BlockBytes(), before);
  EXPECT_TRUE(host.calls.empty());
  EXPECT_EQ(fake.CallsOf(vhost::kOrvoDestroyDialog), 1);
  EXPECT_EQ(fake.CallsOf(vhost::kOrvoCloseResourceFile), 1);
  ExpectBalanced(fake);

  fake.user = Cancels();
  host.Send(kSelectorInterface);
  EXPECT_EQ(fake.shown[1].Control(3)->text, "7.5");
  EXPECT_EQ(fake.shown[1].Control(4)->value, 1);
}

TEST(Interface, RefusedResetKeepsTheNewValuesAndReturnsTheHostsError) {
  FakeDialogHost fake;
  fake.user = User("8", 1, 1);
  TestHost host;
  host.SetBlock(TestHost::MakeBlock(5.0f, 0, 0, {}));
  host.Refuse(kSelectorReset, 77);

  EXPECT_EQ(host.Send(kSelectorInterface), 77);

  EXPECT_EQ(host.Block()->angleTolerance, 8.0f);
  EXPECT_EQ(host.Block()->freezeFlag, 1);
  ExpectBalanced(fake);
}

TEST(Interface, RefusedBlockOpensNothing) {
  FakeDialogHost fake;
  TestHost host;
  host.Refuse(kSelectorAllocate, 55);

  EXPECT_EQ(host.Send(kSelectorInterface), 55);

  EXPECT_TRUE(fake.calls().empty());
  EXPECT_EQ(host.Selectors(), std::vector<uint32_t>{kSelectorAllocate});
}

TEST(Interface, ResourceFileThatDoesNotOpenGivesResult6) {
  FakeDialogHost fake;
  fake.homeDirectory = "/nonexistent-vestrel-home";
  TestHost host;
  host.SetBlock(TestHost::MakeBlock(5.0f, 0, 0, {}));
  std::vector<uint8_t> before = host.BlockBytes();

  EXPECT_EQ(host.Send(kSelectorInterface), 6);

  EXPECT_EQ(fake.CallsOf(vhost::kOrvoMakeDialog), 0);
  EXPECT_EQ(fake.CallsOf(vhost::kOrvoCloseResourceFile), 0);
  EXPECT_EQ(host.BlockBytes(), before);
  EXPECT_TRUE(host.calls.empty());
  ExpectBalanced(fake);
}

TEST(Interface, ResourceFileWithoutTheDialogGivesResult6AndIsClosed) {
  FakeDialogHost fake;
  fake.homeDirectory =
      HomeWithResourceFile("other-dialog", "dialog 1 \"Other\"\n  edit 3 \"1\"\nend\n");
  TestHost host;
  host.SetBlock(TestHost::MakeBlock(5.0f, 0, 0, {}));

  EXPECT_EQ(host.Send(kSelectorInterface), 6);

  EXPECT_EQ(fake.dialogIds(), std::vector<int32_t>{21000});
  EXPECT_EQ(fake.CallsOf(vhost::kOrvoCloseResourceFile), 1);
  EXPECT_EQ(fake.CallsOf(vhost::kOrvoExecuteDialog), 0);
  EXPECT_TRUE(host.calls.empty());
  ExpectBalanced(fake);
}

TEST(Interface, MissingButtonIsNotShownAndStoresZero) {
  FakeDialogHost fake;
  fake.removedControls = {4};
  fake.user = User("6", 1, 1);
  TestHost host;
  host.SetBlock(TestHost::MakeBlock(5.0f, 1, 0, {}));

  EXPECT_EQ(host.Send(kSelectorInterface), 0);

  EXPECT_EQ(fake.shown[0].Control(4), nullptr);
  EXPECT_EQ(host.Block()->angleTolerance, 6.0f);
  EXPECT_EQ(host.Block()->freezeFlag, 0);
  EXPECT_EQ(host.Block()->reverseFlag, 1);
  ExpectBalanced(fake);
}

TEST(Interface, MissingAngleControlStoresZero) {
  FakeDialogHost fake;
  fake.removedControls = {3};
  fake.user = User("", 1, 1);
  TestHost host;
  host.SetBlock(TestHost::MakeBlock(5.0f, 0, 0, {}));

  EXPECT_EQ(host.Send(kSelectorInterface), 0);

  EXPECT_EQ(Bits(host.Block()->angleTolerance), 0u);
  EXPECT_EQ(host.Block()->freezeFlag, 1);
  ExpectBalanced(fake);
}

// One host function missing at a time. The block holds 7.5, 1, 1 and the user
// types '12' and sets the buttons to 2 and 3, so that a value that was not
// shown or not read back shows in what the dialog showed or the block stores.
struct MissingCase {
  const char* function;
  int32_t result;
  bool stored;  // accepted: values stored and 'RSET' sent; otherwise block untouched
  float angle;
  int32_t freeze, reverse;
  Live left;  // handles the host could not be given back
};

TEST(Interface, EachMissingHostFunctionTakesItsOwnPath) {
  const MissingCase cases[] = {
      {vhost::kOrvoGetHomeDirectory, 6, false, 0, 0, 0, {}},
      {vhost::kOrvoMakeFileRef, 6, false, 0, 0, 0, {}},
      {vhost::kOrvoDestroyFileRef, 0, true, 12, 2, 3, {{"file", 1}}},
      {vhost::kOrvoDestroyDirectoryRef, 0, true, 12, 2, 3, {{"directory", 1}}},
      {vhost::kOrvoOpenResourceFile, 6, false, 0, 0, 0, {}},
      {vhost::kOrvoCloseResourceFile, 0, true, 12, 2, 3, {{"resource file", 1}}},
      {vhost::kOrvoMakeDialog, 6, false, 0, 0, 0, {}},
      {vhost::kOrvoSetDialogTitle, 0, true, 12, 2, 3, {}},
      {vhost::kOrvoExecuteDialog, 4, false, 0, 0, 0, {}},
      {vhost::kOrvoDestroyDialog, 0, true, 12, 2, 3, {{"dialog", 1}}},
      {vhost::kOrvoFindControlByID, 0, true, 0, 0, 0, {}},
      {vhost::kOrvoGetControlValue, 0, true, 12, 0, 0, {}},
      {vhost::kOrvoSetControlValue, 0, true, 12, 2, 3, {}},
      {vhost::kOrvoGetEditTextStringSize, 0, true, 0, 2, 3, {}},
      {vhost::kOrvoGetEditTextString, 0, true, 0, 2, 3, {}},
      {vhost::kOrvoSetEditTextString, 0, true, 12, 2, 3, {}},
  };
  ASSERT_EQ(sizeof cases / sizeof cases[0], std::size(kHostFunctionNames));
  for (const MissingCase& c : cases) {
    SCOPED_TRACE(c.function);
    FakeDialogHost fake;
    fake.Hide(c.function);
    fake.user = User("12", 2, 3);
    TestHost host;
    host.SetBlock(TestHost::MakeBlock(7.5f, 1, 1, kPath));
    std::vector<uint8_t> before = host.BlockBytes();
    FillStringRingWithNumbers();

    EXPECT_EQ(host.Send(kSelectorInterface), c.result);

    EXPECT_EQ(fake.CallsOf(c.function), 0);
    EXPECT_GE(fake.lookups()[c.function], 1);
    EXPECT_EQ(fake.Live(), c.left);
    EXPECT_TRUE(fake.violations().empty());
    if (c.stored) {
      EXPECT_EQ(host.Selectors(), std::vector<uint32_t>{kSelectorReset});
      EXPECT_EQ(host.Block()->angleTolerance, c.angle);
      EXPECT_EQ(host.Block()->freezeFlag, c.freeze);
      EXPECT_EQ(host.Block()->reverseFlag, c.reverse);
      ExpectOnlyParametersChanged(before, host.BlockBytes());
    } else {
      EXPECT_TRUE(host.calls.empty());
      EXPECT_EQ(host.BlockBytes(), before);
    }
    // What was shown tells whether the showing functions were there.
    if (!fake.shown.empty() && std::string(c.function) != vhost::kOrvoFindControlByID) {
      const FakeDialog& shown = fake.shown[0];
      bool titled = std::string(c.function) != vhost::kOrvoSetDialogTitle;
      bool texted = std::string(c.function) != vhost::kOrvoSetEditTextString;
      bool valued = std::string(c.function) != vhost::kOrvoSetControlValue;
      EXPECT_EQ(shown.title, titled ? "Vestrel 1.6" : "Vestrel");
      EXPECT_EQ(shown.Control(3)->text, texted ? "7.5" : "5");
      EXPECT_EQ(shown.Control(4)->value, valued ? 1 : 0);
    }
  }
}

}  // namespace
