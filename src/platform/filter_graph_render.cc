#include "platform/filter_graph.h"

#include "platform/class_table.h"
#include "platform/file_type_detection.h"
#include "platform/filter_mapper.h"
#include "platform/media_guids.h"
#include "platform/media_type.h"

#include <algorithm>

namespace {

bool Accepts(const RegisteredMediaType& registered, const AM_MEDIA_TYPE& offered) {
  return (registered.majortype == GUID_NULL || registered.majortype == offered.majortype) &&
         (registered.subtype == GUID_NULL || registered.subtype == offered.subtype);
}

// Registered filters with an input pin that takes `offered`, best merit first.
std::vector<RegisteredFilter> CandidatesFor(const AM_MEDIA_TYPE& offered) {
  std::vector<RegisteredFilter> candidates;
  for (RegisteredFilter& filter : ReadRegisteredFilters()) {
    if (filter.merit <= MERIT_DO_NOT_USE) continue;
    const bool takes = std::any_of(filter.pins.begin(), filter.pins.end(), [&](const RegisteredPin& pin) {
      return (pin.flags & REG_PINFLAG_B_OUTPUT) == 0 &&
             std::any_of(pin.mediaTypes.begin(), pin.mediaTypes.end(),
                         [&](const RegisteredMediaType& type) { return Accepts(type, offered); });
    });
    if (takes) candidates.push_back(std::move(filter));
  }
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const RegisteredFilter& a, const RegisteredFilter& b) { return a.merit > b.merit; });
  return candidates;
}

std::vector<ComPtr<IPin>> PinsOf(IBaseFilter* filter, PIN_DIRECTION wanted) {
  std::vector<ComPtr<IPin>> pins;
  ComPtr<IEnumPins> all;
  if (FAILED(filter->EnumPins(all.Put()))) return pins;
  IPin* pin = nullptr;
  while (all->Next(1, &pin, nullptr) == S_OK) {
    ComPtr<IPin> held = ComPtr<IPin>::Attach(pin);
    PIN_DIRECTION direction = PINDIR_INPUT;
    if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == wanted) pins.push_back(held);
  }
  return pins;
}

}  // namespace

HRESULT CFilterGraph::ConnectToRegisteredFilter(IPin* output, ComPtr<IBaseFilter>* chosen) {
  CMediaType offered;
  ComPtr<IEnumMediaTypes> types;
  AM_MEDIA_TYPE* first = nullptr;
  if (FAILED(output->EnumMediaTypes(types.Put())) || types->Next(1, &first, nullptr) != S_OK) {
    return VFW_E_CANNOT_RENDER;
  }
  offered.Set(*first);
  DeleteMediaType(first);
  for (const RegisteredFilter& candidate : CandidatesFor(offered)) {
    ComPtr<IBaseFilter> filter;
    if (FAILED(CoCreateInstance(candidate.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.PutVoid()))) {
      continue;
    }
    if (FAILED(AddFilter(filter.Get(), candidate.name.c_str()))) continue;
    for (const ComPtr<IPin>& input : PinsOf(filter.Get(), PINDIR_INPUT)) {
      if (SUCCEEDED(ConnectDirect(output, input.Get(), nullptr))) {
        *chosen = filter;
        return S_OK;
      }
    }
    RemoveFilter(filter.Get());
  }
  return VFW_E_CANNOT_RENDER;
}

HRESULT CFilterGraph::RenderFile(BSTR fileName) {
  if (fileName == nullptr) return E_POINTER;
  DetectedFileType detected;
  DetectFileType(fileName, nullptr, &detected);
  // Without a registered extension the check bytes decide, which the file
  // source reads itself; it is the only source filter there is to ask for.
  const CLSID sourceClass = detected.sourceFilter != GUID_NULL ? detected.sourceFilter : CLSID_AsyncReader;
  ComPtr<IBaseFilter> source;
  ComPtr<IFileSourceFilter> file;
  HRESULT hr = CoCreateInstance(sourceClass, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, source.PutVoid());
  if (SUCCEEDED(hr)) hr = source.As(IID_IFileSourceFilter, file);
  if (SUCCEEDED(hr)) hr = file->Load(fileName, nullptr);
  if (SUCCEEDED(hr)) hr = AddFilter(source.Get(), fileName);
  if (FAILED(hr)) return hr;

  bool anyRendered = false;
  bool allRendered = true;
  for (const ComPtr<IPin>& output : PinsOf(source.Get(), PINDIR_OUTPUT)) {
    ComPtr<IBaseFilter> parser;
    if (FAILED(ConnectToRegisteredFilter(output.Get(), &parser))) {
      allRendered = false;
      continue;
    }
    for (const ComPtr<IPin>& stream : PinsOf(parser.Get(), PINDIR_OUTPUT)) {
      ComPtr<IBaseFilter> renderer;
      hr = CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                    renderer.PutVoid());
      if (SUCCEEDED(hr)) hr = AddFilter(renderer.Get(), L"Null Renderer");
      if (SUCCEEDED(hr)) {
        const std::vector<ComPtr<IPin>> inputs = PinsOf(renderer.Get(), PINDIR_INPUT);
        hr = inputs.empty() ? VFW_E_NOT_FOUND : ConnectDirect(stream.Get(), inputs.front().Get(), nullptr);
        if (FAILED(hr)) RemoveFilter(renderer.Get());
      }
      if (SUCCEEDED(hr)) {
        anyRendered = true;
      } else {
        allRendered = false;
      }
    }
  }
  if (!anyRendered) return VFW_E_CANNOT_RENDER;
  return allRendered ? S_OK : VFW_S_PARTIAL_RENDER;
}
