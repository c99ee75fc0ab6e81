// The memory floor for the portable instruction set.
#include "engine/tables.h"

namespace {
typedef float Float4 __attribute__((vector_size(16)));
#include "floor_body.h"
}  // namespace

void floorPass_portable(const float* const* in, float* const* out, int frames) { floorPass<Float4, 4>(in, out, frames); }
