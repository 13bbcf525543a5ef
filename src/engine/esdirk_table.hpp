// The coefficients of the implicit scheme's fourth-order step.
#pragma once

namespace diffusim::esdirk {

// ESDIRK4(3)6L[2]SA, the implicit part of the additive pair ARK4(3)6L[2]SA:
// C. A. Kennedy and M. H. Carpenter, "Additive Runge-Kutta schemes for
// convection-diffusion-reaction equations", Applied Numerical Mathematics
// 44 (2003) 139-181, its ESDIRK coefficients (the appendix's tables).
// Stiffly accurate (the last row of A is b), first stage explicit,
// a_ii = 1/4 for i > 1, L-stable, stage order 2, b of order 4 (the test
// suite checks the order conditions).
constexpr int S = 6;
constexpr double GAMMA = 0.25;
constexpr double LOWER[S][S] = {
    {0.0, 0.0, 0.0, 0.0, 0.0, 0.0},
    {1.0 / 4.0, 0.0, 0.0, 0.0, 0.0, 0.0},
    {8611.0 / 62500.0, -1743.0 / 31250.0, 0.0, 0.0, 0.0, 0.0},
    {5012029.0 / 34652500.0, -654441.0 / 2922500.0, 174375.0 / 388108.0, 0.0, 0.0, 0.0},
    {15267082809.0 / 155376265600.0, -71443401.0 / 120774400.0, 730878875.0 / 902184768.0,
     2285395.0 / 8070912.0, 0.0, 0.0},
    {82889.0 / 524892.0, 0.0, 15625.0 / 83664.0, 69875.0 / 102672.0, -2260.0 / 8211.0, 0.0},
};
constexpr double NODE[S] = {0.0, 1.0 / 2.0, 83.0 / 250.0, 31.0 / 50.0, 17.0 / 20.0, 1.0};
constexpr double B[S] = {82889.0 / 524892.0, 0.0,      15625.0 / 83664.0, 69875.0 / 102672.0,
                         -2260.0 / 8211.0,   1.0 / 4.0};
// The step's own local error, estimated as
//   (I - gamma h J)^-1 (sum_j ONCE_j K_j + (I - gamma h J)^-1 sum_j TWICE_j K_j).
// (The pair's embedded solution estimates the third-order solution's
// error instead: several times the step's on smooth modes, and a sixteenth
// of it on the modes a long step barely damps, which leave most of the
// error of a long run.) Each sum vanishes on the elementary differentials
// of orders 1 to 3 and both together on those of order 4, so on any smooth
// system the estimate is of order h^5 as the step's error is; its h^5 term
// on a linear system is the step's. On a linear system, with z = h lambda
// for each mode, the estimate is
//   E(z) = z ONCE^T (I - z A)^-1 1 / (1 - gamma z) + z TWICE^T (I - z A)^-1 1 / (1 - gamma z)^2,
// and the three values those conditions leave free were fitted (least
// squares on E(z) / (R(z) - e^z), z from -0.06 to -1e7) so that it is within
// 0.75 to 1.05 of the step's error R(z) - e^z for every real z < 0, from the
// smooth modes to the stiffest. The test suite checks the conditions and
// the ratio.
constexpr double ONCE[S] = {0.079244316395942233, 0.1487172393994505,  -0.18523398706317201,
                            -0.33510046558246209, 0.64981029455911488, -0.35743739770887328};
constexpr double TWICE[S] = {-0.066492819909768242, -0.042605036638741128, 0.095440170314952513,
                             0.35412115379887499,   -0.73683155989881244,  0.39636809233349435};

}  // namespace diffusim::esdirk
