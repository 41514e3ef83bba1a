// The main window with a video or animated GIF as its source: opening, the
// frame slider, writing every frame with Stop!, the codec chooser. AVI files
// are made by the ffmpeg program, GIF files by our own libzembra.

#include "app/ui/pellorin_dlg.h"
#include "tests/app_ui/ui_test_util.h"
#include "tests/main_window/window_fixture.h"
#include "video/avi_video_file.h"
#include "video/frame_source.h"
#include "video/gif_animation.h"
#include "video/ui/choose_codec_dlg.h"
#include "video/ui/video_bar.h"
#include "zembra/zembra.h"

#include <QApplication>
#include <QCheckBox>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTest>

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using window_test::App;

const CColor24 kFrameColors[] = {{255, 0, 0},   {0, 255, 0},   {0, 0, 255},     {255, 255, 0},
                                 {0, 255, 255}, {255, 0, 255}, {255, 255, 255}, {128, 128, 128},
                                 {255, 128, 0}, {0, 128, 255}};

BMP_File Flat(int w, int h, CColor24 c) {
    BMP_File img;
    img.Create(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) img.Pixel(x, y) = c;
    return img;
}

bool Near(CColor24 a, CColor24 b, int tolerance = 12) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

// Solid frames of the first `count` colours, each covering the whole canvas.
void WriteGif(const std::string& path, int count, int w, int h, int delay = 10) {
    Reset();
    SetFrameCount(count);
    for (int i = 0; i < count; ++i) {
        ZBitmap* b = ZCreateBitmap(w, h, 8);
        ASSERT_NE(b, nullptr);
        const CColor24 c = kFrameColors[i % 10];
        b->palette.rgbx[1][0] = c.r;
        b->palette.rgbx[1][1] = c.g;
        b->palette.rgbx[1][2] = c.b;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) b->bits[size_t(y) * size_t(b->stride) + size_t(x)] = 1;
        SetFrameBitmap(i, b);
        SetFrameTimeDelay(i, delay + i);
    }
    ASSERT_EQ(Save(path.c_str()), ZEMBRA_TRUE);
}

class VideoWindow : public window_test::WindowTest {
protected:
    // A `count`-frame AVI of solid colours at 25 frames per second, made by ffmpeg.
    void MakeAvi(const std::string& name, int count, int w, int h,
                 const std::string& codec = "ffv1") {
        for (int i = 0; i < count; ++i) {
            char frame[32];
            std::snprintf(frame, sizeof frame, "f%02d.bmp", i);
            ASSERT_TRUE(Flat(w, h, kFrameColors[i % 10]).SaveBMP(Path(frame)));
        }
        const std::string cmd = "ffmpeg -nostdin -loglevel error -y -framerate 25 -i '" +
                                Path("f%02d.bmp") + "' -c:v " + codec + " '" + Path(name) + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
        for (int i = 0; i < count; ++i) {
            char frame[32];
            std::snprintf(frame, sizeof frame, "f%02d.bmp", i);
            fs::remove(Path(frame));
        }
    }

    QSlider* Slider() const { return dlg->VideoBar()->Slider(); }
};

// Answers the next message boxes in turn, recording their texts.
void AnswerMessages(std::shared_ptr<std::vector<QString>> texts, int count) {
    if (count <= 0) return;
    WithNextModal<QMessageBox>([texts, count](QMessageBox* box) {
        texts->push_back(box->text());
        box->accept();
        AnswerMessages(texts, count - 1);
    });
}

} // namespace

TEST_F(VideoWindow, AnimatedGifOpensWithTheSliderThatShowsEachFrame) {
    WriteGif(Path("anim.gif"), 3, 20, 10);
    ASSERT_TRUE(dlg->LoadFile(QPath("anim.gif")));
    ASSERT_TRUE(dlg->AnimationLoaded());
    EXPECT_TRUE(dlg->Animation()->IsGif());
    EXPECT_TRUE(Slider()->isVisible());
    EXPECT_EQ(Slider()->minimum(), 0);
    EXPECT_EQ(Slider()->maximum(), 2);
    EXPECT_EQ(Slider()->value(), 0);
    EXPECT_FALSE(dlg->VideoBar()->StopButton()->isVisible()) << "only while writing";
    EXPECT_EQ(dlg->Images().original.Width(), 20);
    EXPECT_EQ(dlg->Images().original.Pixel(5, 5), kFrameColors[0]);

    const int runs = dlg->PipelineRuns();
    Slider()->setValue(2);
    EXPECT_EQ(dlg->CurrentFrame(), 2);
    EXPECT_EQ(dlg->Images().original.Pixel(5, 5), kFrameColors[2]);
    EXPECT_GT(dlg->PipelineRuns(), runs) << "the shown frame is previewed";

    // A still picture ends the animation.
    ASSERT_TRUE(Flat(8, 8, kFrameColors[4]).SaveBMP(Path("still.bmp")));
    ASSERT_TRUE(dlg->LoadFile(QPath("still.bmp")));
    EXPECT_FALSE(dlg->AnimationLoaded());
    EXPECT_FALSE(Slider()->isVisible());
}

