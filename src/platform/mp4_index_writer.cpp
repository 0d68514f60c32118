#include "platform/mp4_index_writer.h"

#include <algorithm>

#include "platform/mp4_boxes.h"

namespace {

// value * multiplier / divisor, rounded to nearest or up, without overflow for 32-bit timescales.
uint64_t rescale(uint64_t value, uint64_t multiplier, uint64_t divisor, bool roundUp) {
    const uint64_t whole = value / divisor;
    const uint64_t part = value % divisor;
    const uint64_t rounding = roundUp ? divisor - 1 : divisor / 2;
    return whole * multiplier + (part * multiplier + rounding) / divisor;
}

uint64_t rescaleDown(uint64_t value, uint64_t multiplier, uint64_t divisor) {
    return value / divisor * multiplier + value % divisor * multiplier / divisor;
}

bool fits32(uint64_t value) { return value <= UINT32_MAX; }

// mvhd, tkhd and mdhd share a layout: creation and modification times, `middle` bytes (the
// timescale, or the track ID and a reserved word), the duration, then fields of fixed size.
void writeTimedHeader(Mp4BoxWriter& out, const Mp4Box& box, size_t middle, uint64_t duration) {
    Mp4FieldReader in(box);
    const uint32_t versionAndFlags = in.u32();
    const int width = (versionAndFlags >> 24) == 1 ? 8 : 4;
    const uint64_t creation = in.read(width);
    const uint64_t modification = in.read(width);
    const size_t middleAt = in.position();
    in.skip(middle);
    in.read(width);
    const size_t restAt = in.position();
    if (!in.good()) {
        out.copy(box);
        return;
    }
    const uint8_t version = fits32(creation) && fits32(modification) && fits32(duration) ? 0 : 1;
    const int outWidth = version == 1 ? 8 : 4;
    out.openFull(box.type, version, versionAndFlags & 0xFFFFFF);
    out.number(creation, outWidth);
    out.number(modification, outWidth);
    out.raw(box.payload + middleAt, middle);
    out.number(duration, outWidth);
    out.raw(box.payload + restAt, box.payloadSize - restAt);
    out.close();
}

uint32_t movieTimescale(const Mp4Box& mvhd) {
    Mp4FieldReader in(mvhd);
    in.skip((in.u32() >> 24) == 1 ? 16 : 8);
    const uint32_t timescale = in.u32();
    return in.good() && timescale != 0 ? timescale : 1000;
}

struct Timing {
    std::vector<uint32_t> durations;
    int64_t firstDecodeTime = 0;   // where the fragments start; the ordinary file starts at 0
    int64_t presentationStart = 0; // the earliest presentation time, from 0
    uint64_t mediaDuration = 0;    // sum of the durations
    uint64_t presentationSpan = 0; // from the earliest presentation to the end of the latest
    bool compositionOffsets = false;
    bool negativeOffsets = false;
};

Timing sampleTiming(const std::vector<Mp4Sample>& samples, uint32_t timescale, int64_t lastSampleDuration) {
    Timing timing;
    timing.firstDecodeTime = samples.front().decodeTime;
    timing.durations.resize(samples.size());
    for (size_t i = 0; i + 1 < samples.size(); ++i) {
        // Decode times go forward (the reader sees to it); a gap longer than a 32-bit duration
        // cannot be written and is cut to the longest one.
        const int64_t gap = samples[i + 1].decodeTime - samples[i].decodeTime;
        timing.durations[i] = static_cast<uint32_t>(std::clamp<int64_t>(gap, 0, UINT32_MAX));
    }
    timing.durations.back() = samples.back().duration;
    if (lastSampleDuration > 0) {
        const uint64_t scaled = rescale(static_cast<uint64_t>(lastSampleDuration), timescale, 10'000'000, false);
        timing.durations.back() = static_cast<uint32_t>(std::min<uint64_t>(scaled, UINT32_MAX));
    }
    int64_t decodeTime = 0;
    int64_t earliest = INT64_MAX;
    int64_t latest = INT64_MIN;
    for (size_t i = 0; i < samples.size(); ++i) {
        const int32_t offset = samples[i].compositionOffset;
        if (offset != 0) timing.compositionOffsets = true;
        if (offset < 0) timing.negativeOffsets = true;
        earliest = std::min(earliest, decodeTime + offset);
        latest = std::max(latest, decodeTime + offset + static_cast<int64_t>(timing.durations[i]));
        decodeTime += timing.durations[i];
    }
    timing.mediaDuration = static_cast<uint64_t>(decodeTime);
    timing.presentationStart = std::max<int64_t>(earliest, 0);
    timing.presentationSpan = static_cast<uint64_t>(std::max<int64_t>(latest - timing.presentationStart, 0));
    return timing;
}

void writeSampleTables(Mp4BoxWriter& out, const std::vector<Mp4Sample>& samples, const Timing& timing) {
    const auto count = static_cast<uint32_t>(samples.size());
    // Durations, run-length coded.
    std::vector<std::pair<uint32_t, uint32_t>> runs;
    for (uint32_t duration : timing.durations) {
        if (!runs.empty() && runs.back().second == duration) ++runs.back().first;
        else runs.emplace_back(1, duration);
    }
    out.openFull("stts", 0, 0);
    out.u32(static_cast<uint32_t>(runs.size()));
    for (const auto& [run, duration] : runs) {
        out.u32(run);
        out.u32(duration);
    }
    out.close();

    if (timing.compositionOffsets) {
        runs.clear();
        for (const Mp4Sample& sample : samples) {
            const auto offset = static_cast<uint32_t>(sample.compositionOffset);
            if (!runs.empty() && runs.back().second == offset) ++runs.back().first;
            else runs.emplace_back(1, offset);
        }
        out.openFull("ctts", timing.negativeOffsets ? 1 : 0, 0);
        out.u32(static_cast<uint32_t>(runs.size()));
        for (const auto& [run, offset] : runs) {
            out.u32(run);
            out.u32(offset);
        }
        out.close();
    }

    const auto syncCount = static_cast<uint32_t>(std::count_if(samples.begin(), samples.end(), [](const Mp4Sample& s) { return s.sync; }));
    if (syncCount != count) {
        out.openFull("stss", 0, 0);
        out.u32(syncCount);
        for (uint32_t i = 0; i < count; ++i) {
            if (samples[i].sync) out.u32(i + 1);
        }
        out.close();
    }

    // A chunk is a run of samples that follow each other in the file.
    std::vector<int64_t> chunkOffsets;
    std::vector<uint32_t> chunkSizes;
    for (size_t i = 0; i < samples.size(); ++i) {
        if (i == 0 || samples[i].offset != samples[i - 1].offset + samples[i - 1].size) {
            chunkOffsets.push_back(samples[i].offset);
            chunkSizes.push_back(0);
        }
        ++chunkSizes.back();
    }
    out.openFull("stsc", 0, 0);
    const size_t countAt = out.bytes.size();
    out.u32(0);
    uint32_t entries = 0;
    for (size_t chunk = 0; chunk < chunkSizes.size(); ++chunk) {
        if (chunk > 0 && chunkSizes[chunk] == chunkSizes[chunk - 1]) continue;
        out.u32(static_cast<uint32_t>(chunk + 1));
        out.u32(chunkSizes[chunk]);
        out.u32(1);
        ++entries;
    }
    putBigEndian(out.bytes.data() + countAt, entries, 4);
    out.close();

    const bool sameSize = std::all_of(samples.begin(), samples.end(), [&](const Mp4Sample& s) { return s.size == samples[0].size; });
    out.openFull("stsz", 0, 0);
    out.u32(sameSize ? samples[0].size : 0);
    out.u32(count);
    if (!sameSize) {
        for (const Mp4Sample& sample : samples) out.u32(sample.size);
    }
    out.close();

    const bool wide = !fits32(static_cast<uint64_t>(chunkOffsets.back()));
    out.openFull(wide ? "co64" : "stco", 0, 0);
    out.u32(static_cast<uint32_t>(chunkOffsets.size()));
    for (int64_t offset : chunkOffsets) out.number(static_cast<uint64_t>(offset), wide ? 8 : 4);
    out.close();
}

struct Durations {
    uint64_t delay = 0;     // movie timescale: the empty edit before the first sample shows
    uint64_t edit = 0;      // movie timescale: the samples' presentation
    uint64_t media = 0;     // track timescale
    int64_t mediaTime = 0;  // track timescale: where the presentation starts in the media
};

void writeEditList(Mp4BoxWriter& out, const Durations& durations) {
    const bool wide = !fits32(durations.delay) || !fits32(durations.edit) || durations.mediaTime > INT32_MAX;
    const int width = wide ? 8 : 4;
    out.open("edts");
    out.openFull("elst", wide ? 1 : 0, 0);
    out.u32(durations.delay > 0 ? 2 : 1);
    if (durations.delay > 0) {
        out.number(durations.delay, width);
        out.number(wide ? UINT64_MAX : UINT32_MAX, width);  // -1: nothing shows
        out.u32(0x00010000);
    }
    out.number(durations.edit, width);
    out.number(static_cast<uint64_t>(durations.mediaTime), width);
    out.u32(0x00010000);
    out.close();
    out.close();
}

// Copies `box`'s children, handing each to `write` first: it returns true when it wrote the child itself.
template <typename Write>
void rebuild(Mp4BoxWriter& out, const Mp4Box& box, Write write) {
    out.open(box.type);
    for (const Mp4Box& child : mp4Children(box)) {
        if (!write(child)) out.copy(child);
    }
    out.close();
}

bool isVideoTrack(const Mp4Box& trak, uint32_t trackId) {
    const std::vector<Mp4Box> children = mp4Children(trak);
    const Mp4Box* tkhd = mp4Find(children, "tkhd");
    if (tkhd == nullptr) return false;
    Mp4FieldReader header(*tkhd);
    header.skip((header.u32() >> 24) == 1 ? 16 : 8);
    return header.u32() == trackId && header.good();
}

}  // namespace

