// A progress line on stderr for long jobs, only when asked (a terminal).
#pragma once

#include "tools/pack/Layer.h"

#include <cstdint>
#include <cstdio>

namespace tirn::pack {

class Progress {
  public:
    Progress(bool enabled, const char* what, uint64_t total)
        : m_enabled(enabled && total >= (64u << 20)), m_what(what), m_total(total) {}
    void Update(uint64_t done) {
        if (!m_enabled) return;
        int percent = static_cast<int>(done * 100 / m_total);
        if (percent != m_last) std::fprintf(stderr, "\r%s: %3d%%", m_what, m_last = percent);
    }
    ~Progress() {
        if (m_enabled) std::fprintf(stderr, "\n");
    }

  private:
    bool m_enabled;
    const char* m_what;
    uint64_t m_total;
    int m_last = -1;
};

}  // namespace tirn::pack
