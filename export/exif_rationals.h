#pragma once
// libtiff holds the rationals of an Exif directory as single floats, so
// 1/400 s would reach the file as the fraction nearest to 0.00249999994.
// Once a TIFF file is complete, this puts the exact fractions of the items in
// the places libtiff gave those rationals. The file's layout does not change.
#include <string>

#include "export/metadata_items.h"

namespace ostel::exporting {

// Rewrites ExposureTime, FNumber, ApertureValue and FocalLength of the Exif
// directory of the classic TIFF file at path. False when the file cannot be
// read or written, or its directories are not where they should be.
bool write_exact_exif_rationals(const std::string& path, const MetadataItems& items);

}  // namespace ostel::exporting
