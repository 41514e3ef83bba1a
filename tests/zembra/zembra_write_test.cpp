// Writing: every file saved here is read back by giflib as an independent
// decoder, and by our own reader.
#include "test_util.h"

#include "../as_user.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <sys/stat.h>

using namespace ztest;
using gifbytes::colorOf;
using gifbytes::Gif;

namespace {

Bytes noise(size_t n, int colors, unsigned seed) {
    Bytes px(n);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1664525u + 1013904223u;
        px[i] = uint8_t(((seed >> 24) % 4 == 0 ? seed >> 12 : i / 5) % unsigned(colors));
    }
    return px;
}

std::vector<uint32_t> colorsOf(const Bytes& idx, int seed) {
    std::vector<uint32_t> c;
    for (uint8_t v : idx) c.push_back(colorOf((v + seed) & 255));
    return c;
}

size_t count(const Bytes& hay, const std::string& needle) {
    size_t n = 0;
    for (auto it = hay.begin();
         (it = std::search(it, hay.end(), needle.begin(), needle.end())) != hay.end(); ++it)
        ++n;
    return n;
}

} // namespace

TEST(ZembraWrite, OneBitFrameAndLoopExtension) {
    TempDir dir;
    Bytes px = noise(10 * 3, 2, 1);
    Reset();
    SetFrameCount(1);
    SetFrameBitmap(0, makeBitmap(10, 3, 1, px));
    ASSERT_EQ(Save(dir.file("one.gif").c_str()), -1);
    Bytes b = readFile(dir.file("one.gif"));
    ASSERT_GT(b.size(), 32u);
    EXPECT_EQ(std::string(b.begin(), b.begin() + 6), "GIF87a") << "nothing needs 89a";
    EXPECT_EQ(b[6] | b[7] << 8, 10);
    EXPECT_EQ(b[8] | b[9] << 8, 3);
    EXPECT_EQ(b[10], 0x80) << "global table of 2 entries";
    EXPECT_EQ(b[19], 0x2C) << "a single frame has no loop extension";
    EXPECT_EQ(b[28], 0) << "no local table";
    EXPECT_EQ(b[29], 2) << "minimum code size of a 1-bit frame";
    EXPECT_EQ(b[31] & 7, 4) << "clear code 4 in 3 bits first";
    EXPECT_EQ(b.back(), ';');
    PeerFile peer = readWithGiflib(dir.file("one.gif"));
    ASSERT_TRUE(peer.ok);
    EXPECT_EQ(peer.frames[0].index, px);
    EXPECT_EQ(peer.frames[0].color, colorsOf(px, 0));

    SetFrameCount(2);
    SetFrameBitmap(1, makeBitmap(10, 3, 1, px, 5));
    ASSERT_EQ(Save(dir.file("two.gif").c_str()), -1);
    Bytes two = readFile(dir.file("two.gif"));
    EXPECT_EQ(count(two, "NETSCAPE2.0"), 1u);
    EXPECT_EQ(std::string(two.begin(), two.begin() + 6), "GIF89a");
    peer = readWithGiflib(dir.file("two.gif"));
    ASSERT_TRUE(peer.ok);
    EXPECT_EQ(peer.loopCount, 30000);
    ASSERT_EQ(peer.frames.size(), 2u);
    EXPECT_EQ(peer.frames[1].color, colorsOf(px, 5)) << "second frame has its own table";
}

