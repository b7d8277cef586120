#include "SelfImageView.h"

bool SelfImageView::Fail(DWORD error) {
    Release();
    m_lastError = error;
    return false;
}

bool SelfImageView::Open() {
    wchar_t path[MAX_PATH];
    DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0) return Fail(::GetLastError());
    // A cut path would name another file.
    if (length >= MAX_PATH) return Fail(ERROR_INSUFFICIENT_BUFFER);
    return OpenFile(path);
}

bool SelfImageView::OpenFile(const wchar_t* path) {
    Release();
    m_file = ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_file == INVALID_HANDLE_VALUE) return Fail(::GetLastError());

    DWORD high = 0;
    DWORD low = ::GetFileSize(m_file, &high);
    if (low == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR) return Fail(::GetLastError());
    if (high != 0) return Fail(0);
    m_size = low;

    m_mapping = ::CreateFileMappingW(m_file, nullptr, PAGE_READONLY, 0, m_size, nullptr);
    if (m_mapping == nullptr) return Fail(::GetLastError());
    m_view = ::MapViewOfFile(m_mapping, FILE_MAP_READ, 0, 0, 0);
    if (m_view == nullptr) return Fail(::GetLastError());
    m_lastError = 0;
    return true;
}

void SelfImageView::Release() {
    if (m_view != nullptr) ::UnmapViewOfFile(m_view);
    m_view = nullptr;
    if (m_mapping != nullptr) ::CloseHandle(m_mapping);
    m_mapping = nullptr;
    if (m_file != INVALID_HANDLE_VALUE) ::CloseHandle(m_file);
    m_file = INVALID_HANDLE_VALUE;
    m_size = 0;
}
