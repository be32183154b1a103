#pragma once

#include <windows.h>
#include <objbase.h>

// COM on the calling thread for the lifetime of the scope; the taskbar button needs it on the
// window's thread. Without it the taskbar calls simply do nothing.
class ComApartment {
  public:
    ComApartment() : initialized_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComApartment() {
        if (initialized_) {
            CoUninitialize();
        }
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

  private:
    bool initialized_;
};
