#include "app/embedded_channel.h"

#include <gtest/gtest.h>

#include "app/channel_mask.h"

namespace {

TEST(EmbeddedChannel, RoundTrip) {
  const std::vector<unsigned char> image = EncodeEmbeddedChannel("abc123");
  ASSERT_EQ(image.size(), 10u);
  EXPECT_EQ(image[0], 6);
  EXPECT_EQ(image[4], static_cast<unsigned char>('a' ^ kEmbeddedChannelMask));
  EXPECT_EQ(DecodeEmbeddedChannel(image.data(), image.size()), "abc123");
}

TEST(EmbeddedChannel, StopsAtZeroByteOrDeclaredLength) {
  std::vector<unsigned char> image = EncodeEmbeddedChannel(std::string("ab\0cd", 5));
  EXPECT_EQ(DecodeEmbeddedChannel(image.data(), image.size()), "ab");
  image = EncodeEmbeddedChannel("abcdef");
  image[0] = 3;  // declared length shorter than the payload
  EXPECT_EQ(DecodeEmbeddedChannel(image.data(), image.size()), "abc");
}

TEST(EmbeddedChannel, DeclaredLengthBeyondResourceIsCut) {
  std::vector<unsigned char> image = EncodeEmbeddedChannel("abcd");
  image[3] = 0x7F;  // L = 0x7F000004, far beyond the resource
  EXPECT_EQ(DecodeEmbeddedChannel(image.data(), image.size()), "abcd");
  EXPECT_EQ(DecodeEmbeddedChannel(image.data(), 6), "ab");
}

TEST(EmbeddedChannel, ShortImagesGiveEmptyText) {
  const unsigned char three[3] = {1, 0, 0};
  EXPECT_EQ(DecodeEmbeddedChannel(three, 3), "");
  EXPECT_EQ(DecodeEmbeddedChannel(nullptr, 0), "");
  const std::vector<unsigned char> empty = EncodeEmbeddedChannel("");
  EXPECT_EQ(DecodeEmbeddedChannel(empty.data(), empty.size()), "");
}

TEST(EmbeddedChannel, ResourceNameMatchesPrefixCaseInsensitively) {
  EXPECT_TRUE(IsEmbeddedChannelName(L"EMBEDDED"));
  EXPECT_TRUE(IsEmbeddedChannelName(L"embedded_channel"));
  EXPECT_TRUE(IsEmbeddedChannelName(L"EmbeddedX"));
  EXPECT_FALSE(IsEmbeddedChannelName(L"EMBEDDE"));
  EXPECT_FALSE(IsEmbeddedChannelName(L"XEMBEDDED"));
}

}  // namespace
