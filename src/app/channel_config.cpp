#include "app/channel_config.h"

#include <tinyxml.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include <sys/stat.h>

#include "app/mars.h"
#include "stat/stat_text.h"
#include "sys/xml_text.h"

namespace {

bool TransformBlocks(const ConfigKey& key, std::string* data, bool decrypt) {
  mars cipher;
  if (!cipher.set_key(key.data(), key.size() * 8)) return false;
  std::uint8_t* bytes = reinterpret_cast<std::uint8_t*>(&(*data)[0]);
  const std::size_t whole = data->size() - data->size() % 16;
  for (std::size_t offset = 0; offset < whole; offset += 16) {
    if (decrypt) {
      cipher.decrypt(bytes + offset, bytes + offset);
    } else {
      cipher.encrypt(bytes + offset, bytes + offset);
    }
  }
  return true;
}

std::wstring Attribute(const TiXmlElement* element, const char* name, bool* present) {
  const char* value = element->Attribute(name);
  *present = value != nullptr;
  return value != nullptr ? Utf8ToWide(value) : std::wstring();
}

// Opens a file by its wide path: _wfopen where paths are UTF-16, else the
// UTF-8 form of the path.
std::FILE* OpenForReading(const std::wstring& path) {
#ifdef _WIN32
  return _wfopen(path.c_str(), L"rb");
#else
  return std::fopen(WideToUtf8(path).c_str(), "rb");
#endif
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// The size of the file, or -1 when it cannot be had (no such file).
long long FileSize(const std::wstring& path) {
#ifdef _WIN32
  struct _stat64 info;
  if (_wstat64(path.c_str(), &info) != 0) return -1;
#else
  struct stat info;
  if (stat(WideToUtf8(path).c_str(), &info) != 0) return -1;
#endif
  return static_cast<long long>(info.st_size);
}

}  // namespace

ConfigKey MakeConfigKey(const std::string& keyText) {
  ConfigKey key(20, 0);
  for (std::size_t i = 0; i < key.size() - 1 && i < keyText.size(); ++i) {
    key[i] = static_cast<std::uint8_t>(keyText[i]);
  }
  return key;
}

bool DecryptConfigBlocks(const ConfigKey& key, std::string* data) {
  return TransformBlocks(key, data, true);
}

bool EncryptConfigBlocks(const ConfigKey& key, std::string* data) {
  return TransformBlocks(key, data, false);
}

bool ReadChannelConfig(const std::wstring& path, const ConfigKey& key, std::wstring* picpackUrl,
                       ConfigItemList* items, const PcfgSink& pcfg) {
  if (path.empty()) {
    pcfg(L"ef");
    return false;
  }
  const long long size = FileSize(path);
  if (size < 0) {
    pcfg(L"egfl");
    return false;
  }
  std::unique_ptr<std::FILE, FileCloser> file(OpenForReading(path));
  if (!file) {
    pcfg(L"eof");
    return false;
  }
  std::string data;
  if (static_cast<unsigned long long>(size) > kMaxConfigFileSize) {
    pcfg(L"eam");
    return false;
  }
  try {
    data.assign(static_cast<std::size_t>(size), '\0');
  } catch (const std::bad_alloc&) {
    pcfg(L"eam");
    return false;
  }
  if (size > 0 && std::fread(&data[0], 1, data.size(), file.get()) != data.size()) {
    pcfg(L"erf");
    return false;
  }
  file.reset();
  return ReadChannelConfigData(&data, key, picpackUrl, items, pcfg);
}

bool ReadChannelConfigData(std::string* data, const ConfigKey& key, std::wstring* picpackUrl,
                           ConfigItemList* items, const PcfgSink& pcfg) {
  DecryptConfigBlocks(key, data);
  pcfg(L"cdb");

  // Whatever the parser made of the text is used; its error status is not.
  TiXmlDocument document;
  ParseXmlText(data, &document);
  data->clear();
  pcfg(L"dp");

  const TiXmlElement* picpack = document.FirstChildElement("picpack");
  if (picpack != nullptr) {
    bool present = false;
    *picpackUrl = Attribute(picpack, "zipurl", &present);
    pcfg(L"picpack");
  } else {
    pcfg(L"nopicpack");
  }

  items->clear();
  const TiXmlElement* list = document.FirstChildElement("downloadlist");
  if (list == nullptr) {
    pcfg(L"efdn");
    return false;
  }
  struct Field {
    const char* attribute;
    std::wstring ConfigItem::*member;
    const wchar_t* code;
  };
  static const Field kFields[] = {
      {"name", &ConfigItem::name, L"g_n"},           {"desc", &ConfigItem::desc, L"g_d"},
      {"version", &ConfigItem::version, L"g_v"},     {"tnusage", &ConfigItem::tnusage, L"g_t"},
      {"url", &ConfigItem::url, L"g_u"},             {"attachment", &ConfigItem::attachment, L"g_a"},
      {"installcmd", &ConfigItem::installcmd, L"g_i"},
  };
  for (const TiXmlElement* element = list->FirstChildElement("item"); element != nullptr;
       element = element->NextSiblingElement("item")) {
    ConfigItem item;
    for (const Field& field : kFields) {
      bool present = false;
      std::wstring value = Attribute(element, field.attribute, &present);
      if (!present) continue;
      if (field.member == &ConfigItem::name || field.member == &ConfigItem::version) {
        value = StripPathChars(value);
      } else if (field.member == &ConfigItem::desc) {
        value = TrimBlanks(value);
      }
      item.*field.member = value;
      pcfg(field.code);
    }
    int crc = 0;
    item.crc = element->QueryIntAttribute("crc", &crc) == TIXML_SUCCESS ? crc : 0;
    pcfg(L"g_c");
    items->push_back(item);
  }
  return true;
}

std::wstring StripPathChars(std::wstring text) {
  for (const wchar_t c : std::wstring(L"\"\\/<>?*:|")) {
    std::wstring kept;
    for (const wchar_t t : text) {
      if (t != c) kept.push_back(t);
    }
    text.swap(kept);
  }
  return text;
}

std::wstring TrimBlanks(const std::wstring& text) {
  static const wchar_t kBlanks[] = L" \t\r\n";
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::wstring::npos) return std::wstring();
  const std::size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

std::wstring Utf8ToWide(const std::string& text) {
  std::wstring out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    int extra = 0;
    char32_t c = 0xFFFD;
    char32_t minimum = 0;
    if (lead < 0x80) {
      c = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1;
      c = lead & 0x1F;
      minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2;
      c = lead & 0x0F;
      minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3;
      c = lead & 0x07;
      minimum = 0x10000;
    }
    std::size_t next = i + 1;
    for (int k = 0; k < extra; ++k, ++next) {
      if (next >= text.size() || (static_cast<unsigned char>(text[next]) & 0xC0) != 0x80) {
        c = 0xFFFD;
        extra = 0;
        break;
      }
      c = (c << 6) | (static_cast<unsigned char>(text[next]) & 0x3F);
    }
    if (extra > 0 && (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) c = 0xFFFD;
    if (lead >= 0x80 && extra == 0) c = 0xFFFD;
    if (c >= 0x10000 && sizeof(wchar_t) == 2) {
      out.push_back(static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<wchar_t>(c));
    }
    i = next;
  }
  return out;
}

std::wstring PercentEncodeUtf8(const std::wstring& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::wstring out;
  for (const char byte : WideToUtf8(text)) {
    const unsigned char b = static_cast<unsigned char>(byte);
    const bool safe = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') ||
                      b == '-' || b == '.' || b == '_' || b == '~';
    if (safe) {
      out.push_back(static_cast<wchar_t>(b));
    } else {
      out.push_back(L'%');
      out.push_back(static_cast<wchar_t>(kHex[b >> 4]));
      out.push_back(static_cast<wchar_t>(kHex[b & 15]));
    }
  }
  return out;
}
