#pragma once

#include <cstdio>
#include <string>

namespace test_support {

// Standard output of a shell command (ffprobe, ffmpeg), whatever its exit status.
inline std::string commandOutput(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
        pclose(pipe);
    }
    return output;
}

}  // namespace test_support
