// Allocation never returns null in the launcher: exhaustion raises
// CMemoryException. It is a std::bad_alloc too, so standard containers and
// code that catches bad_alloc see the usual type.
#pragma once

#include <new>

class CMemoryException : public std::bad_alloc {
  public:
    const char* what() const noexcept override { return "CMemoryException: out of memory"; }
};

[[noreturn]] void AfxThrowMemoryException();