TEST_F(VideoWindow, SingleFrameGifIsAPlainPicture) {
    WriteGif(Path("one.gif"), 1, 12, 7);
    ASSERT_TRUE(dlg->LoadFile(QPath("one.gif")));
    EXPECT_FALSE(dlg->AnimationLoaded());
    EXPECT_FALSE(Slider()->isVisible());
    EXPECT_EQ(dlg->Images().original.Width(), 12);
    EXPECT_EQ(dlg->Images().original.Pixel(3, 3), kFrameColors[0]);
}

TEST_F(VideoWindow, WithoutTheGifLibraryAnAnimationOpensAsItsFirstPicture) {
    WriteGif(Path("anim.gif"), 3, 16, 8);
    fs::create_directories(dir / "nolib");
    SetZembraFolderForTesting((dir / "nolib").string());
    auto texts = std::make_shared<std::vector<QString>>();
    AnswerMessages(texts, 1);
    const bool loaded = dlg->LoadFile(QPath("anim.gif"));
    SetZembraFolderForTesting("");
    ASSERT_TRUE(loaded);
    ASSERT_EQ(texts->size(), 1u);
    EXPECT_TRUE(texts->at(0).contains("libzembra.so")) << texts->at(0).toStdString();
    EXPECT_FALSE(dlg->AnimationLoaded());
    EXPECT_EQ(dlg->Images().original.Width(), 16);
    EXPECT_EQ(dlg->Images().original.Pixel(2, 2), kFrameColors[0]);
}

TEST_F(VideoWindow, AviOpensAndTheSliderFetchesFrames) {
    MakeAvi("in.avi", 6, 32, 16);
    ASSERT_TRUE(dlg->LoadFile(QPath("in.avi")));
    ASSERT_TRUE(dlg->AnimationLoaded());
    EXPECT_FALSE(dlg->Animation()->IsGif());
    EXPECT_EQ(Slider()->maximum(), 5);
    EXPECT_TRUE(Near(dlg->Images().original.Pixel(4, 4), kFrameColors[0]));
    Slider()->setValue(4);
    EXPECT_EQ(dlg->CurrentFrame(), 4);
    EXPECT_TRUE(Near(dlg->Images().original.Pixel(4, 4), kFrameColors[4]));
    Slider()->setValue(1);
    EXPECT_TRUE(Near(dlg->Images().original.Pixel(4, 4), kFrameColors[1]));
    EXPECT_TRUE(dlg->windowTitle().endsWith("in.avi"));
}

TEST_F(VideoWindow, StopAfterFrameThreeOfTenKeepsAValidFourFrameVideo) {
    MakeAvi("in.avi", 10, 30, 16);
    ASSERT_TRUE(dlg->LoadFile(QPath("in.avi")));
    std::atomic<bool> stopShown{false}, stopRed{false};
    dlg->videoFrameHook = [&](int i) {
        if (i != 3) return;
        QPushButton* stop = dlg->VideoBar()->StopButton();
        QMetaObject::invokeMethod(
            stop,
            [&, stop] {
                stopShown = stop->isVisible();
                stopRed = stop->palette().color(QPalette::ButtonText) == QColor(0xF2, 0x1E, 0x1E);
                stop->click();
            },
            Qt::QueuedConnection);
        for (int k = 0; k < 1000 && !dlg->VideoStopRequested(); ++k)
            std::this_thread::sleep_for(5ms);
    };
    auto texts = std::make_shared<std::vector<QString>>();
    QString title;
    WithNextModal<CChooseCodecDlg>([&, texts](CChooseCodecDlg* codec) {
        title = codec->windowTitle();
        AnswerMessages(texts, 2);
        codec->accept(); // Motion JPEG, the first entry
    });
    EXPECT_TRUE(dlg->SaveAs(QPath("out.avi"), 7));
    EXPECT_EQ(title, "Choose codec");
    EXPECT_TRUE(stopShown);
    EXPECT_TRUE(stopRed);
    ASSERT_EQ(texts->size(), 2u);
    EXPECT_EQ(texts->at(0), "Video processing has been stopped by user");
    EXPECT_EQ(texts->at(1), "Video saving is completed");
    EXPECT_FALSE(dlg->VideoBar()->StopButton()->isVisible());
    EXPECT_FALSE(dlg->VideoWriting());

    std::string message;
    auto written = OpenAviSource(Path("out.avi"), &message);
    ASSERT_TRUE(written) << message;
    EXPECT_EQ(written->FrameCount(), 4);
    BMP_File last;
    ASSERT_TRUE(written->LoadFrame(3, last));
    EXPECT_EQ(last.Width(), 32) << "30 pixels rounded up to a multiple of 4";
    EXPECT_TRUE(Near(last.Pixel(8, 8), kFrameColors[3], 24));
    // The window is usable again.
    EXPECT_TRUE(Slider()->isEnabled());
    Slider()->setValue(2);
    EXPECT_EQ(dlg->CurrentFrame(), 2);
}

