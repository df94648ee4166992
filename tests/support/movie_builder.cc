#include "movie_builder.h"

#include <algorithm>
#include <cstring>

namespace {

// The four characters of a type held in a string.
void TypeChars(const std::string& type, char (&out)[5]) {
  std::memset(out, ' ', 4);
  std::memcpy(out, type.data(), std::min<size_t>(type.size(), 4));
  out[4] = '\0';
}

constexpr uint32_t kIdentityMatrix[] = {0x00010000, 0, 0, 0, 0x00010000, 0, 0, 0, 0x40000000};

}  // namespace

void WriteSampleTable(BoxBuilder& b, const TrackSpec& track) {
  b.Box("stbl", [&] {
    if (!track.format.empty()) {
      b.FullBox("stsd", 0, 0, [&] {
        char type[5];
        TypeChars(track.format, type);
        b.U32(1).Box(type, [&] { b.Zeros(6).U16(1).Bytes(track.entryBody); });
      });
    }
    WriteTable(b, "stts", track.stts, [&](const auto& entry) { b.U32(entry.first).I32(entry.second); });
    WriteTable(b, "stsc", track.stsc, [&](const auto& entry) { b.U32(entry[0]).U32(entry[1]).U32(entry[2]); });
    b.FullBox("stsz", 0, 0, [&] {
      b.U32(track.constantSize);
      if (track.constantSize != 0) {
        b.U32(track.constantCount);
      } else {
        b.U32(static_cast<uint32_t>(track.sizes.size()));
        for (uint32_t size : track.sizes) b.U32(size);
      }
    });
    if (track.co64) {
      WriteTable(b, "co64", track.chunkOffsets, [&](uint64_t offset) { b.U64(offset); });
    } else {
      WriteTable(b, "stco", track.chunkOffsets, [&](uint64_t offset) { b.U32(static_cast<uint32_t>(offset)); });
    }
    if (track.syncSamples) WriteTable(b, "stss", *track.syncSamples, [&](uint32_t sample) { b.U32(sample); });
  });
}

namespace {

// A "trak" of the track's headers whose "minf" ends with what `stbl` writes.
void WriteTrackWith(BoxBuilder& b, const TrackSpec& track, const BoxBuilder::Body& stbl) {
  b.Box("trak", [&] {
    b.FullBox("tkhd", 0, 7, [&] {
      b.U32(0).U32(0).U32(track.trackId).U32(0).U32(0).Zeros(16);
      for (uint32_t value : kIdentityMatrix) b.U32(value);
      b.U32(0).U32(0);
    });
    b.Box("mdia", [&] {
      b.FullBox("mdhd", 0, 0,
                [&] { b.U32(0).U32(0).U32(track.timescale).U32(track.mediaDuration).U16(0x55C4).U16(0); });
      char handler[5];
      TypeChars(track.handler, handler);
      b.FullBox("hdlr", 0, 0, [&] { b.U32(0).FourCC(handler).Zeros(12).U8(0); });
      b.Box("minf", [&] {
        if (!track.mediaHeader.empty()) {
          char header[5];
          TypeChars(track.mediaHeader, header);
          b.Box(header, [&] { b.Zeros(8); });
        }
        stbl();
      });
    });
  });
}

}  // namespace

void WriteTrack(BoxBuilder& b, const TrackSpec& track) {
  WriteTrackWith(b, track, [&] { WriteSampleTable(b, track); });
}

void WriteTrackWithSampleTable(BoxBuilder& b, uint32_t trackId, const BoxBuilder::Body& stblBody) {
  TrackSpec track;
  track.trackId = trackId;
  WriteTrackWith(b, track, [&] { b.Box("stbl", stblBody); });
}

