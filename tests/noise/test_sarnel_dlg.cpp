// "Noise Reduce" driven through its controls: the starting values, the
// enabling rules, the value formulas, Apply, Reset, Cancel and OK, and the
// worker behind Apply. The pictures it writes are compared with libsarnel
// called directly with the values the controls stand for.

#include "app/noise/sarnel_dlg.h"
#include "app/noise/sarnel_worker.h"
#include "app/noise/spin_edit.h"
#include "noise_test_util.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <string>

using namespace noise_test;

namespace {

// The main window's side: its two pictures and the preview runs asked for.
struct Host {
    BMP_File original;
    BMP_File noiseReduced;
    int runs = 0;
    explicit Host(BMP_File picture) : original(picture), noiseReduced(std::move(picture)) {}
};

class SarnelDlg : public ::testing::Test {
protected:
    std::unique_ptr<Host> host;
    std::unique_ptr<CSarnelDlg> dlg;

    void Open(BMP_File picture) {
        host = std::make_unique<Host>(std::move(picture));
        OpenOn(*host);
    }
    void OpenOn(Host& h) {
        dlg = std::make_unique<CSarnelDlg>(h.original, h.noiseReduced, [&h] { ++h.runs; });
        dlg->show();
        ASSERT_TRUE(WaitFor([&] { return !dlg->Busy(); })) << "the picture never loaded";
    }
    void TearDown() override {
        dlg.reset();
        host.reset();
    }

    template <class T> T* Get(const char* name) const {
        T* w = dlg->findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QString Label(const char* name) const {
        QLabel* l = Get<QLabel>(name);
        return l ? l->text() : QString();
    }
    void Click(const char* name) { Get<QAbstractButton>(name)->click(); }
    void ApplyAndWait() {
        Click("apply");
        ASSERT_TRUE(WaitFor([&] { return !dlg->Busy(); }));
    }
    // Types into an edit as the user would, so that its user-edit signal fires.
    void Type(const char* name, const QString& text) {
        QLineEdit* e = Get<QLineEdit>(name);
        e->setFocus();
        e->selectAll();
        QTest::keyClick(e, Qt::Key_Delete);
        QTest::keyClicks(e, text);
    }
};

} // namespace

TEST_F(SarnelDlg, OpensWithTheStartingValues) {
    Open(NoisyPicture(103, 61));
    EXPECT_EQ(dlg->windowTitle(), "Noise Reduce");
    EXPECT_TRUE(Get<QRadioButton>("rgb")->isChecked());
    EXPECT_EQ(Get<QRadioButton>("hsv")->text(), "HSV");
    EXPECT_EQ(Get<QRadioButton>("lab")->text(), "CIE L*a*b*");
    EXPECT_FALSE(Get<CSRRgbModeDlg>("rgbPanel")->isHidden());
    EXPECT_TRUE(Get<CSRHsvModeDlg>("hsvPanel")->isHidden());
    EXPECT_TRUE(Get<CSRLabModeDlg>("labPanel")->isHidden());
    const char* boxes[3][3] = {
        {"Red", "Green", "Blue"}, {"Hue", "Saturation", "Value(Brightness)"}, {"L*", "a*", "b*"}};
    for (int m = 0; m < 3; ++m)
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(dlg->Panel(m)->Box(i)->text(), boxes[m][i]);
            EXPECT_TRUE(dlg->Panel(m)->Box(i)->isChecked());
        }
    EXPECT_EQ(dlg->Panel(1)->Channels(), (std::vector<SR_FilterType>{3, 4, 5}));
    EXPECT_EQ(dlg->Panel(2)->Channels(), (std::vector<SR_FilterType>{6, 7, 8}));
    EXPECT_TRUE(Get<QRadioButton>("normal")->isChecked());
    EXPECT_EQ(dlg->Filter(), 0);
    EXPECT_FALSE(dlg->Applied());

