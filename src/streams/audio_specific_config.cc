#include "streams/audio_specific_config.h"

#include "streams/bit_reader.h"

#include <algorithm>
#include <iterator>

namespace {

constexpr int kObjectTypeBits = 5;
constexpr DWORD kObjectTypeEscape = 31;
constexpr int kObjectTypeExtensionBits = 6;
constexpr DWORD kObjectTypeExtensionBase = 32;
constexpr int kFrequencyIndexBits = 4;
constexpr DWORD kExplicitFrequency = 15;
constexpr int kExplicitFrequencyBits = 24;
constexpr int kChannelConfigurationBits = 4;
constexpr DWORD kSevenOneConfiguration = 7;
constexpr WORD kSevenOneChannels = 8;

constexpr DWORD kSamplingRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                    22050, 16000, 12000, 11025, 8000,  7350};

constexpr DWORD kObjectTypesWithChannelsAndRate[] = {1, 2, 3, 4, 6, 7, 17, 19, 20, 21, 22, 23};

}  // namespace

bool ReadAudioSpecificConfigHead(const BYTE* data, size_t size, AudioSpecificConfigHead* head) {
  CBitReader bits(data, size);
  AudioSpecificConfigHead read;
  if (!bits.Read(kObjectTypeBits, &read.objectType)) return false;
  if (read.objectType == kObjectTypeEscape) {
    DWORD extension = 0;
    if (!bits.Read(kObjectTypeExtensionBits, &extension)) return false;
    read.objectType = kObjectTypeExtensionBase + extension;
  }
  DWORD frequencyIndex = 0;
  if (!bits.Read(kFrequencyIndexBits, &frequencyIndex)) return false;
  if (frequencyIndex == kExplicitFrequency) {
    if (!bits.Read(kExplicitFrequencyBits, &read.samplingRate)) return false;
  } else if (frequencyIndex < std::size(kSamplingRates)) {
    read.samplingRate = kSamplingRates[frequencyIndex];
  } else {
    return false;
  }
  if (!bits.Read(kChannelConfigurationBits, &read.channelConfiguration)) return false;
  *head = read;
  return true;
}

bool ObjectTypeGivesChannelsAndRate(DWORD objectType) {
  return std::find(std::begin(kObjectTypesWithChannelsAndRate), std::end(kObjectTypesWithChannelsAndRate),
                   objectType) != std::end(kObjectTypesWithChannelsAndRate);
}

WORD ChannelsOfConfiguration(DWORD channelConfiguration) {
  if (channelConfiguration == kSevenOneConfiguration) return kSevenOneChannels;
  return static_cast<WORD>(channelConfiguration);
}
