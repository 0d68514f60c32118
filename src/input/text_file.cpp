#include "input/text_file.h"

#include <fstream>
#include <system_error>

bool writeTextFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) return false;
    file.write(text.data(), static_cast<std::streamsize>(text.size()));
    file.close();
    if (file) return true;
    // A part of the text would look like a finished file.
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    return false;
}
