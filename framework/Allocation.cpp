// Global operator new for every executable that links the framework: it
// throws CMemoryException instead of returning null. The nothrow forms keep
// their contract (they return null).
#include "framework/CMemoryException.h"

#include <cstdlib>

void AfxThrowMemoryException() {
    throw CMemoryException();
}

namespace {
thread_local int t_failingScopes = 0;

void* AllocateOrThrow(std::size_t size) {
    if (t_failingScopes == 0) {
        if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
    }
    AfxThrowMemoryException();
}
}  // namespace

ScopedAllocationFailure::ScopedAllocationFailure() {
    ++t_failingScopes;
}
ScopedAllocationFailure::~ScopedAllocationFailure() {
    --t_failingScopes;
}

void* operator new(std::size_t size) {
    return AllocateOrThrow(size);
}
void* operator new[](std::size_t size) {
    return AllocateOrThrow(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size == 0 ? 1 : size);
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete[](void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}
