#pragma once
// Nearest-neighbour resampling: the index map shared by preview scaling, Resize
// and the stretching of masks and borders.

#include "app/bmp_file.h"

#include <cstdint>
#include <vector>

// m source indices for a source length n and a target length m, or false (and
// nothing filled) when either is 0.
bool ResampleIndexMap(int n, int m, std::vector<int>& map);

// dst becomes width x height with pixel (x, y) = src(mapX[x], mapY[y]).
// Returns false when a size is 0 or src is empty.
bool ResampleNearest(const BMP_File& src, int width, int height, BMP_File& dst);
