#include "framework/CString.h"

#include "framework/CMemoryException.h"
#include "framework/CWinApp.h"

#include <climits>
#include <cstring>
#include <cwchar>
#include <new>

struct CString::Buffer {
    volatile LONG references;
    int length;
    int capacity;  // units, terminator excluded
    wchar_t* Units() { return reinterpret_cast<wchar_t*>(this + 1); }
};

namespace {
int BoundedLength(const wchar_t* text) {
    if (text == nullptr) return 0;
    size_t n = std::wcslen(text);
    if (n > static_cast<size_t>(INT_MAX / 2)) AfxThrowMemoryException();
    return static_cast<int>(n);
}
}  // namespace

CString::Buffer* CString::Allocate(int capacity) {
    if (capacity < 0 || static_cast<size_t>(capacity) > (INT_MAX - sizeof(Buffer)) / 2 - 1) {
        AfxThrowMemoryException();
    }
    void* block = ::operator new(sizeof(Buffer) + (static_cast<size_t>(capacity) + 1) * 2);
    auto* buffer = static_cast<Buffer*>(block);
    buffer->references = 1;
    buffer->length = 0;
    buffer->capacity = capacity;
    buffer->Units()[0] = L'\0';
    return buffer;
}

void CString::Release(Buffer* buffer) noexcept {
    if (buffer != nullptr && InterlockedDecrement(&buffer->references) == 0) {
        ::operator delete(buffer);
    }
}

CString::CString(const wchar_t* text) : CString(text, BoundedLength(text)) {}

CString::CString(const wchar_t* text, int length) {
    if (text == nullptr || length <= 0) return;
    Append(text, length);
}

CString::CString(const CString& other) noexcept : m_buffer(other.m_buffer) {
    if (m_buffer != nullptr) InterlockedIncrement(&m_buffer->references);
}

CString::CString(CString&& other) noexcept : m_buffer(other.m_buffer) {
    other.m_buffer = nullptr;
}

CString::~CString() {
    Release(m_buffer);
}

CString& CString::operator=(const CString& other) noexcept {
    if (other.m_buffer != nullptr) InterlockedIncrement(&other.m_buffer->references);
    Release(m_buffer);
    m_buffer = other.m_buffer;
    return *this;
}

CString& CString::operator=(CString&& other) noexcept {
    if (this != &other) {
        Release(m_buffer);
        m_buffer = other.m_buffer;
        other.m_buffer = nullptr;
    }
    return *this;
}

CString& CString::operator=(const wchar_t* text) {
    CString copy(text);  // text may point into our own buffer
    return *this = static_cast<CString&&>(copy);
}

CString& CString::operator+=(const CString& text) {
    CString keep(text);  // appending a string to itself
    Append(keep.GetString(), keep.GetLength());
    return *this;
}

CString& CString::operator+=(const wchar_t* text) {
    CString keep(text);
    Append(keep.GetString(), keep.GetLength());
    return *this;
}

CString& CString::operator+=(wchar_t unit) {
    Append(&unit, 1);
    return *this;
}

void CString::Append(const wchar_t* text, int length) {
    if (length <= 0) return;
    int oldLength = GetLength();
    if (length > INT_MAX / 2 - oldLength) AfxThrowMemoryException();
    int newLength = oldLength + length;
    bool shared = m_buffer != nullptr && m_buffer->references > 1;
    if (m_buffer == nullptr || shared || m_buffer->capacity < newLength) {
        int capacity = newLength;
        if (m_buffer != nullptr && !shared)
            capacity = newLength + newLength / 2;  // growing in place
        Buffer* fresh = Allocate(capacity);
        if (oldLength > 0) std::memcpy(fresh->Units(), GetString(), oldLength * sizeof(wchar_t));
        fresh->length = oldLength;
        Release(m_buffer);
        m_buffer = fresh;
    }
    std::memcpy(m_buffer->Units() + oldLength, text, length * sizeof(wchar_t));
    m_buffer->length = newLength;
    m_buffer->Units()[newLength] = L'\0';
}

int CString::GetLength() const noexcept {
    return m_buffer ? m_buffer->length : 0;
}

void CString::Empty() noexcept {
    Release(m_buffer);
    m_buffer = nullptr;
}

const wchar_t* CString::GetString() const noexcept {
    return m_buffer ? m_buffer->Units() : L"";
}

int CString::Compare(const wchar_t* text) const noexcept {
    return std::wcscmp(GetString(), text ? text : L"");
}

long CString::SharedCount() const noexcept {
    return m_buffer ? m_buffer->references : 0;
}

BOOL CString::LoadString(UINT id) {
    const wchar_t* resource = nullptr;
    // With a zero buffer size the call hands back a pointer into the resource
    // itself: the text is not NUL-terminated there, only its length is exact.
    int length = ::LoadStringW(AfxGetResourceHandle(), id, reinterpret_cast<LPWSTR>(&resource), 0);
    if (length <= 0 || resource == nullptr) return FALSE;
    *this = CString(resource, length);
    return TRUE;
}

bool operator==(const CString& a, const wchar_t* b) noexcept {
    return a.Compare(b) == 0;
}
bool operator==(const CString& a, const CString& b) noexcept {
    return a.GetLength() == b.GetLength() && a.Compare(b.GetString()) == 0;
}
