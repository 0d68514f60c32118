#pragma once

#include <cstdint>
#include <unordered_map>

// Standard cursor names by system cursor handle. The system may hand out one shared cursor for
// several identifiers; the name added first keeps that handle.
class StandardCursorTable {
public:
    void add(std::uintptr_t handle, const char* name) { names.emplace(handle, name); }

    // The name of a standard cursor's handle, or nullptr.
    const char* find(std::uintptr_t handle) const {
        const auto found = names.find(handle);
        return found == names.end() ? nullptr : found->second;
    }

    const std::unordered_map<std::uintptr_t, const char*>& entries() const { return names; }

private:
    std::unordered_map<std::uintptr_t, const char*> names;
};
