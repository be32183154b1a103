#pragma once

#include <windows.h>

#include <utility>

// Owns one platform handle and releases it when the owner goes out of scope, so an early
// return can never leak it. `Traits` names the empty value and the release call.
template <typename Traits>
class UniqueResource {
  public:
    using Value = typename Traits::Value;

    UniqueResource() = default;
    explicit UniqueResource(Value value) : value_(value) {}
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(other.Release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    ~UniqueResource() { Reset(); }

    Value Get() const { return value_; }
    explicit operator bool() const { return value_ != Traits::Empty(); }

    // For out-parameters of platform calls: releases the current value first.
    Value* Receive() {
        Reset();
        return &value_;
    }
    Value Release() { return std::exchange(value_, Traits::Empty()); }
    void Reset(Value value = Traits::Empty()) {
        if (value_ != Traits::Empty()) {
            Traits::Close(value_);
        }
        value_ = value;
    }

  private:
    Value value_ = Traits::Empty();
};

struct KernelHandleTraits {
    using Value = HANDLE;
    static Value Empty() { return nullptr; }
    static void Close(Value handle) { CloseHandle(handle); }
};

// FindFirstFileW reports failure as INVALID_HANDLE_VALUE, not null.
struct FindHandleTraits {
    using Value = HANDLE;
    static Value Empty() { return INVALID_HANDLE_VALUE; }
    static void Close(Value handle) { FindClose(handle); }
};

// CreateFileW also reports failure as INVALID_HANDLE_VALUE.
struct FileHandleTraits {
    using Value = HANDLE;
    static Value Empty() { return INVALID_HANDLE_VALUE; }
    static void Close(Value handle) { CloseHandle(handle); }
};

using UniqueHandle = UniqueResource<KernelHandleTraits>;
using UniqueFindHandle = UniqueResource<FindHandleTraits>;
using UniqueFileHandle = UniqueResource<FileHandleTraits>;