    EXPECT_EQ(Label("apertureWidthValue"), "3");
    EXPECT_EQ(Label("apertureHeightValue"), "3");
    EXPECT_EQ(Label("orderValue"), "0.0");
    EXPECT_EQ(Get<QSlider>("percentile")->value(), 1);
    EXPECT_EQ(Get<QSlider>("truncation")->maximum(), 6);
    EXPECT_EQ(Label("truncationValue"), "1");
    EXPECT_EQ(Label("minApertureValue"), "3");
    EXPECT_EQ(Label("maxApertureValue"), "5");
    EXPECT_EQ(Label("noiseDispersionValue"), "1000");
    EXPECT_EQ(Label("rejectOrderValue"), "4");
    EXPECT_EQ(Label("notchOrderValue"), "16");
    EXPECT_EQ(Get<QLineEdit>("rejectD0")->text(), "150");
    EXPECT_EQ(Get<QLineEdit>("rejectW")->text(), "50");
    EXPECT_EQ(Get<QLineEdit>("notchD0")->text(), "150");
    // U0 and V0 come from the picture: 103 / 4 = 25, 61 / 4 = 15.
    EXPECT_EQ(Get<QLineEdit>("notchU0")->text(), "25");
    EXPECT_EQ(Get<QLineEdit>("notchV0")->text(), "15");
    const std::map<std::string, std::pair<const char*, const char*>> wiener = {
        {"deblur", {"0.0025", "25"}},
        {"turbulenceNoise", {"0.0100", "100"}},
        {"moveX", {"0.1000", "1000"}},
        {"moveY", {"0.1000", "1000"}},
        {"motionNoise", {"0.0100", "100"}}};
    for (const auto& [name, texts] : wiener) {
        EXPECT_EQ(Get<QLineEdit>(name.c_str())->text(), texts.first) << name;
        EXPECT_EQ(Get<QLineEdit>((name + "Scaled").c_str())->text(), texts.second) << name;
    }

    const SarnelParams p = dlg->Params();
    EXPECT_EQ(p.apertureWidth, 3);
    EXPECT_EQ(p.orderQ, 0.0f);
    EXPECT_EQ(p.minAperture, 3);
    EXPECT_EQ(p.maxAperture, 5);
    EXPECT_EQ(p.noiseVariance, 1000);
    EXPECT_EQ(p.notchU0, 25);
    EXPECT_EQ(p.notchV0, 15);
    EXPECT_DOUBLE_EQ(p.turbulenceK, 0.0025);
    EXPECT_DOUBLE_EQ(p.motionA, 0.1);
}

TEST_F(SarnelDlg, SpinRangesComeFromThePicture) {
    Open(NoisyPicture(103, 61));
    auto range = [&](const char* name) {
        CSpinEdit* e = nullptr;
        for (CSpinEdit* s : dlg->findChildren<CSpinEdit*>())
            if (s->Edit()->objectName() == name) e = s;
        EXPECT_NE(e, nullptr) << name;
        return e ? std::pair{e->Minimum(), e->Maximum()} : std::pair{0, 0};
    };
    EXPECT_EQ(range("rejectD0"), (std::pair{1, 3000}));
    EXPECT_EQ(range("rejectW"), (std::pair{1, 3000}));
    EXPECT_EQ(range("notchD0"), (std::pair{1, 3000}));
    EXPECT_EQ(range("notchU0"), (std::pair{0, 25}));
    EXPECT_EQ(range("notchV0"), (std::pair{-51, 30})); // -(103 / 2) .. 61 / 2
    EXPECT_EQ(range("deblurScaled"), (std::pair{0, 10000}));
    // The spin button stops at the range's ends.
    Click("notchGauss");
    for (int i = 0; i < 5; ++i) Click("notchU0Up");
    EXPECT_EQ(Get<QLineEdit>("notchU0")->text(), "25");
    Click("notchU0Down");
    EXPECT_EQ(Get<QLineEdit>("notchU0")->text(), "24");
}

