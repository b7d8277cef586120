#include "package/SelfImageView.h"

#include <algorithm>

bool SelfImageView::Fail(DWORD error) {
    Release();
    m_lastError = error;
    return false;
}

bool SelfImageView::Open(Extent extent) {
    wchar_t path[MAX_PATH];
    DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0) return Fail(::GetLastError());
    // A cut path would name another file.
    if (length >= MAX_PATH) return Fail(ERROR_INSUFFICIENT_BUFFER);
    return OpenFile(path, extent);
}

bool SelfImageView::OpenFile(const wchar_t* path, Extent extent) {
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
    m_lastError = 0;
    return extent == Extent::OnDemand || MapWindow(0, m_size);
}

bool SelfImageView::MapWindow(uint64_t offset, uint32_t length) {
    Unmap();
    if (m_mapping == nullptr) return false;
    if (offset >= m_size || length == 0) {
        m_offset = offset;
        return true;  // nothing of the file lies there: an empty view
    }
    const uint64_t end = std::min<uint64_t>(m_size, offset + length);
    SYSTEM_INFO system;
    ::GetSystemInfo(&system);
    const uint64_t base = offset - offset % system.dwAllocationGranularity;
    m_view = ::MapViewOfFile(m_mapping, FILE_MAP_READ, static_cast<DWORD>(base >> 32),
                             static_cast<DWORD>(base), static_cast<SIZE_T>(end - base));
    if (m_view == nullptr) return Fail(::GetLastError());
    m_data = static_cast<const uint8_t*>(m_view) + (offset - base);
    m_offset = offset;
    m_length = static_cast<uint32_t>(end - offset);
    return true;
}

void SelfImageView::Unmap() {
    if (m_view != nullptr) ::UnmapViewOfFile(m_view);
    m_view = nullptr;
    m_data = nullptr;
    m_offset = 0;
    m_length = 0;
}

void SelfImageView::Release() {
    Unmap();
    if (m_mapping != nullptr) ::CloseHandle(m_mapping);
    m_mapping = nullptr;
    if (m_file != INVALID_HANDLE_VALUE) ::CloseHandle(m_file);
    m_file = INVALID_HANDLE_VALUE;
    m_size = 0;
}