TEST(ZembraWrite, RoundTripOfAnAnimation) {
    TempDir dir;
    struct Setup {
        int w, h, bpp, left, top, delay, disposal, transparentIndex;
    };
    const Setup setups[] = {{160, 120, 8, 0, 0, 10, -1, -1},
                            {7, 5, 4, 3, 4, 25, 1, 2},
                            {9, 9, 1, 30, 2, 0, 0, -1},
                            {33, 17, 8, 1, 1, 3, 0, 200}};
    const int n = int(std::size(setups));
    std::vector<Bytes> px;
    Reset();
    SetFrameCount(n);
    for (int i = 0; i < n; ++i) {
        const Setup& s = setups[i];
        px.push_back(noise(size_t(s.w * s.h), 1 << s.bpp, unsigned(i + 3)));
        SetFrameBitmap(i, makeBitmap(s.w, s.h, s.bpp, px[i], i * 17));
        SetOrigin(i, s.left, s.top);
        SetFrameTimeDelay(i, s.delay);
        if (s.disposal >= 0) SetFrameDisposalMethod(i, s.disposal);
        if (s.transparentIndex >= 0)
            SetFrameTransparentColor(i, colorOf((s.transparentIndex + i * 17) & 255));
    }
    ASSERT_EQ(Save(dir.file("a.gif").c_str()), -1);
    ASSERT_EQ(Save(dir.file("b.gif").c_str()), -1);
    EXPECT_EQ(readFile(dir.file("a.gif")), readFile(dir.file("b.gif"))) << "saving twice";

    PeerFile peer = readWithGiflib(dir.file("a.gif"));
    ASSERT_TRUE(peer.ok);
    EXPECT_EQ(peer.screenWidth, 160);
    EXPECT_EQ(peer.screenHeight, 120);
    ASSERT_EQ(int(peer.frames.size()), n);
    for (int i = 0; i < n; ++i) {
        const Setup& s = setups[i];
        const PeerFrame& f = peer.frames[size_t(i)];
        EXPECT_EQ(f.left, s.left);
        EXPECT_EQ(f.top, s.top);
        EXPECT_EQ(f.index, px[size_t(i)]) << i;
        EXPECT_EQ(f.color, colorsOf(px[size_t(i)], i * 17)) << i;
        EXPECT_EQ(f.delay, s.delay) << i;
        EXPECT_EQ(f.disposal, s.disposal < 0 ? 0 : s.disposal ? 2 : 1) << i;
        EXPECT_EQ(f.transparent, s.transparentIndex) << i;
    }

    Reset();
    ASSERT_EQ(Load(dir.file("a.gif").c_str()), -1);
    ASSERT_EQ(GetFrameCount(), n);
    for (int i = 0; i < n; ++i) {
        const Setup& s = setups[i];
        int32_t l = -1, t = -1;
        GetOrigin(i, &l, &t);
        EXPECT_EQ(l, s.left);
        EXPECT_EQ(t, s.top);
        EXPECT_EQ(GetFrameTimeDelay(i), s.delay);
        EXPECT_EQ(GetFrameDisposalMethod(i), s.disposal > 0 ? -1 : 0);
        EXPECT_EQ(GetFrameTransparentColor(i), s.transparentIndex < 0
                                                   ? ZEMBRA_NO_COLOR
                                                   : colorOf((s.transparentIndex + i * 17) & 255));
        const ZBitmap* b = GetFrameBitmap(i);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->bitsPerPixel, s.bpp);
        EXPECT_EQ(indexes(b), px[size_t(i)]);
        for (int k = 0; k < (1 << s.bpp); ++k)
            EXPECT_EQ(paletteColor(b->palette, k), colorOf((k + i * 17) & 255));
    }
    // Loaded frames are copied through unchanged.
    ASSERT_EQ(Save(dir.file("c.gif").c_str()), -1);
    EXPECT_EQ(readFile(dir.file("c.gif")), readFile(dir.file("a.gif")));
}

