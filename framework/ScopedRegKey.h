// Owner of an open registry key: closed exactly once, on every path.
#pragma once

#include "framework/Layer.h"

#include "framework/WindowsApi.h"

class ScopedRegKey {
  public:
    ScopedRegKey() = default;
    ~ScopedRegKey() { Close(); }
    ScopedRegKey(const ScopedRegKey&) = delete;
    ScopedRegKey& operator=(const ScopedRegKey&) = delete;

    HKEY Get() const { return m_key; }
    HKEY* Receive() {
        Close();
        return &m_key;
    }
    void Close() {
        if (m_key != nullptr) ::RegCloseKey(m_key);
        m_key = nullptr;
    }

  private:
    HKEY m_key = nullptr;
};
