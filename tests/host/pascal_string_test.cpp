// Pascal strings and the ring of temporary buffers.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "host/pascal_string.h"

namespace {

std::string PascalText(const unsigned char* p) {
  return std::string(reinterpret_cast<const char*>(p + 1), p[0]);
}

TEST(StringRing, HandsOutTwentyBuffersThenTheFirstAgain) {
  unsigned char* first = PStrNext();
  std::set<unsigned char*> seen = {first};
  for (int i = 1; i < kStringRingSize; ++i) seen.insert(PStrNext());
  EXPECT_EQ(seen.size(), size_t(kStringRingSize));
  EXPECT_EQ(PStrNext(), first);
}

TEST(StringRing, PsStringSurvivesNineteenHandOutsNotTwenty) {
  unsigned char* kept = PS("kept");
  for (int i = 0; i < kStringRingSize - 1; ++i) PStrNext();
  EXPECT_EQ(PascalText(kept), "kept");
  unsigned char* reused = PS("overwritten");
  EXPECT_EQ(reused, kept);
  EXPECT_EQ(PascalText(kept), "overwritten");
}

TEST(StringRing, NullDestinationsTakeOneRingBufferEach) {
  unsigned char* before = PStrNext();
  const unsigned char source[] = {2, 'h', 'i'};
  char* c = PStrPToC(source, nullptr);
  unsigned char* p = PStrCpy(nullptr, source);
  // Ring order: the two conversions used the two buffers after `before`.
  for (int i = 0; i < kStringRingSize - 3; ++i) PStrNext();
  EXPECT_EQ(PStrNext(), before);
  EXPECT_EQ(reinterpret_cast<unsigned char*>(c), PStrNext());
  EXPECT_EQ(p, PStrNext());
}

struct C2PCase {
  const char* name;
  size_t length;    // characters of the zero-terminated input
  size_t expected;  // length byte after the conversion
};

class PStrC2PTest : public ::testing::TestWithParam<C2PCase> {};

TEST_P(PStrC2PTest, ConvertsInPlaceAndCapsAt255) {
  const C2PCase& c = GetParam();
  std::string buffer(c.length + 40, '#');  // bytes beyond the text must stay
  for (size_t i = 0; i < c.length; ++i) buffer[i] = char('a' + i % 26);
  buffer[c.length] = 0;
  std::string original = buffer;

  unsigned char* result = PStrC2P(buffer.data());

  EXPECT_EQ(result, reinterpret_cast<unsigned char*>(buffer.data()));
  EXPECT_EQ(result[0], c.expected);
  EXPECT_EQ(PascalText(result), original.substr(0, c.expected));
  EXPECT_EQ(buffer.substr(c.expected + 1), original.substr(c.expected + 1))
      << "bytes behind the string changed";
}

INSTANTIATE_TEST_SUITE_P(Lengths, PStrC2PTest,
                         ::testing::Values(C2PCase{"empty", 0, 0}, C2PCase{"three", 3, 3},
                                           C2PCase{"max", 255, 255}, C2PCase{"one_over", 256, 255},
                                           C2PCase{"long", 300, 255}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PStrC2P, AbcBecomesLengthAndCharacters) {
  char buffer[8] = "abc";
  PStrC2P(buffer);
  EXPECT_EQ(std::string(buffer, 4), std::string("\x03"
                                                "abc",
                                                4));
}

TEST(PS, CapsAt255AndWritesNothingBehind) {
  std::string text(256, 'x');
  unsigned char* ring = PStrNext();  // the next PS takes the following buffer
  for (int i = 0; i < kStringRingSize - 1; ++i) PStrNext();
  memset(ring, 0xEE, 256);
  unsigned char* p = PS(text.c_str());
  ASSERT_EQ(p, ring);
  EXPECT_EQ(p[0], 255);
  EXPECT_EQ(PascalText(p), text.substr(0, 255));

  for (int i = 0; i < kStringRingSize - 1; ++i) PStrNext();
  memset(ring, 0xEE, 256);
  p = PS("");
  EXPECT_EQ(p[0], 0);
  EXPECT_EQ(p[1], 0xEE) << "PS wrote behind an empty string";
}

TEST(PStrPToC, ConvertsInPlaceAndTerminates) {
  unsigned char p[8] = {3, 'a', 'b', 'c', 'Z', 'Z', 'Z', 'Z'};
  char* c = PStrPToC(p, reinterpret_cast<char*>(p));
  EXPECT_STREQ(c, "abc");
  EXPECT_EQ(p[5], 'Z');

  unsigned char empty[2] = {0, 'Q'};
  EXPECT_STREQ(PStrPToC(empty, reinterpret_cast<char*>(empty)), "");
  EXPECT_EQ(empty[1], 'Q');
}

TEST(PStrCpy, WritesExactlyLengthPlusOneBytes) {
  const unsigned char source[] = {3, 'x', 'y', 'z'};
  unsigned char field[256];
  memset(field, 0x77, sizeof field);
  EXPECT_EQ(PStrCpy(field, source), field);
  EXPECT_EQ(PascalText(field), "xyz");
  EXPECT_EQ(field[4], 0x77);

  unsigned char self[] = {2, 'o', 'k', '!'};
  PStrCpy(self, self);
  EXPECT_EQ(PascalText(self), "ok");
}

}  // namespace
