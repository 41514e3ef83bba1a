// Reading: hand-built GIF streams through the parser and the frame decoder.
#include "test_util.h"

#include <dlfcn.h>

using namespace ztest;
using gifbytes::colorOf;
using gifbytes::Gif;

namespace {

Bytes pattern(size_t n, int colors, unsigned seed = 1) {
    Bytes px(n);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        // Runs of a colour with noise between them, like real pictures.
        px[i] = uint8_t((i / 7 + ((seed >> 16) % 3 == 0 ? (seed >> 8) : 0)) % unsigned(colors));
    }
    return px;
}

Bytes decoded(zembra::Animation& a, int i) {
    a.decodeFrame(*a.frames[size_t(i)]);
    return indexes(a.frames[size_t(i)]->bitmap.get());
}

} // namespace

TEST(ZembraRead, EmptyAndBadSignatures) {
    auto a = parse({});
    EXPECT_EQ(a->frames.size(), 0u);
    EXPECT_EQ(a->version, 0);

    Bytes px = pattern(12, 4);
    for (const char* sig : {"gif89A", "GiF87a", "GIF89a"}) {
        auto b = parse(Gif().header(4, 3, 2, sig).image(0, 0, 4, 3, px, 2).trailer().b);
        EXPECT_EQ(b->frames.size(), 1u) << sig;
        EXPECT_EQ(b->version, sig[4] == '9' ? 2 : 1) << sig;
    }
    for (const char* sig : {"GIF88a", "GIX89a", "JFIF89"}) {
        try {
            parse(Gif().header(4, 3, 2, sig).trailer().b);
            ADD_FAILURE() << sig;
        } catch (const zembra::GifError& e) {
            EXPECT_STREQ(e.what(), "Unknown GIF version");
        }
    }
    try {
        parse(Gif().header(4, 3, 2).raw({0x21, 0x99, 0}).b);
        ADD_FAILURE();
    } catch (const zembra::GifError& e) {
        EXPECT_STREQ(e.what(), "Unrecognized extension block: 99");
    }
}

// The helper streams are first checked against giflib, so the expectations
// below rest on an independent reader.
TEST(ZembraRead, DecodesEveryDepthLikeGiflib) {
    TempDir dir;
    const int w = 13, h = 7;
    for (int bits : {1, 2, 3, 4, 5, 8}) {
        Bytes px = pattern(size_t(w * h), 1 << bits, unsigned(bits));
        Bytes file = Gif().header(w, h, 0).image(0, 0, w, h, px, bits < 2 ? 2 : bits, bits).b;
        writeFile(dir.file("d.gif"), Gif{file}.trailer().b);
        PeerFile peer = readWithGiflib(dir.file("d.gif"));
        ASSERT_TRUE(peer.ok);
        ASSERT_EQ(peer.frames[0].index, px) << bits;
        writeFile(dir.file("d.gif"), file);

        ASSERT_EQ(Load(dir.file("d.gif").c_str()), -1) << "no trailer";
        int32_t ow = 0, oh = 0, obpp = 0;
        uint8_t* bitsPtr = nullptr;
        ASSERT_EQ(GetFrameData(0, &ow, &oh, &bitsPtr, &obpp), -1);
        EXPECT_EQ(ow, w);
        EXPECT_EQ(oh, h);
        EXPECT_EQ(obpp, bits == 1 ? 1 : bits <= 4 ? 4 : 8);
        EXPECT_EQ(indexes(GetFrameBitmap(0)), px) << bits;
        const ZPalette* pal = GetFramePalette(0);
        ASSERT_NE(pal, nullptr);
        EXPECT_EQ(pal->count, 1 << obpp);
        for (int i = 0; i < pal->count; ++i)
            EXPECT_EQ(paletteColor(*pal, i), i < (1 << bits) ? colorOf(i) : 0x808080u);
    }
}