TEST_F(VideoWindow, CancelInTheCodecChooserWritesNothing) {
    MakeAvi("in.avi", 3, 16, 16);
    ASSERT_TRUE(dlg->LoadFile(QPath("in.avi")));
    auto texts = std::make_shared<std::vector<QString>>();
    int encoders = 0;
    bool motionJpegListed = false;
    WithNextModal<CChooseCodecDlg>([&, texts](CChooseCodecDlg* codec) {
        encoders = codec->EncoderList()->count();
        for (int i = 0; i < encoders; ++i)
            if (codec->EncoderList()->item(i)->text().contains("mjpeg")) motionJpegListed = true;
        AnswerMessages(texts, 2);
        codec->reject();
    });
    EXPECT_FALSE(dlg->SaveAs(QPath("out.avi"), 7));
    EXPECT_GE(encoders, 1);
    EXPECT_TRUE(motionJpegListed);
    ASSERT_EQ(texts->size(), 2u);
    EXPECT_EQ(texts->at(0), "The video file is not written. Please, select other codec.");
    EXPECT_EQ(texts->at(1), "Video saving is completed with errors");
    EXPECT_FALSE(fs::exists(Path("out.avi")));
}

TEST_F(VideoWindow, TheActiveFileCannotBeItsOwnOutput) {
    MakeAvi("in.avi", 3, 16, 16);
    const std::string before = [&] {
        std::ifstream in(Path("in.avi"), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }();
    ASSERT_TRUE(dlg->LoadFile(QPath("in.avi")));
    auto texts = std::make_shared<std::vector<QString>>();
    AnswerMessages(texts, 1);
    EXPECT_FALSE(dlg->SaveAs(QPath("in.avi"), 7));
    ASSERT_EQ(texts->size(), 1u);
    EXPECT_EQ(texts->at(0), "You cannot rewrite an active file");
    std::ifstream in(Path("in.avi"), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), before);
}

TEST_F(VideoWindow, AnimatedGifSavedAsGifKeepsEveryFramesDelay) {
    WriteGif(Path("anim.gif"), 3, 20, 10, 7); // delays 7, 8, 9
    ASSERT_TRUE(dlg->LoadFile(QPath("anim.gif")));
    auto texts = std::make_shared<std::vector<QString>>();
    AnswerMessages(texts, 1);
    EXPECT_TRUE(dlg->SaveAs(QPath("out.gif"), 3));
    ASSERT_EQ(texts->size(), 1u);
    EXPECT_EQ(texts->at(0), "Video saving is completed");

    int error = 0;
    GifFileType* gif = DGifOpenFileName(Path("out.gif").c_str(), &error);
    ASSERT_TRUE(gif);
    ASSERT_EQ(DGifSlurp(gif), GIF_OK);
    ASSERT_EQ(gif->ImageCount, 3);
    for (int i = 0; i < 3; ++i) {
        GraphicsControlBlock gcb{};
        DGifSavedExtensionToGCB(gif, i, &gcb);
        EXPECT_EQ(gcb.DelayTime, 7 + i);
    }
    EXPECT_EQ(gif->SWidth, 20);
    DGifCloseFile(gif, &error);
}

