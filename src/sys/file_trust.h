#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The parts of the package trust check that need no Windows: which signer
// names are the maker's, and the text form of a file hash.

// True when the signer name contains "vexlo", "Vexlo" or "VEXLO" (three
// case-sensitive searches; "vExLo" is not the maker).
bool IsSignerAccepted(const std::wstring& signerName);

// The hash as upper-case hexadecimal text, high nibble first: the member tag
// a catalog files the hash under.
std::wstring HashToMemberTag(const std::uint8_t* hash, std::size_t size);
