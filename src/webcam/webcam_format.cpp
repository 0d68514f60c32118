#include "webcam/webcam_format.h"

#include <cmath>
#include <cstdlib>
#include <tuple>

#include <spdlog/fmt/fmt.h>

namespace {

constexpr uint32_t bestMaxWidth = 1920;
constexpr uint32_t bestMaxHeight = 1080;
constexpr double bestMinFps = 24;

uint64_t area(const NativeTypeFacts& type) { return uint64_t{type.width} * type.height; }

size_t firstRecordable(const std::vector<NativeTypeFacts>& types) {
    for (size_t i = 0; i < types.size(); ++i) {
        if (types[i].recordable) return i;
    }
    return types.size();
}

// The index of the type that `better` ranks first among those `eligible` lets in.
template <typename Eligible, typename Better>
size_t pick(const std::vector<NativeTypeFacts>& types, Eligible eligible, Better better) {
    size_t chosen = types.size();
    for (size_t i = 0; i < types.size(); ++i) {
        if (!types[i].recordable || !eligible(types[i])) continue;
        if (chosen == types.size() || better(types[i], types[chosen])) chosen = i;
    }
    return chosen;
}

}  // namespace

bool NativeTypeFacts::compressed() const {
    for (const MediaGuid& raw : {mediaSubtype::yuy2, mediaSubtype::uyvy, mediaSubtype::nv12, mediaSubtype::i420,
                                 mediaSubtype::yv12, mediaSubtype::rgb24, mediaSubtype::rgb32, mediaSubtype::rawRgb24}) {
        if (subtype == raw) return false;
    }
    return true;
}

size_t chooseNativeType(const std::vector<NativeTypeFacts>& types, const WebcamFormat& format) {
    if (types.empty()) return 0;
    const auto fits = [](const NativeTypeFacts& t) { return t.width <= bestMaxWidth && t.height <= bestMaxHeight; };
    switch (format.rule) {
    case WebcamFormat::Rule::first:
        return types[0].recordable ? 0 : firstRecordable(types);
    case WebcamFormat::Rule::best: {
        // Strictly better only, so that the earlier of two equal types stays.
        const auto larger = [](const NativeTypeFacts& a, const NativeTypeFacts& b) {
            return std::make_tuple(area(a), a.fps(), !a.compressed()) > std::make_tuple(area(b), b.fps(), !b.compressed());
        };
        size_t chosen = pick(types, [&](const NativeTypeFacts& t) { return fits(t) && t.fps() >= bestMinFps; }, larger);
        if (chosen != types.size()) return chosen;
        chosen = pick(types, fits, [](const NativeTypeFacts& a, const NativeTypeFacts& b) {
            return std::make_tuple(a.fps(), area(a), !a.compressed()) > std::make_tuple(b.fps(), area(b), !b.compressed());
        });
        if (chosen != types.size()) return chosen;
        return chooseNativeType(types, WebcamFormat{});
    }
    case WebcamFormat::Rule::nearest: {
        const auto distance = [&](const NativeTypeFacts& t) {
            const int64_t size = std::llabs(int64_t{t.width} - format.width) + std::llabs(int64_t{t.height} - format.height);
            return std::make_tuple(size, std::fabs(t.fps() - format.fps), t.compressed());
        };
        return pick(types, [](const NativeTypeFacts&) { return true; },
                    [&](const NativeTypeFacts& a, const NativeTypeFacts& b) { return distance(a) < distance(b); });
    }
    }
    return 0;
}

std::string webcamFormatText(const WebcamFormat& format) {
    switch (format.rule) {
    case WebcamFormat::Rule::first: return "first";
    case WebcamFormat::Rule::best: return "best";
    case WebcamFormat::Rule::nearest: break;
    }
    return fmt::format("{}x{} at {:g} fps", format.width, format.height, format.fps);
}

std::string subtypeName(const MediaGuid& subtype) {
    static const std::pair<MediaGuid, const char*> names[] = {
        {mediaSubtype::rgb24, "RGB24"}, {mediaSubtype::rgb32, "RGB32"}, {mediaSubtype::yuy2, "YUY2"},
        {mediaSubtype::uyvy, "UYVY"},   {mediaSubtype::nv12, "NV12"},   {mediaSubtype::i420, "I420"},
        {mediaSubtype::yv12, "YV12"},   {mediaSubtype::mjpg, "MJPG"},   {mediaSubtype::rawRgb24, "RGB3"},
    };
    for (const auto& [guid, name] : names) {
        if (guid == subtype) return name;
    }
    return guidText(subtype);
}
