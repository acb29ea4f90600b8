// The global allocation functions of the safety test binary: every C++
// allocation of the process, log4cpp's and the module's included, passes
// through `Injector::cxx()`.
#include "fault_injection.h"

#include <cstdlib>
#include <new>

namespace quelto::safety {

Injector& Injector::cxx() {
  static Injector injector;  // trivially destructible: usable until exit
  return injector;
}

Injector& Injector::lua() {
  static Injector injector;
  return injector;
}

void* lua_alloc(void*, void* ptr, std::size_t osize, std::size_t nsize) {
  if (nsize == 0) {
    std::free(ptr);
    return nullptr;
  }
  // For a new block `osize` is a type code, not a size: only growth can fail.
  const bool grows = ptr == nullptr || nsize > osize;
  if (grows && Injector::lua().should_fail()) return nullptr;
  return std::realloc(ptr, nsize);
}

}  // namespace quelto::safety

namespace {

using quelto::safety::Injector;

void* allocate(std::size_t size, std::size_t alignment) noexcept {
  if (Injector::cxx().should_fail()) return nullptr;
  if (size == 0) size = 1;
  void* block = nullptr;
  if (alignment <= alignof(std::max_align_t)) {
    block = std::malloc(size);
  } else {
    block = std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
  }
  if (block != nullptr) Injector::cxx().count_new();
  return block;
}

void* allocate_or_throw(std::size_t size, std::size_t alignment) {
  void* block = allocate(size, alignment);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void release(void* block) noexcept {
  if (block == nullptr) return;
  Injector::cxx().count_delete();
  std::free(block);
}

constexpr std::size_t kPlain = alignof(std::max_align_t);

}  // namespace

void* operator new(std::size_t size) {
  return allocate_or_throw(size, kPlain);
}
void* operator new[](std::size_t size) {
  return allocate_or_throw(size, kPlain);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return allocate(size, kPlain);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return allocate(size, kPlain);
}
void* operator new(std::size_t size, std::align_val_t al) {
  return allocate_or_throw(size, static_cast<std::size_t>(al));
}
void* operator new[](std::size_t size, std::align_val_t al) {
  return allocate_or_throw(size, static_cast<std::size_t>(al));
}
void* operator new(std::size_t size, std::align_val_t al, const std::nothrow_t&) noexcept {
  return allocate(size, static_cast<std::size_t>(al));
}
void* operator new[](std::size_t size, std::align_val_t al, const std::nothrow_t&) noexcept {
  return allocate(size, static_cast<std::size_t>(al));
}

void operator delete(void* block) noexcept {
  release(block);
}
void operator delete[](void* block) noexcept {
  release(block);
}
void operator delete(void* block, std::size_t) noexcept {
  release(block);
}
void operator delete[](void* block, std::size_t) noexcept {
  release(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
  release(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
  release(block);
}
void operator delete(void* block, std::align_val_t) noexcept {
  release(block);
}
void operator delete[](void* block, std::align_val_t) noexcept {
  release(block);
}
void operator delete(void* block, std::size_t, std::align_val_t) noexcept {
  release(block);
}
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept {
  release(block);
}
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  release(block);
}
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  release(block);
}
