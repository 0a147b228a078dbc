#pragma once
// CIELab of linear camera RGB for the luminance noise filter: the matrix
// gives X/Xn, Y/Yn, Z/Zn in 0..65535 and a 65536-entry table gives the
// CIELab companding of each.
#include "develop/filters.h"

namespace ostel::develop::detail {

// f(i) for x = i / 65535: the cube root above 0.008856, the linear segment
// 7.787 x + 16/116 below.
const float* lab_companding_table();

// CIELab of `count` pixels.
void lab_of_row(const LabMatrix& lab, const float* r, const float* g, const float* b, int count, float* l_out,
                float* a_out, float* b_out);

}  // namespace ostel::develop::detail
