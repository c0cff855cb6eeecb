// The DICOM linear window onto 0..255, written from the standard's formula: the tests'
// reference for a grey level, kept apart from the viewer's own tables.
#pragma once

namespace OrbelTest {

inline double DicomLinearWindow(double x, double centre, double width)
{
    const double c = centre - 0.5, w = width - 1.0;
    if (x <= c - w / 2)
        return 0.0;
    if (x > c + w / 2)
        return 255.0;
    return ((x - c) / w + 0.5) * 255.0;
}

} // namespace OrbelTest
