#include "dui/skin_json.h"

#include <gtest/gtest.h>

#include <climits>

namespace dui {
namespace {

Json::Value parse_one(const std::string& json_value) {
  Json::Value root;
  EXPECT_TRUE(parse_skin_text("{\"k\":" + json_value + "}", &root)) << json_value;
  return root["k"];
}

TEST(SkinJsonTest, ReadersMapEveryType) {
  struct Case {
    const char* json;
    int as_int;
    bool as_bool;
    const char* as_string;
    double as_double;
  };
  const Case cases[] = {
      {"null", 0, false, "", 0},
      {"[1]", 0, false, "", 0},
      {"{}", 0, false, "", 0},
      {"7", 7, false, "7", 7},
      {"-7", -7, false, "-7", -7},
      {"2.9", 2, false, "2", 2.9},
      {"-2.9", -2, false, "-2", -2.9},
      {"true", 1, true, "1", 1},
      {"false", 0, false, "0", 0},
      {"\"1000\"", 1000, false, "1000", 1000},
      {"\"abc\"", 0, false, "abc", 0},
      {"\"TrUe\"", 0, true, "TrUe", 0},
      {"\"2.5\"", 2, false, "2.5", 2.5},
      // Out-of-range numbers saturate instead of overflowing.
      {"1e300", INT_MAX, false, "2147483647", 1e300},
      {"-99999999999", INT_MIN, false, "-2147483648", -99999999999.0},
      {"\"99999999999999999999\"", INT_MAX, false, "99999999999999999999", 1e20},
  };
  for (const Case& c : cases) {
    const Json::Value v = parse_one(c.json);
    EXPECT_EQ(read_int(v), c.as_int) << c.json;
    EXPECT_EQ(read_bool(v), c.as_bool) << c.json;
    EXPECT_EQ(read_string(v), c.as_string) << c.json;
    EXPECT_DOUBLE_EQ(read_double(v), c.as_double) << c.json;
  }
  // "invalidateparent":1 reads as false; only true or a "true" text count.
  EXPECT_FALSE(read_bool(parse_one("1")));
  EXPECT_EQ(read_uint(parse_one("-1")), UINT_MAX);
  EXPECT_EQ(read_uint(parse_one("4294967296")), UINT_MAX);
  EXPECT_EQ(read_uint(parse_one("-3.5")), 0u);
}

// Numbers are read with strtod in the classic locale; the text must be a
// whole number token and a value beyond double's range is an error.
TEST(SkinJsonTest, NumbersReadAsDoubles) {
  const struct {
    const char* json;
    double value;
  } cases[] = {
      {"1.5e2", 150}, {"-0.125", -0.125}, {"1E+2", 100}, {"2.5E-1", 0.25},
      {"12345678901234567890123", 1.2345678901234568e22}, {"1e-400", 0},
  };
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(parse_one(c.json).asDouble(), c.value) << c.json;
  Json::Value root;
  EXPECT_FALSE(parse_skin_text("{\"k\":1e400}", &root));
  EXPECT_FALSE(parse_skin_text("{\"k\":-1e400}", &root));
}

TEST(SkinJsonTest, WideStringsAreDecodedFromUtf8) {
  EXPECT_EQ(read_wstring(parse_one("\"\xE4\xB8\x80\xE9\x94\xAE\"")), L"\u4E00\u952E");
  EXPECT_EQ(read_wstring(parse_one("-12")), L"-12");
}

TEST(SkinJsonTest, ParsesWithAndWithoutByteOrderMark) {
  const std::string text = "// comment\n{\"b\":{\"type\":\"dialog\"},\"a\":1}";
  Json::Value plain, marked;
  ASSERT_TRUE(parse_skin_text(text, &plain));
  ASSERT_TRUE(parse_skin_text("\xEF\xBB\xBF" + text, &marked));
  EXPECT_EQ(plain, marked);
  Json::Value root;
  EXPECT_FALSE(parse_skin_text("[1,2]", &root));
  EXPECT_FALSE(parse_skin_text("{\"a\":", &root));
  EXPECT_FALSE(parse_skin_text("", &root));
  EXPECT_FALSE(parse_skin_text("null", &root));
  // Nesting beyond the reader's limit is refused, not recursed into.
  EXPECT_FALSE(parse_skin_text(std::string(5000, '[') + std::string(5000, ']'), &root));
}

TEST(SkinJsonTest, MembersAreVisitedInByteOrderOfNames) {
  Json::Value root;
  ASSERT_TRUE(parse_skin_text("{\"zeta\":1,\"body\":2,\"adupnbtm\":3,\"Zz\":4,\"alpha\":5}", &root));
  std::vector<std::string> names;
  for (auto it = root.begin(); it != root.end(); ++it) names.push_back(it.name());
  EXPECT_EQ(names, (std::vector<std::string>{"Zz", "adupnbtm", "alpha", "body", "zeta"}));
}

}  // namespace
}  // namespace dui
