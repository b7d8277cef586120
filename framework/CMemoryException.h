// Allocation never returns null in the launcher: exhaustion raises
// CMemoryException. It is a std::bad_alloc too, so standard containers and
// code that catches bad_alloc see the usual type.
#pragma once

#include "framework/Layer.h"

#include <new>

class CMemoryException : public std::bad_alloc {
  public:
    const char* what() const noexcept override { return "CMemoryException: out of memory"; }
};

[[noreturn]] void AfxThrowMemoryException();

// Exhaustion on demand, for tests of the paths that run out of memory: while
// an object of this type lives on a thread, every throwing allocation on that
// thread raises CMemoryException. The nothrow forms keep working.
class ScopedAllocationFailure {
  public:
    ScopedAllocationFailure();
    ~ScopedAllocationFailure();
    ScopedAllocationFailure(const ScopedAllocationFailure&) = delete;
    ScopedAllocationFailure& operator=(const ScopedAllocationFailure&) = delete;
};
