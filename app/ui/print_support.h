#pragma once
// Printing of the full-size result: our print-layout dialog with a live page
// preview, and the four commands of the main window. The caller has already run
// the pipeline in final mode and passes the full-size work image.

#include "app/bmp_file.h"
#include "app/print_layout.h"

#include <QDialog>
#include <QImage>
#include <QPageLayout>
#include <QRect>
#include <QSize>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QPagedPaintDevice;
class QPainter;
class QPrinter;
class QRadioButton;

// Draws `picture` where an image of imageSize pixels lands on a page of
// pagePixels at `dpi`, in the painter's coordinates with the paper's top-left
// corner at (0, 0). `picture` may be a reduced copy (the preview draws a
// thumbnail); it is stretched over the placement. Returns the placement.
QRect DrawImageOnPage(QPainter& painter, const QSize& pagePixels, double dpi, const QImage& picture,
                      const QSize& imageSize, const PrintLayout& layout);

// Prints `image` on one page of `device` (a QPrinter, a QPdfWriter, ...) as the
// layout says, greyed when it asks for greyscale. Placements are measured from
// the paper's edges whatever margins the device keeps. False when there is
// nothing to print or the device cannot be painted on.
bool PrintImageOn(QPagedPaintDevice& device, const BMP_File& image, const PrintLayout& layout);

// The printer that "Print Setup..." configures and every print of the session
// uses, and the layout last confirmed in the layout dialog.
QPrinter& SessionPrinter();
PrintLayout& SessionPrintLayout();

// The page as the preview draws it: a white sheet scaled into the widget, the
// image on it where the printer will put it.
class CPagePreview : public QWidget {
    Q_OBJECT
public:
    explicit CPagePreview(QWidget* parent = nullptr);

    void SetPage(const QSizeF& pageInches);
    void SetImage(const QImage& colour, const QImage& grey, const QSize& imageSize);
    void SetLayout(const PrintLayout& layout);

    // In widget coordinates, as last painted.
    QRect PageRect() const;
    QRect ImageRect() const;

    QSize sizeHint() const override { return QSize(320, 420); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Resolution of the page that the preview lays out before scaling it
    // into the widget: fine enough that rounding never shows.
    static constexpr double kPreviewDpi = 150.0;
    QSize PagePixels() const;

    QSizeF m_pageInches{8.27, 11.69};
    QImage m_colour;
    QImage m_grey;
    QSize m_imageSize;
    PrintLayout m_layout;
};

class CPrintLayoutDlg : public QDialog {
    Q_OBJECT
public:
    // withPrintButton: the advanced preview, whose "Print..." button prints
    // from the dialog itself (then it closes); otherwise OK and Cancel.
    CPrintLayoutDlg(const BMP_File& image, QPrinter& printer, const PrintLayout& initial,
                    QWidget* parent = nullptr, bool withPrintButton = false);

    PrintLayout Layout() const { return m_layout; }
    CPagePreview* Preview() const { return m_preview; }

    // Takes the page size and orientation from the printer again (after a
    // page setup).
    void UpdatePage();

private:
    void ReadControls();
    void WriteControls();
    void OnUnitsChanged();
    void OnWidthEdited();
    void OnHeightEdited();
    void OnPageSetup();
    void OnPrint();

    const BMP_File& m_image;
    QPrinter& m_printer;
    PrintLayout m_layout;
    bool m_updating = false;

    QRadioButton* m_imageSize;
    QRadioButton* m_fitToPage;
    QRadioButton* m_scale;
    QRadioButton* m_size;
    QDoubleSpinBox* m_scaleValue;
    QDoubleSpinBox* m_width;
    QDoubleSpinBox* m_height;
    QCheckBox* m_keepRatio;
    QRadioButton* m_centred;
    QRadioButton* m_margins;
    QDoubleSpinBox* m_left;
    QDoubleSpinBox* m_top;
    QComboBox* m_units;
    QCheckBox* m_greyscale;
    CPagePreview* m_preview;
};

// "Print...": the layout dialog, then the print dialog, then one page.
void PrintImage(const BMP_File& image, QWidget* parent);
// "Print Preview...": the layout dialog, then Qt's preview of the printed page
// (which can print it).
void PrintPreviewImage(const BMP_File& image, QWidget* parent);
// "Print Setup...": paper, orientation and margins of the session's printer.
void PrintSetup(QWidget* parent);
// "Advanced Print Preview...": the layout dialog with its live preview and a
// "Print..." button.
void AdvancedPrintPreview(const BMP_File& image, QWidget* parent);
