// UTF-16 string with a shared, reference-counted buffer. Copies share the
// buffer until one of them changes (copy on write); the count is changed
// with interlocked operations because threads take and drop copies of the
// same string.
#pragma once

#include "framework/Layer.h"

#include "framework/WindowsApi.h"

class CString {
  public:
    CString() noexcept = default;
    CString(const wchar_t* text);  // NOLINT: implicit, as string literals are passed around
    CString(const wchar_t* text, int length);
    CString(const CString& other) noexcept;
    CString(CString&& other) noexcept;
    ~CString();

    CString& operator=(const CString& other) noexcept;
    CString& operator=(CString&& other) noexcept;
    CString& operator=(const wchar_t* text);

    CString& operator+=(const CString& text);
    CString& operator+=(const wchar_t* text);
    CString& operator+=(wchar_t unit);

    int GetLength() const noexcept;
    bool IsEmpty() const noexcept { return GetLength() == 0; }
    void Empty() noexcept;
    const wchar_t* GetString() const noexcept;
    operator const wchar_t*() const noexcept { return GetString(); }  // NOLINT

    // Lexical comparison unit by unit (case-sensitive): <0, 0, >0.
    int Compare(const wchar_t* text) const noexcept;

    // Loads a string-table entry of the executable. A missing entry leaves the
    // string as it was and returns FALSE.
    BOOL LoadString(UINT id);

    // How many strings share this buffer (1 for a sole owner, 0 when empty).
    long SharedCount() const noexcept;

  private:
    struct Buffer;

    void Append(const wchar_t* text, int length);
    static Buffer* Allocate(int capacity);
    static void Release(Buffer* buffer) noexcept;

    Buffer* m_buffer = nullptr;  // null means the empty string
};

bool operator==(const CString& a, const wchar_t* b) noexcept;
bool operator==(const CString& a, const CString& b) noexcept;