TEST_F(SarnelDlg, EnablingFollowsTheFilter) {
    Open(NoisyPicture(20, 20));
    const std::vector<std::string> controls = {"percentile",
                                               "order",
                                               "truncation",
                                               "minAperture",
                                               "maxAperture",
                                               "apertureWidth",
                                               "apertureHeight",
                                               "noiseDispersion",
                                               "rejectD0",
                                               "rejectW",
                                               "rejectOrder",
                                               "notchOrder",
                                               "notchD0",
                                               "notchU0",
                                               "notchV0",
                                               "deblur",
                                               "deblurScaled",
                                               "turbulenceNoise",
                                               "turbulenceNoiseScaled",
                                               "moveX",
                                               "moveXScaled",
                                               "moveY",
                                               "moveYScaled",
                                               "motionNoise",
                                               "motionNoiseScaled"};
    const std::set<std::string> apertures = {"apertureWidth", "apertureHeight"};
    const std::set<std::string> notch = {"notchOrder", "notchD0", "notchU0", "notchV0"};
    const std::set<std::string> motion = {"moveX",       "moveXScaled", "moveY",
                                          "moveYScaled", "motionNoise", "motionNoiseScaled"};
    struct Case {
        const char* button;
        int filter;
        std::set<std::string> enabled;
    };
    auto with = [](std::set<std::string> a, std::set<std::string> b) {
        a.insert(b.begin(), b.end());
        return a;
    };
    const Case cases[] = {
        {"normal", 0, apertures},
        {"geometric", 1, apertures},
        {"harmonic", 2, apertures},
        {"contraharmonic", 3, with(apertures, {"order"})},
        {"percentileFilter", 4, with(apertures, {"percentile"})},
        {"midpoint", 5, apertures},
        {"trimmedMean", 6, with(apertures, {"truncation"})},
        {"adaptiveLocal", 7, with(apertures, {"noiseDispersion"})},
        {"adaptiveMedian", 8, {"minAperture", "maxAperture"}},
        {"butterworth", 9, with(apertures, {"rejectD0", "rejectW", "rejectOrder"})},
        {"gauss", 10, with(apertures, {"rejectD0", "rejectW"})},
        {"notchButterworth", 12, with(apertures, notch)},
        {"notchGauss", 12, with(apertures, notch)},
        {"wienerTurbulence", 13,
         with(apertures, {"deblur", "deblurScaled", "turbulenceNoise", "turbulenceNoiseScaled"})},
        {"wienerMotion", 14, with(apertures, motion)},
    };
    for (const Case& c : cases) {
        Click(c.button);
        EXPECT_EQ(dlg->Filter(), c.filter) << c.button;
        EXPECT_TRUE(Get<QRadioButton>(c.button)->isChecked());
        for (const std::string& name : controls) {
            QWidget* w = Get<QWidget>(name.c_str());
            // A spin edit's buttons follow its edit.
            EXPECT_EQ(w->isEnabled(), c.enabled.count(name) == 1) << c.button << ": " << name;
        }
    }
    EXPECT_EQ(Get<QRadioButton>("notchButterworth")->text(), "Butterworth Filter");
    EXPECT_EQ(Get<QRadioButton>("notchGauss")->text(), "Gauss Filter");
    Click("notchGauss");
    EXPECT_FALSE(Get<QRadioButton>("wienerMotion")->isChecked()) << "one filter at a time";
}

TEST_F(SarnelDlg, ApplyWithNoChannelTickedRendersAndReruns) {
    const BMP_File picture = NoisyPicture(30, 20);
    Open(picture);
    for (int i = 0; i < 3; ++i) dlg->Panel(0)->Box(i)->click();
    EXPECT_TRUE(dlg->Panel(0)->Channels().empty());
    ApplyAndWait();
    EXPECT_TRUE(dlg->Applied());
    EXPECT_EQ(host->runs, 1);
    EXPECT_TRUE(host->noiseReduced.SameAs(picture)) << "RGB planes render as loaded";

    // In HSV the rendering itself requantises, so the picture shows that Apply
    // rendered although nothing was filtered.
    Click("hsv");
    for (int i = 0; i < 3; ++i) dlg->Panel(1)->Box(i)->click();
    ApplyAndWait();
    EXPECT_EQ(host->runs, 2);
    const BMP_File requantised = Expected(picture, [](SR_Image* i) { SR_ConvertSRB(i, 1); });
    EXPECT_FALSE(requantised.SameAs(picture));
    EXPECT_TRUE(host->noiseReduced.SameAs(requantised));
}

