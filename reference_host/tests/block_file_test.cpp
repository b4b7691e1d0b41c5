#include "reference_host/play/block_file.h"

#include <string.h>

#include <gtest/gtest.h>

namespace vhost {
namespace {

const std::vector<StoredPoint> kPoints = {{1.5f, -2, 3, 10}, {4, 5, 6, 20}};

TEST(BlockFileTest, BlockOfTheOtherByteOrderStartsWithTheMagicReversed) {
  std::vector<uint8_t> native = MakeBlockBytes(5, 0, 0, {}, ByteOrder::kNative);
  std::vector<uint8_t> swapped = MakeBlockBytes(5, 0, 0, {}, ByteOrder::kSwapped);
  uint32_t magic;
  memcpy(&magic, native.data(), 4);
  EXPECT_EQ(magic, kBlockMagic);
  memcpy(&magic, swapped.data(), 4);
  EXPECT_NE(magic, kBlockMagic);
  EXPECT_EQ(native.size(), kBlockMinSize);
}

TEST(BlockFileTest, SwappingTwiceGivesTheSameBytesAndDecodingEitherGivesTheSameValues) {
  std::vector<uint8_t> native = MakeBlockBytes(7.5f, 1, 2, kPoints, ByteOrder::kNative);
  native[20] = 0x5A;  // a reserved byte: swapping leaves it
  std::vector<uint8_t> swapped = native;
  ASSERT_TRUE(SwapBlockByteOrder(&swapped));
  EXPECT_NE(swapped, native);
  EXPECT_EQ(swapped[20], 0x5A);
  BlockView a = DecodeBlock(native.data(), native.size());
  BlockView b = DecodeBlock(swapped.data(), swapped.size());
  EXPECT_TRUE(a.native);
  EXPECT_FALSE(b.native);
  EXPECT_EQ(a.angle, b.angle);
  EXPECT_EQ(a.freeze, b.freeze);
  EXPECT_EQ(a.reverse, b.reverse);
  EXPECT_EQ(a.points, b.points);
  EXPECT_EQ(b.points, kPoints);
  ASSERT_TRUE(SwapBlockByteOrder(&swapped));
  EXPECT_EQ(swapped, native);
}

TEST(BlockFileTest, WhatIsNotAParameterBlockIsNeitherSwappedNorSaved) {
  std::vector<uint8_t> junk(64, 0x11);
  std::vector<uint8_t> copy = junk;
  EXPECT_FALSE(SwapBlockByteOrder(&copy));
  EXPECT_EQ(copy, junk);
  EXPECT_FALSE(DecodeBlock(junk.data(), junk.size()).isBlock);
  std::string message;
  EXPECT_FALSE(
      SaveBlockFile(testing::TempDir() + "junk.block", junk, ByteOrder::kNative, &message));
}

TEST(BlockFileTest, CountBeyondTheBlockIsReadOnlyAsFarAsTheBlockGoes) {
  std::vector<uint8_t> block = MakeBlockBytes(5, 0, 0, kPoints, ByteOrder::kSwapped);
  block[32] = 0x7F;  // count, big end first in the swapped order: huge
  BlockView view = DecodeBlock(block.data(), block.size());
  EXPECT_EQ(view.points.size(), 3u);  // the 84 bytes hold two points and the spare slot
  std::vector<uint8_t> copy = block;
  EXPECT_TRUE(SwapBlockByteOrder(&copy));  // touches nothing past the end
}

TEST(BlockFileTest, SavedInTheOtherOrderAndLoadedBackReadsTheSame) {
  std::string path = testing::TempDir() + "vhost-block-test.block";
  std::vector<uint8_t> native = MakeBlockBytes(12.5f, 1, 0, kPoints, ByteOrder::kNative);
  std::string message;
  ASSERT_TRUE(SaveBlockFile(path, native, ByteOrder::kSwapped, &message)) << message;
  std::vector<uint8_t> loaded;
  ASSERT_TRUE(LoadBlockFile(path, 1 << 20, &loaded, &message)) << message;
  EXPECT_EQ(loaded.size(), native.size());
  EXPECT_EQ(loaded[0], 0x41);  // 'A' first: the big-endian layout on a little-endian machine
  BlockView view = DecodeBlock(loaded.data(), loaded.size());
  EXPECT_FALSE(view.native);
  EXPECT_EQ(view.angle, 12.5f);
  EXPECT_EQ(view.points, kPoints);
  EXPECT_FALSE(LoadBlockFile(path, 10, &loaded, &message));
  EXPECT_NE(message.find("larger than the 10 bytes allowed"), std::string::npos);
}

}  // namespace
}  // namespace vhost
