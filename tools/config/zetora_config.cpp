// zetora-config: encrypts, decrypts and checks channel configurations with
// the installer's own cipher and reader, so that what an operator uploads is
// exactly what the installer reads.
//
//   zetora-config [--key-text TEXT | --key-hex HEX] encrypt IN OUT
//   zetora-config [--key-text TEXT | --key-hex HEX] decrypt IN OUT
//   zetora-config [--key-text TEXT | --key-hex HEX] check IN
// (the key option may also follow the command word)
//
// Exit status: 0 success, 2 usage error, 1 any other failure; always one
// line on standard output or standard error. An output file is written
// whole or not at all.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "app/channel_config.h"
#include "build_config.h"
#include "stat/stat_text.h"

namespace {

const char kUsage[] =
    "usage: zetora-config [--key-text TEXT | --key-hex HEX] "
    "(encrypt IN OUT | decrypt IN OUT | check IN)";

int Fail(int status, const std::string& message) {
  std::cerr << "zetora-config: " << message << "\n";
  return status;
}

bool ParseHexKey(const std::string& hex, ConfigKey* key) {
  if (hex.size() % 2 != 0) return false;
  key->clear();
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    unsigned value = 0;
    for (std::size_t k = i; k < i + 2; ++k) {
      const char c = hex[k];
      const int digit = (c >= '0' && c <= '9')   ? c - '0'
                        : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                        : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                                 : -1;
      if (digit < 0) return false;
      value = value * 16 + static_cast<unsigned>(digit);
    }
    key->push_back(static_cast<std::uint8_t>(value));
  }
  return key->size() >= 16 && key->size() <= 56 && key->size() % 4 == 0;
}

bool ReadFile(const std::string& path, std::string* data) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  data->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// Writes beside the target first and renames, so a failure leaves no
// partial output.
bool WriteFileWhole(const std::string& path, const std::string& data) {
  const std::string temporary = path + ".partial";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out || !out.write(data.data(), static_cast<std::streamsize>(data.size())) ||
        !out.flush()) {
      std::remove(temporary.c_str());
      return false;
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

int Transform(const ConfigKey& key, const std::string& in, const std::string& out, bool encrypt) {
  std::string data;
  if (!ReadFile(in, &data)) return Fail(1, "cannot read " + in);
  if (encrypt) {
    // Trailing newlines fill the last block, so no byte stays readable.
    while (data.size() % 16 != 0) data.push_back('\n');
    EncryptConfigBlocks(key, &data);
  } else {
    DecryptConfigBlocks(key, &data);
  }
  if (!WriteFileWhole(out, data)) return Fail(1, "cannot write " + out);
  std::cout << (encrypt ? "encrypted " : "decrypted ") << data.size() << " bytes into " << out
            << "\n";
  return 0;
}

int Check(const ConfigKey& key, const std::string& in) {
  std::wstring codes;
  std::wstring picpack;
  ConfigItemList items;
  ReadChannelConfig(Utf8ToWide(in), key, &picpack, &items, [&codes](const wchar_t* code) {
    codes += codes.empty() ? L"" : L"/";
    codes += code;
  });
  std::cout << "pcfg: " << WideToUtf8(codes) << "\n";
  if (!picpack.empty()) std::cout << "picpack zipurl: " << WideToUtf8(picpack) << "\n";
  for (std::size_t i = 0; i < items.size(); ++i) {
    const ConfigItem& item = items[i];
    std::cout << "item " << i << (i == 0 ? " (used by the installer)" : "") << "\n"
              << "  name:       " << WideToUtf8(item.name) << "\n"
              << "  desc:       " << WideToUtf8(item.desc) << "\n"
              << "  version:    " << WideToUtf8(item.version) << "\n"
              << "  tnusage:    " << WideToUtf8(item.tnusage) << "\n"
              << "  url:        " << WideToUtf8(item.url) << "\n"
              << "  attachment: " << WideToUtf8(item.attachment) << "\n"
              << "  installcmd: " << WideToUtf8(item.installcmd) << "\n"
              << "  crc:        " << item.crc << "\n";
  }
  if (items.empty()) {
    return Fail(1, in + ": no item; the installer would end without installing (end reason 2)");
  }
  std::cout << "ok: " << items.size() << " item(s)\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  ConfigKey key = MakeConfigKey(build_config::kConfigKeyText);
  // Key options may stand before or after the command word, as in other
  // command-word tools; everything else is the command and its files.
  std::vector<std::string> command;
  for (std::size_t next = 0; next < args.size(); ++next) {
    if (args[next].compare(0, 6, "--key-") != 0) {
      command.push_back(args[next]);
      continue;
    }
    if (next + 1 >= args.size()) return Fail(2, kUsage);
    const std::string& value = args[++next];
    if (args[next - 1] == "--key-text") {
      if (value.size() != 36) return Fail(2, "--key-text takes a key text of 36 characters");
      key = MakeConfigKey(value);
    } else if (args[next - 1] == "--key-hex") {
      if (!ParseHexKey(value, &key)) {
        return Fail(2, "--key-hex takes 16 to 56 key bytes in steps of 4, in hexadecimal");
      }
    } else {
      return Fail(2, kUsage);
    }
  }
  if (command.size() == 3 && (command[0] == "encrypt" || command[0] == "decrypt")) {
    return Transform(key, command[1], command[2], command[0] == "encrypt");
  }
  if (command.size() == 2 && command[0] == "check") return Check(key, command[1]);
  return Fail(2, kUsage);
}
