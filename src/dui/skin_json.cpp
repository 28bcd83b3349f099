#include "dui/skin_json.h"

#include <json/reader.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <sstream>

#include "dui/text_codec.h"

namespace dui {
namespace {

int saturate_int(double d) {
  if (std::isnan(d)) return 0;
  if (d >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (d <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(d);
}

int saturate_int(long long v) {
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

// atoi without its undefined overflow.
int text_to_int(const std::string& text) {
  errno = 0;
  const long long v = std::strtoll(text.c_str(), nullptr, 10);
  return saturate_int(v);
}

}  // namespace

int read_int(const Json::Value& value) {
  switch (value.type()) {
    case Json::intValue:
      return saturate_int(static_cast<long long>(value.asLargestInt()));
    case Json::uintValue: {
      const Json::LargestUInt u = value.asLargestUInt();
      return u > static_cast<Json::LargestUInt>(INT_MAX) ? INT_MAX : static_cast<int>(u);
    }
    case Json::realValue:
      return saturate_int(std::trunc(value.asDouble()));
    case Json::booleanValue:
      return value.asBool() ? 1 : 0;
    case Json::stringValue:
      return text_to_int(value.asString());
    default:
      return 0;
  }
}

unsigned read_uint(const Json::Value& value) {
  switch (value.type()) {
    case Json::uintValue: {
      const Json::LargestUInt u = value.asLargestUInt();
      return u > UINT_MAX ? UINT_MAX : static_cast<unsigned>(u);
    }
    case Json::realValue: {
      const double d = std::trunc(value.asDouble());
      if (std::isnan(d) || d <= 0) return 0;
      return d >= static_cast<double>(UINT_MAX) ? UINT_MAX : static_cast<unsigned>(d);
    }
    case Json::intValue: {
      const Json::LargestInt v = value.asLargestInt();
      if (v > static_cast<Json::LargestInt>(UINT_MAX)) return UINT_MAX;
      // Negative integers wrap as a C conversion would.
      return v < 0 ? static_cast<unsigned>(read_int(value)) : static_cast<unsigned>(v);
    }
    default: {
      return static_cast<unsigned>(read_int(value));
    }
  }
}

double read_double(const Json::Value& value) {
  switch (value.type()) {
    case Json::intValue:
    case Json::uintValue:
    case Json::realValue:
      return value.asDouble();
    case Json::booleanValue:
      return value.asBool() ? 1.0 : 0.0;
    case Json::stringValue:
      return std::atof(value.asString().c_str());
    default:
      return 0.0;
  }
}

bool read_bool(const Json::Value& value) {
  if (value.isBool()) return value.asBool();
  if (!value.isString()) return false;
  std::string text = value.asString();
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text == "TRUE";
}

std::string read_string(const Json::Value& value) {
  switch (value.type()) {
    case Json::stringValue:
      return value.asString();
    case Json::intValue:
    case Json::uintValue:
    case Json::realValue:
    case Json::booleanValue:
      return std::to_string(read_int(value));
    default:
      return std::string();
  }
}

std::wstring read_wstring(const Json::Value& value) {
  return utf8_to_wide(read_string(value));
}

bool parse_skin_text(const std::string& bytes, Json::Value* root) {
  size_t start = 0;
  if (bytes.size() >= 3 && static_cast<unsigned char>(bytes[0]) == 0xEF &&
      static_cast<unsigned char>(bytes[1]) == 0xBB && static_cast<unsigned char>(bytes[2]) == 0xBF) {
    start = 3;
  }
  Json::CharReaderBuilder builder;
  builder["allowComments"] = true;
  builder["strictRoot"] = false;
  builder["collectComments"] = false;
  // Deep nesting is refused rather than recursing without bound.
  builder["stackLimit"] = 200;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value parsed;
  std::string errors;
  try {
    if (!reader->parse(bytes.data() + start, bytes.data() + bytes.size(), &parsed, &errors)) {
      return false;
    }
  } catch (const std::exception&) {
    return false;
  }
  if (!parsed.isObject()) return false;
  *root = std::move(parsed);
  return true;
}

}  // namespace dui
