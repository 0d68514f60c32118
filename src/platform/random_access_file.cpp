#include "platform/random_access_file.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

#ifdef _WIN32

namespace {

std::string systemMessage(DWORD code) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = length > 0 && text != nullptr ? std::string(text, length) : "error " + std::to_string(code);
    if (text != nullptr) LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.')) message.pop_back();
    return message;
}

OVERLAPPED at(int64_t offset) {
    OVERLAPPED overlapped{};
    overlapped.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset));
    overlapped.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
    return overlapped;
}

}  // namespace

RandomAccessFile::RandomAccessFile(const std::filesystem::path& file, Mode mode)
    : handle(CreateFileW(file.c_str(), mode == Mode::read ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE,
                         mode == Mode::read ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr)) {
    if (handle == INVALID_HANDLE_VALUE) failed();
}

RandomAccessFile::~RandomAccessFile() {
    if (isOpen()) CloseHandle(handle);
}

bool RandomAccessFile::isOpen() const { return handle != INVALID_HANDLE_VALUE; }

void RandomAccessFile::failed() { lastError = systemMessage(GetLastError()); }

int64_t RandomAccessFile::size() {
    LARGE_INTEGER length{};
    if (!GetFileSizeEx(handle, &length)) {
        failed();
        return -1;
    }
    return length.QuadPart;
}

int64_t RandomAccessFile::readAt(void* data, size_t count, int64_t offset) {
    auto* bytes = static_cast<uint8_t*>(data);
    int64_t done = 0;
    while (count > 0) {
        OVERLAPPED overlapped = at(offset + done);
        DWORD read = 0;
        const DWORD asked = count > (1u << 30) ? (1u << 30) : static_cast<DWORD>(count);
        if (!ReadFile(handle, bytes + done, asked, &read, &overlapped)) {
            if (GetLastError() == ERROR_HANDLE_EOF) break;
            failed();
            return -1;
        }
        if (read == 0) break;
        done += read;
        count -= read;
    }
    return done;
}

bool RandomAccessFile::writeAt(const void* data, size_t count, int64_t offset) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (count > 0) {
        OVERLAPPED overlapped = at(offset);
        DWORD written = 0;
        const DWORD asked = count > (1u << 30) ? (1u << 30) : static_cast<DWORD>(count);
        if (!WriteFile(handle, bytes, asked, &written, &overlapped) || written == 0) {
            failed();
            return false;
        }
        bytes += written;
        count -= written;
        offset += written;
    }
    return true;
}

bool RandomAccessFile::resize(int64_t length) {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = length;
    if (!SetFileInformationByHandle(handle, FileEndOfFileInfo, &end, sizeof end)) {
        failed();
        return false;
    }
    return true;
}

#else

RandomAccessFile::RandomAccessFile(const std::filesystem::path& file, Mode mode)
    : fd(::open(file.c_str(), (mode == Mode::read ? O_RDONLY : O_RDWR) | O_CLOEXEC)) {
    if (fd < 0) failed();
}

RandomAccessFile::~RandomAccessFile() {
    if (fd >= 0) ::close(fd);
}

bool RandomAccessFile::isOpen() const { return fd >= 0; }

void RandomAccessFile::failed() { lastError = std::strerror(errno); }

int64_t RandomAccessFile::size() {
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        failed();
        return -1;
    }
    return status.st_size;
}

int64_t RandomAccessFile::readAt(void* data, size_t count, int64_t offset) {
    auto* bytes = static_cast<uint8_t*>(data);
    int64_t done = 0;
    while (count > 0) {
        const ssize_t read = ::pread(fd, bytes + done, count, static_cast<off_t>(offset + done));
        if (read < 0) {
            if (errno == EINTR) continue;
            failed();
            return -1;
        }
        if (read == 0) break;
        done += read;
        count -= static_cast<size_t>(read);
    }
    return done;
}

bool RandomAccessFile::writeAt(const void* data, size_t count, int64_t offset) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (count > 0) {
        const ssize_t written = ::pwrite(fd, bytes, count, static_cast<off_t>(offset));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            if (written == 0) errno = ENOSPC;
            failed();
            return false;
        }
        bytes += written;
        count -= static_cast<size_t>(written);
        offset += written;
    }
    return true;
}

bool RandomAccessFile::resize(int64_t length) {
    if (::ftruncate(fd, static_cast<off_t>(length)) != 0) {
        failed();
        return false;
    }
    return true;
}

#endif
