#include "sys/caller_buffer.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(CallerBuffer, CopiesOnlyWithRoomForTheTerminator) {
  const std::wstring text = L"C_0-D_0-M_0-V_1234ABCD";
  const std::uint32_t length = static_cast<std::uint32_t>(text.size());
  std::uint32_t size = 0;
  EXPECT_EQ(CopyToCallerBuffer(text, nullptr, &size), kCallerBufferTooSmall);
  EXPECT_EQ(size, length + 1025);

  std::vector<wchar_t> buffer(length + 8, L'#');
  size = length;  // exactly the text's length: no room for the terminator
  EXPECT_EQ(CopyToCallerBuffer(text, buffer.data(), &size), kCallerBufferTooSmall);
  EXPECT_EQ(size, length + 1025);
  EXPECT_EQ(buffer[0], L'#');  // untouched

  size = 0;
  EXPECT_EQ(CopyToCallerBuffer(text, buffer.data(), &size), kCallerBufferTooSmall);
  EXPECT_EQ(CopyToCallerBuffer(text, buffer.data(), nullptr), kCallerBufferTooSmall);

  size = length + 4;  // the whole offered size is zeroed, not past it
  EXPECT_EQ(CopyToCallerBuffer(text, buffer.data(), &size), kCallerBufferCopied);
  EXPECT_EQ(size, length + 4);
  EXPECT_EQ(std::wstring(buffer.data()), text);
  for (std::uint32_t i = length; i < length + 4; ++i) EXPECT_EQ(buffer[i], L'\0');
  EXPECT_EQ(buffer[length + 4], L'#');
}

TEST(CallerBuffer, CallerAsksAgainWithTheSizeItWasGiven) {
  const std::wstring text(3000, L'x');
  int calls = 0;
  auto query = [&](wchar_t* buffer, std::uint32_t* size) {
    ++calls;
    return CopyToCallerBuffer(text, buffer, size);
  };
  EXPECT_EQ(ReadThroughCallerBuffer(query, 1024), text);
  EXPECT_EQ(calls, 2);
  calls = 0;
  EXPECT_EQ(ReadThroughCallerBuffer(query, 4096), text);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(ReadThroughCallerBuffer(query, 0), text);

  // A value that outgrows the surplus between the two calls is given up.
  std::wstring growing = L"abc";
  auto grows = [&](wchar_t* buffer, std::uint32_t* size) {
    const int result = CopyToCallerBuffer(growing, buffer, size);
    growing.append(2000, L'y');
    return result;
  };
  EXPECT_EQ(ReadThroughCallerBuffer(grows, 2), L"");
}

}  // namespace
