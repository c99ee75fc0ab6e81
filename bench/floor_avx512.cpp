// The memory floor for the avx512 instruction set.
#include "engine/tables.h"

namespace {
typedef float Float16 __attribute__((vector_size(64)));
#include "floor_body.h"
}  // namespace

void floorPass_avx512(const float* const* in, float* const* out, int frames) { floorPass<Float16, 16>(in, out, frames); }
