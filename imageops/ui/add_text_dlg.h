#pragma once
// "Add text": a line of text (optionally a date and time) typed into a text box
// laid over the original image at one screen pixel per image pixel, then
// stamped into the original image and the noise-reduced copy with "Put text".
//
// The text box is a frameless line edit with a transparent background, so
// what the user sees over the picture is the line edit's own painting. "Put
// text" renders that same widget with QPainter over each image's own pixels
// inside the box (never reading the screen back), so the stamp has the font,
// colour and anti-aliasing the user saw. The original gets the text over the
// original's pixels and the noise-reduced copy the text over its own, filtered
// pixels, so that the noise reduction around the letters is kept.
//
// Moving the box: a left click (or drag) on the picture puts the box's top-left
// corner there. The box grows with its text. "Font" opens the font dialog and,
// when a font is chosen, a colour dialog for the text colour right after it
// (Cancel there keeps the previous colour).

#include "app/bmp_file.h"
#include "pipeline/pipeline.h"

#include <QColor>
#include <QDialog>
#include <QFont>
#include <QImage>
#include <QRect>
#include <QWidget>

#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
struct DateTimeValue;

// The picture area: the image at one widget pixel per image pixel, with the
// text box as a child. Clicks and drags place the text box.
class CTextPicture : public QWidget {
    Q_OBJECT
public:
    explicit CTextPicture(QWidget* parent = nullptr);
    // Shows `image` (Format_RGB32) and sizes the widget to it.
    void SetImage(QImage image);
    const QImage& Image() const { return m_image; }

signals:
    void Placed(QPoint topLeft);

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;

private:
    QImage m_image;
};

class CAddTextDlg : public QDialog {
    Q_OBJECT
public:
    // The dialog writes into both images; an empty noise-reduced copy is left
    // empty. `reprocess` runs after every stamp: it should rerun the preview and
    // redraw both views (the original changed too).
    CAddTextDlg(BMP_File& original, BMP_File& noiseReduced, std::function<void()> reprocess,
                QWidget* parent = nullptr);

    QLineEdit* TextBox() const { return m_textBox; }
    // The text box's rectangle in image pixels: the stamp rectangle.
    QRect StampRect() const;
    // Puts the text box's top-left corner at an image pixel.
    void MoveTextBox(QPoint topLeft);
    QFont TextFont() const;
    QColor TextColor() const;
    void SetTextFont(const QFont& font);
    void SetTextColor(const QColor& color);
    // The composed date/time string the label shows.
    QString DateTimeText() const;

public slots:
    void ChooseFont();
    void PutTime();
    void PutText();

private:
    void BuildControls();
    void FitTextBox();
    void Recompose();
    void UseCurrentDate(bool on);
    void UseCurrentTime(bool on);
    DateTimeValue SelectedValue() const;
    void StampInto(BMP_File& image, const QRect& rect);
    void RefreshPicture();

    BMP_File& m_original;
    BMP_File& m_noiseReduced;
    std::function<void()> m_reprocess;

    QScrollArea* m_scroll = nullptr;
    CTextPicture* m_picture = nullptr;
    QLineEdit* m_textBox = nullptr;
    QComboBox* m_format = nullptr;
    QComboBox* m_day = nullptr;
    QComboBox* m_month = nullptr;
    QComboBox* m_year = nullptr;
    QComboBox* m_hour = nullptr;
    QComboBox* m_minute = nullptr;
    QCheckBox* m_withDate = nullptr;
    QCheckBox* m_withTime = nullptr;
    QCheckBox* m_amPm = nullptr;
    QCheckBox* m_curDate = nullptr;
    QCheckBox* m_curTime = nullptr;
    QLabel* m_dateTime = nullptr;
};

// "Add Text...": runs the dialog modally on the main window's images. Does
// nothing when no image is loaded.
void OpenAddTextDialog(ImageSet& images, std::function<void()> reprocess, QWidget* parent);
