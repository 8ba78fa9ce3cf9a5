#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace pdftopjl {

// A fixed-width, always zero-terminated text field.  The width counts the
// terminating zero, so a FixedText<64> holds at most 63 bytes; longer text is
// cut on a byte boundary (possibly inside a multi-byte character).  The type is
// trivially copyable, so a record built from these fields can be cleared with
// memset as a whole.
template <std::size_t Width>
struct FixedText {
    static_assert(Width >= 1, "a text field needs room for its terminating zero");
    static constexpr std::size_t width = Width;

    char data[Width];

    void clear() { std::memset(data, 0, Width); }

    // Replaces the content; returns the number of bytes kept.
    std::size_t set(std::string_view text)
    {
        std::size_t n = text.size() < Width - 1 ? text.size() : Width - 1;
        std::memset(data, 0, Width);
        if (n != 0) std::memcpy(data, text.data(), n);
        return n;
    }

    // Copies another field, bounded by this field's width.
    template <std::size_t Other>
    std::size_t set(const FixedText<Other>& other) { return set(other.view()); }

    const char* c_str() const { return data; }
    char* buffer() { return data; }
    std::size_t length() const { return strnlen(data, Width); }
    std::string_view view() const { return std::string_view(data, length()); }
    bool empty() const { return data[0] == '\0'; }
    bool operator==(std::string_view text) const { return view() == text; }
};

}  // namespace pdftopjl
