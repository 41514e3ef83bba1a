// Animated GIF frames: read through libzembra (bound at run time), composed
// into whole-canvas pictures, and written through FreeImagePlus.

#include "video/gif_animation.h"

#include "app/file_util.h"
#include "app/image_files.h"
#include "app/safe_save.h"
#include "video/frame_source.h"
#include "zembra/zembra.h"

#include <FreeImagePlus.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <new>
#include <vector>

#include <dlfcn.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------------------
// Binding of libzembra

constexpr const char* kZembraFile = "libzembra.so";
constexpr uint32_t kNoColor = ZEMBRA_NO_COLOR;

struct ZembraApi {
    void* handle = nullptr;
    void (*Reset)() = nullptr;
    int32_t (*Load)(const char*) = nullptr;
    int32_t (*Save)(const char*) = nullptr;
    void (*SetFrameTimeDelay)(int32_t, int32_t) = nullptr;
    int32_t (*GetFrameTimeDelay)(int32_t) = nullptr;
    ZBitmap* (*GetFrameBitmap)(int32_t) = nullptr;
    int32_t (*GetFrameData)(int32_t, int32_t*, int32_t*, uint8_t**, int32_t*) = nullptr;
    int32_t (*GetFrameCount)() = nullptr;
    void (*SetFrameCount)(int32_t) = nullptr;
    void (*SetFrameBitmap)(int32_t, ZBitmap*) = nullptr;
    void (*GetOrigin)(int32_t, int32_t*, int32_t*) = nullptr;
    void (*SetOrigin)(int32_t, int32_t, int32_t) = nullptr;
    uint32_t (*GetFrameTransparentColor)(int32_t) = nullptr;
    void (*SetFrameTransparentColor)(int32_t, uint32_t) = nullptr;
    int32_t (*GetFrameDisposalMethod)(int32_t) = nullptr;
    void (*SetFrameDisposalMethod)(int32_t, int32_t) = nullptr;
    // Bound for the batch-saving interface of older builds of the library;
    // the library exports none of them and nothing here calls them.
    void* StartSaving = nullptr;
    void* SaveBitmaps = nullptr;
    void* FinishSaving = nullptr;
};

// The library keeps one animation for the whole process: every call into it,
// and the binding itself, happens under this lock.
std::mutex g_zembraLock;
ZembraApi g_zembra;
bool g_bindTried = false;
std::string g_bindMessage; // why binding failed; empty once bound
std::string g_testFolder;

template <class F> void Bind(void* handle, const char* name, F& slot) {
    slot = reinterpret_cast<F>(dlsym(handle, name));
}

std::string ProgramFolder() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.parent_path().string();
}

