// The specimen's shape and the finite-volume weights it gives the grid.
//
// Nodes sit at depth x_i = i dx below the treated (outer) surface, i = 0..N-1,
// so x, depth and every query mean the same in every shape; a curved
// specimen's node i is at radius r_i = R - x_i. Node i owns the cell between
// the faces half a spacing either side (half cells at the two ends), and
// face j lies between nodes j and j + 1. With face areas r^m (m = 0 plate,
// 1 cylinder, 2 sphere) relative to the outer surface's and cell volumes
// from the faces, the update of every shape is one conservative form:
//   V_i dC_i/dt = a_i F_i - a_{i-1} F_{i-1} (+ the faces' exchange at the ends),
// and the content sum V_i C_i dx changes by what crosses the two surfaces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

namespace diffusim {

// Storage on 64-byte lines, as the grid's levels: a vector kernel then reads
// a node's weights and its composition at the same alignment.
template <typename T>
struct CacheAligned {
  using value_type = T;
  CacheAligned() = default;
  template <typename U>
  explicit CacheAligned(const CacheAligned<U>&) {}
  T* allocate(std::size_t n) {
    return static_cast<T*>(::operator new (n * sizeof(T), std::align_val_t{64}));
  }
  void deallocate(T* p, std::size_t) { ::operator delete (p, std::align_val_t{64}); }
  friend bool operator==(const CacheAligned&, const CacheAligned&) { return true; }
};
using AlignedDoubles = std::vector<double, CacheAligned<double>>;

enum class Shape { Plate, Cylinder, Sphere };

struct Geometry {
  Shape shape = Shape::Plate;
  double radius = 0.0;       // m: a curved specimen's outer radius
  double innerRadius = 0.0;  // m: a tube's or hollow sphere's inner radius; 0 when solid
  bool curved() const { return shape != Shape::Plate; }
  bool hollow() const { return curved() && innerRadius > 0.0; }
  // The face at x = L: a plate's far face, a hollow specimen's inner
  // surface; a solid cylinder or sphere has none (its centre).
  bool hasBackFace() const { return !curved() || innerRadius > 0.0; }
  int exponent() const { return shape == Shape::Plate ? 0 : shape == Shape::Cylinder ? 1 : 2; }
};

const char* shapeName(Shape shape);

// The weights of a grid of sections + 1 nodes over `length` (a curved
// specimen's radius - inner radius), relative to the outer surface's area and
// in units of dx: face j's area area[j] (N - 1 faces), node i's cell volume
// volume[i] and its inverse, and the back face's area (0 at a solid centre).
// A plate's are exactly 1 (0.5 for the two half cells).
struct CellWeights {
  std::vector<double> area;
  std::vector<double> volume;
  std::vector<double> inverse;
  // a_i / V_i and a_{i-1} / V_i: node i's weights toward its neighbours
  // (0 where there is none), for the explicit step's single pass.
  AlignedDoubles toNext, toPrevious;
  double backArea = 1.0;
  // The largest inverse[i] (a_{i-1} + a_i) over the nodes: the explicit
  // step's stability weight (2 for a plate, 4 at a cylinder's centre, 6 at a
  // sphere's).
  double stiffness = 2.0;
};
CellWeights cellWeights(const Geometry& geometry, double length, std::int32_t sections);

// Node i's radius, R - i dx, the last node's the inner radius (0 when solid).
double nodeRadius(const Geometry& geometry, double dx, std::int32_t i, std::int32_t points);

// The B in the specimen per unit outer area, sum V_i C_i dx (composition
// times metres), leaving out a held face's node at either end.
double cellContent(const CellWeights& w, const double* c, std::int32_t points, double dx,
                   bool surfaceHeld, bool backHeld);

}  // namespace diffusim
