// The running executable's own file, opened for reading and mapped read-only
// as one view. Released view first, then mapping, then file; releasing twice
// does nothing.
#pragma once

#include "../app/framework/WindowsApi.h"
#include "format/ByteReader.h"

#include <cstdint>

class SelfImageView {
  public:
    SelfImageView() = default;
    ~SelfImageView() { Release(); }
    SelfImageView(const SelfImageView&) = delete;
    SelfImageView& operator=(const SelfImageView&) = delete;

    // Maps the running executable. On failure LastError() is the platform's
    // error code, or 0 for a file of 4 GiB or more.
    bool Open();
    // Maps any file the same way.
    bool OpenFile(const wchar_t* path);
    void Release();

    DWORD LastError() const { return m_lastError; }
    const uint8_t* Data() const { return static_cast<const uint8_t*>(m_view); }
    uint32_t Size() const { return m_size; }
    tirn::format::Bytes Bytes() const { return {Data(), m_view ? m_size : 0}; }

  private:
    bool Fail(DWORD error);

    HANDLE m_file = INVALID_HANDLE_VALUE;
    HANDLE m_mapping = nullptr;
    const void* m_view = nullptr;
    uint32_t m_size = 0;
    DWORD m_lastError = 0;
};
