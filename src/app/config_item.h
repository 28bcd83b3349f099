#pragma once

#include <string>
#include <vector>

// One download item of the channel configuration; only item 0 is used.
struct ConfigItem {
  std::wstring name;
  std::wstring desc;
  std::wstring version;
  std::wstring tnusage;
  std::wstring url;
  std::wstring attachment;
  std::wstring installcmd;
  int crc = 0;
};

using ConfigItemList = std::vector<ConfigItem>;

// "http://host[:port]" of a server; the port is left out when it is 80.
std::wstring ServerBaseUrl(const std::wstring& host, unsigned short port);

// The channel's configuration URL: "_" + tn is inserted before the final
// ".xml" of "<server>/oi/config/config.xml".
std::wstring BuildConfigUrl(const std::wstring& serverBase, const std::wstring& tn);

// The built-in item used when the configuration cannot be downloaded.
ConfigItem MakeFallbackItem(const std::wstring& serverBase, const std::wstring& tn);
