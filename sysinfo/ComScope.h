#pragma once

#include "os/System.h"

// One COM initialisation on this thread for the life of the object.
class ComScope {
public:
    explicit ComScope(os::System& sys) : sys_(sys) { sys_.CoInitialize(); }
    ~ComScope() { sys_.CoUninitialize(); }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    os::System& sys_;
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
