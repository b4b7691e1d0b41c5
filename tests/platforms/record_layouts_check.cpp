// Compiled with clang for targets that cannot be built or run here (macOS on
// x86_64 and arm64, Windows with the GNU and the Microsoft ABI), with
// -fsyntax-only and no SDK: every record header checks its offsets and size
// against the layout column of the target, so compiling is the test.
// VESTREL_EXPECTED_COLUMN names the column the target must pick, so that a
// target that silently falls into the wrong column fails as well.
#include "controldata/alloc_record.h"
#include "controldata/control_data.h"
#include "generate/generate_records.h"
#include "geometry/capture_records.h"
#include "host/creator_record.h"
#include "host/info_record.h"
#include "host/reset_record.h"

static_assert(kLayoutColumn == VESTREL_EXPECTED_COLUMN, "the target picks the wrong layout column");
