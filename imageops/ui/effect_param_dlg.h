#pragma once
// The common frame of the list effects' parameter dialogs: sliders, radio
// groups and check boxes bound to fields of the settings record. Every change
// of a control writes its field and reruns the preview at once; Cancel writes
// back the values the dialog opened with and previews again.

#include "imageops/ui/dialog_buttons.h"
#include "imageops/ui/dialog_host.h"
#include "imageops/ui/slider_row.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <functional>
#include <initializer_list>
#include <utility>
#include <vector>

class CEffectParamDlg : public QDialog {
public:
    void reject() override {
        for (const auto& restore : restore_) restore();
        host_.Reprocess();
        QDialog::reject();
    }

protected:
    // A radio button's text and object name.
    using Choice = std::pair<const char*, const char*>;

    CEffectParamDlg(const QString& caption, CDialogHost& host, QWidget* parent)
        : QDialog(parent), host_(host) {
        setWindowTitle(caption);
    }

    ProcessingSettings& Settings() { return host_.Settings(); }

    template <class T> void Remember(T& field) {
        restore_.push_back([&field, opening = field] { field = opening; });
    }

    static QString IntText(int v) { return QString::number(v); }

    SliderRow AddSlider(QGridLayout* grid, int row, const QString& caption, int min, int max,
                        const QString& name, int32_t& field,
                        std::function<QString(int)> format = IntText) {
        Remember(field);
        SliderRow r = AddSliderRow(grid, row, caption, min, max, name, std::move(format));
        r.slider->setValue(field);
        r.Show();
        connect(r.slider, &QSlider::valueChanged, this, [this, &field, r](int v) {
            field = v;
            r.Show();
            host_.Reprocess();
        });
        return r;
    }

    // A slider over whole numbers for a real field; the label shows the field
    // with one decimal.
    SliderRow AddRealSlider(QGridLayout* grid, int row, const QString& caption, int min, int max,
                            const QString& name, float& field) {
        Remember(field);
        SliderRow r = AddSliderRow(grid, row, caption, min, max, name, [&field](int) {
            return QString::asprintf("%.1f", double(field));
        });
        if (std::isfinite(field))
            r.slider->setValue(int(std::clamp(field, float(min), float(max))));
        r.Show();
        connect(r.slider, &QSlider::valueChanged, this, [this, &field, r](int v) {
            field = float(v);
            r.Show();
            host_.Reprocess();
        });
        return r;
    }

    // Buttons in order stand for the values 0, 1, 2, ...
    QGroupBox* AddRadios(const QString& title, std::initializer_list<Choice> choices,
                         int32_t& field) {
        Remember(field);
        auto* box = new QGroupBox(title);
        auto* layout = new QVBoxLayout(box);
        auto* group = new QButtonGroup(box);
        int id = 0;
        for (const Choice& c : choices) {
            auto* b = new QRadioButton(c.first);
            b->setObjectName(c.second);
            group->addButton(b, id);
            b->setChecked(field == id);
            layout->addWidget(b);
            ++id;
        }
        connect(group, &QButtonGroup::idToggled, this, [this, &field](int v, bool on) {
            if (!on) return;
            field = v;
            host_.Reprocess();
        });
        return box;
    }

    QCheckBox* AddCheck(const QString& text, const QString& name, int32_t& field) {
        Remember(field);
        auto* box = new QCheckBox(text);
        box->setObjectName(name);
        box->setChecked(field != 0);
        connect(box, &QCheckBox::toggled, this, [this, &field](bool on) {
            field = on ? 1 : 0;
            host_.Reprocess();
        });
        return box;
    }

private:
    CDialogHost& host_;
    std::vector<std::function<void()>> restore_;
};
