// CXmlDocument: an XML document read whole from a file or URL, parsed with
// pugixml and kept as a tree. Loading is synchronous; no DTD is processed,
// no external entity is resolved and nothing besides the document itself is
// fetched; text made only of white space is not kept.
//
// Not thread-safe: one thread loads and reads a document.
#pragma once

#include "platform/hresult.h"

#include <pugixml.hpp>
#include <string>
#include <vector>

class CXmlDocument {
 public:
  // Larger documents are refused rather than read into memory.
  static constexpr LONGLONG kMaxDocumentBytes = 16 << 20;

  // Reads `location` (OpenLocation) and parses it. The result is the read's
  // failure; *parsed says whether the text was a well-formed document, as a
  // load's success flag does.
  HRESULT Load(const std::wstring& location, bool* parsed);
  // Parses text already in memory; true when it is well formed.
  bool LoadText(const void* data, size_t size);

  // Every element named `name` (prefix included, letter case as written), in
  // document order.
  std::vector<pugi::xml_node> ElementsByTagName(const char* name) const;

 private:
  pugi::xml_document m_document;
};
