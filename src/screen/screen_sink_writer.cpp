#include "screen/screen_recorder.h"
#include "recording_status.h"
#include "screen_figures.h"

HResult ScreenRecorder::initializeSinkWriter(std::unique_ptr<SinkWriter>& writer, uint32_t& streamIndex,
                                             const RecordingSettings& settings) {
    writer.reset();
    streamIndex = 0;
    samplesWritten = 0;

    SinkWriterAttributes attributes;
    attributes.enableHardwareTransforms = true;
    attributes.mpeg4Container = true;
    attributes.fragmented = true;
    attributes.keyFrameSpacing = VIDEO_FPS;  // a fragment about every second

    std::unique_ptr<SinkWriter> created;
    HResult result = media.createSinkWriter(settings.projectDir / screenFileName, attributes, created);
    if (failed(result)) return result;
    if (!created) return hresult::fail;

    VideoMediaType outputType;
    outputType.subtype = VideoSubtype::h264;
    outputType.averageBitrate = VIDEO_BIT_RATE;
    outputType.width = VIDEO_WIDTH;
    outputType.height = VIDEO_HEIGHT;
    outputType.frameRateNumerator = VIDEO_FPS;
    outputType.frameRateDenominator = 1;
    outputType.progressive = true;
    uint32_t index = 0;
    result = created->addStream(outputType, index);
    if (failed(result)) return result;

    VideoMediaType inputType;
    inputType.subtype = VideoSubtype::rgb32;
    inputType.width = VIDEO_WIDTH;
    inputType.height = VIDEO_HEIGHT;
    inputType.frameRateNumerator = VIDEO_FPS;
    inputType.frameRateDenominator = 1;
    result = created->setInputMediaType(index, inputType);
    if (failed(result)) return result;

    result = created->beginWriting();
    if (failed(result)) return result;

    writer = std::move(created);
    streamIndex = index;
    return result;
}

HResult ScreenRecorder::writeFrame(SinkWriter& writer, uint32_t streamIndex, int64_t sampleTime, int64_t sampleDuration,
                                   bool frameAcquired) {
    const uint32_t size = videoSize.width * 4 * videoSize.height;  // fits: checked when the size was chosen
    // Before the first desktop image the sample is black.
    if (frameImage->size() < size) {
        ImageChanges missed(videoSize.width, videoSize.height);
        writableFrameImage(missed).resize(size);
    }

    std::unique_ptr<VideoSample> sample;
    HResult result = media.createSample(frameImage, size, sample);
    if (!failed(result) && !sample) result = hresult::outOfMemory;

    // The desktop frame goes back before the sample is queued, whatever happened above.
    if (frameAcquired && screenDuplication) screenDuplication->releaseFrame();

    if (!failed(result) && damageOnly) {
        if (!unwritten.whole()) sample->setChangedRects(unwritten.rects());
        unwritten.clear();
    }
    if (!failed(result)) result = sample->setSampleTime(sampleTime);
    if (!failed(result)) result = sample->setSampleDuration(sampleDuration);
    if (!failed(result)) result = writer.writeSample(streamIndex, std::move(sample));
    if (!failed(result)) ++samplesWritten;
    if (!failed(result)) countScreenSample();
    return result;
}