// Called with g_zembraLock held.
void BindZembraLocked() {
    if (g_bindTried) return;
    g_bindTried = true;
    g_bindMessage.clear();

    std::vector<std::string> candidates;
    if (!g_testFolder.empty()) {
        candidates.push_back((fs::path(g_testFolder) / kZembraFile).string());
    } else {
        const std::string beside = ProgramFolder();
        if (!beside.empty()) {
            const fs::path p = fs::path(beside) / kZembraFile;
            std::error_code ec;
            if (fs::exists(p, ec)) candidates.push_back(p.string());
        }
        candidates.push_back(kZembraFile); // the library path and the program's run path
    }
    void* handle = nullptr;
    std::string lastError;
    for (const std::string& c : candidates) {
        handle = dlopen(c.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle) break;
        const char* e = dlerror();
        lastError = e ? e : "unknown error";
    }
    if (!handle) {
        g_bindMessage = "The animated GIF library " + std::string(kZembraFile) +
                        " cannot be loaded (" + lastError +
                        "). Animated GIF files open as still pictures.";
        return;
    }

    ZembraApi api;
    api.handle = handle;
    Bind(handle, "Reset", api.Reset);
    Bind(handle, "Load", api.Load);
    Bind(handle, "Save", api.Save);
    Bind(handle, "SetFrameTimeDelay", api.SetFrameTimeDelay);
    Bind(handle, "GetFrameTimeDelay", api.GetFrameTimeDelay);
    Bind(handle, "GetFrameBitmap", api.GetFrameBitmap);
    Bind(handle, "GetFrameData", api.GetFrameData);
    Bind(handle, "GetFrameCount", api.GetFrameCount);
    Bind(handle, "SetFrameCount", api.SetFrameCount);
    Bind(handle, "SetFrameBitmap", api.SetFrameBitmap);
    Bind(handle, "GetOrigin", api.GetOrigin);
    Bind(handle, "SetOrigin", api.SetOrigin);
    Bind(handle, "GetFrameTransparentColor", api.GetFrameTransparentColor);
    Bind(handle, "SetFrameTransparentColor", api.SetFrameTransparentColor);
    Bind(handle, "GetFrameDisposalMethod", api.GetFrameDisposalMethod);
    Bind(handle, "SetFrameDisposalMethod", api.SetFrameDisposalMethod);
    Bind(handle, "StartSaving", api.StartSaving);
    Bind(handle, "SaveBitmaps", api.SaveBitmaps);
    Bind(handle, "FinishSaving", api.FinishSaving);
    Bind(handle, "SetFrameDisposalMethod", api.SetFrameDisposalMethod);
    Bind(handle, "SetOrigin", api.SetOrigin);
    dlerror(); // the three missing names leave an error behind; it means nothing

    // The reader calls these; without any one of them no animation can be read.
    const std::pair<const char*, const void*> needed[] = {
        {"Load", reinterpret_cast<const void*>(api.Load)},
        {"GetFrameCount", reinterpret_cast<const void*>(api.GetFrameCount)},
        {"GetFrameData", reinterpret_cast<const void*>(api.GetFrameData)},
        {"GetFrameBitmap", reinterpret_cast<const void*>(api.GetFrameBitmap)},
        {"GetOrigin", reinterpret_cast<const void*>(api.GetOrigin)},
        {"GetFrameTransparentColor", reinterpret_cast<const void*>(api.GetFrameTransparentColor)},
        {"GetFrameDisposalMethod", reinterpret_cast<const void*>(api.GetFrameDisposalMethod)},
        {"GetFrameTimeDelay", reinterpret_cast<const void*>(api.GetFrameTimeDelay)},
    };
    for (const auto& [name, fn] : needed) {
        if (fn) continue;
        g_bindMessage = "The animated GIF library " + std::string(kZembraFile) +
                        " has no entry point \"" + name +
                        "\". Animated GIF files open as still pictures.";
        dlclose(handle);
        return;
    }
    g_zembra = api;
}

// ---------------------------------------------------------------------------
// Frames as read from the library, and their composition

struct GifFrame {
    int left = 0, top = 0; // origin on the canvas
    int dataWidth = 0;     // size GetFrameData reports (0 x 0 when it fails)
    int dataHeight = 0;
    int width = 0, height = 0; // size of the bitmap that is drawn
    uint32_t transparent = kNoColor;
    bool restoreToBackground = false;
    int delay = 0; // hundredths of a second
    // Palette frames keep their indexes (one byte a pixel) and the palette;
    // direct-colour frames keep their colours. Rows top first.
    std::vector<uint8_t> indexes;
    CColor24 palette[256];
    std::vector<CColor24> colors;
};

// Copies a frame bitmap out of the library, refusing anything inconsistent.
bool CopyBitmap(const ZBitmap* b, GifFrame& f) {
    if (!b || b->width <= 0 || b->height <= 0) return false;
    const int bpp = b->bitsPerPixel;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32) return false;
    const int64_t row = (int64_t(b->width) * bpp + 31) / 32 * 4;
    if (!b->bits || b->stride < row) return false;
    if (!BMP_File::SizeAllowed(b->width, b->height)) return false;
    f.width = b->width;
    f.height = b->height;
    const size_t n = size_t(f.width) * size_t(f.height);
    if (bpp <= 8) {
        for (int i = 0; i < 256; ++i)
            f.palette[i] =
                CColor24(b->palette.rgbx[i][0], b->palette.rgbx[i][1], b->palette.rgbx[i][2]);
        f.indexes.resize(n);
    } else {
        f.colors.resize(n);
    }
    for (int y = 0; y < f.height; ++y) {
        // Library rows are bottom first.
        const uint8_t* src = b->bits + size_t(f.height - 1 - y) * size_t(b->stride);
        const size_t at = size_t(y) * size_t(f.width);
        for (int x = 0; x < f.width; ++x) {
            switch (bpp) {
            case 1:
                f.indexes[at + size_t(x)] = (src[x >> 3] >> (7 - (x & 7))) & 1;
                break;
            case 4:
                f.indexes[at + size_t(x)] = (x & 1) ? src[x >> 1] & 15 : src[x >> 1] >> 4;
                break;
            case 8:
                f.indexes[at + size_t(x)] = src[x];
                break;
            default: {
                const uint8_t* p = src + size_t(x) * size_t(bpp / 8); // blue, green, red
                f.colors[at + size_t(x)] = CColor24(p[2], p[1], p[0]);
            }
            }
        }
    }
    return true;
}

