#include "picture/exif_arena.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PINTRAIL_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define PINTRAIL_ASAN 1
#endif
#ifdef PINTRAIL_ASAN
#include <sanitizer/asan_interface.h>
// Under AddressSanitizer every allocation is fenced by poisoned bytes, so a
// read or write past one is caught as it would be with malloc.
constexpr size_t kRedZone = 32;
#define POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
constexpr size_t kRedZone = 0;
#define POISON(p, n) ((void)(p), (void)(n))
#define UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace {

constexpr size_t kAlign = 16;
constexpr size_t kFirstBlock = 256 * 1024;

// Each allocation is preceded by its size, so that realloc can copy.
struct Header {
  size_t size;
  size_t pad;
};
static_assert(sizeof(Header) == kAlign);

struct Arena {
  ~Arena() {
    for (char *old : overflow)
      free(old);
    free(block);
  }
  char *block = nullptr;        // the current block
  size_t capacity = 0;
  size_t used = 0;
  std::vector<char *> overflow; // blocks outgrown since the last reset
  size_t overflow_bytes = 0;
};

// One arena per thread: pictures are parsed on several at once.
thread_local Arena arena;
// The ExifMem itself lives outside the blocks, which come and go.
alignas(kAlign) thread_local char mem_storage[256];
thread_local bool making_mem = false;

size_t round_up(size_t n) { return (n + kAlign - 1) & ~(kAlign - 1); }

// A fresh block when the current one is full; it replaces the current block
// at the next reset, sized for the largest picture seen.
bool grow(size_t need) {
  size_t capacity = arena.capacity ? arena.capacity : kFirstBlock;
  while (capacity < need + kAlign)
    capacity *= 2;
  char *block = static_cast<char *>(malloc(capacity));
  if (!block)
    return false;
  POISON(block, capacity);
  if (arena.block) {
    arena.overflow.push_back(arena.block);
    arena.overflow_bytes += arena.used;
  }
  arena.block = block;
  arena.capacity = capacity;
  arena.used = 0;
  return true;
}

void *arena_alloc(ExifLong size) {
  if (making_mem && size <= sizeof mem_storage)
    return mem_storage;
  size_t need = sizeof(Header) + round_up(size ? size : 1) + kRedZone;
  if (arena.used + need > arena.capacity && !grow(need))
    return nullptr;
  auto *header = reinterpret_cast<Header *>(arena.block + arena.used);
  UNPOISON(header, sizeof(Header) + size);
  arena.used += need;
  header->size = size;
  void *memory = header + 1;
  memset(memory, 0, size); // libexif expects calloc's zeroed memory
  return memory;
}

void *arena_realloc(void *old, ExifLong size) {
  if (!old)
    return arena_alloc(size);
  size_t old_size = (static_cast<Header *>(old) - 1)->size;
  void *memory = arena_alloc(size);
  if (memory)
    memcpy(memory, old, old_size < size ? old_size : size);
  return memory;
}

void arena_free(void *) {}

} // namespace

ExifMem *ExifArenaMem() {
  static thread_local ExifMem *mem = [] {
    making_mem = true;
    ExifMem *made = exif_mem_new(arena_alloc, arena_realloc, arena_free);
    making_mem = false;
    return made;
  }();
  return mem;
}

void ResetExifArena() {
  // Keep only the newest block, the largest: one picture's need.
  for (char *block : arena.overflow)
    free(block);
  arena.overflow.clear();
  arena.overflow_bytes = 0;
  POISON(arena.block, arena.capacity);
  arena.used = 0;
}

size_t ExifArenaUsed() { return arena.overflow_bytes + arena.used; }
size_t ExifArenaCapacity() { return arena.capacity; }
