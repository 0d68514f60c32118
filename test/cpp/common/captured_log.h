#pragma once

#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace test_support {

// A logger that keeps each message as the code under test logged it: no prefix, line ends and all.
class CapturedLog {
    struct Sink : spdlog::sinks::base_sink<std::mutex> {
        std::vector<std::pair<spdlog::level::level_enum, std::string>> kept;
        std::vector<std::string> messages(spdlog::level::level_enum least) {
            std::lock_guard<std::mutex> lock(mutex_);
            std::vector<std::string> found;
            for (const auto& [level, message] : kept) {
                if (level >= least) found.push_back(message);
            }
            return found;
        }
        void sink_it_(const spdlog::details::log_msg& message) override {
            kept.emplace_back(message.level, std::string(message.payload.data(), message.payload.size()));
        }
        void flush_() override {}
    };
    std::shared_ptr<Sink> sink = std::make_shared<Sink>();

public:
    std::shared_ptr<spdlog::logger> logger = std::make_shared<spdlog::logger>("captured", sink);

    std::vector<std::string> messages() const { return sink->messages(spdlog::level::trace); }
    std::vector<std::string> errors() const { return sink->messages(spdlog::level::err); }
    int count(const std::string& message) const {
        const std::vector<std::string> all = messages();
        return int(std::count(all.begin(), all.end(), message));
    }
};

}  // namespace test_support
