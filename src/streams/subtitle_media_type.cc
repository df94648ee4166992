#include "streams/subtitle_media_type.h"

#include "container/sample_entry.h"
#include "container/trak_box.h"
#include "platform/format_blocks.h"
#include "platform/fourcc.h"
#include "platform/media_guids.h"
#include "streams/media_subtypes.h"

#include <cstring>

HRESULT GetSubtitleMediaType(const SampleEntry& entry, int index, CMediaType* mediaType) {
  if (!mediaType) return E_POINTER;
  if (index < 0) return E_INVALIDARG;
  if (index != 0 || entry.Format() != FourCC("tx3g")) return VFW_S_NO_MORE_ITEMS;
  StartMediaType(mediaType, MEDIATYPE_Subtitle, MEDIASUBTYPE_UTF8, FORMAT_SubtitleInfo);
  mediaType->SetSampleSize(1);

  SUBTITLEINFO info{};
  info.dwOffset = sizeof info;
  if (entry.track) {
    static_assert(sizeof info.IsoLang == sizeof entry.track->language);
    std::memcpy(info.IsoLang, entry.track->language, sizeof info.IsoLang);
    info.IsoLang[sizeof info.IsoLang - 1] = '\0';
  }
  return mediaType->SetFormat(reinterpret_cast<const BYTE*>(&info), sizeof info) ? S_OK : E_OUTOFMEMORY;
}
