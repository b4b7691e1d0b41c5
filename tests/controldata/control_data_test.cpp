// The parameter block: fetch, creation, resize, byte-order repair, and the
// bound on stored point counts.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>

#include "controldata/alloc_record.h"
#include "tests/support/test_host.h"

namespace {

// The block as a machine of the other byte order would have written it.
std::vector<uint8_t> Swapped(std::vector<uint8_t> bytes) {
  auto swapWord = [&](size_t offset) {
    std::reverse(bytes.begin() + offset, bytes.begin() + offset + 4);
  };
  int32_t count;
  memcpy(&count, bytes.data() + 32, 4);
  for (size_t offset : {0, 4, 8, 12, 32}) swapWord(offset);
  for (int32_t i = 0; i < count; ++i) {
    for (size_t k = 0; k < 4; ++k) swapWord(36 + 16 * i + 4 * k);
  }
  return bytes;
}

// Runs GetControlData(n) inside an entry call of host, as 'INIT' runs it.
CControlData* Fetch(TestHost& host, int32_t n) {
  CControlData* result = nullptr;
  host.RunInsideEntryCall(kSelectorInit, [&] { result = GetControlData(n); });
  return result;
}

TEST(ReverseField, ReversesInPlace) {
  uint8_t bytes[] = {0x00, 0x00, 0xA0, 0x40};
  ReverseField(bytes, 4);
  EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 4), (std::vector<uint8_t>{0x40, 0xA0, 0x00, 0x00}));
  uint8_t odd[] = {1, 2, 3};
  ReverseField(odd, 3);
  EXPECT_EQ(std::vector<uint8_t>(odd, odd + 3), (std::vector<uint8_t>{3, 2, 1}));
  ReverseField(odd, 1);
  ReverseField(odd, 0);
  EXPECT_EQ(odd[0], 3);
}

TEST(GetControlData, ValidNativeBlockIsReturnedUnchangedWithoutHostCall) {
  TestHost host;
  auto stored = TestHost::MakeBlock(2.5f, 1, 0, {{1, 2, 3, 10}, {4, 5, 6, 11}});
  host.SetBlock(stored);
  EXPECT_EQ(Fetch(host, -1), host.Block());
  EXPECT_TRUE(host.calls.empty());
  EXPECT_EQ(host.BlockBytes(), stored);
}

TEST(GetControlData, ForeignByteOrderBlockReadsAsWritten) {
  TestHost host;
  std::vector<Fxyzu> points = {{1.5f, -2, 3, 10}, {4, 5, 6.25f, 11}, {-7, 8, 9, 12}};
  auto native = TestHost::MakeBlock(7.5f, 0, 1, points);
  memset(native.data() + 16, 0x3C, 16);  // reserved bytes are never touched
  host.SetBlock(Swapped(native));

  CControlData* block = Fetch(host, -1);

  ASSERT_NE(block, nullptr);
  EXPECT_TRUE(host.calls.empty());
  EXPECT_EQ(host.BlockBytes(), native);
  EXPECT_EQ(block->reverseFlag, 1);
  EXPECT_EQ(block->Point(2)->u, 12.0f);
  // Repaired once: a second fetch finds nothing to do.
  Fetch(host, -1);
  EXPECT_EQ(host.BlockBytes(), native);
}

TEST(GetControlData, UnknownMagicGetsDefaultsInPlaceKeepingEverythingElse) {
  TestHost host;
  auto stored = TestHost::MakeBlock(9, 1, 1, {{1, 2, 3, 4}, {5, 6, 7, 8}});
  stored[0] = 'X';
  memset(stored.data() + 16, 0x3C, 16);
  host.SetBlock(stored);

  CControlData* block = Fetch(host, -1);

  ASSERT_NE(block, nullptr);
  EXPECT_EQ(host.BlockSize(), int32_t(stored.size()));
  EXPECT_EQ(block->magic, kControlDataMagic);
  EXPECT_EQ(block->angleTolerance, 5.0f);
  EXPECT_EQ(block->freezeFlag, 0);
  EXPECT_EQ(block->reverseFlag, 0);
  EXPECT_EQ(block->pointCount, 0);
  auto after = host.BlockBytes();
  EXPECT_TRUE(std::equal(after.begin() + 16, after.begin() + 32, stored.begin() + 16));
  EXPECT_TRUE(std::equal(after.begin() + 36, after.end(), stored.begin() + 36));
}

// A stored count the block cannot hold is bounded where it is stored, so no
// reader ever walks past the host's block.
struct BoundCase {
  const char* name;
  int32_t storedCount;
  int32_t blockPoints;  // block sized for this many points (plus the spare slot)
  bool foreign;
  int32_t expectedCount;
};

class PointCountBound : public ::testing::TestWithParam<BoundCase> {};

