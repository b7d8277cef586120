// Owner of a kernel handle (file, event, process): closed exactly once.
// Invalid is null or INVALID_HANDLE_VALUE, whichever the API returned.
#pragma once

#include "framework/Layer.h"

#include "framework/WindowsApi.h"

class ScopedHandle {
  public:
    explicit ScopedHandle(HANDLE handle = nullptr) : m_handle(handle) {}
    ~ScopedHandle() { Close(); }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;

    bool IsValid() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return m_handle; }
    void Reset(HANDLE handle) {
        Close();
        m_handle = handle;
    }
    // Hands the handle over to a new owner.
    HANDLE Release() {
        HANDLE handle = m_handle;
        m_handle = nullptr;
        return handle;
    }
    void Close() {
        if (IsValid()) ::CloseHandle(m_handle);
        m_handle = nullptr;
    }

  private:
    HANDLE m_handle;
};