TEST_F(SarnelDlg, ApplyTwiceWithTheMedianAppliesItTwice) {
    const BMP_File picture = NoisyPicture(40, 30);
    Open(picture);
    Click("percentileFilter");
    // The second press comes while the first may still run: it waits its turn.
    Click("apply");
    Click("apply");
    ASSERT_TRUE(WaitFor([&] { return !dlg->Busy(); }));
    auto medians = [&](int times) {
        return Expected(picture, [times](SR_Image* img) {
            for (int t = 0; t < times; ++t)
                OnChannels(img, 0, [](SR_Image* i, int c) { SR_MedianFilter(i, c, 3, 3); });
        });
    };
    EXPECT_FALSE(medians(2).SameAs(medians(1)));
    EXPECT_TRUE(host->noiseReduced.SameAs(medians(2)));
    EXPECT_EQ(host->runs, 2);
}

TEST_F(SarnelDlg, TruncationRangeFollowsTheAperture) {
    const BMP_File picture = NoisyPicture(30, 24);
    Open(picture);
    QSlider* truncation = Get<QSlider>("truncation");
    Get<QSlider>("apertureWidth")->setValue(2);
    Get<QSlider>("apertureHeight")->setValue(2);
    EXPECT_EQ(Label("apertureWidthValue"), "5");
    EXPECT_EQ(truncation->minimum(), 1);
    EXPECT_EQ(truncation->maximum(), 22);
    truncation->setValue(22);
    EXPECT_EQ(Label("truncationValue"), "22");
    EXPECT_EQ(dlg->Params().truncation, 22);

    // Back to 3 x 3, the 22 survives only as 6.
    Get<QSlider>("apertureWidth")->setValue(1);
    Get<QSlider>("apertureHeight")->setValue(1);
    EXPECT_EQ(truncation->maximum(), 6);
    EXPECT_EQ(truncation->value(), 6);
    EXPECT_EQ(Label("truncationValue"), "6");
    Click("trimmedMean");
    ApplyAndWait();
    const BMP_File expected = Expected(picture, [](SR_Image* img) {
        OnChannels(img, 0, [](SR_Image* i, int c) { SR_TrimmedMeanFilter(i, c, 3, 3, 6); });
    });
    EXPECT_TRUE(host->noiseReduced.SameAs(expected));

    // A 21 x 3 aperture allows 60.
    Get<QSlider>("apertureWidth")->setValue(10);
    EXPECT_EQ(truncation->maximum(), 60);
}

TEST_F(SarnelDlg, MaximalApertureNeverBelowMinimalPlusTwo) {
    Open(NoisyPicture(16, 16));
    QSlider* minimal = Get<QSlider>("minAperture");
    QSlider* maximal = Get<QSlider>("maxAperture");
    EXPECT_EQ(minimal->minimum(), 2);
    EXPECT_EQ(minimal->maximum(), 11);
    for (int p = 2; p <= 11; ++p) {
        minimal->setValue(p);
        for (int q : {2, p - 1, p, 11}) {
            maximal->setValue(q);
            const SarnelParams params = dlg->Params();
            EXPECT_EQ(params.minAperture, 2 * p - 1);
            EXPECT_GE(params.maxAperture, params.minAperture + 2) << p << " " << q;
            EXPECT_EQ(maximal->value(), std::max(p, q));
            EXPECT_EQ(Label("maxApertureValue"), QString::number(params.maxAperture));
            EXPECT_EQ(Label("minApertureValue"), QString::number(params.minAperture));
        }
    }
    minimal->setValue(11);
    EXPECT_EQ(Label("minApertureValue"), "21");
    EXPECT_EQ(Label("maxApertureValue"), "23");
}

