#pragma once

#include <string>

// Adds a DER certificate to the current user's Root store, so that code
// signed under it is trusted. Only for a test prefix: the build's test
// certificate authority. Adding it again changes nothing. Returns false when
// the file cannot be read or the store refuses it.
bool TrustRootCertificate(const std::wstring& derPath);
