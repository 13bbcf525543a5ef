// Values of the command line and of parameter files: plain numbers in SI
// units, or a number with a unit suffix written without a space.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace diffusim {

enum class Quantity {
  Time,                   // s; also 90s, 30min, 4h, 2d
  Length,                 // m; also 1e-3m, 2cm, 0.5mm, 500um, 500µm
  Composition,            // fraction; also 0.8% (0.008)
  Temperature,            // K; also 1173K, 900C, 1652F (and with the degree sign)
  TemperatureDifference,  // K; also 30K, 30C (30 K), 54F (30 K): a spread, not a point
  Plain,                  // a number without unit (A, B)
};

// The value of `text` in SI units; false when it is not a finite number
// with a suffix its quantity accepts.
bool parseQuantity(std::string_view text, Quantity quantity, double& value);

// What a value of the quantity looks like, for messages: "a time such as
// 3600, 90s, 30min, 4h or 2d".
std::string describeQuantity(Quantity quantity);

}  // namespace diffusim
