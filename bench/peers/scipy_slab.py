#!/usr/bin/python3
"""The performance peer of the implicit scheme: the default specimen (held
surface, mirror wall) on 1000 sections to 1e7 s in twenty steps growing
geometrically from 10 s, the first four backward Euler in two halves and
Crank-Nicolson after them, with scipy's banded solver. It prints the time of
one solve (the best of twenty) and the largest difference from the grid's
exact modes: the peer's cost is what diffusim's implicit run is compared
with; its accuracy is not diffusim's (Crank-Nicolson's long last steps leave
the slowest mode about 2e-4 off).

    /usr/bin/python3 bench/peers/scipy_slab.py
"""
import time

import numpy as np
from scipy.linalg import solve_banded

A, B, R, T = 4.529e-7, -147723.0, 8.3144, 1173.0
L, M, C0, CS, END = 5e-4, 1000, 0.01, 0.05, 1e7
D = A * np.exp(B / (R * T))
DX = L / M


def operator():
    """The grid's L on the unknowns 1..M (node 0 held): tridiagonal bands."""
    n = M
    lower, diag, upper = np.ones(n), -2.0 * np.ones(n), np.ones(n)
    lower[-1] = 2.0  # the mirror wall: -2 (C_M - C_{M-1})
    return lower * D / DX**2, diag * D / DX**2, upper * D / DX**2


def steps(count, first):
    """count steps growing by one ratio from `first`, summing to END."""
    lo, hi = 1.0, 10.0
    for _ in range(200):
        r = 0.5 * (lo + hi)
        total = first * (r**count - 1.0) / (r - 1.0)
        lo, hi = (r, hi) if total < END else (lo, r)
    h = first * r ** np.arange(count)
    return h * END / h.sum()


def solve():
    lo, di, up = operator()
    c = np.full(M, C0)
    source = np.zeros(M)
    source[0] = D / DX**2 * CS  # the held surface's flux into node 1

    def apply(x):
        y = di * x
        y[1:] += lo[1:] * x[:-1]
        y[:-1] += up[:-1] * x[1:]
        return y + source

    def step(x, h, theta):
        ab = np.zeros((3, M))
        ab[0, 1:] = -theta * h * up[:-1]
        ab[1, :] = 1.0 - theta * h * di
        ab[2, :-1] = -theta * h * lo[1:]
        return x + solve_banded((1, 1), ab, h * apply(x))

    for k, h in enumerate(steps(20, 10.0)):
        if k < 4:  # backward Euler in two halves
            c = step(step(c, h / 2, 1.0), h / 2, 1.0)
        else:
            c = step(c, h, 0.5)
    return c


def exact():
    k = np.arange(1, 2 * M, 2)
    th = k * np.pi / (2 * M)
    decay = np.exp(-4.0 * (D * END / DX**2) * np.sin(th / 2) ** 2) / np.tan(th / 2)
    i = np.arange(1, M + 1)
    return CS - (CS - C0) * (np.sin(np.outer(i, th)) @ decay) / M


best = min((lambda t0: (solve(), time.perf_counter() - t0)[1])(time.perf_counter())
           for _ in range(20))
print(f"20 steps: {best * 1e3:.3f} ms, largest difference from the grid's modes "
      f"{np.max(np.abs(solve() - exact())):.2g}")
