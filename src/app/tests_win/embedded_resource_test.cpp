// The channel resource as a channel build writes it, read back from real
// modules through the resource API.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/embedded_channel_win.h"

namespace {

std::wstring BesideThisProgram(const wchar_t* name) {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path);
  dir.resize(dir.find_last_of(L"\\/") + 1);
  return dir + name;
}

class ChannelModule {
 public:
  explicit ChannelModule(const wchar_t* name)
      : module_(LoadLibraryExW(BesideThisProgram(name).c_str(), nullptr,
                               LOAD_LIBRARY_AS_DATAFILE)) {}
  ~ChannelModule() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  HMODULE get() const { return module_; }

 private:
  HMODULE module_;
};

TEST(EmbeddedChannelResource, GbkIdentifierDecodesToUtf16) {
  ChannelModule module(L"channel_gbk.dll");
  ASSERT_NE(module.get(), nullptr);
  std::string channel;
  ASSERT_TRUE(ReadEmbeddedChannel(module.get(), &channel));
  // 渠道-测试 in code page 936 is 9 bytes: four double-byte characters and '-'.
  EXPECT_EQ(channel.size(), 9u);
  EXPECT_EQ(Cp936ToWide(channel), L"\x6E20\x9053-\x6D4B\x8BD5");
}

TEST(EmbeddedChannelResource, OversizedResourceIsIgnored) {
  ChannelModule module(L"channel_oversized.dll");
  ASSERT_NE(module.get(), nullptr);
  std::string channel = "stale";
  EXPECT_FALSE(ReadEmbeddedChannel(module.get(), &channel));
  EXPECT_TRUE(channel.empty());
}

TEST(EmbeddedChannelResource, ResourceWithAnotherNameIsIgnored) {
  ChannelModule module(L"channel_misnamed.dll");
  ASSERT_NE(module.get(), nullptr);
  std::string channel;
  EXPECT_FALSE(ReadEmbeddedChannel(module.get(), &channel));
}

TEST(EmbeddedChannelResource, ModuleWithoutResourcesHasNoChannel) {
  std::string channel;
  EXPECT_FALSE(ReadEmbeddedChannel(GetModuleHandleW(nullptr), &channel));
  EXPECT_TRUE(Cp936ToWide(channel).empty());
}

}  // namespace
