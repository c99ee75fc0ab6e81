// The memory floor for the avx2 instruction set.
#include "engine/tables.h"

namespace {
typedef float Float8 __attribute__((vector_size(32)));
#include "floor_body.h"
}  // namespace

void floorPass_avx2(const float* const* in, float* const* out, int frames) { floorPass<Float8, 8>(in, out, frames); }
