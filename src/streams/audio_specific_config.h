// The head of an MPEG-4 AudioSpecificConfig (the decoder-specific info of
// AAC and its relatives): object type, sampling rate and channel
// configuration. It is what an "mp4a" entry's fixed fields often get wrong
// (QuickTime writes 2 channels and the core rate of an HE-AAC stream).
#pragma once

#include "platform/wintypes.h"

#include <cstddef>

struct AudioSpecificConfigHead {
  DWORD objectType = 0;
  DWORD samplingRate = 0;
  DWORD channelConfiguration = 0;
};

// Reads audioObjectType (with its escape), samplingFrequencyIndex (with the
// explicit 24-bit rate) and channelConfiguration. False when the bits run
// out or the frequency index is one of the reserved 13 and 14.
bool ReadAudioSpecificConfigHead(const BYTE* data, size_t size, AudioSpecificConfigHead* head);

// Whether the object type's channel configuration and rate describe the
// decoded output (AAC Main, LC, SSR, LTP, scalable, TwinVQ and the
// error-resilient variants); for other types the entry's own fields stay.
bool ObjectTypeGivesChannelsAndRate(DWORD objectType);

// The channel count of a channel configuration: 7 is the 7.1 layout of 8
// channels; 0 means the count is given elsewhere and returns 0.
WORD ChannelsOfConfiguration(DWORD channelConfiguration);
