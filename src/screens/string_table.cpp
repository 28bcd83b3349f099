#include "screens/string_table.h"

#include <tinyxml.h>

#include "dui/text_codec.h"
#include "sys/xml_text.h"

namespace {

struct NamedString {
  unsigned id;
  const wchar_t* name;
};

const NamedString kNamedStrings[] = {
    {174, L"IDS_STRING_BUTTON_ONEKEYSETUP"},
    {175, L"IDS_STRING_BUTTON_SURFNOW"},
    {176, L"IDS_STRING_BUTTON_ONEKEYUPDATE"},
    {177, L"IDS_STRING_TIPS_INSTALLED"},
    {178, L"IDC_STRING_TIPS_UPDATE"},
    {179, L"IDC_STRING_INSTALLING"},
    {180, L"IDC_STRING_DOWNLOADING"},
    {181, L"IDC_STRING_TIPS_NORUNNING_UPDATE"},
    {202, L"IDS_STRING_ERROR_DOWNLOADCONFIG_FAILED"},
    {203, L"IDS_STRING_ERROR_PARSECONFIG_FAILED"},
    {204, L"IDS_STRING_ERROR_DOWNLOADSETUPXML_FAILED"},
    {205, L"IDS_STRING_ERROR_DOWNLOADSETUP_FAILED"},
    {206, L"IDS_STRING_ERROR_CHECK_FILETRUST_FAILED"},
    {207, L"IDS_STRING_ERROR_RUNSETUP_FAILED"},
    {208, L"IDS_STRING_ERROR_INSTALL_HINT_TITLE"},
    {209, L"IDS_STRING_ERROR_UNKNOWN"},
    {211, L"IDS_STRING_RECONNECTING"},
    {212, L"IDS_STRING_ERROR_INSTALLER_DAMAGED"},
    // Names that screen readers read for pictures and picture buttons.
    {220, L"IDS_STRING_ACC_CLOSE"},
    {221, L"IDS_STRING_ACC_MINIMIZE"},
    {222, L"IDS_STRING_ACC_LICENCE"},
    {223, L"IDS_STRING_ACC_CUSTOM"},
    {224, L"IDS_STRING_ACC_OPTIONS"},
    {225, L"IDS_STRING_ACC_PROGRESS"},
    {226, L"IDS_STRING_ACC_WEBSITE"},
    {227, L"IDS_STRING_ACC_HIDE"},
    {228, L"IDS_STRING_ACC_FAILED"},
};

}  // namespace

unsigned StringIdFromName(const std::wstring& name) {
  for (const NamedString& s : kNamedStrings) {
    if (name == s.name) return s.id;
  }
  return 0;
}

void StringOverrides::Clear() {
  texts_.clear();
  loaded_ = false;
}

bool StringOverrides::Load(const std::string& xml) {
  Clear();
  if (xml.empty()) return false;
  std::string text(xml);
  TiXmlDocument document;
  ParseXmlText(&text, &document);
  const TiXmlElement* root = document.FirstChildElement("StringConfig");
  if (!root) return false;
  for (const TiXmlElement* e = root->FirstChildElement(); e; e = e->NextSiblingElement()) {
    const char* id = e->Attribute("id");
    if (!id) continue;
    const char* text = e->GetText();
    texts_.emplace(dui::utf8_to_wide(id), dui::utf8_to_wide(text ? text : ""));
  }
  loaded_ = !texts_.empty();
  return loaded_;
}

std::wstring StringOverrides::Lookup(unsigned id,
                                     const std::function<std::wstring(unsigned)>& resource) const {
  if (!loaded_) return resource(id);
  for (const auto& entry : texts_) {
    if (StringIdFromName(entry.first) == id) return entry.second;
  }
  return std::wstring();
}

StringOverrides& ProcessStringOverrides() {
  static StringOverrides overrides;
  return overrides;
}
