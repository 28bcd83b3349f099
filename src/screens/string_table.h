// The screens' texts: numbered strings of the executable's string table,
// optionally replaced by the override file "StringConfig.xml" of the skin
// folder, where each text is keyed by its symbolic name.
#pragma once

#include <functional>
#include <map>
#include <string>

// Texts the screens look up by number.
constexpr unsigned kStringInstallHintTitle = 208;
constexpr unsigned kStringReconnecting = 211;      // a download retries without bytes
constexpr unsigned kStringInstallerDamaged = 212;  // the skin or texts could not be loaded

// Numeric id of a symbolic name of the override file (0 for unknown names).
unsigned StringIdFromName(const std::wstring& name);

class StringOverrides {
 public:
  // Reads the override file's text (UTF-8 XML). False, and no override in
  // force, when it is empty, has no top-level StringConfig element or
  // names no text. Entries without "id" are skipped; an entry without text
  // overrides with an empty text; a repeated name keeps its first text.
  bool Load(const std::string& xml);
  void Clear();
  bool loaded() const { return loaded_; }

  // The text of an id: from the resource table while no override file is
  // in force, otherwise from the file only (empty when it has none).
  std::wstring Lookup(unsigned id, const std::function<std::wstring(unsigned)>& resource) const;

 private:
  std::map<std::wstring, std::wstring> texts_;
  bool loaded_ = true;
};

// The process-wide table: loaded once by the skin start-up, read by the
// screens on the user-interface thread.
bool LoadStringConfig(const std::wstring& path);
void LookupString(std::wstring* out, unsigned id);
StringOverrides& ProcessStringOverrides();