TEST(ZembraWrite, TrueColourFrames) {
    TempDir dir;
    // Five colours, each used a different number of times: the palette lists
    // them by frequency, the rest of it grey.
    const uint32_t colors[5] = {0x0000FF, 0x00FF00, 0xFF0000, 0x102030, 0xFFFFFF};
    const int w = 15, h = 8;
    std::vector<uint32_t> want;
    for (int i = 0; i < w * h; ++i) {
        int k = i < 50 ? 2 : i < 80 ? 0 : i < 100 ? 4 : i < 112 ? 1 : 3;
        want.push_back(colors[k]);
    }
    std::shuffle(want.begin(), want.end(), std::mt19937(4));
    for (int bpp : {24, 32}) {
        ZBitmap* b = ZCreateBitmap(w, h, bpp);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                uint32_t c = want[size_t(y) * w + x];
                uint8_t* p = b->bits + size_t(h - 1 - y) * b->stride + size_t(x) * (bpp / 8);
                p[0] = uint8_t(c >> 16);
                p[1] = uint8_t(c >> 8);
                p[2] = uint8_t(c);
            }
        Reset();
        SetFrameCount(1);
        SetFrameBitmap(0, b);
        ASSERT_EQ(Save(dir.file("t.gif").c_str()), -1);
        PeerFile peer = readWithGiflib(dir.file("t.gif"));
        ASSERT_TRUE(peer.ok);
        EXPECT_EQ(peer.frames[0].color, want);
        const std::vector<uint32_t>& pal = peer.frames[0].palette;
        ASSERT_EQ(pal.size(), 256u);
        EXPECT_EQ(std::vector<uint32_t>(pal.begin(), pal.begin() + 5),
                  (std::vector<uint32_t>{colors[2], colors[0], colors[4], colors[1], colors[3]}));
        EXPECT_TRUE(
            std::all_of(pal.begin() + 5, pal.end(), [](uint32_t c) { return c == 0x808080; }));
    }

    // 2050 colours, pairs differing only in the lowest bit of blue: one step of
    // coarsening (blue first) merges the pairs. Every merged colour is counted
    // twice, so the first 256 met form the palette and the others map to the
    // entry of the same red, which is nearest.
    {
        const int cw = 41, ch = 50;
        ZBitmap* b = ZCreateBitmap(cw, ch, 24);
        std::vector<uint32_t> expect;
        for (int i = 0; i < cw * ch; ++i) {
            const int base = i / 2;
            uint8_t* p = b->bits + size_t(ch - 1 - i / cw) * b->stride + size_t(i % cw) * 3;
            p[0] = uint8_t(100 + i % 2);
            p[1] = uint8_t(base / 256 * 50);
            p[2] = uint8_t(base % 256);
            expect.push_back(uint32_t(base % 256) | 100u << 16);
        }
        Reset();
        SetFrameCount(1);
        SetFrameBitmap(0, b);
        ASSERT_EQ(Save(dir.file("m.gif").c_str()), -1);
        PeerFile peer = readWithGiflib(dir.file("m.gif"));
        ASSERT_TRUE(peer.ok);
        EXPECT_EQ(peer.frames[0].color, expect);
    }

    // Far more colours than a palette holds: the nearest of at most 256.
    const int gw = 96, gh = 64;
    ZBitmap* g = ZCreateBitmap(gw, gh, 24);
    for (int y = 0; y < gh; ++y)
        for (int x = 0; x < gw; ++x) {
            uint8_t* p = g->bits + size_t(y) * g->stride + size_t(x) * 3;
            p[0] = uint8_t(x * 2);
            p[1] = uint8_t(y * 4);
            p[2] = uint8_t((x + y) & 255);
        }
    Reset();
    SetFrameCount(1);
    SetFrameBitmap(0, g);
    ASSERT_EQ(Save(dir.file("g.gif").c_str()), -1);
    PeerFile peer = readWithGiflib(dir.file("g.gif"));
    ASSERT_TRUE(peer.ok);
    double err = 0;
    std::set<uint32_t> used;
    for (int y = 0; y < gh; ++y)
        for (int x = 0; x < gw; ++x) {
            uint32_t c = peer.frames[0].color[size_t(y) * gw + x];
            used.insert(c);
            const uint8_t* p = g->bits + size_t(gh - 1 - y) * g->stride + size_t(x) * 3;
            err += std::abs(int(c & 255) - p[2]) + std::abs(int(c >> 8 & 255) - p[1]) +
                   std::abs(int(c >> 16) - p[0]);
        }
    EXPECT_LE(used.size(), 256u);
    EXPECT_GT(used.size(), 100u);
    EXPECT_LT(err / (gw * gh * 3), 12.0);
}

TEST(ZembraWrite, FailedSaveKeepsTheTarget) {
    TempDir dir;
    const std::string target = dir.file("keep.gif");
    const Bytes precious = {'G', 'I', 'F', '8', '9', 'a', 1, 2, 3};
    writeFile(target, precious);
    Reset();
    EXPECT_EQ(Save(target.c_str()), 0) << "no frames";
    EXPECT_EQ(readFile(target), precious);
    SetFrameCount(2);
    SetFrameBitmap(0, makeBitmap(2, 2, 8, {1, 2, 3, 4}));
    EXPECT_EQ(Save(target.c_str()), 0) << "frame 1 has no picture";
    EXPECT_EQ(readFile(target), precious);
    EXPECT_EQ(dir.entries(), 1u) << "no temporary file left behind";
    EXPECT_EQ(Save(dir.file("new.gif").c_str()), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.file("new.gif")));
    EXPECT_EQ(Save(dir.file("missing/x.gif").c_str()), 0);
    SetFrameCount(1);
    EXPECT_EQ(Save(target.c_str()), -1);
    EXPECT_TRUE(readWithGiflib(target).ok);
    EXPECT_EQ(dir.entries(), 1u);
}

