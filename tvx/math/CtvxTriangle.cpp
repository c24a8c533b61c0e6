#include <tvx/math/CtvxTriangle.h>

static_assert(sizeof(CtvxTriangle) == 12, "a triangle is three 32-bit ranks, packed");
