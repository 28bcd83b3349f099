#pragma once

#include <tinyxml.h>

#include <cstring>
#include <string>

// Parses the text up to its first zero byte as UTF-8 XML. The parser steps
// over the bytes a multi-byte lead byte announces, even when one of them is
// that zero and past the text's end, so the text is parsed with zero bytes
// after it. Whatever the parser made of the text is kept; its error status
// is the caller's to read. text is left holding that padded copy.
inline void ParseXmlText(std::string* text, TiXmlDocument* document) {
  text->resize(std::strlen(text->c_str()));
  text->append(8, '\0');
  document->Parse(text->c_str(), nullptr, TIXML_ENCODING_UTF8);
}
