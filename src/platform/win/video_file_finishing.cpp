#include "platform/video_file_finishing.h"

// The Media Foundation writer writes ordinary files; a fragmented one comes from the Linux build.
VideoFinishResult finishVideoFile(const std::filesystem::path& file, int64_t) {
    VideoFinishResult result;
    if (mp4HasTopLevelBox(file, "moof")) {
        result.problem = "fragmented MPEG-4 files are finished by the Linux build only";
    } else if (mp4HasTopLevelBox(file, "moov")) {
        result.outcome = VideoFinishResult::Outcome::alreadyOrdinary;
    } else {
        result.problem = "the file has no index and no fragments";
    }
    return result;
}
