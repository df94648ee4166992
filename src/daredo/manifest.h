// The presentation manifest (the server manifest of a Smooth Streaming
// presentation): which media file and track to play for video and for
// audio. For each element name the candidate with the highest positive
// `systemBitrate` wins (ties keep the earlier one), its first `param` named
// "trackID" gives the track, and its `src` is resolved against the
// manifest's own location.
#pragma once

#include "platform/wintypes.h"
#include "platform/xml_document.h"

#include <string>
#include <vector>

struct ManifestMedia {
  std::wstring location;
  DWORD trackId = 0;
};

// The element names looked for, in the order their sources are made.
inline constexpr const char* kManifestElements[] = {"video", "audio"};

// S_OK with *media set, S_FALSE when no element qualifies (no bit rate, no
// src, no track or track 0), or the failure of combining the locations.
HRESULT SelectManifestMedia(const CXmlDocument& document, const char* elementName, const std::wstring& manifestLocation,
                            ManifestMedia* media);

// The selections for every name of kManifestElements, in that order.
HRESULT ListManifestMedia(const CXmlDocument& document, const std::wstring& manifestLocation,
                          std::vector<ManifestMedia>* media);
