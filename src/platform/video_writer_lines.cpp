#include "platform/video_writer.h"

std::string videoWriteFailureLine(const SinkWriter& writer, const std::string& name) {
    const std::string reason = writer.writeFailure();
    if (reason.empty()) return {};
    return name + " could not be written to the end (" + reason + "); it holds the video up to the failure";
}

VideoFileLines videoFileLines(const SinkWriter& writer, const std::string& name, bool writeFailureSaid) {
    VideoFileLines lines;
    if (!writeFailureSaid) lines.error = videoWriteFailureLine(writer, name);
    const std::string reason = writer.finishFailure();
    if (reason.empty()) return lines;
    std::string finish = name + " could not be made an ordinary MP4 (" + reason +
                         "); it stays as written while recording, which plays, and recover can finish it";
    const bool writeFailed = writeFailureSaid || !lines.error.empty();
    (writeFailed ? lines.warning : lines.error) = std::move(finish);
    return lines;
}
