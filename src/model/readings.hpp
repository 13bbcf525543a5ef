// Readings taken from a level of the grid (N compositions at x = i dx):
// the composition at a depth between grid points, and the case depth.
#pragma once

#include <cstdint>

namespace diffusim {

// The composition at depth x in [0, L], read from the level by linear
// interpolation between the two grid points around it (exact at a grid
// point). Its error is at most dx^2 / 8 times the largest |d2C/dx2| there.
double compositionAtDepth(const double* values, std::int32_t points, double dx, double x);

// The first depth at which a level falls to `composition`: between the
// first pair of neighbours i, i + 1 with C_i > composition >= C_{i+1}, by
// linear interpolation; 0 when C_0 <= composition; NaN when the level stays
// above it through the specimen.
double depthOf(const double* values, std::int32_t points, double dx, double composition);

}  // namespace diffusim
