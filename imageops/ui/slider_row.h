#pragma once
// One row of a settings dialog: caption, horizontal slider and a label that
// shows the value in the dialog's format.

#include <QGridLayout>
#include <QLabel>
#include <QSlider>
#include <QString>

#include <functional>

struct SliderRow {
    QSlider* slider = nullptr;
    QLabel* value = nullptr;
    std::function<QString(int)> format;
    void Show() const { value->setText(format(slider->value())); }
};

// Adds the row at `row` of `grid`; the slider gets `name` as object name so
// that tests and style sheets can find it.
inline SliderRow AddSliderRow(QGridLayout* grid, int row, const QString& caption, int min, int max,
                              const QString& name, std::function<QString(int)> format) {
    SliderRow r;
    r.slider = new QSlider(Qt::Horizontal);
    r.slider->setRange(min, max);
    r.slider->setObjectName(name);
    r.slider->setMinimumWidth(160);
    r.value = new QLabel;
    r.value->setObjectName(name + "Value");
    r.value->setMinimumWidth(48);
    r.format = std::move(format);
    grid->addWidget(new QLabel(caption), row, 0);
    grid->addWidget(r.slider, row, 1);
    grid->addWidget(r.value, row, 2);
    return r;
}

inline QString PercentText(int v) {
    return QString::asprintf("%d%%", v);
}
