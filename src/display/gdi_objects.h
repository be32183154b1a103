#pragma once

#include <windows.h>

#include "tools/unique_handle.h"

// Owners for the drawing objects of one paint. Declared in the order they are made, they are
// released in reverse: selections are undone before the objects they selected are deleted.

template <typename Handle>
struct GdiObjectTraits {
    using Value = Handle;
    static Value Empty() { return nullptr; }
    static void Close(Value object) { DeleteObject(object); }
};

struct MemoryDcTraits {
    using Value = HDC;
    static Value Empty() { return nullptr; }
    static void Close(Value dc) { DeleteDC(dc); }
};

using UniqueBrush = UniqueResource<GdiObjectTraits<HBRUSH>>;
using UniqueFont = UniqueResource<GdiObjectTraits<HFONT>>;
using UniqueBitmap = UniqueResource<GdiObjectTraits<HBITMAP>>;
using UniqueMemoryDc = UniqueResource<MemoryDcTraits>;

// Selects an object into a context and selects the previous one back at scope end, so the
// object can be deleted right after. A null object selects nothing.
class ScopedSelection {
  public:
    ScopedSelection(HDC dc, HGDIOBJ object)
        : dc_(dc), previous_(object != nullptr ? SelectObject(dc, object) : nullptr) {}
    ~ScopedSelection() {
        if (previous_ != nullptr) {
            SelectObject(dc_, previous_);
        }
    }
    ScopedSelection(const ScopedSelection&) = delete;
    ScopedSelection& operator=(const ScopedSelection&) = delete;

  private:
    HDC dc_;
    HGDIOBJ previous_;
};

// BeginPaint and its EndPaint.
class ScopedPaint {
  public:
    explicit ScopedPaint(HWND window) : window_(window) { dc_ = BeginPaint(window, &paint_); }
    ~ScopedPaint() { EndPaint(window_, &paint_); }
    ScopedPaint(const ScopedPaint&) = delete;
    ScopedPaint& operator=(const ScopedPaint&) = delete;

    HDC Dc() const { return dc_; }

  private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_ = nullptr;
};
