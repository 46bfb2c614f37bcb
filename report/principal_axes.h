// The two leading principal axes of a small point cloud, for drawing a block
// of more than two dimensions in the plane.
#pragma once

#include <vector>

namespace veska {

struct PrincipalAxes {
  std::vector<double> mean;
  std::vector<double> axis1, axis2;  // unit vectors, largest component positive
  double variance1 = 0.0, variance2 = 0.0;
  double total_variance = 0.0;
};

// Eigenvalues (descending) and eigenvectors (columns of vectors[i][c]) of a
// symmetric matrix, by cyclic Jacobi rotations.
void symmetric_eigen(std::vector<std::vector<double>> a, std::vector<double>* values,
                     std::vector<std::vector<double>>* vectors);

// points[i] has D >= 2 coordinates; at least one point.
PrincipalAxes principal_axes(const std::vector<std::vector<double>>& points);

}  // namespace veska
