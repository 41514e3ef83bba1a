// A dialog host that counts previews, and finders and clicks for the tests
// of the effect dialogs, which drive them offscreen as a user would.
#pragma once

#include "imageops/ui/dialog_host.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QSlider>
#include <QTest>

#include <gtest/gtest.h>

#include <utility>

namespace dialog_test {

class Host : public CDialogHost {
public:
    ProcessingSettings& Settings() override { return settings; }
    void Reprocess() override { ++reprocessed; }
    std::pair<int, int> PictureSize() const override { return size; }
    ProcessingSettings settings;
    int reprocessed = 0;
    std::pair<int, int> size{0, 0};
};

template <class T> T* Find(QWidget& dlg, const char* name) {
    T* w = dlg.findChild<T*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
}

inline QString Label(QWidget& dlg, const char* name) {
    QLabel* l = Find<QLabel>(dlg, name);
    return l ? l->text() : QString();
}

// Whether the dialog shows a label with exactly this text.
inline bool HasLabel(QWidget& dlg, const QString& text) {
    for (QLabel* l : dlg.findChildren<QLabel*>())
        if (l->text() == text) return true;
    return false;
}

inline bool HasGroup(QWidget& dlg, const QString& title) {
    for (QGroupBox* g : dlg.findChildren<QGroupBox*>())
        if (g->title() == title) return true;
    return false;
}

// A label, a button or a group titled with exactly this text.
inline bool HasText(QWidget& dlg, const QString& text) {
    if (HasLabel(dlg, text) || HasGroup(dlg, text)) return true;
    for (QAbstractButton* b : dlg.findChildren<QAbstractButton*>())
        if (b->text() == text) return true;
    return false;
}

inline void ExpectRange(QWidget& dlg, const char* name, int min, int max, int value) {
    QSlider* s = Find<QSlider>(dlg, name);
    if (!s) return;
    EXPECT_EQ(s->minimum(), min) << name;
    EXPECT_EQ(s->maximum(), max) << name;
    EXPECT_EQ(s->value(), value) << name;
}

// Clicks a button where a user would: radio buttons and check boxes react only
// on their indicator and text, not on the rest of a row that a layout widened.
inline void Press(QAbstractButton* b) {
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2));
}

inline void Click(QWidget& dlg, const char* name) {
    if (QAbstractButton* b = Find<QAbstractButton>(dlg, name)) Press(b);
}

} // namespace dialog_test
