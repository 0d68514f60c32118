#include "platform/fragmented_mp4_reader.h"

#include <algorithm>

#include "platform/mp4_boxes.h"

namespace {

// Flags of tfhd and trun (ISO/IEC 14496-12).
constexpr uint32_t baseDataOffsetPresent = 0x1;
constexpr uint32_t sampleDescriptionIndexPresent = 0x2;
constexpr uint32_t defaultDurationPresent = 0x8;
constexpr uint32_t defaultSizePresent = 0x10;
constexpr uint32_t defaultFlagsPresent = 0x20;
constexpr uint32_t defaultBaseIsMoof = 0x20000;
constexpr uint32_t dataOffsetPresent = 0x1;
constexpr uint32_t firstSampleFlagsPresent = 0x4;
constexpr uint32_t durationPerSample = 0x100;
constexpr uint32_t sizePerSample = 0x200;
constexpr uint32_t flagsPerSample = 0x400;
constexpr uint32_t compositionPerSample = 0x800;
// A sample that is not a sync sample, or that depends on others, is no place to start decoding.
constexpr uint32_t notSyncFlags = 0x00010000 | 0x01000000;

// Bounds past which a header is damaged, not large.
constexpr uint64_t largestFragmentHeader = 256u << 20;
constexpr uint32_t largestSampleCount = 20'000'000;  // 92 hours at 60 frames a second

struct SampleDefaults {
    uint32_t duration = 0;
    uint32_t size = 0;
    uint32_t flags = 0;
};

struct Reading {
    FragmentedMp4& movie;
    SampleDefaults trackDefaults;
    int64_t nextDecodeTime = 0;
    bool ended = false;  // a sample ran past the end of the file: nothing after it counts