TEST_F(SarnelDlg, HsvThenRgbWithoutApplyRequantises) {
    const BMP_File picture = NoisyPicture(36, 28);
    Open(picture);
    Click("hsv");
    EXPECT_EQ(dlg->Mode(), 1);
    EXPECT_FALSE(Get<QWidget>("hsvPanel")->isHidden());
    EXPECT_TRUE(Get<QWidget>("rgbPanel")->isHidden());
    Click("rgb");
    EXPECT_EQ(dlg->Mode(), 0);
    Click("percentileFilter");
    ApplyAndWait();
    auto median = [](SR_Image* img) {
        OnChannels(img, 0, [](SR_Image* i, int c) { SR_MedianFilter(i, c, 3, 3); });
    };
    const BMP_File there_and_back = Expected(picture, [&](SR_Image* img) {
        SR_ConvertSRB(img, 1);
        SR_ConvertSRB(img, 0);
        median(img);
    });
    EXPECT_FALSE(there_and_back.SameAs(Expected(picture, median)));
    EXPECT_TRUE(host->noiseReduced.SameAs(there_and_back));
}

TEST_F(SarnelDlg, LabPanelFiltersItsChannels) {
    const BMP_File picture = NoisyPicture(30, 22);
    Open(picture);
    Click("lab");
    dlg->Panel(2)->Box(1)->click(); // a* stays as it is
    Click("midpoint");
    ApplyAndWait();
    const BMP_File expected = Expected(picture, [](SR_Image* img) {
        SR_ConvertSRB(img, 2);
        SR_MidPointFilter(img, 6, 3, 3);
        SR_MidPointFilter(img, 8, 3, 3);
    });
    EXPECT_TRUE(host->noiseReduced.SameAs(expected));
}

TEST_F(SarnelDlg, CancelAfterSeveralAppliesRestoresTheOpeningPicture) {
    const BMP_File picture = NoisyPicture(32, 24);
    host = std::make_unique<Host>(picture);
    // An earlier noise reduction, kept with OK.
    host->noiseReduced = NoisyPicture(32, 24, 77);
    const BMP_File opening = host->noiseReduced;
    OpenOn(*host);
    Click("percentileFilter");
    for (int i = 0; i < 3; ++i) ApplyAndWait();
    EXPECT_FALSE(host->noiseReduced.SameAs(opening));
    const int runs = host->runs;
    Click("cancel");
    EXPECT_TRUE(host->noiseReduced.SameAs(opening));
    EXPECT_EQ(host->runs, runs + 1);
    EXPECT_EQ(dlg->result(), QDialog::Rejected);
    EXPECT_FALSE(dlg->isVisible());
}

TEST_F(SarnelDlg, ResetThenApplyInHsvFilters) {
    const BMP_File picture = NoisyPicture(34, 26);
    Open(picture);
    Click("hsv");
    Click("percentileFilter");
    ApplyAndWait();
    EXPECT_TRUE(dlg->Applied());
    Click("reset");
    ASSERT_TRUE(WaitFor([&] { return !dlg->Busy(); }));
    EXPECT_FALSE(dlg->Applied());
    EXPECT_TRUE(host->noiseReduced.SameAs(picture)) << "Reset shows the original again";
    EXPECT_EQ(dlg->Mode(), 1) << "the colour space shown stays";
    EXPECT_FALSE(Get<QWidget>("hsvPanel")->isHidden());

    ApplyAndWait();
    const BMP_File expected = Expected(picture, [](SR_Image* img) {
        SR_ConvertSRB(img, 1);
        OnChannels(img, 3, [](SR_Image* i, int c) { SR_MedianFilter(i, c, 3, 3); });
    });
    const BMP_File onlyRequantised = Expected(picture, [](SR_Image* i) { SR_ConvertSRB(i, 1); });
    EXPECT_FALSE(expected.SameAs(onlyRequantised));
    EXPECT_TRUE(host->noiseReduced.SameAs(expected)) << "the HSV planes are filtered at once";
}

TEST_F(SarnelDlg, OkKeepsTheLastResult) {
    const BMP_File picture = NoisyPicture(30, 20);
    Open(picture);
    Click("percentileFilter");
    ApplyAndWait();
    const BMP_File filtered = host->noiseReduced;
    const int runs = host->runs;
    Click("ok");
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    EXPECT_TRUE(host->noiseReduced.SameAs(filtered));
    EXPECT_EQ(host->runs, runs);
}

