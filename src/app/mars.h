#pragma once

#include <cstddef>
#include <cstdint>

// A 128-bit block cipher: one key, then single blocks in either direction.
class AES {
 public:
  virtual ~AES() = default;
  // Key length in bits; a length the cipher does not take leaves it unkeyed
  // and returns false.
  virtual bool set_key(const std::uint8_t* key, std::size_t bits) = 0;
  // One 16-byte block; source and destination may be the same buffer. False
  // (destination untouched) while no key is set.
  virtual bool encrypt(const std::uint8_t* source, std::uint8_t* destination) const = 0;
  virtual bool decrypt(const std::uint8_t* source, std::uint8_t* destination) const = 0;
};

// The MARS block cipher (the revised key schedule of IBM's AES submission),
// keys of 128 to 448 bits in steps of 32. Words are little-endian.
class mars : public AES {
 public:
  bool set_key(const std::uint8_t* key, std::size_t bits) override;
  bool encrypt(const std::uint8_t* source, std::uint8_t* destination) const override;
  bool decrypt(const std::uint8_t* source, std::uint8_t* destination) const override;

  bool keyed() const { return keyed_; }

 private:
  std::uint32_t k_[40] = {};
  bool keyed_ = false;
};