MovieIndex buildMovieIndex(const FragmentedMp4& movie, int64_t lastSampleDuration) {
    MovieIndex index;
    if (movie.samples.empty()) {
        index.problem = "it holds no complete sample";
        return index;
    }
    const std::vector<Mp4Box> top = mp4Children(movie.movie.data(), movie.movie.size());
    const std::vector<Mp4Box> children = top.empty() ? std::vector<Mp4Box>{} : mp4Children(top[0]);
    const Mp4Box* mvhd = mp4Find(children, "mvhd");
    if (mvhd == nullptr) {
        index.problem = "the moov has no movie header";
        return index;
    }
    const uint32_t movieScale = movieTimescale(*mvhd);
    const uint32_t trackScale = movie.timescale;
    const Timing timing = sampleTiming(movie.samples, trackScale, lastSampleDuration);
    Durations durations;
    durations.media = timing.mediaDuration;
    durations.mediaTime = timing.presentationStart;
    durations.delay = rescaleDown(static_cast<uint64_t>(timing.firstDecodeTime + timing.presentationStart), movieScale, trackScale);
    durations.edit = rescale(timing.presentationSpan, movieScale, trackScale, true);
    const uint64_t trackDuration = durations.delay + durations.edit;

    Mp4BoxWriter out;
    bool wroteTrack = false;
    bool wroteTables = false;
    rebuild(out, top[0], [&](const Mp4Box& child) {
        if (child.is("mvhd")) {
            writeTimedHeader(out, child, 4, trackDuration);
            return true;
        }
        if (child.is("mvex")) return true;  // an ordinary file has no fragments
        if (!child.is("trak")) return false;
        // Only the video track stays: its fragments are the ones read.
        if (wroteTrack || !isVideoTrack(child, movie.trackId)) return true;
        wroteTrack = true;
        rebuild(out, child, [&](const Mp4Box& trakChild) {
            if (trakChild.is("tkhd")) {
                writeTimedHeader(out, trakChild, 8, trackDuration);
                writeEditList(out, durations);
                return true;
            }
            if (trakChild.is("edts")) return true;
            if (!trakChild.is("mdia")) return false;
            rebuild(out, trakChild, [&](const Mp4Box& mediaChild) {
                if (mediaChild.is("mdhd")) {
                    writeTimedHeader(out, mediaChild, 4, durations.media);
                    return true;
                }
                if (!mediaChild.is("minf")) return false;
                rebuild(out, mediaChild, [&](const Mp4Box& informationChild) {
                    if (!informationChild.is("stbl")) return false;
                    const std::vector<Mp4Box> tables = mp4Children(informationChild);
                    const Mp4Box* stsd = mp4Find(tables, "stsd");
                    if (stsd == nullptr) return true;
                    out.open("stbl");
                    out.copy(*stsd);
                    writeSampleTables(out, movie.samples, timing);
                    out.close();
                    wroteTables = true;
                    return true;
                });
                return true;
            });
            return true;
        });
        return true;
    });
    if (!wroteTables) {
        index.problem = "the video track has no sample description";
        return index;
    }
    index.moov = std::move(out.bytes);
    index.seconds = static_cast<double>(timing.firstDecodeTime + timing.presentationStart + static_cast<int64_t>(timing.presentationSpan)) /
                    trackScale;
    return index;
}
