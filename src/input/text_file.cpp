#include "input/text_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

bool writeTextFile(const std::filesystem::path& path, const std::string& text, std::string* reason) {
    errno = 0;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (file) {
        file.write(text.data(), static_cast<std::streamsize>(text.size()));
        file.close();
        if (file) return true;
    }
    if (reason != nullptr) *reason = errno != 0 ? std::strerror(errno) : "write failed";
    // A part of the text would look like a finished file.
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    return false;
}