TEST(ZembraRead, LongDataGrowsCodesAndClearsTheTable) {
    const int w = 211, h = 97; // past 4096 codes several times
    Bytes px = pattern(size_t(w * h), 256, 7);
    auto a = parse(Gif().header(w, h, 8).gce(0, 0, 0).image(0, 0, w, h, px, 8).trailer().b);
    EXPECT_EQ(decoded(*a, 0), px);
    EXPECT_FALSE(a->frames[0]->corrupted);
    // An encoder may also go on with a full table instead of clearing it.
    Gif full;
    full.header(w, h, 8).descriptor(0, 0, w, h).raw({8});
    full.raw(gifbytes::subBlocks(gifbytes::lzw(px, 8, false))).trailer();
    EXPECT_EQ(decoded(*parse(full.b), 0), px);
    // Zero bytes between blocks are skipped; a frame without its own size
    // takes the screen's.
    Bytes small = pattern(12, 4);
    Gif g;
    g.header(4, 3, 2).raw({0, 0}).descriptor(0, 0, 0, 0).raw({2});
    g.raw(gifbytes::subBlocks(gifbytes::lzw(small, 2))).raw({0, 0}).trailer();
    auto b = parse(g.b);
    EXPECT_EQ(decoded(*b, 0), small);
}

TEST(ZembraRead, GraphicControlRules) {
    Bytes px = pattern(4, 4);
    // Transparent index 5 on a 4-entry table: no transparency.
    auto a = parse(Gif().header(2, 2, 2).gce(1, 0, 5).image(0, 0, 2, 2, px, 2).trailer().b);
    EXPECT_EQ(a->frames[0]->transparent, zembra::kNoColor);
    // Two extensions before one frame: the larger delay, the second disposal.
    auto b = parse(Gif()
                       .header(2, 2, 2)
                       .gce(2 << 2 | 1, 30, 3)
                       .gce(3 << 2, 10, 0)
                       .image(0, 0, 2, 2, px, 2)
                       .trailer()
                       .b);
    const zembra::Frame& f = *b->frames[0];
    EXPECT_EQ(f.delayMs, 300u);
    EXPECT_EQ(f.disposal, 3);
    EXPECT_EQ(f.transparent, zembra::kNoColor) << "the second clears the first's flag";
    EXPECT_EQ(f.extensions.size(), 2u);
    auto c = parse(Gif().header(2, 2, 2).gce(1, 7, 3).image(0, 0, 2, 2, px, 2).trailer().b);
    EXPECT_EQ(c->frames[0]->transparent, colorOf(3));
    EXPECT_EQ(c->frames[0]->delayMs, 70u);
}

TEST(ZembraRead, CommentsAndPlainText) {
    Bytes px = pattern(4, 4);
    auto a = parse(Gif()
                       .header(2, 2, 2)
                       .comment({"frame note"})
                       .image(0, 0, 2, 2, px, 2)
                       .comment({"first", "line two"})
                       .comment({"second"})
                       .trailer()
                       .b);
    ASSERT_EQ(a->frames.size(), 1u);
    ASSERT_EQ(a->frames[0]->extensions.size(), 1u);
    EXPECT_EQ(a->frames[0]->extensions[0].kind, zembra::ExtKind::Comment);
    EXPECT_EQ(a->frames[0]->extensions[0].blocks, std::vector<std::string>{"frame note"});
    EXPECT_EQ(a->header.comment,
              (std::vector<std::string>{"first", "line two", "\r\n\r\n", "second"}));
    // A plain-text extension drops the graphic control gathered before it.
    Bytes plain = {0x21, 0x01, 12, 0, 0, 0, 0, 8, 0, 8, 0, 8, 8, 1, 0, 2, 'h', 'i', 0};
    auto b =
        parse(Gif().header(2, 2, 2).gce(0, 50, 0).raw(plain).image(0, 0, 2, 2, px, 2).trailer().b);
    EXPECT_EQ(b->frames[0]->delayMs, 0u);
    EXPECT_TRUE(b->frames[0]->extensions.empty());
}

