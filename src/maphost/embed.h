// Files embedded in the program at build time: each between a start and
// an end symbol, read by the assembler, a zero byte after it.
#pragma once

#include <string_view>

#define EMBED(symbol, path)                                                  \
  extern "C" const char symbol##_start[], symbol##_end[];                   \
  asm(".section .rodata\n.balign 16\n.global " #symbol "_start\n" #symbol     \
      "_start:\n.incbin \"" path "\"\n.global " #symbol "_end\n" #symbol      \
      "_end:\n.byte 0\n.previous\n")
#define EMBEDDED(symbol) std::string_view(symbol##_start, static_cast<size_t>(symbol##_end - symbol##_start))
