// A system without the media libraries (Windows N without the Media Feature Pack; the Windows
// lane runs this under Wine with mfplat disabled): the platform says why, and a call made anyway
// fails with an HRESULT instead of ending the process. Skipped where the libraries are present.
#include <gtest/gtest.h>

#include <string>

#include "platform/video_writer.h"

namespace screen_test {

TEST(MediaLibraries, WhenMissingTheyAreNamedAndEveryCallFailsInsteadOfEndingTheProcess) {
    const std::unique_ptr<MediaPlatform> media = createMediaPlatform();
    std::string reason;
    if (media->librariesAvailable(reason)) GTEST_SKIP() << "the media libraries are present";
    EXPECT_NE(reason.find("MFPlat.DLL"), std::string::npos) << reason;
    EXPECT_TRUE(failed(media->startup()));
    std::unique_ptr<SinkWriter> writer;
    EXPECT_TRUE(failed(media->createSinkWriter("unwritten.mp4", SinkWriterAttributes{true, true}, writer)));
    EXPECT_EQ(writer, nullptr);
    EXPECT_TRUE(failed(media->shutdown()));
}

}  // namespace screen_test
