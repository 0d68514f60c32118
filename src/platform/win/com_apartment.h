#pragma once

#include <windows.h>

// The calling thread's membership of the multi-threaded COM apartment, for recorder threads that
// never pump window messages (a single-threaded apartment needs a message loop to take calls).
// join() and leave() are called in pairs on one thread; leave() balances only a join that
// initialised COM, and a thread that already sits in another apartment stays there.
class ComApartment {
public:
    ComApartment() = default;
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() { leave(); }

    HRESULT join();
    void leave();

private:
    bool joined = false;
};
