// The one figure the comparison reports.
#pragma once

#include <cstddef>

// Folds the two directed sums into one figure: (s12² + s21²) / (n1 + n2).
// Each square is rounded to float; their sum and the division by the vertex
// total are carried out in double, and only the quotient is rounded to float.
// 0 when both meshes are empty. The sums are squared whole: this is not a
// mean of squared per-vertex distances.
float qemError(float s12, float s21, std::size_t n1, std::size_t n2);
