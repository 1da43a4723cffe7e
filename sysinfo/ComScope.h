#pragma once

#include <cstdint>

#include "os/System.h"

// One COM initialisation on this thread for the life of the object. Only a
// successful one (S_OK, or S_FALSE where the thread already had COM) is
// balanced by CoUninitialize: a failed one, such as RPC_E_CHANGED_MODE on a
// thread already in another kind of apartment, took no reference, and
// uninitialising anyway would take away one the thread's owner holds.
class ComScope {
public:
    // CoInitialize: a single-threaded apartment.
    explicit ComScope(os::System& sys) : sys_(sys), initialized_(sys.CoInitialize() >= 0) {}
    // CoInitializeEx with these flags.
    ComScope(os::System& sys, std::uint32_t flags)
        : sys_(sys), initialized_(sys.CoInitializeEx(flags) >= 0) {}
    ~ComScope() {
        if (initialized_) sys_.CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    os::System& sys_;
    const bool initialized_;
};

// Owns one interface pointer and releases it.
class ComRef {
public:
    explicit ComRef(os::System& sys) : sys_(sys) {}
    ~ComRef() { reset(); }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;

    os::ComObject* put() {
        reset();
        return &object_;
    }
    os::ComObject get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

    void reset() {
        if (object_ != nullptr) sys_.Release(object_);
        object_ = nullptr;
    }

private:
    os::System& sys_;
    os::ComObject object_ = nullptr;
};
