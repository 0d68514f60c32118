#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Fragmented MPEG-4 files laid out the ways writers lay them out (FFmpeg, Media Foundation, DASH
// packagers), built byte by byte from given samples, for the finisher's tests.
namespace fragment_builder {

struct Sample {
    std::string data;
    uint32_t duration = 0;
    bool sync = false;
    int32_t compositionOffset = 0;
};

struct Layout {
    enum class Base { moof, explicitOffset, implicit };
    Base base = Base::moof;
    bool decodeTimes = true;        // tfdt in each traf
    bool trexDefaults = false;      // durations and flags from trex, sizes in the run
    bool tfhdDefaults = false;      // durations and flags from tfhd
    bool firstSampleFlags = false;  // the run states the first sample's flags apart
    bool otherTrackFirst = false;   // a second track's traf and data before the video's
    bool indexBoxes = false;        // sidx before each fragment, free boxes, mfra at the end
    bool largeSizes = false;        // every mdat with a 64-bit size
    size_t samplesPerFragment = 10;
    uint64_t gapAfterFirstFragment = 0;  // a free box this large after it (kept sparse on disk)
};

// The layouts writers make, by who makes them.
struct NamedLayout {
    const char* name;
    Layout layout;
};
template <class Change>
Layout layoutWith(Change change) {
    Layout layout;
    change(layout);
    return layout;
}
inline std::vector<NamedLayout> writerLayouts() {
    using Base = Layout::Base;
    return {
        {"FFmpeg: base is moof", Layout{}},
        {"Media Foundation: explicit base, trex defaults, no tfdt, sidx and mfra", layoutWith([](Layout& l) {
             l.base = Base::explicitOffset, l.decodeTimes = false;
             l.trexDefaults = l.firstSampleFlags = l.indexBoxes = true;
         })},
        {"no base: after another track's data, tfhd defaults, 64-bit mdat sizes", layoutWith([](Layout& l) {
             l.base = Base::implicit;
             l.otherTrackFirst = l.tfhdDefaults = l.firstSampleFlags = l.largeSizes = true;
         })},
        {"explicit base with another track", layoutWith([](Layout& l) { l.base = Base::explicitOffset, l.otherTrackFirst = true; })},
        {"no base, one track", layoutWith([](Layout& l) { l.base = Base::implicit; })},
        {"DASH: sidx before each fragment, another track first", layoutWith([](Layout& l) { l.indexBoxes = l.otherTrackFirst = true; })},
    };
}

struct Track {
    std::string sampleDescription;  // the whole stsd box
    uint32_t timescale = 10000000;
    uint16_t width = 320;
    uint16_t height = 240;
};

inline void put(std::string& out, uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<char>(value >> (8 * i)));
}

inline std::string box(const char* type, const std::string& payload) {
    std::string out;
    put(out, payload.size() + 8, 4);
    out.append(type, 4);
    return out + payload;
}

inline std::string fullBox(const char* type, uint8_t version, uint32_t flags, const std::string& payload) {
    std::string head;
    put(head, static_cast<uint32_t>(version) << 24 | flags, 4);
    return box(type, head + payload);
}

inline std::string emptyTable(const char* type, int extra = 0) {
    std::string payload;
    put(payload, 0, 4 + extra);
    return fullBox(type, 0, 0, payload);
}

inline std::string matrix() {
    std::string out;
    for (uint32_t value : {0x10000u, 0u, 0u, 0u, 0x10000u, 0u, 0u, 0u, 0x40000000u}) put(out, value, 4);
    return out;
}