TEST_P(PointCountBound, CountIsBoundedByTheBlockSize) {
  const BoundCase& c = GetParam();
  TestHost host;
  std::vector<Fxyzu> points(c.blockPoints, Fxyzu{1, 2, 3, 4});
  auto bytes = TestHost::MakeBlock(5, 0, 0, points);
  memcpy(bytes.data() + 32, &c.storedCount, 4);
  if (c.foreign) {
    // Swap by hand: the stored count may be nonsense, so swap only the header
    // and the points the block really holds.
    auto header = Swapped(TestHost::MakeBlock(5, 0, 0, {}));
    std::copy(header.begin(), header.begin() + 32, bytes.begin());
    std::reverse(bytes.begin() + 32, bytes.begin() + 36);
    for (int32_t i = 0; i < c.blockPoints; ++i) {
      for (int k = 0; k < 4; ++k)
        std::reverse(bytes.begin() + 36 + 16 * i + 4 * k, bytes.begin() + 40 + 16 * i + 4 * k);
    }
  }
  host.SetBlock(bytes);

  CControlData* block = Fetch(host, -1);

  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block->pointCount, c.expectedCount);
  for (int32_t i = 0; i < block->pointCount && i < c.blockPoints; ++i)
    EXPECT_EQ(block->Point(i)->u, 4.0f);
}

INSTANTIATE_TEST_SUITE_P(Counts, PointCountBound,
                         ::testing::Values(BoundCase{"exact", 3, 3, false, 3},
                                           BoundCase{"spare_slot", 4, 3, false, 4},
                                           BoundCase{"one_too_many", 5, 3, false, 4},
                                           BoundCase{"huge", INT32_MAX, 3, false, 4},
                                           BoundCase{"negative", -1, 3, false, 0},
                                           BoundCase{"most_negative", INT32_MIN, 0, false, 0},
                                           BoundCase{"foreign_exact", 3, 3, true, 3},
                                           BoundCase{"foreign_huge", 1000000, 2, true, 3},
                                           BoundCase{"foreign_negative", -5, 2, true, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

struct ResizeCase {
  const char* name;
  bool blockExists;
  int32_t n;
  int32_t askedSize;
  int32_t countAfter;
};

class Resize : public ::testing::TestWithParam<ResizeCase> {};

TEST_P(Resize, AsksForTheSizeAndSetsTheCount) {
  const ResizeCase& c = GetParam();
  TestHost host;
  if (c.blockExists) host.SetBlock(TestHost::MakeBlock(12.5f, 1, 1, {{1, 2, 3, 4}}));

  CControlData* block = Fetch(host, c.n);

  ASSERT_NE(block, nullptr);
  ASSERT_EQ(host.Selectors(), (std::vector<uint32_t>{kSelectorAllocate}));
  EXPECT_EQ(host.calls[0].Sent<HostAllocDataRec>().blockSize, c.askedSize);
  EXPECT_EQ(block, host.Block()) << "the returned address must be the host's new block";
  EXPECT_EQ(block->pointCount, c.countAfter);
  // Parameters survive a resize; a new block gets the defaults.
  EXPECT_EQ(block->angleTolerance, c.blockExists ? 12.5f : 5.0f);
  EXPECT_EQ(block->freezeFlag, c.blockExists ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, Resize,
                         ::testing::Values(ResizeCase{"valid_to_zero", true, 0, 52, 0},
                                           ResizeCase{"valid_to_three", true, 3, 100, 3},
                                           ResizeCase{"missing_to_three", false, 3, 100, 0},
                                           ResizeCase{"missing_fetch", false, -1, 52, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(GetControlData, RefusedAllocLeavesBlockAndInfoRecordAlone) {
  TestHost host;
  auto stored = TestHost::MakeBlock(5, 0, 0, {{1, 2, 3, 4}});
  host.SetBlock(stored);
  void* address = host.Info().parameterBlock;
  host.Refuse(kSelectorAllocate, 77);

  EXPECT_EQ(Fetch(host, 5), nullptr);

  EXPECT_EQ(theError, 77);
  EXPECT_EQ(host.Info().parameterBlock, address);
  EXPECT_EQ(host.BlockSize(), int32_t(stored.size()));
  EXPECT_EQ(host.BlockBytes(), stored);
}

TEST(GetControlData, AllocAnsweredWithSmallerBlockWritesNothing) {
  TestHost host;
  host.allocShortfall = 16;  // the host grants 16 bytes less than asked
  host.SetBlock(TestHost::MakeBlock(5, 0, 0, {{1, 2, 3, 4}}));

  EXPECT_EQ(Fetch(host, 3), nullptr);
  // The info record follows the host's block; the count stays what the host
  // carried over and is bounded on the next fetch.
  EXPECT_EQ(host.BlockSize(), 100 - 16);
  EXPECT_EQ(host.Block()->pointCount, 1);

  TestHost fresh;
  fresh.allocShortfall = 1;
  EXPECT_EQ(Fetch(fresh, -1), nullptr);
  EXPECT_EQ(fresh.BlockSize(), 51);
}

TEST(ControlDataSize, FollowsThePointCount) {
  EXPECT_EQ(ControlDataSizeFor(-1), 52);
  EXPECT_EQ(ControlDataSizeFor(0), 52);
  EXPECT_EQ(ControlDataSizeFor(1), 68);
  EXPECT_TRUE(ControlDataSizeFits((INT32_MAX - 52) / 16));
  EXPECT_FALSE(ControlDataSizeFits((INT32_MAX - 52) / 16 + 1));
}

}  // namespace
