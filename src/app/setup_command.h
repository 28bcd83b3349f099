#pragma once

// The setup package's command line and the names of the package's files.
// Nothing here touches Windows.
#include <cstdint>
#include <string>

// The user's choices that the command carries.
struct SetupChoices {
  std::wstring installDirectory;
  bool desktopShortcut = false;
  bool quickLaunch = false;
  bool defaultBrowser = false;
};

// The value as it goes between the double quotes of one argument under the
// Windows command-line rules (CommandLineToArgvW, the C runtime): a quote
// escaped, the backslashes before a quote and at the end doubled, all else
// as is. An install directory ending in "\" would otherwise escape its
// closing quote and swallow the options after it.
std::wstring QuotedArgumentBody(const std::wstring& value);

// Replaces every occurrence of from, left to right, without searching the
// inserted text again. Case-sensitive.
std::wstring ReplaceAll(const std::wstring& text, const std::wstring& from,
                        const std::wstring& to);

// With a downloaded attachment: the item's install command with the
// attachment's file name replaced by its local path, the options window
// handle after every "/S ", then the install directory (quoted by the
// command-line rules) and the three options (appended directly, without a
// separator) when a directory was chosen.
std::wstring BuildSetupCommandWithAttachment(const std::wstring& installCommand,
                                             const std::wstring& attachmentFileName,
                                             const std::wstring& attachmentPath,
                                             std::uint32_t windowHandle,
                                             const SetupChoices& choices);

// Without an attachment the item's install command is not used: the command
// is "-AutoStart /S ##handle=<h> " followed by the directory and the options,
// or empty when no directory was chosen.
std::wstring BuildSetupCommandWithoutAttachment(std::uint32_t windowHandle,
                                                const SetupChoices& choices);

// "tnconfig_<name>.xml"
std::wstring AttachmentFileName(const std::wstring& itemName);
// "<folder>\vexlobrowser_setup<part>.exe", part being "<name>_<version>" or,
// for a version a folder cannot carry, "<name>_".
std::wstring SetupFileName(const std::wstring& folderPart);

// Appends the cache-busting "rnd" parameter: "&rnd=" when the URL already has
// a query, else "?rnd=".
std::wstring AppendRandomParameter(const std::wstring& url, std::uint32_t value);
