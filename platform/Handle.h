#pragma once
// One owner per handle: a move-only wrapper that closes what it holds.

#include <windows.h>

#include <utility>

template <typename T, auto Close>
class unique_any {
public:
    unique_any() noexcept = default;
    explicit unique_any(T value) noexcept : value_(value) {}
    unique_any(unique_any&& other) noexcept : value_(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept
    {
        reset(other.release());
        return *this;
    }
    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;
    ~unique_any() { reset(); }

    T get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != T{}; }
    // For functions that hand out a new handle through a pointer.
    T* put() noexcept
    {
        reset();
        return &value_;
    }
    T release() noexcept { return std::exchange(value_, T{}); }
    void reset(T value = T{}) noexcept
    {
        if (value_ != T{})
            Close(value_);
        value_ = value;
    }

private:
    T value_{};
};

namespace handle_detail {
inline void DeleteBitmap(HBITMAP bitmap) noexcept { DeleteObject(bitmap); }
inline void DeleteFontHandle(HFONT font) noexcept { DeleteObject(font); }
inline void DestroyIconHandle(HICON icon) noexcept { DestroyIcon(icon); }
inline void CloseKernelHandle(HANDLE handle) noexcept { CloseHandle(handle); }
} // namespace handle_detail

using unique_hbitmap = unique_any<HBITMAP, handle_detail::DeleteBitmap>;
using unique_hfont = unique_any<HFONT, handle_detail::DeleteFontHandle>;
using unique_hicon = unique_any<HICON, handle_detail::DestroyIconHandle>;
using unique_handle = unique_any<HANDLE, handle_detail::CloseKernelHandle>;