TEST(ZembraRead, LoopExtension) {
    Bytes px = pattern(4, 4);
    auto a = parse(Gif()
                       .header(2, 2, 2)
                       .app("NETSCAPE2.0", {1, 0xFF, 0xFF})
                       .image(0, 0, 2, 2, px, 2)
                       .trailer()
                       .b);
    EXPECT_TRUE(a->looping);
    EXPECT_EQ(a->repeat, 30000);
    auto b = parse(
        Gif().header(2, 2, 2).app("ANIMEXTS1.0", {1, 5, 0}).image(0, 0, 2, 2, px, 2).trailer().b);
    EXPECT_TRUE(b->looping);
    EXPECT_EQ(b->repeat, 5);
    auto c = parse(
        Gif().header(2, 2, 2).app("NETSCAPE2.0", {1, 5}).image(0, 0, 2, 2, px, 2).trailer().b);
    EXPECT_FALSE(c->looping);
    EXPECT_EQ(c->repeat, 1);
    EXPECT_EQ(c->frames.size(), 1u);
}

TEST(ZembraRead, MinimumCodeSizeOutOfRange) {
    // Code size 1 is read as 2 and 11 as 9: data written for those sizes
    // decodes, and the frame is marked damaged.
    struct Case {
        int stored, used, bits;
    };
    for (Case c : {Case{1, 2, 2}, Case{11, 9, 8}, Case{0, 2, 1}}) {
        Bytes px = pattern(40, 1 << c.bits, 3);
        Gif g;
        g.header(8, 5, c.bits).descriptor(0, 0, 8, 5).raw({uint8_t(c.stored)});
        g.raw(gifbytes::subBlocks(gifbytes::lzw(px, c.used))).trailer();
        auto a = parse(g.b);
        EXPECT_EQ(decoded(*a, 0), px) << c.stored;
        EXPECT_TRUE(a->frames[0]->corrupted) << c.stored;
    }
}

TEST(ZembraRead, InterlacedRows) {
    // Height 3: the file's rows land on rows 0, 2, 1.
    Bytes fileOrder = {1, 1, 2, 2, 3, 3};
    auto a = parse(Gif().header(2, 3, 2).image(0, 0, 2, 3, fileOrder, 2, 0, true).trailer().b);
    EXPECT_EQ(decoded(*a, 0), (Bytes{1, 1, 3, 3, 2, 2}));
    // A taller one against giflib's placement.
    TempDir dir;
    Bytes px = pattern(5 * 21, 16, 9);
    writeFile(dir.file("i.gif"),
              Gif().header(5, 21, 4).image(0, 0, 5, 21, px, 4, 0, true).trailer().b);
    PeerFile peer = readWithGiflib(dir.file("i.gif"));
    ASSERT_TRUE(peer.ok);
    auto b = parse(readFile(dir.file("i.gif")));
    EXPECT_EQ(decoded(*b, 0), peer.frames[0].index);
}

TEST(ZembraRead, DamagedData) {
    const int w = 40, h = 30;
    Bytes px = pattern(size_t(w * h), 16, 5);
    Bytes data = gifbytes::lzw(px, 4);
    ASSERT_GT(data.size(), 100u);
    // The last sub-block claims more bytes than remain: the frame is kept and
    // decoded from the block before it.
    Gif g;
    g.header(w, h, 4).descriptor(0, 0, w, h).raw({4, 100});
    g.raw(Bytes(data.begin(), data.begin() + 100))
        .raw({200})
        .raw(Bytes(data.begin() + 100, data.begin() + 110));
    auto a = parse(g.b);
    ASSERT_EQ(a->frames.size(), 1u);
    EXPECT_TRUE(a->frames[0]->corrupted);
    Bytes got = decoded(*a, 0);
    Gif only;
    only.header(w, h, 4)
        .descriptor(0, 0, w, h)
        .raw({4, 100})
        .raw(Bytes(data.begin(), data.begin() + 100));
    Bytes partial = decoded(*parse(only.b), 0);
    EXPECT_EQ(got, partial);
    size_t same = 0;
    while (same < px.size() && got[same] == px[same]) ++same;
    EXPECT_GT(same, 100u);
    EXPECT_TRUE(std::all_of(got.end() - 100, got.end(), [](uint8_t v) { return v == 0; }));

    // Codes beyond a 4-entry table stay inside it (8-bit codes on 2-bit colours).
    Bytes wide = {200, 255, 3, 7, 0, 129};
    auto b = parse(Gif().header(3, 2, 2).image(0, 0, 3, 2, wide, 8).trailer().b);
    EXPECT_EQ(decoded(*b, 0), (Bytes{0, 3, 3, 3, 0, 1}));

    // A code beyond the table is decoded as the code being defined would be, from
    // the previous string, and decoding goes on; the frame is marked damaged.
    // Codes 4 (clear), 1, 7 (table ends at 6): 1 then 1 1, defining 6 = "1 1";
    // 2 defines 7 and fills the row.
    Bytes bad = gifbytes::packCodes({{4, 3}, {1, 3}, {7, 3}, {2, 3}, {5, 3}});
    Gif gb;
    gb.header(4, 1, 2).descriptor(0, 0, 4, 1).raw({2}).raw(gifbytes::subBlocks(bad)).trailer();
    auto c = parse(gb.b);
    EXPECT_EQ(decoded(*c, 0), (Bytes{1, 1, 1, 2}));
    EXPECT_TRUE(c->frames[0]->corrupted);
}

