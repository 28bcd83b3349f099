#include "app/command_line.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::wstring> Args(std::initializer_list<const wchar_t*> list) {
  std::vector<std::wstring> args{L"C:\\dl\\ZetoraWebInstaller.exe"};
  for (const wchar_t* a : list) args.emplace_back(a);
  return args;
}

TEST(ChannelArguments, KeysAreCaseInsensitiveAndLastPairWins) {
  std::wstring tn, rnd;
  EXPECT_TRUE(ParseChannelArguments(Args({L"-TN", L"abc"}), &tn, &rnd));
  EXPECT_EQ(tn, L"abc");
  EXPECT_TRUE(ParseChannelArguments(Args({L"-tn", L"first", L"-Rnd", L"7", L"-tN", L"second"}),
                                    &tn, &rnd));
  EXPECT_EQ(tn, L"second");
  EXPECT_EQ(rnd, L"7");
}

TEST(ChannelArguments, KeyInLastPositionIsIgnored) {
  std::wstring tn, rnd;
  EXPECT_FALSE(ParseChannelArguments(Args({L"/S", L"-tn"}), &tn, &rnd));
  EXPECT_EQ(tn, L"");
  EXPECT_EQ(rnd, L"");
  // The value of a key is skipped, so "-tn -rnd 5" takes "-rnd" as the channel.
  EXPECT_TRUE(ParseChannelArguments(Args({L"-tn", L"-rnd", L"5"}), &tn, &rnd));
  EXPECT_EQ(tn, L"-rnd");
  EXPECT_EQ(rnd, L"");
}

TEST(ChannelArguments, ProgramPathIsNotAKey) {
  std::wstring tn, rnd;
  const std::vector<std::wstring> args{L"-tn", L"x"};
  EXPECT_FALSE(ParseChannelArguments(args, &tn, &rnd));
  EXPECT_EQ(tn, L"");
}

TEST(ChannelAndTag, EmptyOrMissingChannelFallsBackToEmbedded) {
  EXPECT_EQ(ResolveChannelAndTag(Args({L"-tn", L""}), L"emb", 0).tn, L"emb");
  EXPECT_EQ(ResolveChannelAndTag(Args({L"-tn"}), L"emb", 0).tn, L"emb");
  EXPECT_EQ(ResolveChannelAndTag(Args({}), L"", 0).tn, L"");
  EXPECT_EQ(ResolveChannelAndTag(Args({L"-tn", L"cmd"}), L"emb", 0).tn, L"cmd");
}

TEST(ChannelAndTag, RunTagIsMillisecondsSince1601) {
  // 2026-12-08 00:00:00 UTC as a file time.
  const std::uint64_t ft = 134411616000000000ull;
  EXPECT_EQ(ResolveChannelAndTag(Args({}), L"", ft).rnd, L"13441161600000");
  EXPECT_EQ(ResolveChannelAndTag(Args({L"-rnd", L"42"}), L"", ft).rnd, L"42");
  // An empty "-rnd" value also takes the clock.
  EXPECT_EQ(ResolveChannelAndTag(Args({L"-rnd", L""}), L"", ft).rnd, L"13441161600000");
  // A second later the tag is 1,000 higher.
  EXPECT_EQ(FormatRunTag(ft + 10000000ull), L"13441161601000");
  EXPECT_EQ(FormatRunTag(0), L"0");
  EXPECT_EQ(FormatRunTag(~0ull), L"1844674407370955");
}

TEST(SilentSwitch, WholeArgumentAnyCase) {
  EXPECT_TRUE(HasSilentSwitch(Args({L"/S"})));
  EXPECT_TRUE(HasSilentSwitch(Args({L"/s"})));
  EXPECT_TRUE(HasSilentSwitch(Args({L"-tn", L"x", L"/SILENT"})));
  EXPECT_TRUE(HasSilentSwitch(Args({L"/Silent"})));
  EXPECT_FALSE(HasSilentSwitch(Args({L"/silentx"})));
  EXPECT_FALSE(HasSilentSwitch(Args({L"/S2", L"-S", L"S", L"/sil"})));
  EXPECT_FALSE(HasSilentSwitch(Args({})));
  // Neither the program path nor an option's value is a switch.
  EXPECT_FALSE(HasSilentSwitch(std::vector<std::wstring>{L"/S"}));
  EXPECT_FALSE(HasSilentSwitch(Args({L"-tn", L"/S"})));
}

TEST(CommandLineOptions, SwitchesAreWholeArgumentsOutsideValues) {
  struct Expected {
    bool silent, bind;
    const wchar_t* tn;
    const wchar_t* rnd;
  };
  const struct {
    std::vector<std::wstring> argv;
    Expected expected;
  } cases[] = {
      {Args({L"/B"}), {false, true, L"", L""}},
      {Args({L"/b", L"/SILENT"}), {true, true, L"", L""}},
      {Args({L"/BindSoftware", L"-tn", L"abc"}), {false, true, L"abc", L""}},
      // A value that contains or is a switch stays a value.
      {Args({L"-tn", L"x/Bar"}), {false, false, L"x/Bar", L""}},
      {Args({L"-tn", L"/B", L"-rnd", L"/S"}), {false, false, L"/B", L"/S"}},
      {Args({L"-rnd", L"-tn", L"/S"}), {true, false, L"", L"-tn"}},
      {Args({L"/Bx", L"x/B", L"/bind", L"B", L"/S/B"}), {false, false, L"", L""}},
      {{L"C:\\dl\\/B\\setup.exe"}, {false, false, L"", L""}},
      {{L"/B"}, {false, false, L"", L""}},
  };
  for (const auto& c : cases) {
    const CommandLineOptions options = ParseCommandLine(c.argv);
    SCOPED_TRACE(std::string(c.argv.back().begin(), c.argv.back().end()));
    EXPECT_EQ(options.silent, c.expected.silent);
    EXPECT_EQ(options.bindSoftware, c.expected.bind);
    EXPECT_EQ(options.tn, c.expected.tn);
    EXPECT_EQ(options.rnd, c.expected.rnd);
  }
}

}  // namespace
