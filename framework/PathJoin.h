// Joining a directory and a name into a bounded buffer: one backslash
// between them, none added when the directory already ends with one.
//
// A join that would not fit fails and leaves the output untouched; it never
// cuts. A cut path names another file, and on the unpacking road another file
// can be a program that gets started elevated.
#pragma once

#include "framework/Layer.h"

#include <cstddef>
#include <string_view>

template <typename Char>
bool JoinPath(std::basic_string_view<Char> directory, std::basic_string_view<Char> name, Char* out,
              size_t capacity) {
    if (directory.empty() || out == nullptr) return false;
    const bool separator = directory.back() != Char('\\');
    // Sizes are what the caller's buffers hold, far from size_t's range: the
    // sum cannot wrap.
    const size_t length = directory.size() + (separator ? 1 : 0) + name.size();
    if (length >= capacity) return false;
    Char* at = out;
    for (Char c : directory) *at++ = c;
    if (separator) *at++ = Char('\\');
    for (Char c : name) *at++ = c;
    *at = Char(0);
    return true;
}

inline bool JoinPath(const wchar_t* directory, const wchar_t* name, wchar_t* out, size_t capacity) {
    if (directory == nullptr || name == nullptr) return false;
    return JoinPath<wchar_t>(directory, name, out, capacity);
}

inline bool JoinPath(const char* directory, const char* name, char* out, size_t capacity) {
    if (directory == nullptr || name == nullptr) return false;
    return JoinPath<char>(directory, name, out, capacity);
}