TEST(ZembraRead, CodesBeyondTheTableDecodeFromThePreviousString) {
    // 8-bit frame: clear 256, end 257, 9-bit codes, first free code 258.
    auto frame = [](const std::vector<int>& codes, int w, int h) {
        std::vector<std::pair<int, int>> sized;
        for (int code : codes) sized.push_back({code, 9});
        Gif g;
        g.header(w, h, 8).descriptor(0, 0, w, h).raw({8});
        g.raw(gifbytes::subBlocks(gifbytes::packCodes(sized))).trailer();
        return parse(g.b);
    };
    // clear; 10; 20 defines 258 = "10 20"; 300 is beyond the table: the previous
    // string "20" and its first pixel, "20 20", which also defines 259; 30 defines
    // 260 and ends the data. The rest of the frame stays 0.
    auto a = frame({256, 10, 20, 300, 30, 257}, 4, 2);
    EXPECT_EQ(decoded(*a, 0), (Bytes{10, 20, 20, 20, 30, 0, 0, 0}));
    EXPECT_TRUE(a->frames[0]->corrupted);
    // The table grew as usual: 259 is the "20 20" that the damaged code gave.
    auto b = frame({256, 10, 20, 300, 259, 30, 257}, 4, 2);
    EXPECT_EQ(decoded(*b, 0), (Bytes{10, 20, 20, 20, 20, 20, 30, 0}));
    // Right after a clear code there is no previous string: the code's low bits
    // are the pixel (300 & 255 = 44).
    auto c = frame({256, 300, 10, 257}, 4, 1);
    EXPECT_EQ(decoded(*c, 0), (Bytes{44, 10, 0, 0}));
    // As the first code of the data, too.
    auto d = frame({511, 10, 257}, 4, 1);
    EXPECT_EQ(decoded(*d, 0), (Bytes{255, 10, 0, 0}));
    // An 8-bit frame whose codes carry 2 bits (clear 4, end 5): only the literal
    // bits of 7 are taken, 3.
    Gif narrow;
    narrow.header(4, 1, 8).descriptor(0, 0, 4, 1).raw({2});
    narrow.raw(gifbytes::subBlocks(gifbytes::packCodes({{4, 3}, {7, 3}, {1, 3}, {5, 3}})));
    EXPECT_EQ(decoded(*parse(narrow.trailer().b), 0), (Bytes{3, 1, 0, 0}));

    // 12-bit codes: 1900 literal 1s grow the table to 2157 entries; 4095 is far
    // beyond it and gives "1 1", defining 2157; then 2157 gives "1 1" again.
    std::vector<std::pair<int, int>> codes = {{256, 9}};
    int size = 9, next = 258;
    auto add = [&](int code, bool defines) {
        codes.push_back({code, size});
        if (!defines) return;
        if (++next == (1 << size) && size < 12) ++size;
    };
    add(1, false);
    for (int i = 1; i < 1900; ++i) add(1, true);
    ASSERT_EQ(size, 12);
    ASSERT_EQ(next, 2157);
    add(4095, true);
    add(2157, true);
    codes.push_back({257, size});
    Gif g;
    g.header(64, 64, 8).descriptor(0, 0, 64, 64).raw({8});
    g.raw(gifbytes::subBlocks(gifbytes::packCodes(codes))).trailer();
    auto e = parse(g.b);
    Bytes expected(64 * 64, 0);
    std::fill(expected.begin(), expected.begin() + 1904, 1);
    EXPECT_EQ(decoded(*e, 0), expected);
    EXPECT_TRUE(e->frames[0]->corrupted);
}