void WriteMovie(BoxBuilder& b, const std::vector<TrackSpec>& tracks) {
  b.Box("moov", [&] {
    b.FullBox("mvhd", 0, 0, [&] {
      b.U32(0).U32(0).U32(600).U32(1800);
      b.U32(0x00010000).U16(0x0100).Zeros(10);
      for (uint32_t value : kIdentityMatrix) b.U32(value);
      b.Zeros(24).U32(static_cast<uint32_t>(tracks.size() + 1));
    });
    for (const TrackSpec& track : tracks) WriteTrack(b, track);
  });
}

ParsedMovie ParseMovie(IAsyncReader* reader, DWORD wantedTrackId, SampleEntryFactory factory) {
  ParsedMovie movie;
  movie.source = std::make_unique<CDarEdoSource>(reader, wantedTrackId, factory);
  movie.result = movie.source->ParseFile();
  return movie;
}

ParsedMovie ParseMovie(const BoxBuilder& b, DWORD wantedTrackId, SampleEntryFactory factory) {
  return ParseMovie(b.Reader().Get(), wantedTrackId, factory);
}

std::vector<uint8_t> VisualEntryBody(uint16_t width, uint16_t height, const std::vector<uint8_t>& children,
                                     uint16_t depth) {
  BoxBuilder b;
  b.Zeros(16).U16(width).U16(height).U32(0x00480000).U32(0x00480000).U32(0).U16(1);
  return b.U8(5).Text("tests").Zeros(26).U16(depth).U16(0xFFFF).Bytes(children).Data();
}

void WriteSoundV0(BoxBuilder& b, uint16_t channels, uint16_t bits, uint32_t fixedRate, uint16_t version) {
  b.U16(version).Zeros(6).U16(channels).U16(bits).U16(0).U16(0).U32(fixedRate);
}

std::vector<uint8_t> SoundEntryBody(uint16_t channels, uint16_t bits, uint32_t rate) {
  BoxBuilder b;
  WriteSoundV0(b, channels, bits, rate << 16);
  return b.Data();
}

std::vector<uint8_t> BuildMovieFile(const std::vector<StreamSpec>& streams) {
  BoxBuilder b;
  std::vector<std::vector<uint64_t>> offsets(streams.size());
  const auto perChunk = [](const StreamSpec& stream) {
    return stream.samplesPerChunk != 0 ? size_t{stream.samplesPerChunk} : std::max<size_t>(stream.samples.size(), 1);
  };
  b.Box("mdat", [&] {
    for (bool wrote = true; wrote;) {
      wrote = false;
      for (size_t i = 0; i < streams.size(); ++i) {
        const auto& samples = streams[i].samples;
        const size_t from = offsets[i].size() * perChunk(streams[i]);
        if (!offsets[i].empty() && from >= samples.size()) continue;
        offsets[i].push_back(b.Size());
        for (size_t k = from; k < std::min(from + perChunk(streams[i]), samples.size()); ++k) b.Bytes(samples[k]);
        wrote = true;
      }
    }
  });
  std::vector<TrackSpec> tracks;
  for (size_t i = 0; i < streams.size(); ++i) {
    const StreamSpec& stream = streams[i];
    TrackSpec track;
    track.trackId = static_cast<uint32_t>(i + 1);
    track.handler = stream.handler;
    track.mediaHeader = stream.mediaHeader;
    track.format = stream.format;
    track.entryBody = stream.entryBody;
    track.timescale = stream.timescale;
    for (int32_t duration : stream.durations) {
      if (!track.stts.empty() && track.stts.back().second == duration) {
        ++track.stts.back().first;
      } else {
        track.stts.push_back({1, duration});
      }
      track.mediaDuration += static_cast<uint32_t>(duration);
    }
    // A short last chunk needs no entry of its own: the sizes end the track.
    track.stsc = {{1, static_cast<uint32_t>(perChunk(stream)), 1}};
    for (const auto& sample : stream.samples) {
      track.sizes.push_back(static_cast<uint32_t>(sample.size() / stream.bytesPerSizeUnit));
    }
    track.chunkOffsets = offsets[i];
    track.syncSamples = stream.syncSamples;
    tracks.push_back(track);
  }
  WriteMovie(b, tracks);
  return b.Data();
}