// Each filter with values away from the defaults, against the library call the
// table gives for them.
TEST_F(SarnelDlg, EachFilterCallsTheLibraryWithTheControlsValues) {
    const BMP_File picture = NoisyPicture(32, 24, 5);
    struct Case {
        const char* button;
        std::function<void()> set;
        std::function<void(SR_Image*, int)> call;
    };
    const std::vector<Case> cases = {
        {"normal", [&] { Get<QSlider>("apertureWidth")->setValue(2); },
         [](SR_Image* i, int c) { SR_NormalFilter(i, c, 5, 3); }},
        {"geometric", [&] { Get<QSlider>("apertureHeight")->setValue(3); },
         [](SR_Image* i, int c) { SR_NormalGeomFilter(i, c, 3, 7); }},
        {"harmonic", [] {}, [](SR_Image* i, int c) { SR_NormalGarmonicFilter(i, c, 3, 3); }},
        {"contraharmonic", [&] { Get<QSlider>("order")->setValue(65); },
         [](SR_Image* i, int c) { SR_NormalContrGarmonicFilter(i, c, 3, 3, 1.5); }},
        {"percentileFilter", [&] { Get<QSlider>("percentile")->setValue(0); },
         [](SR_Image* i, int c) { SR_MinFilter(i, c, 3, 3); }},
        {"percentileFilter", [&] { Get<QSlider>("percentile")->setValue(2); },
         [](SR_Image* i, int c) { SR_MaxFilter(i, c, 3, 3); }},
        {"midpoint", [] {}, [](SR_Image* i, int c) { SR_MidPointFilter(i, c, 3, 3); }},
        {"trimmedMean", [&] { Get<QSlider>("truncation")->setValue(4); },
         [](SR_Image* i, int c) { SR_TrimmedMeanFilter(i, c, 3, 3, 4); }},
        {"adaptiveLocal", [&] { Get<QSlider>("noiseDispersion")->setValue(3); },
         [](SR_Image* i, int c) { SR_AdaptiveLocalFilter(i, c, 3, 3, 300.0); }},
        {"adaptiveMedian",
         [&] {
             Get<QSlider>("minAperture")->setValue(3);
             Get<QSlider>("maxAperture")->setValue(4);
         },
         [](SR_Image* i, int c) { SR_AdaptiveMedianFilter(i, c, 5, 9); }},
        {"butterworth",
         [&] {
             Get<QSlider>("rejectOrder")->setValue(2);
             Type("rejectD0", "12");
             Type("rejectW", "6");
         },
         [](SR_Image* i, int c) { SR_ButterworthFilter(i, c, 12.0, 6.0, 2); }},
        {"gauss",
         [&] {
             Type("rejectD0", "9");
             Type("rejectW", "4");
         },
         [](SR_Image* i, int c) { SR_GaussFilter(i, c, 9.0, 4.0); }},
        {"notchButterworth",
         [&] {
             Get<QSlider>("notchOrder")->setValue(3);
             Type("notchD0", "5");
             Type("notchU0", "4");
             Type("notchV0", "-3");
         },
         [](SR_Image* i, int c) { SR_NbGaussFilter(i, c, 5.0, 4.0, -3.0, 3); }},
        {"wienerTurbulence",
         [&] {
             Type("deblur", "0.0010");
             Type("turbulenceNoise", "0.0500");
         },
         [](SR_Image* i, int c) { SR_WienerFilterTurb(i, c, 0.001, 0.05); }},
        {"wienerMotion",
         [&] {
             Type("moveX", "0.0500");
             Type("moveYScaled", "2000"); // through the integer edit: 0.2
             Type("motionNoise", "0.0200");
         },
         [](SR_Image* i, int c) { SR_WienerFilterMoving(i, c, 1.0, 0.05, 0.2, 0.02); }},
    };
    for (const Case& c : cases) {
        Open(picture);
        Click(c.button);
        c.set();
        ApplyAndWait();
        const BMP_File expected =
            Expected(picture, [&](SR_Image* img) { OnChannels(img, 0, c.call); });
        EXPECT_TRUE(host->noiseReduced.SameAs(expected)) << c.button;
        EXPECT_FALSE(host->noiseReduced.SameAs(picture)) << c.button << " changed nothing";
    }
}