TEST(ZembraRead, NeverReadsPastTheData) {
    Bytes px = pattern(64, 256, 4);
    Bytes file = Gif()
                     .header(8, 8, 8)
                     .comment({"c"})
                     .app("NETSCAPE2.0", {1, 0, 0})
                     .gce(1, 5, 2)
                     .image(0, 0, 8, 8, px, 8, 3)
                     .image(2, 2, 8, 8, px, 8)
                     .trailer()
                     .b;
    // Every prefix of a valid file either loads or fails cleanly.
    for (size_t n = 0; n <= file.size(); ++n) {
        try {
            auto a = parse(Bytes(file.begin(), file.begin() + n));
            for (auto& f : a->frames) a->decodeFrame(*f);
        } catch (const zembra::GifError&) {
        }
    }
    // Claims far beyond the data: a huge frame with a few bytes of data
    // decodes what there is.
    auto big = parse(Gif().header(1, 1, 1).image(0, 0, 30000, 10000, {1, 0, 1}, 2).trailer().b);
    ASSERT_EQ(big->frames.size(), 1u);
    const ZBitmap* bm = big->frames[0]->bitmap.get();
    EXPECT_EQ(bm->width, 30000);
    EXPECT_EQ(bm->bits[size_t(bm->height - 1) * size_t(bm->stride)], 0xA0);
    // A table claimed but cut short fails with the read error.
    Bytes cut = Gif().header(8, 8, 8).b;
    cut.resize(13 + 100);
    EXPECT_THROW(parse(cut), zembra::GifError);
    // A frame with no colour table at all cannot be decoded.
    EXPECT_THROW(parse(Gif().header(2, 2, 0).image(0, 0, 2, 2, px, 2).trailer().b),
                 zembra::GifError);
}

TEST(ZembraApi, ExportsAndOutOfRangeResults) {
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&Load), &info), 0);
    void* lib = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(lib, nullptr);
    for (const char* name : {"Reset",
                             "Load",
                             "Save",
                             "GetFrameCount",
                             "SetFrameCount",
                             "GetFrameTimeDelay",
                             "SetFrameTimeDelay",
                             "GetFrameData",
                             "SetFrameData",
                             "GetFrameBitmap",
                             "SetFrameBitmap",
                             "GetFramePalette",
                             "GetOrigin",
                             "SetOrigin",
                             "GetFrameTransparentColor",
                             "SetFrameTransparentColor",
                             "GetFrameDisposalMethod",
                             "SetFrameDisposalMethod",
                             "ZCreateBitmap",
                             "ZDeleteBitmap"})
        EXPECT_NE(dlsym(lib, name), nullptr) << name;
    EXPECT_EQ(dlsym(lib, "_ZN6zembra9Animation14loadFromMemoryEPKhm"), nullptr)
        << "internals hidden";
    dlclose(lib);

    Reset();
    EXPECT_EQ(GetFrameCount(), 0);
    EXPECT_EQ(GetFrameTimeDelay(0), 0);
    SetFrameCount(2);
    for (int i : {-1, 2, 1 << 30}) {
        EXPECT_EQ(GetFrameTimeDelay(i), 0);
        EXPECT_EQ(GetFrameTransparentColor(i), 0xFFFFFFu);
        EXPECT_EQ(GetFrameDisposalMethod(i), 0);
        EXPECT_EQ(GetFrameBitmap(i), nullptr);
        EXPECT_EQ(GetFramePalette(i), nullptr);
        int32_t w = 11, h = 12, bpp = 13, l = 14, t = 15;
        uint8_t* p = nullptr;
        EXPECT_EQ(GetFrameData(i, &w, &h, &p, &bpp), 0);
        GetOrigin(i, &l, &t);
        EXPECT_EQ(w + h + bpp + l + t, 11 + 12 + 13 + 14 + 15);
        SetFrameTimeDelay(i, 5);
        SetOrigin(i, 1, 1);
        SetFrameDisposalMethod(i, 1);
        SetFrameData(i, 1, 1, p, 8);
    }
    EXPECT_EQ(GetFrameCount(), 2);
    // A frame with neither bitmap nor data has nothing to hand out.
    int32_t w = -1, h = -1, bpp = -1;
    uint8_t* p = nullptr;
    EXPECT_EQ(GetFrameData(0, &w, &h, &p, &bpp), 0);
    EXPECT_EQ(w, 0);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(GetFrameTransparentColor(1), ZEMBRA_NO_COLOR);

    SetFrameCount(-1);
    EXPECT_EQ(GetFrameCount(), 2);
    SetFrameCount(5);
    EXPECT_EQ(GetFrameCount(), 5);
    SetFrameCount(1);
    EXPECT_EQ(GetFrameCount(), 1);
    SetFrameCount(0);
    EXPECT_EQ(GetFrameCount(), 0);
}

