// Whether a media type proposed by a downstream filter is one of a pin's
// own. Plain byte equality is too strict for video: the same picture may
// come in another of the five video format blocks, with the opposite row
// order for the packed and planar YUV formats, with a frame duration one
// unit off, or with the whole-picture rectangles written as zero. Pure
// functions; any thread.
#pragma once

#include "platform/format_blocks.h"
#include "platform/guid.h"
#include "platform/media_type.h"

#include <cstddef>

// Our private video format type: a VIDEOINFOHEADER followed by fields of
// our own, at least 144 bytes in all. Nothing offers it yet; a downstream
// filter that knows it may propose it.
inline constexpr GUID FORMAT_IsoVideoInfoPrivate = {
    0x4D3EBC23, 0xD8E4, 0x4B21, {0xA3, 0xA3, 0x88, 0x9E, 0xC1, 0xE4, 0x82, 0xB4}};

// What the test reads from any of the five video format blocks.
struct VideoFormatView {
  RECT source;
  RECT target;
  REFERENCE_TIME frameDuration;
  // Not compared; shown by the tool.
  DWORD bitRate;
  DWORD aspectX;
  DWORD aspectY;
  BITMAPINFOHEADER bitmap;
  // Where the bitmap header starts in the block.
  size_t bitmapOffset;
};

bool IsVideoFormatType(REFGUID formatType);

// False when the format type is not a video one or the block is shorter
// than that type's minimum.
bool GetVideoFormatView(const AM_MEDIA_TYPE& mediaType, VideoFormatView* view);

// The match the output pin makes: `proposed` is the downstream filter's
// type, `offered` one of the pin's own.
bool MediaTypesMatch(const AM_MEDIA_TYPE& proposed, const AM_MEDIA_TYPE& offered);

// Whether two video types describe the same picture (the bitmap header of
// `a` decides the row-order and whole-picture tests).
bool VideoFormatsEquivalent(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b);

// Identical rectangles, or two that both mean the whole picture: the empty
// rectangle and (0, 0, biWidth, |biHeight|) alike.
bool RectanglesEquivalent(const RECT& a, const RECT& b, const BITMAPINFOHEADER& bitmap);