    // Keeps `sample` if it lies wholly in the file; ends the reading otherwise.
    void add(Mp4Sample sample) {
        if (ended) return;
        if (sample.offset < 0 || movie.samples.size() >= largestSampleCount || sample.offset > movie.fileSize || sample.size > movie.fileSize - sample.offset) {
            ended = true;
            return;
        }
        nextDecodeTime = sample.decodeTime + sample.duration;
        movie.samples.push_back(sample);
    }
};

uint32_t fullBoxVersion(const Mp4Box& box) { return box.payloadSize > 0 ? box.payload[0] : 0; }

// The samples a fragmented file may already index in its moov (FFmpeg's muxer does so without
// empty_moov).
std::string readMovieSamples(const Mp4Box& stbl, Reading& reading) {
    const std::vector<Mp4Box> tables = mp4Children(stbl);
    const Mp4Box* stsz = mp4Find(tables, "stsz");
    if (stsz == nullptr) return {};
    Mp4FieldReader sizes(*stsz);
    sizes.skip(4);
    const uint32_t fixedSize = sizes.u32();
    const uint32_t count = sizes.u32();
    if (count == 0) return {};
    const Mp4Box* stts = mp4Find(tables, "stts");
    const Mp4Box* stsc = mp4Find(tables, "stsc");
    const Mp4Box* stco = mp4Find(tables, "stco");
    const Mp4Box* co64 = mp4Find(tables, "co64");
    if (stts == nullptr || stsc == nullptr || (stco == nullptr && co64 == nullptr)) return "the moov's sample table is incomplete";
    if ((fixedSize == 0 && count > sizes.left() / 4) || count > largestSampleCount) return "the moov's sample table is damaged";

    std::vector<Mp4Sample> samples(count);
    for (Mp4Sample& sample : samples) sample.size = fixedSize != 0 ? fixedSize : sizes.u32();

    Mp4FieldReader times(*stts);
    times.skip(4);
    size_t index = 0;
    int64_t decodeTime = 0;
    for (uint32_t entries = times.u32(); entries > 0 && times.good(); --entries) {
        const uint32_t run = times.u32();
        const uint32_t delta = times.u32();
        for (uint32_t i = 0; i < run && index < samples.size(); ++i, ++index) {
            samples[index].decodeTime = decodeTime;
            samples[index].duration = delta;
            decodeTime += delta;
        }
    }
    if (const Mp4Box* ctts = mp4Find(tables, "ctts")) {
        Mp4FieldReader offsets(*ctts);
        offsets.skip(4);
        index = 0;
        for (uint32_t entries = offsets.u32(); entries > 0 && offsets.good(); --entries) {
            const uint32_t run = offsets.u32();
            const auto offset = static_cast<int32_t>(offsets.u32());
            for (uint32_t i = 0; i < run && index < samples.size(); ++i, ++index) samples[index].compositionOffset = offset;
        }
    }
    if (const Mp4Box* stss = mp4Find(tables, "stss")) {
        Mp4FieldReader syncs(*stss);
        syncs.skip(4);
        for (uint32_t entries = syncs.u32(); entries > 0 && syncs.good(); --entries) {
            const uint32_t number = syncs.u32();
            if (number >= 1 && number <= samples.size()) samples[number - 1].sync = true;
        }
    } else {
        for (Mp4Sample& sample : samples) sample.sync = true;
    }

    std::vector<int64_t> chunks;
    Mp4FieldReader offsets(co64 != nullptr ? *co64 : *stco);
    offsets.skip(4);
    for (uint32_t entries = offsets.u32(); entries > 0 && offsets.good(); --entries) {
        chunks.push_back(static_cast<int64_t>(offsets.read(co64 != nullptr ? 8 : 4)));
    }
    Mp4FieldReader runs(*stsc);
    runs.skip(4);
    std::vector<std::pair<uint32_t, uint32_t>> chunkRuns;  // first chunk (1-based), samples per chunk
    for (uint32_t entries = runs.u32(); entries > 0 && runs.good(); --entries) {
        const uint32_t first = runs.u32();
        const uint32_t perChunk = runs.u32();
        runs.skip(4);
        if (runs.good()) chunkRuns.emplace_back(first, perChunk);
    }
    index = 0;
    size_t run = 0;
    for (size_t chunk = 0; chunk < chunks.size() && index < samples.size(); ++chunk) {
        while (run + 1 < chunkRuns.size() && chunkRuns[run + 1].first <= chunk + 1) ++run;
        if (chunkRuns.empty()) break;
        int64_t offset = chunks[chunk];
        for (uint32_t i = 0; i < chunkRuns[run].second && index < samples.size(); ++i, ++index) {
            samples[index].offset = offset;
            offset += samples[index].size;
        }
    }
    if (index < samples.size()) return "the moov's sample table is damaged";
    for (const Mp4Sample& sample : samples) reading.add(sample);
    return {};
}

// The moov: the video track, its timescale and defaults, and any samples it indexes itself.
std::string readMovie(Reading& reading) {
    FragmentedMp4& movie = reading.movie;
    const std::vector<Mp4Box> top = mp4Children(movie.movie.data(), movie.movie.size());
    if (top.empty()) return "the moov is damaged";
    const std::vector<Mp4Box> children = mp4Children(top[0]);
    const Mp4Box* stbl = nullptr;
    for (const Mp4Box& trak : children) {
        if (!trak.is("trak")) continue;
        const std::vector<Mp4Box> trakChildren = mp4Children(trak);
        const Mp4Box* tkhd = mp4Find(trakChildren, "tkhd");
        const Mp4Box* mdia = mp4Find(trakChildren, "mdia");
        if (tkhd == nullptr || mdia == nullptr) continue;
        const std::vector<Mp4Box> media = mp4Children(*mdia);
        const Mp4Box* hdlr = mp4Find(media, "hdlr");
        const Mp4Box* mdhd = mp4Find(media, "mdhd");
        if (hdlr == nullptr || mdhd == nullptr || hdlr->payloadSize < 12 || std::memcmp(hdlr->payload + 8, "vide", 4) != 0) continue;
        Mp4FieldReader header(*tkhd);
        header.skip(fullBoxVersion(*tkhd) == 1 ? 20 : 12);
        movie.trackId = header.u32();
        Mp4FieldReader mediaHeader(*mdhd);
        mediaHeader.skip(fullBoxVersion(*mdhd) == 1 ? 20 : 12);
        movie.timescale = mediaHeader.u32();
        if (!header.good() || !mediaHeader.good() || movie.timescale == 0) return "the video track's headers are damaged";
        if (const Mp4Box* minf = mp4Find(media, "minf")) {
            const std::vector<Mp4Box> information = mp4Children(*minf);
            stbl = mp4Find(information, "stbl");
        }
        break;
    }
    if (movie.timescale == 0) return "no video track";
    if (stbl == nullptr) return "the video track has no sample table";
    if (const Mp4Box* mvex = mp4Find(children, "mvex")) {
        for (const Mp4Box& trex : mp4Children(*mvex)) {
            if (!trex.is("trex")) continue;
            Mp4FieldReader fields(trex);
            fields.skip(4);
            if (fields.u32() != movie.trackId) continue;
            fields.skip(4);
            SampleDefaults defaults;
            defaults.duration = fields.u32();
            defaults.size = fields.u32();
            defaults.flags = fields.u32();
            if (fields.good()) reading.trackDefaults = defaults;
        }
    }
    return readMovieSamples(*stbl, reading);
}

// One moof, at `moofAt` in the file: the samples of the video track, in their order.
void readFragment(const std::vector<uint8_t>& bytes, int64_t moofAt, Reading& reading) {
    const std::vector<Mp4Box> top = mp4Children(bytes.data(), bytes.size());
    if (top.empty()) return;
    // Where the data of a track fragment that names no base of its own starts.
    int64_t implicitBase = moofAt;
    for (const Mp4Box& traf : mp4Children(top[0])) {
        if (!traf.is("traf")) continue;
        const std::vector<Mp4Box> parts = mp4Children(traf);
        const Mp4Box* tfhd = mp4Find(parts, "tfhd");
        if (tfhd == nullptr) continue;
        Mp4FieldReader header(*tfhd);
        const uint32_t flags = header.u32() & 0xFFFFFF;
        const uint32_t trackId = header.u32();
        int64_t base = implicitBase;
        if (flags & baseDataOffsetPresent) {
            base = static_cast<int64_t>(header.read(8));
        } else if (flags & defaultBaseIsMoof) {
            base = moofAt;
        }
        if (flags & sampleDescriptionIndexPresent) header.skip(4);
        SampleDefaults defaults = reading.trackDefaults;
        if (flags & defaultDurationPresent) defaults.duration = header.u32();
        if (flags & defaultSizePresent) defaults.size = header.u32();
        if (flags & defaultFlagsPresent) defaults.flags = header.u32();
        if (!header.good()) continue;
        const bool video = trackId == reading.movie.trackId;

        int64_t decodeTime = reading.nextDecodeTime;
        if (const Mp4Box* tfdt = mp4Find(parts, "tfdt"); tfdt != nullptr && video) {
            Mp4FieldReader time(*tfdt);
            const int count = fullBoxVersion(*tfdt) == 1 ? 8 : 4;
            time.skip(4);
            const auto stated = static_cast<int64_t>(time.read(count));
            // The stated time wins where it leaves a gap (as players read it); one that would go
            // back before the last sample cannot be indexed, and the runs' own durations stand.
            if (time.good() && (reading.movie.samples.empty() || stated > reading.movie.samples.back().decodeTime)) {
                decodeTime = stated;
            }
        }

        int64_t runEnd = base;
        for (const Mp4Box& trun : parts) {
            if (!trun.is("trun")) continue;
            Mp4FieldReader run(trun);
            const uint32_t versionAndFlags = run.u32();
            const uint32_t runFlags = versionAndFlags & 0xFFFFFF;
            const bool signedOffsets = (versionAndFlags >> 24) == 1;
            const uint32_t count = run.u32();
            // A damaged count; nothing after it can be trusted.
            if (count > largestSampleCount || (!(runFlags & sizePerSample) && defaults.size == 0 && count > 0)) break;
            int64_t offset = runEnd;
            if (runFlags & dataOffsetPresent) offset = base + static_cast<int32_t>(run.u32());
            const bool firstFlagsPresent = (runFlags & firstSampleFlagsPresent) != 0;
            const uint32_t firstFlags = firstFlagsPresent ? run.u32() : 0;
            for (uint32_t i = 0; i < count && run.good(); ++i) {
                Mp4Sample sample;
                sample.duration = (runFlags & durationPerSample) ? run.u32() : defaults.duration;
                sample.size = (runFlags & sizePerSample) ? run.u32() : defaults.size;
                uint32_t sampleFlags = (runFlags & flagsPerSample) ? run.u32() : defaults.flags;
                if (i == 0 && firstFlagsPresent) sampleFlags = firstFlags;
                if (runFlags & compositionPerSample) {
                    const uint32_t value = run.u32();
                    sample.compositionOffset = signedOffsets ? static_cast<int32_t>(value) : static_cast<int32_t>(std::min<uint32_t>(value, INT32_MAX));
                }
                if (!run.good()) break;
                sample.offset = offset;
                sample.decodeTime = decodeTime;
                sample.sync = (sampleFlags & notSyncFlags) == 0;
                offset += sample.size;
                decodeTime += sample.duration;
                if (video) reading.add(sample);
            }
            runEnd = offset;
        }
        implicitBase = runEnd;
    }
}

}  // namespace

