#include "app/config_item.h"

std::wstring ServerBaseUrl(const std::wstring& host, unsigned short port) {
  std::wstring base = L"http://" + host;
  if (port != 80) base += L":" + std::to_wstring(port);
  return base;
}

std::wstring BuildConfigUrl(const std::wstring& serverBase, const std::wstring& tn) {
  std::wstring url = serverBase + L"/oi/config/config.xml";
  static const std::wstring kXml = L".xml";
  if (url.size() >= kXml.size() && url.compare(url.size() - kXml.size(), kXml.size(), kXml) == 0) {
    url.insert(url.size() - kXml.size(), L"_" + tn);
  }
  return url;
}

ConfigItem MakeFallbackItem(const std::wstring& serverBase, const std::wstring& tn) {
  ConfigItem item;
  item.name = tn;
  item.desc = L"zetora\x6D4F\x89C8\x5668\x4E0B\x8F7D\x5668";  // "zetora浏览器下载器"
  item.tnusage = L"enabled";
  item.url = serverBase + L"/union/getvxbrowser.php?tn=" + tn;
  item.attachment = serverBase + L"/oi/config/tnconfig_" + tn + L".xml";
  item.installcmd = L"-AutoStart /S -TnConfig=\"tnconfig_" + tn + L".xml\"";
  item.crc = 0;
  return item;
}
