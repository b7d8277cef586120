// Global operator new for every executable that links the framework: it
// throws CMemoryException instead of returning null. The nothrow forms keep
// their contract (they return null).
#include "CMemoryException.h"

#include <cstdlib>

void AfxThrowMemoryException() {
    throw CMemoryException();
}

namespace {
void* AllocateOrThrow(std::size_t size) {
    if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
    AfxThrowMemoryException();
}
}  // namespace

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
