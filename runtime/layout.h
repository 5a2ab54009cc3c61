// The layout constants of layout.def as C++ constants (kv::layout::KV_LIST_DATA, ...),
// and as a table of name, value and meaning for the writer of the runtime text.
#pragma once
#include <cstdint>
#include <string_view>

namespace kv::layout {

#define KV_LAYOUT(name, value, meaning) inline constexpr std::int64_t name = value;
#include "layout.def"
#undef KV_LAYOUT

struct Constant {
  std::string_view name;
  std::string_view text;  // the value as layout.def spells it, which the module carries
  std::int64_t value;
  std::string_view meaning;
};

inline constexpr Constant kConstants[] = {
#define KV_LAYOUT(name, value, meaning) {#name, #value, value, meaning},
#include "layout.def"
#undef KV_LAYOUT
};

// The runtime text addresses these fields as [reg].
static_assert(KV_LIST_COUNT == 0 && KV_MAP_COUNT == 0 && KV_CORO_RSP == 0 && KV_INDEX_MASK == 0);
// Lists and maps keep their count, capacity and first array at the same offsets.
static_assert(KV_MAP_CAPACITY == KV_LIST_CAPACITY && KV_MAP_KEYS == KV_LIST_DATA &&
              KV_MAP_HEADER == KV_MAP_VALUES + 8 && KV_LIST_HEADER == KV_LIST_FLOATS + 8);
static_assert(KV_KIND_INT == 0);  // fresh kind bytes read as zero: every slot starts as an integer
// The saved registers follow one another; the three handler arrays end the context.
static_assert(KV_CORO_R15 == KV_CORO_RBX + 7 * 8 && KV_CORO_FINISHED == KV_CORO_R15 + 8 &&
              KV_CORO_EXC_TOP == KV_CORO_FINISHED + 8 && KV_CORO_EXC_RBP == KV_CORO_EXC_TOP + 8);
static_assert(KV_CORO_EXC_RSP == KV_CORO_EXC_RBP + 8 * KV_HANDLER_LIMIT &&
              KV_CORO_EXC_TGT == KV_CORO_EXC_RSP + 8 * KV_HANDLER_LIMIT &&
              KV_CORO_CONTEXT == KV_CORO_EXC_TGT + 8 * KV_HANDLER_LIMIT);
// Two slots at the top of a new stack: the function's address and kv_coro_finish's.
static_assert(KV_CORO_STACK_TOP == KV_CORO_STACK - 16);
// Page records: the two bitmaps hold one bit per 16 bytes of a page.
static_assert(KV_PAGE == 1 << KV_PAGE_SHIFT && KV_PAGE_RECORD == 1 << KV_PAGE_RECORD_SHIFT);
static_assert(KV_PG_ALLOC + KV_PAGE / 16 / 8 == KV_PG_MARK && KV_PG_MARK + KV_PAGE / 16 / 8 == KV_PAGE_RECORD);
static_assert(KV_PG_SPAN == 0 && KV_PG_KIND + 8 == KV_PG_ALLOC);
// A block is found from an address as ((address - span) * magic) >> 32, exact while
// the offset and the block size stay below 2^16 and 2^13.
static_assert(KV_SPAN == KV_SPAN_PAGES * KV_PAGE && KV_SPAN <= 65536 && KV_SMALL_MAX <= 8192);
static_assert(KV_CLASSES == 8 + 4 * (13 - 7) && KV_SMALL_MAX == 1 << 13);
static_assert(KV_GC_CHUNK % 8 == 0 && KV_MARK_BYTES % 16 == 0 && KV_COMMIT_STEP % KV_SPAN == 0);
// The guard page, and the partial page the block may start with, leave most of the stack.
static_assert(KV_CORO_GUARD % KV_PAGE == 0 && KV_CORO_GUARD + 2 * KV_PAGE <= KV_CORO_STACK / 4);

}  // namespace kv::layout
