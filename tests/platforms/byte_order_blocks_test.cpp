// Parameter blocks that cross byte orders for real. The same program runs on
// a little-endian machine and, under qemu, on a big-endian one:
//
//   WriteBlocks.*  has the plug-in make parameter blocks (through the test
//                  host, as a host would) and saves each block's bytes as
//                  the host would store them, with a text file that records
//                  every field in a form that reads the same on either order;
//   ReadBlocks.*   hands each saved block to the plug-in, as a host loading a
//                  scene would, and checks that every field reads back as
//                  written, whichever order the block was saved in.
//
// CTest runs the writer of one byte order and the reader of the other, so the
// plug-in's byte-order repair meets blocks that another machine wrote.
//
// The folder comes from VESTREL_BLOCK_DIR. VESTREL_BLOCK_ORIGIN says what the
// reader must find: "foreign" (written in the other byte order) or "native".
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "controldata/control_data.h"
#include "host/four_char_code.h"
#include "tests/support/test_host.h"

namespace {

// ---- Where the blocks go, and in which order this machine writes ---------

std::string BlockDir() {
  const char* dir = getenv("VESTREL_BLOCK_DIR");
  return dir != nullptr ? dir : ".";
}

bool ExpectForeignBlocks() {
  const char* origin = getenv("VESTREL_BLOCK_ORIGIN");
  return origin != nullptr && strcmp(origin, "foreign") == 0;
}

const char* ThisByteOrder() {
  const uint32_t probe = 0x01020304;
  uint8_t first;
  memcpy(&first, &probe, 1);
  return first == 0x01 ? "big-endian" : "little-endian";
}

uint32_t Bits(float value) {
  uint32_t bits;
  memcpy(&bits, &value, sizeof bits);
  return bits;
}

// ---- The record of a saved block's fields --------------------------------
// Floats are kept as their bit patterns and integers in decimal, so that the
// record reads the same on either byte order.
struct BlockFields {
  std::string writerByteOrder;
  uint32_t angleBits = 0;
  int32_t freezeFlag = 0;
  int32_t reverseFlag = 0;
  int32_t pointCount = 0;                     // what a reader must find after repair
  std::vector<std::vector<uint32_t>> points;  // x, y, z, u bits of each point
};

BlockFields FieldsOf(CControlData& block, int32_t readablePoints) {
  BlockFields fields;
  fields.writerByteOrder = ThisByteOrder();
  fields.angleBits = Bits(block.angleTolerance);
  fields.freezeFlag = block.freezeFlag;
  fields.reverseFlag = block.reverseFlag;
  fields.pointCount = readablePoints;
  for (int32_t i = 0; i < readablePoints; ++i) {
    const Fxyzu& p = *block.Point(i);
    fields.points.push_back({Bits(p.x), Bits(p.y), Bits(p.z), Bits(p.u)});
  }
  return fields;
}

void SaveCase(const std::string& name, const std::vector<uint8_t>& bytes,
              const BlockFields& fields) {
  std::error_code ignored;
  std::filesystem::create_directories(BlockDir(), ignored);
  std::string base = BlockDir() + "/" + name;
  std::ofstream block(base + ".block", std::ios::binary | std::ios::trunc);
  block.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(block.good()) << "cannot write " << base << ".block";

  std::ofstream text(base + ".fields", std::ios::trunc);
  text << "writer " << fields.writerByteOrder << "\n"
       << "angle " << fields.angleBits << "\n"
       << "freeze " << fields.freezeFlag << "\n"
       << "reverse " << fields.reverseFlag << "\n"
       << "count " << fields.pointCount << "\n";
  for (const auto& point : fields.points) {
    text << "point " << point[0] << " " << point[1] << " " << point[2] << " " << point[3] << "\n";
  }
  ASSERT_TRUE(text.good()) << "cannot write " << base << ".fields";
}

bool LoadCase(const std::string& name, std::vector<uint8_t>* bytes, BlockFields* fields) {
  std::string base = BlockDir() + "/" + name;
  std::ifstream block(base + ".block", std::ios::binary);
  std::ifstream text(base + ".fields");
  if (!block || !text) return false;
  bytes->assign(std::istreambuf_iterator<char>(block), std::istreambuf_iterator<char>());

  std::string line;
  while (std::getline(text, line)) {
    std::istringstream in(line);
    std::string key;
    in >> key;
    if (key == "writer")
      in >> fields->writerByteOrder;
    else if (key == "angle")
      in >> fields->angleBits;
    else if (key == "freeze")
      in >> fields->freezeFlag;
    else if (key == "reverse")
      in >> fields->reverseFlag;
    else if (key == "count")
      in >> fields->pointCount;
    else if (key == "point") {
      std::vector<uint32_t> point(4);
      in >> point[0] >> point[1] >> point[2] >> point[3];
      fields->points.push_back(point);
    }
  }
  return true;
}

// ---- The blocks ----------------------------------------------------------
// Each case is made by the writer and checked by the reader under its name.

const char* const kCases[] = {"defaults", "captured_path", "frozen_many_points",
                              "count_beyond_block"};

// A path with turns at frames 4 and 8 and coordinates whose four bytes all
// differ, so that a field read with its bytes in the wrong order shows.
Position ZigzagPath(uintptr_t /*object*/, int32_t frame) {
  double f = frame;
  if (frame <= 4) return {f * 1.25, -0.375 * f, 1000.5};
  if (frame <= 8) return {5.0 - 0.1 * (f - 4), -1.5 + 3.3 * (f - 4), 1000.5};
  return {4.6, 11.7 + 0.01 * (f - 8), 1000.5 - 7.0 * (f - 8)};
}

// Values whose byte patterns are all different and not palindromic.
std::vector<Fxyzu> DistinctPoints(int32_t count) {
  std::vector<Fxyzu> points;
  for (int32_t i = 0; i < count; ++i) {
    float s = static_cast<float>(i);
    points.push_back({1.0f / (s + 3.0f), -123456.789f + s, 3.0e-7f * (s + 1.0f), s});
  }
  return points;
}

void MarkReserved(std::vector<uint8_t>* bytes) {
  for (int k = 0; k < 16; ++k) (*bytes)[16 + k] = static_cast<uint8_t>(0x10 + k);
}

// 'INIT' of an instance without a block: the plug-in has the host allocate
// one and fills in its defaults.
TEST(WriteBlocks, DefaultsMadeByInit) {
  TestHost host;
  ASSERT_EQ(host.Send(kSelectorInit), 0);
  ASSERT_NE(host.Block(), nullptr);
  SaveCase("defaults", host.BlockBytes(), FieldsOf(*host.Block(), host.Block()->pointCount));
}

// A path captured by 'SETM', with a tolerance and the reverse flag set as the
// dialog would set them.
TEST(WriteBlocks, PathCapturedBySetup) {
  TestHost host;
  host.firstFrame = 0;
  host.lastFrame = 12;
  host.motion = ZigzagPath;
  ASSERT_EQ(host.Send(kSelectorInit), 0);
  host.Block()->angleTolerance = 2.75f;
  host.Block()->reverseFlag = 1;
  ASSERT_EQ(host.Send(kSelectorSetup), 0);
  ASSERT_TRUE(host.violations.empty()) << host.violations.front();
  ASSERT_GE(host.Block()->pointCount, 3) << "the zigzag path keeps its corners";
  SaveCase("captured_path", host.BlockBytes(), FieldsOf(*host.Block(), host.Block()->pointCount));
}

// A frozen path with many points and marked reserved bytes, kept as it is by
// 'INIT'.
TEST(WriteBlocks, FrozenPathWithManyPoints) {
  TestHost host;
  std::vector<uint8_t> bytes = TestHost::MakeBlock(-0.3125f, 1, 0, DistinctPoints(300));
  MarkReserved(&bytes);
  host.SetBlock(bytes);
  ASSERT_EQ(host.Send(kSelectorInit), 0);
  SaveCase("frozen_many_points", host.BlockBytes(),
           FieldsOf(*host.Block(), host.Block()->pointCount));
}

// A block whose stored count claims more points than its bytes hold: a
// reader must bound the count to the three points the block has room for,
// after bringing the count into its own byte order.
TEST(WriteBlocks, CountBeyondTheBlock) {
  std::vector<uint8_t> bytes = TestHost::MakeBlock(7.5f, 0, 1, DistinctPoints(2));
  int32_t claimed = 1000;
  memcpy(bytes.data() + offsetof(CControlData, pointCount), &claimed, sizeof claimed);
  auto* block = reinterpret_cast<CControlData*>(bytes.data());
  int32_t capacity = CControlData::Capacity(static_cast<int32_t>(bytes.size()));
  ASSERT_EQ(capacity, 3);
  SaveCase("count_beyond_block", bytes, FieldsOf(*block, capacity));
}

// ---- Reading -------------------------------------------------------------

class ReadBlocks : public ::testing::TestWithParam<const char*> {};

TEST_P(ReadBlocks, EveryFieldReadsBackAsWritten) {
  std::vector<uint8_t> saved;
  BlockFields written;
  ASSERT_TRUE(LoadCase(GetParam(), &saved, &written))
      << "no saved block " << GetParam() << " in " << BlockDir();
  bool foreign = written.writerByteOrder != ThisByteOrder();
  ASSERT_EQ(foreign, ExpectForeignBlocks())
      << "block written " << written.writerByteOrder << ", read " << ThisByteOrder();

  // A host loading the scene hands the block back byte for byte; 'INIT' is
  // the plug-in's first look at it.
  TestHost host;
  host.SetBlock(saved);
  ASSERT_EQ(host.Send(kSelectorInit), 0);
  ASSERT_EQ(host.BlockSize(), static_cast<int32_t>(saved.size()))
      << "a stored block is not reallocated";
  CControlData& block = *host.Block();

  EXPECT_EQ(block.magic, kControlDataMagic);
  EXPECT_EQ(Bits(block.angleTolerance), written.angleBits);
  EXPECT_EQ(block.freezeFlag, written.freezeFlag);
  EXPECT_EQ(block.reverseFlag, written.reverseFlag);
  ASSERT_EQ(block.pointCount, written.pointCount);
  for (int32_t i = 0; i < written.pointCount; ++i) {
    const Fxyzu& p = *block.Point(i);
    EXPECT_EQ((std::vector<uint32_t>{Bits(p.x), Bits(p.y), Bits(p.z), Bits(p.u)}),
              written.points[i])
        << "point " << i;
  }
  EXPECT_EQ(std::vector<uint8_t>(saved.begin() + 16, saved.begin() + 32),
            std::vector<uint8_t>(host.BlockBytes().begin() + 16, host.BlockBytes().begin() + 32))
      << "the reserved bytes are never touched";
  EXPECT_TRUE(host.violations.empty());

  // Read again, as the next call would: the repaired block is native now and
  // must stay exactly as it is.
  std::vector<uint8_t> repaired = host.BlockBytes();
  ASSERT_EQ(host.Send(kSelectorInit), 0);
  EXPECT_EQ(host.BlockBytes(), repaired);
}

INSTANTIATE_TEST_SUITE_P(SavedBlocks, ReadBlocks, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param);
                         });

}  // namespace
