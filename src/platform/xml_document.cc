#include "platform/xml_document.h"

#include "platform/url_location.h"

#include <cstring>

namespace {

class ElementCollector final : public pugi::xml_tree_walker {
 public:
  ElementCollector(const char* name, std::vector<pugi::xml_node>* found) : m_name(name), m_found(found) {}

  bool for_each(pugi::xml_node& node) override {
    if (node.type() == pugi::node_element && std::strcmp(node.name(), m_name) == 0) m_found->push_back(node);
    return true;
  }

 private:
  const char* m_name;
  std::vector<pugi::xml_node>* m_found;
};

}  // namespace

HRESULT CXmlDocument::Load(const std::wstring& location, bool* parsed) {
  if (parsed == nullptr) return E_POINTER;
  *parsed = false;
  m_document.reset();
  ComPtr<IAsyncReader> reader;
  HRESULT hr = OpenLocation(location, reader.Put());
  if (FAILED(hr)) return hr;
  LONGLONG size = 0;
  hr = reader->Length(&size, nullptr);
  if (FAILED(hr)) return hr;
  if (size < 0 || size > kMaxDocumentBytes) return S_OK;
  std::vector<BYTE> text(static_cast<size_t>(size));
  hr = reader->SyncRead(0, static_cast<LONG>(size), text.data());
  if (FAILED(hr)) return hr;
  if (hr != S_OK) return S_OK;
  *parsed = LoadText(text.data(), text.size());
  return S_OK;
}

bool CXmlDocument::LoadText(const void* data, size_t size) {
  // The default options leave the doctype and its entities alone and drop
  // white-space-only text.
  return static_cast<bool>(m_document.load_buffer(data, size, pugi::parse_default));
}

std::vector<pugi::xml_node> CXmlDocument::ElementsByTagName(const char* name) const {
  std::vector<pugi::xml_node> found;
  ElementCollector collector(name, &found);
  const_cast<pugi::xml_document&>(m_document).traverse(collector);
  return found;
}
