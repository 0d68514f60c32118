#pragma once

#include <deque>

namespace test_support {

// The script's next entry, or `otherwise` once it has run out: how the fake platform layers play
// the results a test gives them.
template <class T>
T next(std::deque<T>& script, T otherwise) {
    if (script.empty()) return otherwise;
    T value = script.front();
    script.pop_front();
    return value;
}

}  // namespace test_support
