// The entry, 'INFO' and 'INIT' as the host sees them.
#include <gtest/gtest.h>

#include <string>

#include "host/creator_record.h"
#include "host/entry.h"
#include "tests/support/test_host.h"
#include "controldata/alloc_record.h"

namespace {

constexpr uint8_t kHostFill = 0xA5;  // what the test host fills its own bytes with

std::string PascalText(const unsigned char* p) {
  return std::string(reinterpret_cast<const char*>(p + 1), p[0]);
}

// Every byte of a 256-byte string field after its length byte and characters.
bool TailUntouched(const unsigned char* field) {
  for (int i = 1 + field[0]; i < 256; ++i) {
    if (field[i] != kHostFill) return false;
  }
  return true;
}

TEST(Entry, UnknownSelectorMakesNoHostCallAndReturnsZero) {
  TestHost host;
  EXPECT_EQ(host.Send(FourCC("ABCD")), 0);
  EXPECT_TRUE(host.calls.empty());
}

TEST(Entry, ResultCodeStartsAtZeroOnEveryCall) {
  TestHost host;
  host.Refuse(kSelectorCreator, -1);
  EXPECT_EQ(host.Send(kSelectorInit), -1);
  EXPECT_EQ(host.Send(kSelectorInfo), 0);
}

TEST(Information, WritesTheSelfDescriptionAndNothingElse) {
  TestHost host;
  std::vector<uint8_t> before(reinterpret_cast<const uint8_t*>(&host.Info()),
                              reinterpret_cast<const uint8_t*>(&host.Info()) + sizeof(HostInfoRec));

  EXPECT_EQ(host.Send(kSelectorInfo), 0);

  const HostPluginDescription& info = host.Info().info;
  EXPECT_TRUE(host.calls.empty());
  EXPECT_EQ(info.pluginType, 0x53545542u);
  EXPECT_EQ(info.pluginVersion, 1);
  EXPECT_EQ(info.infoFlags, 15);
  EXPECT_EQ(info.pluginName[0], 7);
  EXPECT_EQ(PascalText(info.pluginName), "Vestrel");
  EXPECT_EQ(info.description[0], 82);
  EXPECT_EQ(PascalText(info.description),
            "This plug-in creates a line of particles from motion path of its first child group");
  EXPECT_GT(info.copyright[0], 0);
  EXPECT_GT(info.authorName[0], 0);
  for (const unsigned char* field :
       {info.pluginName, info.copyright, info.authorName, info.description}) {
    EXPECT_TRUE(TailUntouched(field)) << "bytes behind a string were written";
  }
  // Nothing after the info flags (the rest of the selector area) is touched.
  size_t end = offsetof(HostInfoRec, info.infoFlags) + sizeof(int32_t);
  const uint8_t* after = reinterpret_cast<const uint8_t*>(&host.Info());
  for (size_t i = end; i < sizeof(HostInfoRec); ++i) ASSERT_EQ(after[i], before[i]) << "byte " << i;
}

TEST(Initialize, NewInstanceGetsDefaultBlockThenAsksForCreator) {
  TestHost host;
  host.creatorCode = FourCC("ABCD");

  EXPECT_EQ(host.Send(kSelectorInit), 0);

  ASSERT_EQ(host.Selectors(), (std::vector<uint32_t>{kSelectorAllocate, kSelectorCreator}));
  auto alloc = host.calls[0].Sent<HostAllocDataRec>();
  EXPECT_EQ(alloc.blockAddress, nullptr);
  EXPECT_EQ(alloc.blockSize, 52);
  EXPECT_EQ(alloc.blockReference, nullptr);
  EXPECT_EQ(alloc.blockTag, 0);
  EXPECT_EQ(host.calls[1].Sent<HostCreatorRec>().owner, host.Owner());
  EXPECT_EQ(theCreator, FourCC("ABCD"));

  // The info record describes the host's block, which holds the defaults.
  auto answered = host.calls[0].Answered<HostAllocDataRec>();
  EXPECT_EQ(host.Info().parameterBlock, answered.blockAddress);
  EXPECT_EQ(host.Info().parameterBlockSize, 52);
  EXPECT_EQ(host.Info().blockReference, answered.blockReference);
  EXPECT_EQ(host.Info().blockTag, answered.blockTag);
  CControlData* block = host.Block();
  EXPECT_EQ(block->magic, kControlDataMagic);
  EXPECT_EQ(block->angleTolerance, 5.0f);
  EXPECT_EQ(block->freezeFlag, 0);
  EXPECT_EQ(block->reverseFlag, 0);
  EXPECT_EQ(block->pointCount, 0);
  EXPECT_TRUE(host.violations.empty());
}

TEST(Initialize, ValidNativeBlockOnlyAsksForCreator) {
  TestHost host;
  auto stored = TestHost::MakeBlock(7.5f, 1, 1, {{1, 2, 3, 4}, {5, 6, 7, 8}});
  host.SetBlock(stored);

  EXPECT_EQ(host.Send(kSelectorInit), 0);

  EXPECT_EQ(host.Selectors(), (std::vector<uint32_t>{kSelectorCreator}));
  EXPECT_EQ(host.BlockBytes(), stored);
}

TEST(Initialize, TooSmallBlockIsReplacedWithDefaults) {
  TestHost host;
  host.SetBlockOfSize(51);
  void* small = host.Info().parameterBlock;

  host.Send(kSelectorInit);

  ASSERT_EQ(host.Selectors().front(), kSelectorAllocate);
  auto alloc = host.calls[0].Sent<HostAllocDataRec>();
  EXPECT_EQ(alloc.blockAddress, small);
  EXPECT_EQ(alloc.blockSize, 52);
  EXPECT_EQ(host.BlockSize(), 52);
  EXPECT_EQ(host.Block()->magic, kControlDataMagic);
  EXPECT_EQ(host.Block()->pointCount, 0);
}

TEST(Initialize, RefusedAllocStillAsksForCreatorAndReturnsItsResult) {
  TestHost host;
  host.Refuse(kSelectorAllocate, 33);

  EXPECT_EQ(host.Send(kSelectorInit), 0);

  EXPECT_EQ(host.Selectors(), (std::vector<uint32_t>{kSelectorAllocate, kSelectorCreator}));
  EXPECT_EQ(host.Info().parameterBlock, nullptr);
  EXPECT_EQ(host.Info().parameterBlockSize, 0);
}

TEST(Initialize, CreatorCodeFollowsTheLastInit) {
  TestHost host;
  host.SetBlock(TestHost::MakeBlock(5, 0, 0, {}));
  host.creatorCode = kCreatorXolr;
  EXPECT_EQ(host.Send(kSelectorInit), 0);
  EXPECT_EQ(theCreator, kCreatorXolr);

  host.Refuse(kSelectorCreator, -1);
  EXPECT_EQ(host.Send(kSelectorInit), -1);
  EXPECT_EQ(theCreator, kCreatorUnknown);

  theCreator = 0;  // process-wide: leave it as other tests expect
}

}  // namespace