TEST_F(VideoWindow, VideoAtTwentyFiveFramesASecondSavedAsGifPlaysAtItsSpeed) {
    MakeAvi("in.avi", 5, 24, 12);
    ASSERT_TRUE(dlg->LoadFile(QPath("in.avi")));
    EXPECT_EQ(dlg->Animation()->FramesPerSecond(), 25);
    auto texts = std::make_shared<std::vector<QString>>();
    AnswerMessages(texts, 1);
    EXPECT_TRUE(dlg->SaveAs(QPath("out.gif"), 3));
    ASSERT_EQ(texts->size(), 1u);
    EXPECT_EQ(texts->at(0), "Video saving is completed");

    int error = 0;
    GifFileType* gif = DGifOpenFileName(Path("out.gif").c_str(), &error);
    ASSERT_TRUE(gif);
    ASSERT_EQ(DGifSlurp(gif), GIF_OK);
    ASSERT_EQ(gif->ImageCount, 5);
    for (int i = 0; i < 5; ++i) {
        GraphicsControlBlock gcb{};
        DGifSavedExtensionToGCB(gif, i, &gcb);
        EXPECT_EQ(gcb.DelayTime, 4) << "page " << i;
        EXPECT_EQ(gcb.DisposalMode, DISPOSE_BACKGROUND);
    }
    EXPECT_EQ(gif->SWidth, 24) << "the frames' own screen";
    EXPECT_EQ(gif->SHeight, 12);
    DGifCloseFile(gif, &error);
}

TEST_F(VideoWindow, CodecChooserOffersOnlyWhatTheEncoderTakes) {
    AviCodecOptions initial;
    initial.encoder = "mpeg4";
    initial.quality = 60;
    CChooseCodecDlg codec(initial, dlg.get());
    QListWidget* list = codec.EncoderList();
    int mjpeg = -1, mpeg4 = -1;
    for (int i = 0; i < list->count(); ++i) {
        const QString name = list->item(i)->data(Qt::UserRole).toString();
        if (name == "mjpeg") mjpeg = i;
        if (name == "mpeg4") mpeg4 = i;
    }
    ASSERT_GE(mjpeg, 0);
    ASSERT_GE(mpeg4, 0) << "MPEG-4 part 2 is on every Debian FFmpeg";
    EXPECT_EQ(list->currentRow(), mpeg4) << "starts at the encoder chosen last";
    EXPECT_EQ(codec.Quality()->value(), 60);

    // MPEG-4 part 2 predicts between frames: key frames and data rate apply.
    ASSERT_TRUE(codec.KeyFrames()->isEnabled());
    codec.KeyFrames()->setChecked(true);
    codec.KeyFrameInterval()->setValue(12);
    ASSERT_TRUE(codec.DataRate()->isEnabled());
    codec.DataRate()->setChecked(true);
    codec.KilobytesPerSecond()->setValue(400);
    AviCodecOptions o = codec.Options();
    EXPECT_EQ(o.encoder, "mpeg4");
    EXPECT_EQ(o.keyFrameInterval, 12);
    EXPECT_EQ(o.kilobytesPerSecond, 400);

    // Motion JPEG has only key frames: the interval is not passed on.
    list->setCurrentRow(mjpeg);
    EXPECT_FALSE(codec.KeyFrames()->isEnabled());
    o = codec.Options();
    EXPECT_EQ(o.encoder, "mjpeg");
    EXPECT_EQ(o.keyFrameInterval, 0);
    EXPECT_EQ(o.quality, 60);
}

TEST_F(VideoWindow, AFileThatIsNoVideoIsRefusedAndTheLoadedOneStays) {
    WriteGif(Path("anim.gif"), 2, 10, 10);
    ASSERT_TRUE(dlg->LoadFile(QPath("anim.gif")));
    std::ofstream(Path("bad.avi"), std::ios::binary) << "RIFF, but nothing of a video";
    auto texts = std::make_shared<std::vector<QString>>();
    AnswerMessages(texts, 2);
    EXPECT_FALSE(dlg->LoadFile(QPath("bad.avi")));
    ASSERT_EQ(texts->size(), 2u);
    const QString first = texts->at(0).section('\n', 0, 0);
    EXPECT_TRUE(first == kAviOpenError || first == kAviNoStream || first == kAviFormatError ||
                first == kAviNoDecoder)
        << first.toStdString();
    EXPECT_EQ(texts->at(1), "Unknown File Format!");
    EXPECT_TRUE(dlg->AnimationLoaded());
    EXPECT_TRUE(dlg->Animation()->IsGif());
    EXPECT_TRUE(dlg->CurrentFile().endsWith("anim.gif"));
}