TEST(ZembraApi, DelaysDisposalAndFrameData) {
    Reset();
    SetFrameCount(1);
    SetFrameTimeDelay(0, 7);
    EXPECT_EQ(GetFrameTimeDelay(0), 7);
    SetFrameTimeDelay(0, 0x10000 + 9); // only the low 16 bits count
    EXPECT_EQ(GetFrameTimeDelay(0), 9);
    SetFrameTimeDelay(0, 40000); // longer than 65535 milliseconds
    EXPECT_EQ(GetFrameTimeDelay(0), 40000);
    SetFrameDisposalMethod(0, 5);
    EXPECT_EQ(GetFrameDisposalMethod(0), -1);
    SetFrameDisposalMethod(0, 0);
    EXPECT_EQ(GetFrameDisposalMethod(0), 0);

    // Loaded disposals: only 2 reads as restore-to-background.
    TempDir dir;
    Bytes px = pattern(4, 4);
    Gif g;
    g.header(2, 2, 2);
    for (int d : {0, 1, 2, 3}) g.gce(d << 2, d == 3 ? 60000 : 0, 0).image(0, 0, 2, 2, px, 2);
    writeFile(dir.file("d.gif"), g.trailer().b);
    ASSERT_EQ(Load(dir.file("d.gif").c_str()), -1);
    ASSERT_EQ(GetFrameCount(), 4);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(GetFrameDisposalMethod(i), i == 2 ? -1 : 0);
    EXPECT_EQ(GetFrameTimeDelay(3), 60000);

    // SetFrameData re-creates the frame: origin and delay reset, transparency kept.
    SetOrigin(1, 10, 20);
    SetFrameTimeDelay(1, 5);
    SetFrameTransparentColor(1, 0x123456);
    const uint8_t rows[2][4] = {{0x12, 0x30, 0, 0}, {0x45, 0x60, 0, 0}}; // 3 pixels, 4 bits
    SetFrameData(1, 3, 2, &rows[0][0], 4);
    int32_t l = -1, t = -1;
    GetOrigin(1, &l, &t);
    EXPECT_EQ(l, 0);
    EXPECT_EQ(t, 0);
    EXPECT_EQ(GetFrameTimeDelay(1), 0);
    EXPECT_EQ(GetFrameTransparentColor(1), 0x123456u);
    int32_t w = 0, h = 0, bpp = 0;
    uint8_t* bits = nullptr;
    ASSERT_EQ(GetFrameData(1, &w, &h, &bits, &bpp), -1);
    EXPECT_EQ(w, 3);
    EXPECT_EQ(h, 2);
    EXPECT_EQ(bpp, 4);
    EXPECT_EQ(indexes(GetFrameBitmap(1)), (Bytes{4, 5, 6, 1, 2, 3}));
    EXPECT_EQ(GetFramePalette(1)->count, 16);
    // Without pixels nothing changes.
    SetFrameData(1, 3, 2, nullptr, 8);
    EXPECT_EQ(GetFrameBitmap(1)->bitsPerPixel, 4);
}
