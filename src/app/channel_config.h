#pragma once

// The channel configuration: the key formed from the text key, decryption of
// the downloaded file, the XML reader and the text rules of its fields.
// Nothing here touches Windows, so the installer, the host tests and the
// operator tool share it.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/config_item.h"

// A configuration file larger than this is refused: a configuration is a few
// kilobytes, and a broken or hostile server must not exhaust memory.
constexpr std::size_t kMaxConfigFileSize = 16u * 1024 * 1024;

// Raw key bytes of the configuration cipher (16 to 56 bytes in steps of 4).
using ConfigKey = std::vector<std::uint8_t>;

// The installer's 160-bit key: the first 19 characters of the text key
// followed by one zero byte (shorter texts are zero-filled).
ConfigKey MakeConfigKey(const std::string& keyText);

// Decrypts (or encrypts) every complete 16-byte block of data in place, from
// offset 0 upwards; the trailing size % 16 bytes stay as they are. False
// when the key has a length the cipher does not take (data untouched).
bool DecryptConfigBlocks(const ConfigKey& key, std::string* data);
bool EncryptConfigBlocks(const ConfigKey& key, std::string* data);

// Receives each "pcfg" code as the reader reaches it.
using PcfgSink = std::function<void(const wchar_t* code)>;

// Reads the encrypted configuration file at path into items (cleared first)
// and the picture-package URL. False when the file cannot be read or the
// document has no downloadlist; true also for a downloadlist without items.
bool ReadChannelConfig(const std::wstring& path, const ConfigKey& key, std::wstring* picpackUrl,
                       ConfigItemList* items, const PcfgSink& pcfg);

// The decrypt-and-read part of ReadChannelConfig for file contents already
// in memory (the buffer is decrypted in place).
bool ReadChannelConfigData(std::string* data, const ConfigKey& key, std::wstring* picpackUrl,
                           ConfigItemList* items, const PcfgSink& pcfg);

// Removes every occurrence of " \ / < > ? * : | (one kind after the other).
std::wstring StripPathChars(std::wstring text);
// Removes space, tab, CR and LF from both ends.
std::wstring TrimBlanks(const std::wstring& text);

std::wstring Utf8ToWide(const std::string& text);
// Percent-encodes the UTF-8 bytes of text except letters, digits and "-._~",
// so a plain ASCII identifier stays as it is.
std::wstring PercentEncodeUtf8(const std::wstring& text);