class GifSource : public FrameSource {
public:
    GifSource(std::vector<GifFrame> frames, int width, int height)
        : frames_(std::move(frames)), width_(width), height_(height) {}

    bool IsGif() const override { return true; }
    int FrameCount() const override { return int(frames_.size()); }
    int FramesPerSecond() const override { return 15; }
    int FrameDelay(int i) const override {
        return i >= 0 && i < FrameCount() ? frames_[size_t(i)].delay : 0;
    }

    // The picture a viewer shows at frame i: a black canvas with either frames
    // 0 .. i drawn in order or, when frame i or the one before it is restored
    // to the background, frame i alone.
    bool LoadFrame(int i, BMP_File& out) override {
        if (i < 0 || i >= FrameCount()) return false;
        try {
            const bool all = !frames_[size_t(i)].restoreToBackground &&
                             (i == 0 || !frames_[size_t(i - 1)].restoreToBackground);
            if (!all) {
                BMP_File canvas;
                if (!canvas.Create(width_, height_)) return false;
                Draw(frames_[size_t(i)], canvas);
                out = std::move(canvas);
                return true;
            }
            // Frames 0 .. i drawn in order is frames 0 .. i-1 drawn in order with
            // frame i on top: a pass through the frames keeps that canvas and
            // adds one frame a step instead of drawing i + 1 frames each time.
            if (drawnUpTo_ < 0 || drawnUpTo_ > i || drawn_.Empty()) {
                if (!drawn_.Create(width_, height_)) return false;
                drawnUpTo_ = -1;
            }
            for (int k = drawnUpTo_ + 1; k <= i; ++k) {
                Draw(frames_[size_t(k)], drawn_);
                drawnUpTo_ = k;
            }
            out = drawn_;
            return true;
        } catch (const std::bad_alloc&) {
            drawn_.Clear();
            drawnUpTo_ = -1;
            return false;
        }
    }

private:
    // Places the frame at its origin at its own size; with a transparent
    // colour, pixels of exactly that colour are left out.
    static void Draw(const GifFrame& f, BMP_File& canvas) {
        const bool keyed = f.transparent != kNoColor;
        const CColor24 key = CColor24::FromPacked(f.transparent);
        bool clear[256] = {};
        if (keyed && !f.indexes.empty())
            for (int c = 0; c < 256; ++c) clear[c] = f.palette[c] == key;
        const int x0 = std::max(0, -f.left), y0 = std::max(0, -f.top);
        const int x1 = std::min(f.width, canvas.Width() - f.left);
        const int y1 = std::min(f.height, canvas.Height() - f.top);
        for (int y = y0; y < y1; ++y) {
            CColor24* dst = canvas.Row(y + f.top) + f.left;
            const size_t at = size_t(y) * size_t(f.width);
            if (!f.indexes.empty()) {
                const uint8_t* src = f.indexes.data() + at;
                for (int x = x0; x < x1; ++x)
                    if (!clear[src[x]]) dst[x] = f.palette[src[x]];
            } else {
                const CColor24* src = f.colors.data() + at;
                for (int x = x0; x < x1; ++x)
                    if (!keyed || !(src[x] == key)) dst[x] = src[x];
            }
        }
    }

    std::vector<GifFrame> frames_;
    int width_, height_;
    BMP_File drawn_; // frames 0 .. drawnUpTo_ drawn in order
    int drawnUpTo_ = -1;
};

// ---------------------------------------------------------------------------
// Animated GIF output

std::string ErrnoText(int e) {
    return std::strerror(e);
}

// A file name that is not in use in `folder`, created empty; "" when the folder
// takes no new file. It ends in ".gif", which tells the writer the format.
std::string MakeStagingFile(const fs::path& folder, const std::string& base) {
    std::string templ = (folder / ("." + base + ".XXXXXX.gif")).string();
    const int fd = mkstemps(templ.data(), 4);
    if (fd < 0) return {};
    ::close(fd);
    return templ;
}

template <class T>
bool SetAnimationTag(fipImage& image, const char* key, FREE_IMAGE_MDTYPE type, T value) {
    fipTag tag;
    return tag.setKey(key) && tag.setType(type) && tag.setCount(1) &&
           tag.setLength(DWORD(sizeof(T))) && tag.setValue(&value) &&
           image.setMetadata(FIMD_ANIMATION, key, tag);
}

