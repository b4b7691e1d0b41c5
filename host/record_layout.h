// Layout of the host's records for the build at hand.
//
// The host's records differ between the three shipping builds only in pointer
// width and alignment:
//   - 32-bit Windows: 4-byte pointers, every field aligned to its own size
//     (doubles on 8 bytes);
//   - 64-bit Windows: 8-byte pointers, every field aligned to its own size;
//   - macOS: 8-byte pointers, no field aligned to more than 4 bytes.
// The records are declared once, as plain structures; this header picks the
// layout column that the build must match, and each record header checks its
// offsets and size against the three columns with VESTREL_CHECK_OFFSET and
// VESTREL_CHECK_SIZE right below the structure. A build whose compiler lays a
// record out differently from the host fails to compile.
//
// Linux builds follow the 64-bit Windows column (natural alignment); the CMake
// option VESTREL_MAC_RECORD_PACKING builds them with the macOS packing, and an
// i686 build with -malign-double matches the 32-bit Windows column.
#ifndef VESTREL_HOST_RECORD_LAYOUT_H
#define VESTREL_HOST_RECORD_LAYOUT_H

#include <stddef.h>
#include <stdint.h>

#if defined(__APPLE__) && !defined(VESTREL_RECORD_PACK4)
#define VESTREL_RECORD_PACK4 1
#endif

enum VestrelLayoutColumn { kLayoutWin32, kLayoutWin64, kLayoutMac };

#if defined(VESTREL_RECORD_PACK4) && VESTREL_RECORD_PACK4
static_assert(sizeof(void*) == 8, "the macOS record packing needs 8-byte pointers");
constexpr VestrelLayoutColumn kLayoutColumn = kLayoutMac;
// Records are packed so that no field is aligned to more than 4 bytes.
#define VESTREL_BEGIN_RECORDS _Pragma("pack(push, 4)")
#define VESTREL_END_RECORDS _Pragma("pack(pop)")
#else
constexpr VestrelLayoutColumn kLayoutColumn = sizeof(void*) == 4 ? kLayoutWin32 : kLayoutWin64;
#define VESTREL_BEGIN_RECORDS
#define VESTREL_END_RECORDS
#endif

// The value of the column of this build, from a table row "32-bit Windows /
// 64-bit Windows / macOS".
constexpr size_t LayoutValue(size_t win32, size_t win64, size_t mac) {
  return kLayoutColumn == kLayoutWin32 ? win32 : kLayoutColumn == kLayoutWin64 ? win64 : mac;
}

#define VESTREL_CHECK_OFFSET(Record, field, win32, win64, mac)             \
  static_assert(offsetof(Record, field) == LayoutValue(win32, win64, mac), \
                #Record "::" #field " is not at the host's offset")

#define VESTREL_CHECK_SIZE(Record, win32, win64, mac)             \
  static_assert(sizeof(Record) == LayoutValue(win32, win64, mac), \
                "sizeof(" #Record ") is not the host's record size")

#endif
