#include "config.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "store.h"

namespace zstats {
namespace {

constexpr int kPbkdf2Iterations = 120000;
constexpr size_t kSaltBytes = 16;
constexpr size_t kHashBytes = 32;

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

std::string Hex(const unsigned char* data, size_t n) {
  static const char kHex[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += kHex[data[i] >> 4];
    s += kHex[data[i] & 15];
  }
  return s;
}

bool Unhex(const std::string& hex, std::vector<unsigned char>* out) {
  if (hex.size() % 2) return false;
  out->clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    char* end = nullptr;
    std::string byte = hex.substr(i, 2);
    long v = std::strtol(byte.c_str(), &end, 16);
    if (end != byte.c_str() + 2) return false;
    out->push_back(static_cast<unsigned char>(v));
  }
  return true;
}

std::vector<std::string> Split(const std::string& s, char c) {
  std::vector<std::string> parts;
  std::stringstream in(s);
  std::string item;
  while (std::getline(in, item, c)) parts.push_back(item);
  return parts;
}

bool SameBytes(const std::string& a, const std::string& b) {
  return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

std::string Pbkdf2(const std::string& password, const std::vector<unsigned char>& salt, int iterations) {
  unsigned char out[kHashBytes];
  PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt.data(), static_cast<int>(salt.size()),
                    iterations, EVP_sha256(), sizeof(out), out);
  return Hex(out, sizeof(out));
}

}  // namespace

std::string RandomHex(size_t bytes) {
  std::vector<unsigned char> buffer(bytes);
  if (RAND_bytes(buffer.data(), static_cast<int>(buffer.size())) != 1) std::abort();
  return Hex(buffer.data(), buffer.size());
}

std::string HashPassword(const std::string& password) {
  std::vector<unsigned char> salt(kSaltBytes);
  if (RAND_bytes(salt.data(), static_cast<int>(salt.size())) != 1) std::abort();
  return "pbkdf2-sha256:" + std::to_string(kPbkdf2Iterations) + ":" + Hex(salt.data(), salt.size()) + ":" +
         Pbkdf2(password, salt, kPbkdf2Iterations);
}

bool VerifyPassword(const std::string& password, const std::string& stored) {
  std::vector<std::string> f = Split(stored, ':');
  std::vector<unsigned char> salt;
  if (f.size() != 4 || f[0] != "pbkdf2-sha256" || !Unhex(f[2], &salt)) return false;
  int iterations = std::atoi(f[1].c_str());
  if (iterations < 1000 || iterations > 10000000) return false;
  return SameBytes(Pbkdf2(password, salt, iterations), f[3]);
}

std::string HashToken(const std::string& token) { return "sha256:" + Sha256Hex(token); }

bool VerifyToken(const std::string& token, const std::string& stored) {
  return !token.empty() && SameBytes(HashToken(token), stored);
}

bool LoadConfig(const std::string& path, Config* config, std::string* error) {
  std::ifstream in(path);
  if (!in) return true;
  std::string line, section;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    size_t comment = line.find_first_of(";#");
    if (comment != std::string::npos) line = line.substr(0, comment);
    line = Trim(line);
    if (line.empty()) continue;
    if (line.front() == '[' && line.back() == ']') {
      section = Trim(line.substr(1, line.size() - 2));
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string::npos) {
      *error = path + ":" + std::to_string(number) + ": expected name = value";
      return false;
    }
    std::string name = Trim(line.substr(0, eq)), value = Trim(line.substr(eq + 1));
    char* end = nullptr;
    double number_value = std::strtod(value.c_str(), &end);
    bool numeric = !value.empty() && end == value.c_str() + value.size() && number_value >= 0;
    auto need_number = [&]() {
      if (!numeric) *error = path + ":" + std::to_string(number) + ": " + name + " needs a number";
      return numeric;
    };
    if (section == "users") config->users[name] = value;
    else if (section == "tokens") config->tokens[name] = value;
    else if (section == "limits" && name == "reports_per_second") { if (!need_number()) return false; config->reports_per_second = number_value; }
    else if (section == "limits" && name == "burst") { if (!need_number()) return false; config->burst = number_value; }
    else if (section == "retention" && name == "days") { if (!need_number()) return false; config->retention_days = static_cast<int64_t>(number_value); }
    else {
      *error = path + ":" + std::to_string(number) + ": unknown setting [" + section + "] " + name;
      return false;
    }
  }
  return true;
}

bool SetConfigEntry(const std::string& path, const std::string& section, const std::string& name,
                    const std::string& value, std::string* error) {
  std::vector<std::string> lines;
  {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
  }
  std::string current;
  bool replaced = false;
  size_t section_end = std::string::npos;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string t = Trim(lines[i]);
    if (!t.empty() && t.front() == '[' && t.back() == ']') {
      current = Trim(t.substr(1, t.size() - 2));
      continue;
    }
    if (current != section) continue;
    if (!t.empty()) section_end = i + 1;
    size_t eq = t.find('=');
    if (eq != std::string::npos && Trim(t.substr(0, eq)) == name) {
      lines[i] = name + " = " + value;
      replaced = true;
    }
  }
  if (!replaced) {
    if (section_end == std::string::npos) {
      bool has_section = false;
      for (size_t i = 0; i < lines.size(); ++i) {
        if (Trim(lines[i]) == "[" + section + "]") {
          has_section = true;
          section_end = i + 1;
        }
      }
      if (!has_section) {
        lines.push_back("[" + section + "]");
        section_end = lines.size();
      }
    }
    lines.insert(lines.begin() + static_cast<long>(section_end), name + " = " + value);
  }
  // Written beside the file and renamed over it, so a crash leaves the old
  // or the new file, never half of one.
  std::string temp = path + ".new";
  {
    std::ofstream out(temp, std::ios::trunc);
    for (const std::string& l : lines) out << l << "\n";
    out.flush();
    if (!out) {
      *error = "cannot write " + temp;
      return false;
    }
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    *error = "cannot replace " + path;
    return false;
  }
  return true;
}

}  // namespace zstats
