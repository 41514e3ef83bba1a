#pragma once
// Where a printed image lands on the page, and the greyscale copy for
// black-and-white prints. Pure arithmetic, shared by the print-layout dialog's
// preview, the printer output and the full-screen viewer, so that what the user
// sees is what the printer gets.

#include "app/bmp_file.h"

enum class PrintSizeMode {
    ImageSize,     // the image at its own resolution (kImageDpi)
    FitToPage,     // as large as the page (less the margins) allows, ratio kept
    Scale,         // the image size times scalePercent / 100
    Size,          // width x height as given
    SizeKeepRatio, // width as given, the height follows the image's ratio
};

enum class PrintUnits { Centimetres, Inches };

struct PrintLayout {
    PrintSizeMode sizeMode = PrintSizeMode::FitToPage;
    double scalePercent = 100.0;
    // In `units`; used by the two Size modes (SizeKeepRatio ignores height).
    double width = 10.0;
    double height = 10.0;
    // Centred on the page, or placed at the left and top margins (in `units`,
    // measured from the paper's edges).
    bool centred = true;
    double left = 2.0;
    double top = 2.0;
    PrintUnits units = PrintUnits::Centimetres;
    bool greyscale = false;

    friend bool operator==(const PrintLayout&, const PrintLayout&) = default;
};

// Our BMP files carry 2834 pixels per metre, i.e. 72 dots per inch; an image
// printed "at its own resolution" uses that.
inline constexpr double kImageDpi = 72.0;

struct PlacementRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    bool Empty() const { return width <= 0 || height <= 0; }
    friend bool operator==(const PlacementRect&, const PlacementRect&) = default;
};

// Inches per unit.
double InchesPerUnit(PrintUnits units);
// Converts a length between units.
double ConvertLength(double value, PrintUnits from, PrintUnits to);
// Converts every length of the layout to `units` (the shown values follow a
// change of units without moving the image).
PrintLayout WithUnits(const PrintLayout& layout, PrintUnits units);

// The printed size of the image in the layout's units, before any clipping to
// the page. For FitToPage the page size is needed; it is given in the layout's
// units as pageWidth x pageHeight.
void PrintedSize(const PrintLayout& layout, int imageWidth, int imageHeight, double pageWidth,
                 double pageHeight, double& width, double& height);

// The height that keeps the image's ratio for a given width (and the reverse).
double HeightForWidth(double width, int imageWidth, int imageHeight);
double WidthForHeight(double height, int imageWidth, int imageHeight);

// The image's rectangle on a page of pageWidth x pageHeight device pixels at
// `dpi` dots per inch, origin at the paper's top-left corner. An empty image,
// a non-positive size or a non-positive dpi gives an empty rectangle. The
// rectangle may reach past the page; the printer clips it.
PlacementRect ComputePlacement(const PrintLayout& layout, int imageWidth, int imageHeight,
                               int pageWidth, int pageHeight, double dpi);

// The largest rectangle with the image's ratio inside a box, centred in it.
PlacementRect FitCentred(int imageWidth, int imageHeight, int boxWidth, int boxHeight);

// A grey copy: each channel becomes the luma 0.299 R + 0.587 G + 0.114 B,
// rounded to the nearest integer.
BMP_File ToGreyscale(const BMP_File& image);