TEST(ZembraWrite, LoadedFilesSurviveASave) {
    TempDir dir;
    // Entries 1 and 3 share a colour; index 3 is transparent and must stay so.
    Gif g;
    g.b = {'G', 'I', 'F', '8', '9', 'a', 4, 0, 2, 0, 0x91, 0, 0};
    g.raw({0, 0, 0, 9, 9, 9, 5, 5, 5, 9, 9, 9});
    Bytes px = {3, 1, 3, 0, 2, 1, 3, 3};
    g.gce(1 | 1 << 2, 30000, 3).comment({"frame"}).image(0, 0, 4, 2, px, 2);
    g.comment({"about", "this"}).trailer();
    writeFile(dir.file("in.gif"), g.b);
    ASSERT_EQ(Load(dir.file("in.gif").c_str()), -1);
    EXPECT_EQ(GetFrameTimeDelay(0), 30000);
    ASSERT_EQ(Save(dir.file("out.gif").c_str()), -1);
    PeerFile peer = readWithGiflib(dir.file("out.gif"));
    ASSERT_TRUE(peer.ok);
    EXPECT_EQ(peer.frames[0].transparent, 3);
    EXPECT_EQ(peer.frames[0].delay, 30000);
    EXPECT_EQ(peer.frames[0].index, px);
    EXPECT_EQ(peer.comments, (std::vector<std::string>{"frame", "about", "this"}));

    // A damaged last frame is written back with its terminator, so what
    // follows it is still read as blocks.
    const int w = 30, h = 20;
    Bytes big = noise(size_t(w * h), 16, 8);
    Bytes data = gifbytes::lzw(big, 4);
    Gif d;
    d.header(w, h, 4).image(0, 0, 4, 2, px, 4).descriptor(0, 0, w, h).raw({4, 60});
    d.raw(Bytes(data.begin(), data.begin() + 60)).raw({250, 1, 2, 3});
    writeFile(dir.file("damaged.gif"), d.b);
    ASSERT_EQ(Load(dir.file("damaged.gif").c_str()), -1);
    ASSERT_EQ(GetFrameCount(), 2);
    Bytes before = indexes(GetFrameBitmap(1));
    SetFrameCount(3);
    SetFrameBitmap(2, makeBitmap(2, 2, 1, {1, 0, 0, 1}));
    ASSERT_EQ(Save(dir.file("fixed.gif").c_str()), -1);
    ASSERT_EQ(Load(dir.file("fixed.gif").c_str()), -1);
    ASSERT_EQ(GetFrameCount(), 3);
    EXPECT_EQ(indexes(GetFrameBitmap(1)), before);
    EXPECT_EQ(indexes(GetFrameBitmap(2)), (Bytes{1, 0, 0, 1}));
}

TEST(ZembraWrite, CallerBitmapsAndOutOfRangeGeometry) {
    TempDir dir;
    Reset();
    SetFrameCount(3);
    Bytes px = noise(6 * 4, 16, 2);
    SetFrameBitmap(0, makeBitmap(6, 4, 4, px));
    // A bitmap that frame 0 owns is copied, not owned twice.
    SetFrameBitmap(1, GetFrameBitmap(0));
    ASSERT_NE(GetFrameBitmap(1), GetFrameBitmap(0));
    GetFrameBitmap(0)->bits[0] = 0xFF;
    EXPECT_EQ(indexes(GetFrameBitmap(1)), px);
    // A direct-colour bitmap reports its own depth.
    SetFrameBitmap(2, ZCreateBitmap(3, 2, 24));
    int32_t w = 0, h = 0, bpp = 0;
    uint8_t* bits = nullptr;
    ASSERT_EQ(GetFrameData(2, &w, &h, &bits, &bpp), -1);
    EXPECT_EQ(bpp, 24);
    // Origins outside the 16-bit range of the file are kept inside it.
    SetOrigin(1, -5, 70000);
    // A transparent colour that is in no table gives a cleared flag.
    SetFrameTransparentColor(0, 0xABCDEF);
    ASSERT_EQ(Save(dir.file("o.gif").c_str()), -1);
    PeerFile peer = readWithGiflib(dir.file("o.gif"));
    ASSERT_TRUE(peer.ok);
    EXPECT_EQ(peer.frames[1].left, 0);
    EXPECT_EQ(peer.frames[1].top, 65535);
    EXPECT_EQ(peer.frames[1].index, px);
    EXPECT_EQ(peer.frames[0].transparent, -1);
    EXPECT_EQ(peer.frames[0].delay, 0) << "the extension is written";
    EXPECT_EQ(peer.frames[1].delay, -1) << "no extension without a reason";
    // A frame wider than a GIF can record is refused.
    SetFrameCount(4);
    SetFrameBitmap(3, ZCreateBitmap(70000, 1, 1));
    EXPECT_EQ(Save(dir.file("o.gif").c_str()), 0);
    EXPECT_TRUE(readWithGiflib(dir.file("o.gif")).ok);
    Reset();
}

