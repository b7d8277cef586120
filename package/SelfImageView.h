// The running executable's own file, opened for reading and mapped read-only
// as one view. Released view first, then mapping, then file; releasing twice
// does nothing.
//
// The view is the whole file, or, for a read of a few bytes of what may be a
// very large file, a window of it: mapping gigabytes costs address-space
// bookkeeping even when no page is touched.
#pragma once

#include "package/Layer.h"

#include "framework/WindowsApi.h"
#include "format/ByteReader.h"

#include <cstdint>

class SelfImageView {
  public:
    SelfImageView() = default;
    ~SelfImageView() { Release(); }
    SelfImageView(const SelfImageView&) = delete;
    SelfImageView& operator=(const SelfImageView&) = delete;

    enum class Extent { WholeFile, OnDemand };

    // Maps the running executable. On failure LastError() is the platform's
    // error code, or 0 for a file of 4 GiB or more. With OnDemand nothing
    // is mapped until MapWindow.
    bool Open(Extent extent = Extent::WholeFile);
    // Maps any file the same way.
    bool OpenFile(const wchar_t* path, Extent extent = Extent::WholeFile);
    // Replaces the view by the bytes [offset, offset + length) of the file,
    // cut at its end (empty past it). False when the view cannot be mapped.
    bool MapWindow(uint64_t offset, uint32_t length);
    void Release();

    DWORD LastError() const { return m_lastError; }
    // The whole file's size, whatever the view.
    uint32_t Size() const { return m_size; }
    // The mapped bytes: the whole file, or the window that starts at
    // WindowOffset() in the file.
    const uint8_t* Data() const { return m_data; }
    tirn::format::Bytes Bytes() const { return {m_data, m_data ? m_length : 0}; }
    uint64_t WindowOffset() const { return m_offset; }

  private:
    bool Fail(DWORD error);
    void Unmap();

    HANDLE m_file = INVALID_HANDLE_VALUE;
    HANDLE m_mapping = nullptr;
    const void* m_view = nullptr;  // as mapped, at an allocation-granularity offset
    const uint8_t* m_data = nullptr;
    uint64_t m_offset = 0;
    uint32_t m_length = 0;
    uint32_t m_size = 0;
    DWORD m_lastError = 0;
};