TEST_F(SarnelDlg, TypedValuesOutsideTheSpinRangesAreUsedAsTyped) {
    Open(NoisyPicture(40, 40));
    Click("butterworth");
    Type("rejectD0", "5000");
    EXPECT_EQ(dlg->Params().rejectD0, 5000);
    Type("rejectW", "12abc");
    EXPECT_EQ(dlg->Params().rejectW, 12);
    Click("notchGauss");
    Type("notchD0", "x");
    EXPECT_EQ(dlg->Params().notchD0, 0);
    Type("notchV0", "-99");
    EXPECT_EQ(dlg->Params().notchV0, -99);
    // The spin button brings an outside value into its range before stepping.
    Click("gauss");
    Click("rejectD0Down");
    EXPECT_EQ(Get<QLineEdit>("rejectD0")->text(), "2999");
    Type("rejectW", "-4");
    Click("rejectWUp");
    EXPECT_EQ(Get<QLineEdit>("rejectW")->text(), "2");
}

TEST_F(SarnelDlg, WienerEditsFollowEachOther) {
    Open(NoisyPicture(20, 20));
    Click("wienerTurbulence");
    Type("deblurScaled", "1234");
    EXPECT_EQ(Get<QLineEdit>("deblur")->text(), "0.1234");
    // The spin button moves the value wherever the keyboard focus is.
    Get<QLineEdit>("turbulenceNoise")->setFocus();
    Click("deblurScaledUp");
    EXPECT_EQ(Get<QLineEdit>("deblurScaled")->text(), "1235");
    EXPECT_EQ(Get<QLineEdit>("deblur")->text(), "0.1235");
    Type("deblur", "0.00251");
    EXPECT_EQ(Get<QLineEdit>("deblurScaled")->text(), "26") << "rounded up";
    EXPECT_EQ(Get<QLineEdit>("deblur")->text(), "0.00251") << "the typed text stays";
    EXPECT_DOUBLE_EQ(dlg->Params().turbulenceK, 0.00251);
    Type("deblur", "0.0007");
    EXPECT_EQ(Get<QLineEdit>("deblurScaled")->text(), "7");
    Click("wienerMotion");
    Type("moveY", "abc");
    EXPECT_EQ(Get<QLineEdit>("moveYScaled")->text(), "0");
    EXPECT_EQ(dlg->Params().motionB, 0.0);
    // The other values are untouched.
    EXPECT_EQ(Get<QLineEdit>("moveX")->text(), "0.1000");
    EXPECT_EQ(Get<QLineEdit>("motionNoiseScaled")->text(), "100");
}

// ---------------------------------------------------------------------------
// The worker behind Apply. Holding the library's lock in the test keeps the
// worker inside its current operation for as long as the test wants.

TEST_F(SarnelDlg, ApplyReturnsAtOnceAndShowsThatItIsBusy) {
    Open(NoisyPicture(24, 24));
    std::unique_lock<std::mutex> library(CSarnelWorker::LibraryLock());
    Click("apply");
    EXPECT_TRUE(dlg->Busy()) << "Apply returned before the filter ran";
    EXPECT_FALSE(Get<QProgressBar>("busy")->isHidden());
    EXPECT_EQ(dlg->cursor().shape(), Qt::BusyCursor);
    // The window goes on handling events meanwhile.
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(5);
    QTest::qWait(100);
    EXPECT_GT(ticks, 3);
    EXPECT_EQ(host->runs, 0);
    library.unlock();
    ASSERT_TRUE(WaitFor([&] { return !dlg->Busy(); }));
    EXPECT_TRUE(Get<QProgressBar>("busy")->isHidden());
    EXPECT_NE(dlg->cursor().shape(), Qt::BusyCursor);
    EXPECT_EQ(host->runs, 1);
}

