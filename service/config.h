// The service's configuration file (INI): operators, access tokens, limits
// and retention.
//
//   [users]
//   alice = pbkdf2-sha256:<iterations>:<salt hex>:<hash hex>
//   [tokens]
//   monitor = sha256:<hash hex of the token>
//   [limits]
//   reports_per_second = 50   ; per client address, 0: no limit
//   burst = 200
//   [retention]
//   days = 400                ; 0: keep everything
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace zstats {

struct Config {
  std::map<std::string, std::string> users;   // name -> password hash
  std::map<std::string, std::string> tokens;  // name -> token hash
  double reports_per_second = 50;
  double burst = 200;
  int64_t retention_days = 0;
};

// A missing file is an empty configuration (no operator can log in).
bool LoadConfig(const std::string& path, Config* config, std::string* error);

// Adds or replaces one entry of a section, keeping the rest of the file.
bool SetConfigEntry(const std::string& path, const std::string& section, const std::string& name,
                    const std::string& value, std::string* error);

std::string HashPassword(const std::string& password);
bool VerifyPassword(const std::string& password, const std::string& stored);
std::string HashToken(const std::string& token);
bool VerifyToken(const std::string& token, const std::string& stored);
// 32 random bytes as hexadecimal (session identifiers, tokens).
std::string RandomHex(size_t bytes = 32);

}  // namespace zstats