std::string readFragmentedMp4(RandomAccessFile& file, FragmentedMp4& movie) {
    movie = FragmentedMp4{};
    movie.fileSize = file.size();
    if (movie.fileSize < 0) return "cannot read it: " + file.error();
    Reading reading{movie};
    bool movieRead = false;
    int64_t at = 0;
    uint8_t header[16] = {};
    while (!reading.ended && movie.fileSize - at >= 8) {
        const int64_t got = file.readAt(header, 16, at);
        if (got < 8) return "cannot read it: " + (got < 0 ? file.error() : std::string("short read"));
        if (at == 0 && std::memcmp(header + 4, "ftyp", 4) != 0) return "it does not start with ftyp";
        uint64_t size = readBigEndian(header, 4);
        const int64_t left = movie.fileSize - at;
        if (size == 1) size = got >= 16 ? readBigEndian(header + 8, 8) : UINT64_MAX;
        if (size == 0) size = static_cast<uint64_t>(left);  // runs to the end of the file
        const bool isMoof = std::memcmp(header + 4, "moof", 4) == 0;
        if (size < 8 || size > static_cast<uint64_t>(left)) {
            // Only a torn fragment header goes; what follows a torn box of another kind is not read.
            if (isMoof) {
                movie.tornFragmentAt = at;
                movie.hasFragments = true;
            }
            break;
        }
        const bool isMovie = !movieRead && std::memcmp(header + 4, "moov", 4) == 0;
        if (isMoof || isMovie) {
            if (size > largestFragmentHeader) return "a box header is too large to be one";
            std::vector<uint8_t> bytes(static_cast<size_t>(size));
            if (file.readAt(bytes.data(), bytes.size(), at) != static_cast<int64_t>(size)) return "cannot read it: " + file.error();
            if (isMovie) {
                movie.movieAt = at;
                movie.movie = std::move(bytes);
                movieRead = true;
                const std::string problem = readMovie(reading);
                if (!problem.empty()) return problem;
            } else {
                if (!movieRead) return "a fragment comes before the moov";
                movie.hasFragments = true;
                readFragment(bytes, at, reading);
            }
        }
        at += static_cast<int64_t>(size);
    }
    if (!movieRead) return "no moov";
    return {};
}