TEST_F(SarnelDlg, CancelWhileFilteringWaitsAndDropsWhatIsQueued) {
    const BMP_File picture = NoisyPicture(28, 20);
    Open(picture);
    const BMP_File opening = host->noiseReduced;
    Click("percentileFilter");
    std::unique_lock<std::mutex> library(CSarnelWorker::LibraryLock());
    Click("apply");
    Click("apply");
    // The first filter has started (and waits for the library); the second waits.
    ASSERT_TRUE(WaitFor([&] { return dlg->Worker().Pending() == 1; }));
    Click("hsv");
    Click("cancel");
    EXPECT_TRUE(dlg->isVisible()) << "the running filter still works on the handle";
    EXPECT_FALSE(Get<QPushButton>("apply")->isEnabled());
    EXPECT_FALSE(Get<QPushButton>("ok")->isEnabled());
    Click("cancel"); // a second press changes nothing
    QTest::qWait(50);
    EXPECT_TRUE(dlg->isVisible());
    library.unlock();
    ASSERT_TRUE(WaitFor([&] { return !dlg->isVisible(); }));
    EXPECT_EQ(dlg->result(), QDialog::Rejected);
    EXPECT_TRUE(host->noiseReduced.SameAs(opening));
    EXPECT_FALSE(dlg->Busy());
    QTest::qWait(50);
    EXPECT_TRUE(host->noiseReduced.SameAs(opening)) << "no result arrives after Cancel";
}

TEST_F(SarnelDlg, OkWhileFilteringKeepsEveryApplyPressed) {
    const BMP_File picture = NoisyPicture(28, 20);
    Open(picture);
    Click("percentileFilter");
    std::unique_lock<std::mutex> library(CSarnelWorker::LibraryLock());
    Click("apply");
    Click("apply");
    Click("ok");
    EXPECT_TRUE(dlg->isVisible());
    library.unlock();
    ASSERT_TRUE(WaitFor([&] { return !dlg->isVisible(); }));
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    const BMP_File expected = Expected(picture, [](SR_Image* img) {
        for (int t = 0; t < 2; ++t)
            OnChannels(img, 0, [](SR_Image* i, int c) { SR_MedianFilter(i, c, 3, 3); });
    });
    EXPECT_TRUE(host->noiseReduced.SameAs(expected));
}

TEST_F(SarnelDlg, ClosingTheWindowWhileFilteringWaitsLikeCancel) {
    Open(NoisyPicture(28, 20));
    const BMP_File opening = host->noiseReduced;
    std::unique_lock<std::mutex> library(CSarnelWorker::LibraryLock());
    Click("apply");
    ASSERT_TRUE(WaitFor([&] { return dlg->Worker().Pending() == 0; }));
    dlg->close();
    EXPECT_TRUE(dlg->isVisible());
    QTest::keyClick(dlg.get(), Qt::Key_Escape);
    EXPECT_TRUE(dlg->isVisible());
    library.unlock();
    ASSERT_TRUE(WaitFor([&] { return !dlg->isVisible(); }));
    EXPECT_TRUE(host->noiseReduced.SameAs(opening));
}

TEST_F(SarnelDlg, DestroyedWhileFilteringLeavesNothingRunning) {
    Open(NoisyPicture(300, 200));
    const BMP_File opening = host->noiseReduced;
    Click("percentileFilter");
    Get<QSlider>("apertureWidth")->setValue(10);
    Get<QSlider>("apertureHeight")->setValue(10);
    for (int i = 0; i < 3; ++i) Click("apply");
    dlg.reset();
    // The worker is gone: nobody holds the library any more.
    EXPECT_TRUE(CSarnelWorker::LibraryLock().try_lock());
    CSarnelWorker::LibraryLock().unlock();
    QTest::qWait(50);
    EXPECT_TRUE(host->noiseReduced.SameAs(opening));
    EXPECT_EQ(host->runs, 0);
}

TEST_F(SarnelDlg, WithoutAPictureNothingIsFiltered) {
    Open(BMP_File());
    EXPECT_FALSE(Get<QPushButton>("apply")->isEnabled());
    EXPECT_FALSE(Get<QPushButton>("reset")->isEnabled());
    EXPECT_EQ(Get<QLineEdit>("notchU0")->text(), "0");
    Click("hsv");
    ASSERT_TRUE(WaitFor([&] { return !dlg->Busy(); }));
    Click("cancel");
    EXPECT_TRUE(host->noiseReduced.Empty());
    EXPECT_EQ(host->runs, 0);
}
