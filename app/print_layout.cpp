#include "app/print_layout.h"

#include <algorithm>
#include <cmath>

namespace {

// Lengths become device pixels by rounding to the nearest pixel; clamp first so
// that absurd inputs never overflow int.
int ToPixels(double inches, double dpi) {
    const double px = std::round(inches * dpi);
    return int(std::clamp(px, -1.0e9, 1.0e9));
}

bool Finite(double v) {
    return std::isfinite(v);
}

} // namespace

double InchesPerUnit(PrintUnits units) {
    return units == PrintUnits::Inches ? 1.0 : 1.0 / 2.54;
}

double ConvertLength(double value, PrintUnits from, PrintUnits to) {
    if (from == to) return value;
    return value * InchesPerUnit(from) / InchesPerUnit(to);
}

PrintLayout WithUnits(const PrintLayout& layout, PrintUnits units) {
    PrintLayout out = layout;
    out.width = ConvertLength(layout.width, layout.units, units);
    out.height = ConvertLength(layout.height, layout.units, units);
    out.left = ConvertLength(layout.left, layout.units, units);
    out.top = ConvertLength(layout.top, layout.units, units);
    out.units = units;
    return out;
}

double HeightForWidth(double width, int imageWidth, int imageHeight) {
    if (imageWidth <= 0 || imageHeight <= 0) return 0.0;
    return width * double(imageHeight) / double(imageWidth);
}

double WidthForHeight(double height, int imageWidth, int imageHeight) {
    if (imageWidth <= 0 || imageHeight <= 0) return 0.0;
    return height * double(imageWidth) / double(imageHeight);
}

void PrintedSize(const PrintLayout& layout, int imageWidth, int imageHeight, double pageWidth,
                 double pageHeight, double& width, double& height) {
    width = height = 0.0;
    if (imageWidth <= 0 || imageHeight <= 0) return;
    const double perInch = 1.0 / InchesPerUnit(layout.units); // units per inch
    const double naturalW = imageWidth / kImageDpi * perInch;
    const double naturalH = imageHeight / kImageDpi * perInch;
    switch (layout.sizeMode) {
    case PrintSizeMode::ImageSize:
        width = naturalW;
        height = naturalH;
        break;
    case PrintSizeMode::Scale: {
        const double f = Finite(layout.scalePercent) ? std::max(layout.scalePercent, 0.0) : 0.0;
        width = naturalW * f / 100.0;
        height = naturalH * f / 100.0;
        break;
    }
    case PrintSizeMode::FitToPage: {
        // With margins the image must not run off the right or bottom edge:
        // it fits into what the margins leave.
        double boxW = pageWidth, boxH = pageHeight;
        if (!layout.centred) {
            boxW -= std::max(layout.left, 0.0);
            boxH -= std::max(layout.top, 0.0);
        }
        if (!(boxW > 0.0) || !(boxH > 0.0)) return;
        const double s = std::min(boxW / imageWidth, boxH / imageHeight);
        width = imageWidth * s;
        height = imageHeight * s;
        break;
    }
    case PrintSizeMode::Size:
        width = layout.width;
        height = layout.height;
        break;
    case PrintSizeMode::SizeKeepRatio:
        width = layout.width;
        height = HeightForWidth(layout.width, imageWidth, imageHeight);
        break;
    }
    if (!Finite(width) || !Finite(height) || width < 0.0 || height < 0.0) width = height = 0.0;
}

PlacementRect ComputePlacement(const PrintLayout& layout, int imageWidth, int imageHeight,
                               int pageWidth, int pageHeight, double dpi) {
    PlacementRect r;
    if (imageWidth <= 0 || imageHeight <= 0 || pageWidth <= 0 || pageHeight <= 0 || !(dpi > 0.0) ||
        !Finite(dpi))
        return r;
    const double inchesPerUnit = InchesPerUnit(layout.units);
    const double pageW = pageWidth / dpi / inchesPerUnit;
    const double pageH = pageHeight / dpi / inchesPerUnit;
    double w = 0.0, h = 0.0;
    PrintedSize(layout, imageWidth, imageHeight, pageW, pageH, w, h);
    r.width = ToPixels(w * inchesPerUnit, dpi);
    r.height = ToPixels(h * inchesPerUnit, dpi);
    if (r.width <= 0 || r.height <= 0) return PlacementRect{};
    if (layout.centred) {
        // Integer halves: an odd leftover pixel goes to the right and bottom.
        r.x = (pageWidth - r.width) / 2;
        r.y = (pageHeight - r.height) / 2;
    } else {
        r.x = Finite(layout.left) ? ToPixels(layout.left * inchesPerUnit, dpi) : 0;
        r.y = Finite(layout.top) ? ToPixels(layout.top * inchesPerUnit, dpi) : 0;
    }
    return r;
}

PlacementRect FitCentred(int imageWidth, int imageHeight, int boxWidth, int boxHeight) {
    PlacementRect r;
    if (imageWidth <= 0 || imageHeight <= 0 || boxWidth <= 0 || boxHeight <= 0) return r;
    // Compare the ratios in integers: the side that limits gets the whole box.
    if (int64_t(boxWidth) * imageHeight <= int64_t(boxHeight) * imageWidth) {
        r.width = boxWidth;
        r.height = int((int64_t(imageHeight) * boxWidth + imageWidth / 2) / imageWidth);
    } else {
        r.height = boxHeight;
        r.width = int((int64_t(imageWidth) * boxHeight + imageHeight / 2) / imageHeight);
    }
    r.width = std::max(r.width, 1);
    r.height = std::max(r.height, 1);
    r.x = (boxWidth - r.width) / 2;
    r.y = (boxHeight - r.height) / 2;
    return r;
}

BMP_File ToGreyscale(const BMP_File& image) {
    BMP_File out;
    if (image.Empty() || !out.CreateUninitialized(image.Width(), image.Height())) return out;
    const CColor24* src = image.Data();
    CColor24* dst = out.Data();
    const size_t n = image.PixelCount();
    for (size_t i = 0; i < n; ++i) {
        // Integer weights out of 1000, halves rounded up: no floating point per
        // pixel, and white stays 255 exactly (the weights add up to 1000).
        const unsigned y = (299u * src[i].r + 587u * src[i].g + 114u * src[i].b + 500u) / 1000u;
        const auto v = uint8_t(y);
        dst[i] = CColor24(v, v, v);
    }
    return out;
}