inline std::string trak(uint32_t id, const char* handler, const Track& track) {
    std::string tkhd;
    put(tkhd, 0, 8);
    put(tkhd, id, 4);
    put(tkhd, 0, 4);
    put(tkhd, 0, 4);  // duration
    put(tkhd, 0, 8);
    put(tkhd, 0, 8);  // layer, group, volume, reserved
    tkhd += matrix();
    put(tkhd, static_cast<uint32_t>(track.width) << 16, 4);
    put(tkhd, static_cast<uint32_t>(track.height) << 16, 4);
    std::string mdhd;
    put(mdhd, 0, 8);
    put(mdhd, track.timescale, 4);
    put(mdhd, 0, 4);
    put(mdhd, 0x55c4, 2);
    put(mdhd, 0, 2);
    std::string hdlr;
    put(hdlr, 0, 4);
    hdlr.append(handler, 4);
    put(hdlr, 0, 12);
    hdlr += std::string("Handler") + '\0';
    std::string dref;
    put(dref, 1, 4);
    dref += fullBox("url ", 0, 1, "");
    std::string vmhd;
    put(vmhd, 0, 8);
    const std::string stbl = box("stbl", (track.sampleDescription.empty() ? emptyTable("stsd") : track.sampleDescription) +
                                             emptyTable("stts") + emptyTable("stsc") + emptyTable("stsz", 4) + emptyTable("stco"));
    const std::string minf = box("minf", fullBox("vmhd", 0, 1, vmhd) + box("dinf", fullBox("dref", 0, 0, dref)) + stbl);
    return box("trak", fullBox("tkhd", 0, 3, tkhd) + box("mdia", fullBox("mdhd", 0, 0, mdhd) + fullBox("hdlr", 0, 0, hdlr) + minf));
}

constexpr uint32_t syncFlags = 0x02000000;
constexpr uint32_t notSyncFlags = 0x01010000;

// A file as `head`, `gap` bytes of nothing (a hole on disk), then `tail`.
struct File {
    std::string head;
    uint64_t gap = 0;
    std::string tail;
};