class GifSink : public FrameSink {
public:
    GifSink(std::string target, std::string staging, int logicalWidth, int logicalHeight)
        : target_(std::move(target)), staging_(std::move(staging)), logicalWidth_(logicalWidth),
          logicalHeight_(logicalHeight) {}
    ~GifSink() override {
        if (!finished_) {
            std::string why;
            Finish(false, &why);
        }
    }

    bool Open(std::string* message) {
        if (!multi_.open(staging_.c_str(), TRUE, FALSE)) {
            std::remove(staging_.c_str());
            if (message) *message = "cannot write " + target_ + ": the GIF writer cannot start";
            return false;
        }
        return true;
    }

    bool WriteFrame(const BMP_File& frame, int delayHundredths) override {
        if (finished_ || frame.Empty() || frame.Width() > 0xFFFF || frame.Height() > 0xFFFF)
            return false;
        try {
            fipImage page(FIT_BITMAP, unsigned(frame.Width()), unsigned(frame.Height()), 24);
            if (!page.isValid()) return false;
            for (int y = 0; y < frame.Height(); ++y) {
                // FreeImage rows are bottom first, blue, green, red.
                BYTE* dst = page.getScanLine(unsigned(frame.Height() - 1 - y));
                const CColor24* src = frame.Row(y);
                for (int x = 0; x < frame.Width(); ++x, dst += 3) {
                    dst[FI_RGBA_RED] = src[x].r;
                    dst[FI_RGBA_GREEN] = src[x].g;
                    dst[FI_RGBA_BLUE] = src[x].b;
                }
            }
            if (!page.colorQuantize(FIQ_WUQUANT)) return false;
            // The tags go on after the quantiser, which makes a new picture and
            // would drop them.
            bool tagged = true;
            if (written_ == 0) {
                // A screen smaller than the frames (or none at all, as for a
                // video source) would clip or hide them in viewers.
                const int w = std::min(std::max(logicalWidth_, frame.Width()), 0xFFFF);
                const int h = std::min(std::max(logicalHeight_, frame.Height()), 0xFFFF);
                tagged = SetAnimationTag(page, "Loop", FIDT_LONG, uint32_t(0)) &&
                         SetAnimationTag(page, "LogicalWidth", FIDT_SHORT, uint16_t(w)) &&
                         SetAnimationTag(page, "LogicalHeight", FIDT_SHORT, uint16_t(h));
            }
            // FreeImage takes the frame time in milliseconds and stores
            // hundredths in the file.
            const uint32_t ms = uint32_t(std::clamp(delayHundredths, 0, 0xFFFF)) * 10u;
            tagged = tagged && SetAnimationTag(page, "FrameTime", FIDT_LONG, ms) &&
                     SetAnimationTag(page, "FrameLeft", FIDT_SHORT, uint16_t(0)) &&
                     SetAnimationTag(page, "FrameTop", FIDT_SHORT, uint16_t(0)) &&
                     SetAnimationTag(page, "DisposalMethod", FIDT_BYTE, uint8_t(2)) &&
                     SetAnimationTag(page, "NoLocalPalette", FIDT_BYTE, uint8_t(0));
            FreeImage_SetTransparent(page, FALSE);
            if (!tagged) return false;
            const int before = multi_.getPageCount();
            multi_.appendPage(page);
            if (multi_.getPageCount() != before + 1) return false;
        } catch (const std::bad_alloc&) {
            return false;
        }
        ++written_;
        return true;
    }

    int FramesWritten() const override { return written_; }

    bool Finish(bool commit, std::string* why) override {
        if (finished_) {
            if (why) *why = "the GIF file is already finished";
            return false;
        }
        finished_ = true;
        // Closing writes the whole animation into the staging file.
        const bool closed = multi_.close();
        struct RemoveStaging {
            const std::string& path;
            ~RemoveStaging() { std::remove(path.c_str()); }
        } cleanup{staging_};
        if (!commit) return true;
        if (written_ == 0) {
            if (why) *why = "no frame was written";
            return false;
        }
        std::vector<uint8_t> bytes;
        if (!closed || !ReadWholeFile(staging_, bytes) || bytes.size() < 14) {
            if (why) *why = "cannot write " + target_ + ": the GIF writer failed";
            return false;
        }
        std::string message;
        if (!SaveFileSafely(target_, bytes.data(), bytes.size(), &message)) {
            if (why) *why = message.empty() ? "cannot write " + target_ : message;
            return false;
        }
        return true;
    }

private:
    fipMultiPage multi_{TRUE}; // pages kept in memory until the file is written
    std::string target_, staging_;
    int logicalWidth_, logicalHeight_;
    int written_ = 0;
    bool finished_ = false;
};

} // namespace

