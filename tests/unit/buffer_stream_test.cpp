#include "support/buffer_stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(BufferStream, StartsWithoutArrayAndHandsOutItsTextInPlace) {
  quelto::utils::BufferStream stream;
  EXPECT_EQ(stream.getBuffPtr(), nullptr);
  EXPECT_EQ(stream.text(), "");

  stream << "answer: " << 42;
  EXPECT_EQ(stream.text(), "answer: 42");
  stream.put('\0');
  EXPECT_STREQ(stream.getBuffPtr(), "answer: 42");
  EXPECT_EQ(stream.text(), "answer: 42");  // the closing NUL is not part of it
}

TEST(BufferStream, SingleNulGivesEmptyText) {
  quelto::utils::BufferStream stream;
  stream.put('\0');
  ASSERT_NE(stream.getBuffPtr(), nullptr);
  EXPECT_STREQ(stream.getBuffPtr(), "");
}

TEST(BufferStream, TextSurvivesGrowthBeyondTheFirstArray) {
  quelto::utils::BufferStream stream;
  std::string expected;
  for (int i = 0; i < 10000; ++i) {
    stream << i << ',';
    expected += std::to_string(i) + ',';
  }
  EXPECT_EQ(stream.text(), expected);
}

TEST(BufferStream, BadStreamDropsLaterWritesAndTheClosingNul) {
  quelto::utils::BufferStream stream;
  stream << "before";
  stream.setstate(std::ios_base::badbit);
  stream << "after" << 1.5;
  stream.put('\0');
  EXPECT_EQ(stream.text(), "before");

  quelto::utils::BufferStream never_written;
  never_written.setstate(std::ios_base::badbit);
  never_written.put('\0');
  EXPECT_EQ(never_written.getBuffPtr(), nullptr);
  EXPECT_EQ(never_written.text(), "");
}

TEST(BufferStream, EndOfLineIsANewlineAndStrIsNotTheText) {
  quelto::utils::BufferStream stream;
  stream << "a" << std::endl << "b";
  EXPECT_EQ(stream.text(), "a\nb");
  EXPECT_EQ(stream.str(), "");  // the base's own buffer is never written
}

}  // namespace