inline File build(const Track& track, const std::vector<Sample>& samples, const Layout& layout) {
    const uint32_t videoId = layout.otherTrackFirst ? 2 : 1;
    File file;
    std::string* outp = &file.head;
    const auto position = [&] { return file.head.size() + file.gap + file.tail.size(); };
    std::string& head = file.head;
    head = box("ftyp", std::string("isom") + std::string("\0\0\2\0", 4) + "isomiso2avc1iso6mp41");
    std::string mvhd;
    put(mvhd, 0, 8);
    put(mvhd, 1000, 4);
    put(mvhd, 0, 4);
    put(mvhd, 0x10000, 4);
    put(mvhd, 0x0100, 2);
    put(mvhd, 0, 10);
    mvhd += matrix();
    put(mvhd, 0, 24);
    put(mvhd, 3, 4);
    std::string traks;
    if (layout.otherTrackFirst) traks += trak(1, "soun", Track{"", 48000, 0, 0});
    traks += trak(videoId, "vide", track);
    std::string trex;
    for (uint32_t id = 1; id <= videoId; ++id) {
        std::string fields;
        put(fields, id, 4);
        put(fields, 1, 4);
        put(fields, layout.trexDefaults && id == videoId ? samples[0].duration : 0, 4);
        put(fields, 0, 4);
        put(fields, layout.trexDefaults && id == videoId ? notSyncFlags : 0, 4);
        trex += fullBox("trex", 0, 0, fields);
    }
    head += box("moov", fullBox("mvhd", 0, 0, mvhd) + traks + box("mvex", trex));

    uint64_t decodeTime = 0;
    std::string mfraEntries;
    uint32_t sequence = 1;
    for (size_t first = 0; first < samples.size(); first += layout.samplesPerFragment, ++sequence) {
        const size_t end = std::min(samples.size(), first + layout.samplesPerFragment);
        if (layout.indexBoxes) {
            std::string sidx;
            put(sidx, videoId, 4);
            put(sidx, track.timescale, 4);
            put(sidx, 0, 12);
            put(sidx, 0, 2);
            *outp += fullBox("sidx", 1, 0, sidx) + box("free", "padding");
        }
        const uint64_t moofAt = position();
        const std::string otherData(1234, 'a');
        // The moof's size does not depend on the offsets written into it: build it twice.
        std::string moof;
        for (int pass = 0; pass < 2; ++pass) {
            const uint64_t mdatHeader = layout.largeSizes ? 16 : 8;
            const uint64_t dataAt = moofAt + moof.size() + mdatHeader;  // right on the second pass
            std::string trafs;
            if (layout.otherTrackFirst) {
                std::string tfhd;
                uint32_t flags = layout.base == Layout::Base::moof ? 0x20000 : 0;
                if (layout.base == Layout::Base::explicitOffset) flags |= 1;
                put(tfhd, 1, 4);
                if (flags & 1) put(tfhd, moofAt, 8);
                std::string trun;
                put(trun, 1, 4);
                put(trun, dataAt - moofAt, 4);
                put(trun, 1024, 4);
                put(trun, otherData.size(), 4);
                trafs += box("traf", fullBox("tfhd", 0, flags, tfhd) + fullBox("trun", 0, 0x301, trun));
            }
            const uint64_t videoDataAt = dataAt + (layout.otherTrackFirst ? otherData.size() : 0);
            uint32_t flags = 0;
            std::string tfhd;
            put(tfhd, videoId, 4);
            if (layout.base == Layout::Base::explicitOffset) {
                flags |= 1;
                put(tfhd, moofAt, 8);
            } else if (layout.base == Layout::Base::moof) {
                flags |= 0x20000;
            }
            if (layout.tfhdDefaults) {
                flags |= 0x8 | 0x20;
                put(tfhd, samples[first].duration, 4);
                put(tfhd, notSyncFlags, 4);
            }
            uint32_t runFlags = 0x200;  // sizes
            const bool perSampleDuration = !layout.trexDefaults && !layout.tfhdDefaults;
            const bool perSampleFlags = !layout.trexDefaults && !layout.tfhdDefaults && !layout.firstSampleFlags;
            if (perSampleDuration) runFlags |= 0x100;
            if (perSampleFlags) runFlags |= 0x400;
            if (!perSampleFlags) runFlags |= 0x4;
            bool offsets = false;
            for (size_t i = first; i < end; ++i) offsets = offsets || samples[i].compositionOffset != 0;
            if (offsets) runFlags |= 0x800;
            // With neither base flag, the video's data follow the other track's, so the run can
            // leave its offset out.
            const bool implicitOffset = layout.base == Layout::Base::implicit && layout.otherTrackFirst;
            if (!implicitOffset) runFlags |= 0x1;
            std::string trun;
            put(trun, end - first, 4);
            if (!implicitOffset) put(trun, videoDataAt - moofAt, 4);
            if (runFlags & 0x4) put(trun, samples[first].sync ? syncFlags : notSyncFlags, 4);
            for (size_t i = first; i < end; ++i) {
                if (perSampleDuration) put(trun, samples[i].duration, 4);
                put(trun, samples[i].data.size(), 4);
                if (perSampleFlags) put(trun, samples[i].sync ? syncFlags : notSyncFlags, 4);
                if (offsets) put(trun, static_cast<uint32_t>(samples[i].compositionOffset), 4);
            }
            std::string tfdt;
            put(tfdt, decodeTime, 8);
            std::string traf = fullBox("tfhd", 0, flags, tfhd);
            if (layout.decodeTimes) traf += fullBox("tfdt", 1, 0, tfdt);
            traf += fullBox("trun", offsets ? 1 : 0, runFlags, trun);
            std::string mfhd;
            put(mfhd, sequence, 4);
            moof = box("moof", fullBox("mfhd", 0, 0, mfhd) + trafs + box("traf", traf));
        }
        std::string data = layout.otherTrackFirst ? otherData : "";
        for (size_t i = first; i < end; ++i) {
            data += samples[i].data;
            decodeTime += samples[i].duration;
        }
        *outp += moof;
        if (layout.largeSizes) {
            put(*outp, 1, 4);
            *outp += "mdat";
            put(*outp, data.size() + 16, 8);
        } else {
            put(*outp, data.size() + 8, 4);
            *outp += "mdat";
        }
        *outp += data;
        std::string entry;
        put(entry, decodeTime, 8);
        put(entry, moofAt, 8);
        put(entry, 0x010101, 3);
        mfraEntries += entry;
        if (first == 0 && layout.gapAfterFirstFragment > 0) {
            put(*outp, 1, 4);
            *outp += "free";
            put(*outp, layout.gapAfterFirstFragment, 8);
            file.gap = layout.gapAfterFirstFragment - 16;
            outp = &file.tail;
        }
    }
    if (layout.indexBoxes) {
        std::string tfra;
        put(tfra, videoId, 4);
        put(tfra, 0x3f, 4);
        put(tfra, mfraEntries.size() / 19, 4);
        *outp += box("mfra", fullBox("tfra", 1, 0, tfra + mfraEntries) + fullBox("mfro", 0, 0, std::string(4, '\0')));
    }
    return file;
}

}  // namespace fragment_builder
