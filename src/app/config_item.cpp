#include "app/config_item.h"

#include "app/channel_config.h"
#include "sys/text_format.h"

std::wstring ServerBaseUrl(const std::wstring& host, unsigned short port) {
  std::wstring base = L"http://" + host;
  if (port != 80) base += L":" + DecimalText(port);
  return base;
}

std::wstring BuildConfigUrl(const std::wstring& serverBase, const std::wstring& tn) {
  std::wstring url = serverBase + L"/oi/config/config.xml";
  static const std::wstring kXml = L".xml";
  if (url.size() >= kXml.size() && url.compare(url.size() - kXml.size(), kXml.size(), kXml) == 0) {
    url.insert(url.size() - kXml.size(), L"_" + PercentEncodeUtf8(tn));
  }
  return url;
}

ConfigItem MakeFallbackItem(const std::wstring& serverBase, const std::wstring& tn) {
  ConfigItem item;
  // The name becomes folder and file names in the installer directory, so it
  // loses the path characters as a name read from a configuration does; the
  // URLs carry the identifier itself, percent-encoded.
  item.name = StripPathChars(tn);
  const std::wstring encoded = PercentEncodeUtf8(tn);
  item.desc = L"zetora\x6D4F\x89C8\x5668\x4E0B\x8F7D\x5668";  // "zetora浏览器下载器"
  item.tnusage = L"enabled";
  item.url = serverBase + L"/union/getvxbrowser.php?tn=" + encoded;
  item.attachment = serverBase + L"/oi/config/tnconfig_" + encoded + L".xml";
  // The attachment is saved as "tnconfig_<name>.xml"; the command names that
  // file so the setup launch can put its local path in its place.
  item.installcmd = L"-AutoStart /S -TnConfig=\"tnconfig_" + item.name + L".xml\"";
  item.crc = 0;
  return item;
}
