#include "platform/video_file_finishing.h"

#include <cstring>
#include <exception>

#include "platform/fragmented_mp4_reader.h"
#include "platform/mp4_boxes.h"
#include "platform/mp4_index_writer.h"
#include "platform/random_access_file.h"

namespace {

// Makes the fragmented file ordinary where it lies, in steps after each of which it still plays:
//  1. the index goes after everything, as a "free" box (the file is fragmented as before);
//  2. that box becomes "moov" (players read the first moov and the fragments, as before);
//  3. the fragmented file's own moov becomes the header of one "mdat" that holds everything up to
//     the new index: fragments and their data alike, which the index points into. The file is
//     then ftyp, mdat, moov.
// Finishing again after a death between 2 and 3 adds another index after this one. The steps are
// ordered for a process that dies; like the fragments themselves, they are not synced to the disk
// against a crash of the whole system.
std::string indexInPlace(RandomAccessFile& file, const FragmentedMp4& movie, std::vector<uint8_t> index) {
    const int64_t fileEnd = movie.fileSize;
    const int64_t movieAt = movie.movieAt;
    std::memcpy(index.data() + 4, "free", 4);
    if (!file.writeAt(index.data(), index.size(), fileEnd)) {
        const std::string reason = file.error();
        static_cast<void>(file.resize(fileEnd));
        return "cannot write the index: " + reason;
    }
    if (!file.writeAt("moov", 4, fileEnd + 4)) return "cannot write the index: " + file.error();
    const auto span = static_cast<uint64_t>(fileEnd - movieAt);
    uint8_t head[16] = {};
    size_t headerSize = 8;
    if (span <= UINT32_MAX) {
        putBigEndian(head, span, 4);
    } else {
        putBigEndian(head, 1, 4);
        putBigEndian(head + 8, span, 8);
        headerSize = 16;
    }
    std::memcpy(head + 4, "mdat", 4);
    if (!file.writeAt(head, headerSize, movieAt)) return "cannot write the media header: " + file.error();
    return {};
}

VideoFinishResult finishFragments(const std::filesystem::path& path, int64_t lastSampleDuration) {
    VideoFinishResult result;
    RandomAccessFile file(path, RandomAccessFile::Mode::readWrite);
    if (!file.isOpen()) {
        result.problem = "cannot open it: " + file.error();
        return result;
    }
    FragmentedMp4 movie;
    result.problem = readFragmentedMp4(file, movie);
    if (!result.problem.empty()) return result;
    if (movie.movie.size() < 16) {
        result.problem = "its moov is too small to become the media header";
        return result;
    }
    // A write cut short (a full disk) can leave the last fragment's header torn: it describes
    // data that never reached the file, and it goes.
    if (movie.tornFragmentAt >= 0) {
        if (!file.resize(movie.tornFragmentAt)) {
            result.problem = "cannot cut its torn end: " + file.error();
            return result;
        }
        movie.fileSize = movie.tornFragmentAt;
        while (!movie.samples.empty() && movie.samples.back().offset + movie.samples.back().size > movie.fileSize) movie.samples.pop_back();
    }
    MovieIndex index = buildMovieIndex(movie, lastSampleDuration);
    if (!index.problem.empty()) {
        result.problem = "cannot make the index: " + index.problem;
        return result;
    }
    // On a failure the file stays as it was, fragmented: it plays, and a later recovery can try again.
    result.problem = indexInPlace(file, movie, std::move(index.moov));
    if (result.problem.empty()) {
        result.outcome = VideoFinishResult::Outcome::finished;
        result.seconds = index.seconds;
    }
    return result;
}

}  // namespace

VideoFinishResult finishVideoFile(const std::filesystem::path& file, int64_t lastSampleDuration) {
    VideoFinishResult result;
    if (!mp4HasTopLevelBox(file, "moof")) {
        if (mp4HasTopLevelBox(file, "moov")) {
            result.outcome = VideoFinishResult::Outcome::alreadyOrdinary;
        } else {
            result.problem = "the file has no index and no complete fragment";
        }
        return result;
    }
    try {
        return finishFragments(file, lastSampleDuration);
    } catch (const std::exception& error) {  // out of memory for a damaged header's tables
        result.problem = std::string("cannot make the index: ") + error.what();
        return result;
    }
}
