// Finishes one fragmented MP4 as end() and recover do (finishVideoFile) and prints the time it
// took and what it read: bytes through read calls (rchar) and from the disk (read_bytes).
// Built against either side's libdesktracks_core.a by bench/crash/finish_large.sh.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "platform/video_file_finishing.h"

namespace {

long long ioField(const char* key) {
    std::ifstream io("/proc/self/io");
    std::string name;
    long long value = 0;
    while (io >> name >> value) {
        if (name == key) return value;
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <fragmented.mp4>\n", argv[0]);
        return 2;
    }
    const long long rcharBefore = ioField("rchar:");
    const long long diskBefore = ioField("read_bytes:");
    const auto start = std::chrono::steady_clock::now();
    const VideoFinishResult result = finishVideoFile(argv[1], 333333);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s %.3f s, read %.1f MB through read calls, %.1f MB from the disk; %.2f s of video%s%s\n",
                result.outcome == VideoFinishResult::Outcome::finished ? "finished" : "NOT finished", seconds,
                (ioField("rchar:") - rcharBefore) / 1e6, (ioField("read_bytes:") - diskBefore) / 1e6, result.seconds,
                result.problem.empty() ? "" : ": ", result.problem.c_str());
    return result.outcome == VideoFinishResult::Outcome::finished ? 0 : 1;
}