bool ZembraAvailable(std::string* message) {
    std::lock_guard lock(g_zembraLock);
    BindZembraLocked();
    if (message) *message = g_bindMessage;
    return g_zembra.handle != nullptr;
}

void SetZembraFolderForTesting(const std::string& folder) {
    std::lock_guard lock(g_zembraLock);
    if (g_zembra.handle) dlclose(g_zembra.handle);
    g_zembra = ZembraApi{};
    g_bindTried = false;
    g_bindMessage.clear();
    g_testFolder = folder;
}

std::unique_ptr<FrameSource> OpenGifSource(const std::string& path, std::string* message) {
    if (message) message->clear();
    try {
        std::vector<GifFrame> frames;
        int width = 0, height = 0;
        {
            std::lock_guard lock(g_zembraLock);
            BindZembraLocked();
            if (!g_zembra.handle) {
                if (message) *message = g_bindMessage;
                return nullptr;
            }
            const ZembraApi& z = g_zembra;
            // A file that fails part way keeps the frames read before the
            // damage; the count decides.
            z.Load(path.c_str());
            const int n = z.GetFrameCount();
            if (n < 2) return nullptr; // a still picture (or none): the image loader's
            frames.resize(size_t(n));
            int64_t w = 0, h = 0;
            for (int i = 0; i < n; ++i) {
                GifFrame& f = frames[size_t(i)];
                int32_t fw = 0, fh = 0, bpp = 0;
                uint8_t* bits = nullptr;
                if (!z.GetFrameData(i, &fw, &fh, &bits, &bpp)) fw = fh = 0;
                int32_t left = 0, top = 0;
                z.GetOrigin(i, &left, &top);
                f.left = left;
                f.top = top;
                f.dataWidth = std::max(0, fw);
                f.dataHeight = std::max(0, fh);
                f.transparent = z.GetFrameTransparentColor(i);
                f.restoreToBackground = z.GetFrameDisposalMethod(i) != 0;
                f.delay = z.GetFrameTimeDelay(i);
                // A frame that cannot be decoded is drawn as nothing.
                if (f.dataWidth > 0 && f.dataHeight > 0 && !CopyBitmap(z.GetFrameBitmap(i), f)) {
                    f.indexes.clear();
                    f.colors.clear();
                    f.width = f.height = 0;
                }
                w = std::max(w, int64_t(f.left) + f.dataWidth);
                h = std::max(h, int64_t(f.top) + f.dataHeight);
            }
            if (w <= 0 || h <= 0) return nullptr; // nothing to show: the image loader says why
            if (!BMP_File::SizeAllowed(w, h)) {
                if (message) *message = PictureTooLargeText(uint64_t(w), uint64_t(h));
                return nullptr;
            }
            width = int(w);
            height = int(h);
        }
        return std::make_unique<GifSource>(std::move(frames), width, height);
    } catch (const std::bad_alloc&) {
        if (message) *message = "Not enough memory to read the animated GIF " + path;
        return nullptr;
    }
}

std::unique_ptr<FrameSink> CreateGifSink(const std::string& path, int logicalWidth,
                                         int logicalHeight, std::string* message) {
    if (message) message->clear();
    InitFreeImageOnce();
    fs::path target(path);
    fs::path folder = target.parent_path();
    if (folder.empty()) folder = ".";
    // The animation is put together beside the target, so that nothing of an
    // existing file changes until the whole new one is there; a folder that
    // takes no new file (the file itself may still be writable) stages in the
    // temporary folder instead.
    std::string staging = MakeStagingFile(folder, target.filename().string());
    if (staging.empty()) {
        const int e = errno;
        if (e == ENOENT || e == ENOTDIR) {
            if (message) *message = "cannot write " + path + ": " + ErrnoText(e);
            return nullptr;
        }
        std::error_code ec;
        staging = MakeStagingFile(fs::temp_directory_path(ec), "pellorin-gif");
        if (staging.empty()) {
            if (message) *message = "cannot write " + path + ": " + ErrnoText(e);
            return nullptr;
        }
    }
    auto sink = std::make_unique<GifSink>(path, staging, std::max(0, logicalWidth),
                                          std::max(0, logicalHeight));
    if (!sink->Open(message)) return nullptr;
    return sink;
}