TEST(ZembraWrite, SaveReplacesTheFileItself) {
    TempDir dir;
    const std::string real = dir.file("real.gif"), link = dir.file("link.gif");
    writeFile(real, {1, 2, 3});
    std::filesystem::permissions(real, std::filesystem::perms(0640));
    std::filesystem::create_symlink(real, link);
    Reset();
    SetFrameCount(1);
    SetFrameBitmap(0, makeBitmap(3, 3, 8, noise(9, 256, 1)));
    ASSERT_EQ(Save(link.c_str()), -1);
    EXPECT_TRUE(std::filesystem::is_symlink(link)) << "the link stays a link";
    EXPECT_TRUE(readWithGiflib(real).ok);
    EXPECT_EQ(std::filesystem::status(real).permissions() & std::filesystem::perms::all,
              std::filesystem::perms(0640));
    EXPECT_EQ(dir.entries(), 2u);
}

TEST(ZembraWrite, SaveFollowsLinksAndRespectsPermissions) {
    namespace fs = std::filesystem;
    TempDir dir;
    ::chmod(dir.file("").c_str(), 0755); // the ordinary user below must reach it
    Reset();
    SetFrameCount(1);
    SetFrameBitmap(0, makeBitmap(3, 3, 8, noise(9, 256, 4)));

    // A chain of links, the first one relative: the links stay, the file gets it.
    const std::string real = dir.file("real.gif");
    writeFile(real, {1, 2, 3});
    fs::create_symlink("real.gif", dir.file("one.gif"));
    fs::create_symlink(dir.file("one.gif"), dir.file("two.gif"));
    ASSERT_EQ(Save(dir.file("two.gif").c_str()), -1);
    EXPECT_TRUE(fs::is_symlink(dir.file("two.gif")));
    EXPECT_TRUE(fs::is_symlink(dir.file("one.gif")));
    EXPECT_TRUE(readWithGiflib(real).ok);

    // A dangling link: the file it names is made.
    fs::create_symlink("made.gif", dir.file("dangling.gif"));
    ASSERT_EQ(Save(dir.file("dangling.gif").c_str()), -1);
    EXPECT_TRUE(fs::is_symlink(dir.file("dangling.gif")));
    EXPECT_TRUE(readWithGiflib(dir.file("made.gif")).ok);

    // A read-only file is refused, whoever asks.
    const Bytes precious = {'G', 'I', 'F', '8', '9', 'a', 9};
    writeFile(dir.file("ro.gif"), precious);
    ::chmod(dir.file("ro.gif").c_str(), 0444);
    EXPECT_EQ(Save(dir.file("ro.gif").c_str()), 0);
    EXPECT_EQ(readFile(dir.file("ro.gif")), precious);

    // A folder the user may not write: a writable file in it is rewritten in
    // place, and no new file can be made there.
    fs::create_directory(dir.file("locked"));
    const std::string inside = dir.file("locked/anim.gif");
    writeFile(inside, Bytes(5000, 1));
    ASSERT_TRUE(as_user::GiveToUser(inside));
    struct stat before {};
    ::stat(inside.c_str(), &before);
    ::chmod(dir.file("locked").c_str(), 0555);
    const std::string out = as_user::Run([&] {
        std::string r = Save(inside.c_str()) == -1 ? "saved;" : "failed;";
        r += Save(dir.file("locked/new.gif").c_str()) == -1 ? "created" : "refused";
        return r;
    });
    ::chmod(dir.file("locked").c_str(), 0755);
    EXPECT_EQ(out, "saved;refused");
    EXPECT_TRUE(readWithGiflib(inside).ok);
    struct stat after {};
    ::stat(inside.c_str(), &after);
    EXPECT_EQ(after.st_ino, before.st_ino) << "written in place";
    EXPECT_FALSE(fs::exists(dir.file("locked/new.gif")));
    EXPECT_EQ(dir.entries(), 7u) << "no temporary file left behind";
    Reset();
}
