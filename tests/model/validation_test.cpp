// Placeholder: analytic validation tests are being written.
