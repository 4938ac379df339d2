#include "graphics/CCTGAlib.h"
#include "core/CCCompressedData.h"
#include "platform/Image.h"
#include "platform/Log.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

using Bytes = std::vector<std::uint8_t>;

namespace {

struct TGAFree {
    void operator()(sImageTGA* image) const { tgaFreeImage(image); }
};
using TGAPtr = std::unique_ptr<sImageTGA, TGAFree>;

// An 18-byte header, then the ID field and the pixel data.
Bytes tga(std::uint8_t type, std::uint16_t w, std::uint16_t h, std::uint8_t depth, const Bytes& data,
          std::uint8_t descriptor = 0, const Bytes& id = {}) {
    // Sized once: GCC 12 at -O3 reports a false out-of-bounds copy inside a growing insert.
    Bytes b(18 + id.size() + data.size());
    b[0] = std::uint8_t(id.size());
    b[2] = type;
    b[12] = std::uint8_t(w);
    b[13] = std::uint8_t(w >> 8);
    b[14] = std::uint8_t(h);
    b[15] = std::uint8_t(h >> 8);
    b[16] = depth;
    b[17] = descriptor;
    std::copy(data.begin(), data.end(), std::copy(id.begin(), id.end(), b.begin() + 18));
    return b;
}

TGAPtr load(const Bytes& file) {
    // An exact-size heap copy, so the sanitizer sees any read past the end.
    std::unique_ptr<unsigned char[]> copy(new unsigned char[file.size() ? file.size() : 1]);
    std::copy(file.begin(), file.end(), copy.get());
    return TGAPtr(tgaOpenImageFromMemory(copy.get(), file.size()));
}

Bytes pixels(const sImageTGA* image) {
    std::size_t size = std::size_t(image->width) * std::size_t(image->height) * (image->pixelDepth / 8u);
    return Bytes(image->imageData, image->imageData + size);
}

void expectStatus(const Bytes& file, std::int32_t status) {
    TGAPtr image = load(file);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->status, status);
    EXPECT_EQ(image->imageData, nullptr);
}

// Two rows of two BGR pixels each.
const Bytes kBGR2x2 = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};

} // namespace

TEST(TGALoader, RawTrueColourIsSwappedToRedFirstAndKeepsBottomUpRows) {
    TGAPtr image = load(tga(2, 2, 2, 24, kBGR2x2));
    ASSERT_EQ(image->status, kTGAStatusOK);
    EXPECT_EQ(image->type, 2);
    EXPECT_EQ(image->pixelDepth, 24);
    EXPECT_EQ(image->width, 2);
    EXPECT_EQ(image->height, 2);
    EXPECT_EQ(image->flipped, 0);
    EXPECT_EQ(pixels(image.get()), (Bytes{3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10}));
}

TEST(TGALoader, TopFirstImagesAreFlippedToBottomUpRows) {
    // Three rows, so the middle one stays put; alpha (byte 3) is not moved by the swap.
    Bytes data = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    TGAPtr image = load(tga(2, 1, 3, 32, data, 0x28));
    ASSERT_EQ(image->status, kTGAStatusOK);
    EXPECT_EQ(image->flipped, 0);
    EXPECT_EQ(pixels(image.get()), (Bytes{11, 10, 9, 12, 7, 6, 5, 8, 3, 2, 1, 4}));

    // One row high: nothing to move, but the flag is still cleared.
    TGAPtr oneRow = load(tga(2, 2, 1, 24, {1, 2, 3, 4, 5, 6}, 0x20));
    ASSERT_EQ(oneRow->status, kTGAStatusOK);
    EXPECT_EQ(oneRow->flipped, 0);
    EXPECT_EQ(pixels(oneRow.get()), (Bytes{3, 2, 1, 6, 5, 4}));
}

TEST(TGALoader, SixteenBitAndGreyPixelsKeepTheirBytes) {
    TGAPtr sixteen = load(tga(2, 2, 1, 16, {0x1F, 0x80, 0xE0, 0x03}));
    ASSERT_EQ(sixteen->status, kTGAStatusOK);
    EXPECT_EQ(pixels(sixteen.get()), (Bytes{0x1F, 0x80, 0xE0, 0x03}));

    TGAPtr grey = load(tga(3, 3, 1, 8, {10, 20, 30}));
    ASSERT_EQ(grey->status, kTGAStatusOK);
    EXPECT_EQ(pixels(grey.get()), (Bytes{10, 20, 30}));

    TGAPtr greyAlpha = load(tga(3, 1, 2, 16, {10, 255, 20, 128}, 0x20));
    ASSERT_EQ(greyAlpha->status, kTGAStatusOK);
    EXPECT_EQ(pixels(greyAlpha.get()), (Bytes{20, 128, 10, 255}));
}

TEST(TGALoader, RunLengthPacketsExpandRunsAndCopyRawPixels) {
    // 0x83: a run of four copies of one pixel; 0x01: two raw pixels. The run crosses a row.
    Bytes data = {0x83, 1, 2, 3, 0x01, 4, 5, 6, 7, 8, 9};
    TGAPtr image = load(tga(10, 3, 2, 24, data));
    ASSERT_EQ(image->status, kTGAStatusOK);
    EXPECT_EQ(pixels(image.get()), (Bytes{3, 2, 1, 3, 2, 1, 3, 2, 1, 3, 2, 1, 6, 5, 4, 9, 8, 7}));

    // The longest packets (128 pixels) and a top-first run-length image.
    Bytes longRuns = {0xFF, 9, 9, 9, 0x7F};
    for (int i = 0; i < 128; ++i)
        longRuns.insert(longRuns.end(), {std::uint8_t(i), 0, 0});
    TGAPtr wide = load(tga(10, 128, 2, 24, longRuns, 0x20));
    ASSERT_EQ(wide->status, kTGAStatusOK);
    Bytes got = pixels(wide.get());
    EXPECT_EQ(got[0], 0);
    EXPECT_EQ(got[127 * 3 + 2], 127); // the raw row, now first
    EXPECT_EQ(got[128 * 3], 9);       // the run, now last
}

TEST(TGALoader, IdFieldAndColourMapAreNotTakenAsPixels) {
    TGAPtr withId = load(tga(2, 2, 2, 24, kBGR2x2, 0, {'f', 'o', 'o'}));
    ASSERT_EQ(withId->status, kTGAStatusOK);
    EXPECT_EQ(pixels(withId.get()), (Bytes{3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10}));

    // A true-colour image may carry a colour map: two 24-bit entries before the pixels.
    Bytes withMap = tga(2, 2, 2, 24, kBGR2x2);
    withMap[1] = 1;
    withMap[5] = 2;
    withMap[7] = 24;
    withMap.insert(withMap.begin() + 18, {0xAA, 0xAA, 0xAA, 0xBB, 0xBB, 0xBB});
    TGAPtr mapped = load(withMap);
    ASSERT_EQ(mapped->status, kTGAStatusOK);
    EXPECT_EQ(pixels(mapped.get()), (Bytes{3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10}));
}

TEST(TGALoader, RefusesImageKindsItDoesNotRead) {
    expectStatus(tga(1, 2, 2, 8, Bytes(4)), kTGAStatusIndexedColour);
    for (std::uint8_t type : {0, 9, 11, 32, 255})
        expectStatus(tga(type, 2, 2, 24, Bytes(12)), kTGAStatusUnsupportedType);
    // Depths that are not whole bytes per pixel, or none at all.
    for (std::uint8_t depth : {0, 1, 15, 31, 40})
        expectStatus(tga(2, 2, 2, depth, Bytes(64)), kTGAStatusUnsupportedType);
    // Empty images and sizes the record's signed 16-bit fields cannot hold.
    expectStatus(tga(2, 0, 2, 24, Bytes(12)), kTGAStatusUnsupportedType);
    expectStatus(tga(10, 2, 0, 24, Bytes(12)), kTGAStatusUnsupportedType);
    expectStatus(tga(2, 0x8000, 1, 8, Bytes(0x8000)), kTGAStatusUnsupportedType);
    expectStatus(tga(2, 1, 0xFFFF, 8, Bytes(0xFFFF)), kTGAStatusUnsupportedType);
}

TEST(TGALoader, TruncatedFilesFailWithReadError) {
    Bytes whole = tga(2, 2, 2, 24, kBGR2x2);
    for (std::size_t length :
         {std::size_t(0), std::size_t(1), std::size_t(17), std::size_t(18), whole.size() - 1})
        expectStatus(Bytes(whole.begin(), whole.begin() + std::ptrdiff_t(length)), kTGAStatusReadError);
    // An ID field that runs past the end of the file.
    Bytes idPastEnd = tga(2, 1, 1, 24, {});
    idPastEnd[0] = 200;
    expectStatus(idPastEnd, kTGAStatusReadError);

    Bytes rle = tga(10, 3, 2, 24, {0x83, 1, 2, 3, 0x01, 4, 5, 6, 7, 8, 9});
    // Cut before a packet byte, inside a run's pixel, inside a raw packet.
    for (std::size_t cut : {std::size_t(18), std::size_t(20), std::size_t(22), rle.size() - 1})
        expectStatus(Bytes(rle.begin(), rle.begin() + std::ptrdiff_t(cut)), kTGAStatusReadError);

    expectStatus(Bytes{}, kTGAStatusReadError);
    TGAPtr null(tgaOpenImageFromMemory(nullptr, 100));
    EXPECT_EQ(null->status, kTGAStatusReadError);
}

TEST(TGALoader, RunLengthPacketsRunningPastTheImageFail) {
    // Six pixels wanted; a run of seven and a raw packet of seven.
    expectStatus(tga(10, 3, 2, 24, {0x86, 1, 2, 3}), kTGAStatusReadError);
    Bytes raw = {0x06};
    raw.resize(1 + 7 * 3, 5);
    expectStatus(tga(10, 3, 2, 24, raw), kTGAStatusReadError);
    // Fine up to the last pixel, then one packet too long.
    expectStatus(tga(10, 3, 2, 24, {0x84, 1, 2, 3, 0x81, 4, 5, 6}), kTGAStatusReadError);
}

TEST(TGALoader, HugeHeadersAreRefusedWithoutTrustingThem) {
    // 32767 x 32767 at 32 bits in a few bytes: refused against the file before allocating.
    expectStatus(tga(2, 0x7FFF, 0x7FFF, 32, Bytes(64)), kTGAStatusReadError);
    expectStatus(tga(10, 0x7FFF, 0x7FFF, 32, {0xFF, 1, 2, 3, 4}), kTGAStatusReadError);

    // Enough packets to cover it (4 GiB decoded): beyond anything the engine loads.
    Bytes runs;
    runs.reserve(8388097u * 5);
    for (std::size_t packets = 0; packets < 8388097u; ++packets)
        runs.insert(runs.end(), {0xFF, 1, 2, 3, 4});
    expectStatus(tga(10, 0x7FFF, 0x7FFF, 32, runs), kTGAStatusOutOfMemory);
}

TEST(TGALoader, OpensFilesByPath) {
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("fl_tga_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::filesystem::path file = dir / "two.tga";
    Bytes bytes = tga(2, 2, 2, 24, kBGR2x2, 0x20);
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));

    TGAPtr image(tgaOpenImage(file.c_str()));
    ASSERT_EQ(image->status, kTGAStatusOK);
    EXPECT_EQ(pixels(image.get()), (Bytes{9, 8, 7, 12, 11, 10, 3, 2, 1, 6, 5, 4}));

    TGAPtr missing(tgaOpenImage((dir / "missing.tga").c_str()));
    EXPECT_EQ(missing->status, kTGAStatusFileOpenError);
    EXPECT_EQ(missing->imageData, nullptr);
    TGAPtr noPath(tgaOpenImage(nullptr));
    EXPECT_EQ(noPath->status, kTGAStatusFileOpenError);
    TGAPtr directory(tgaOpenImage(dir.c_str()));
    EXPECT_EQ(directory->status, kTGAStatusReadError);

    // A file past the size limit is refused through the status alone: the loader never logs.
    std::string logged;
    platform::setLogSink([&](const std::string& line) { logged += line; });
    std::filesystem::path huge = dir / "huge.tga";
    std::ofstream(huge, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), 18);
    std::filesystem::resize_file(huge, kCCMaxDataSize + 1); // sparse: costs no disk
    TGAPtr tooLarge(tgaOpenImage(huge.c_str()));
    platform::setLogSink({});
    EXPECT_EQ(tooLarge->status, kTGAStatusOutOfMemory);
    EXPECT_EQ(tooLarge->imageData, nullptr);
    EXPECT_EQ(logged, "");

    tgaFreeImage(nullptr);
    std::filesystem::remove_all(dir);
}

// Files written by other tools, checked against their reference PNGs.
namespace {

std::filesystem::path tgaData(const std::string& name) {
    return fltest::sharedTestData() / "tga" / name;
}

// Compares a loaded image (bottom row first) with a PNG (top row first). Grey images compare
// against red; two-byte grey images hold grey then alpha.
void expectMatchesPNG(const std::string& tgaName, const std::string& pngName) {
    SCOPED_TRACE(tgaName);
    TGAPtr image(tgaOpenImage(tgaData(tgaName).c_str()));
    ASSERT_EQ(image->status, kTGAStatusOK);
    ASSERT_EQ(image->flipped, 0);
    auto png = platform::Image::imageWithContentsOfFile(tgaData(pngName).string());
    ASSERT_TRUE(png);
    ASSERT_EQ(std::uint32_t(image->width), png->width());
    ASSERT_EQ(std::uint32_t(image->height), png->height());
    std::vector<std::uint8_t> rgba = png->rgbaPixels();
    std::size_t bpp = image->pixelDepth / 8u;
    std::size_t w = std::size_t(image->width), h = std::size_t(image->height);
    std::size_t mismatches = 0;
    for (std::size_t y = 0; y < h; ++y)
        for (std::size_t x = 0; x < w; ++x) {
            const std::uint8_t* got = image->imageData + ((h - 1 - y) * w + x) * bpp;
            const std::uint8_t* want = &rgba[(y * w + x) * 4];
            bool same = true;
            if (image->type == kTGATypeGrey) {
                same = got[0] == want[0] && (bpp < 2 || got[1] == want[3]);
            } else {
                for (std::size_t c = 0; c < bpp; ++c)
                    same = same && got[c] == want[c];
            }
            mismatches += !same;
        }
    EXPECT_EQ(mismatches, 0u);
}

} // namespace

TEST(TGALoaderFiles, TrueColourAndGreyFilesMatchTheirReferences) {
    FL_REQUIRE_SHARED_TESTDATA();
    for (const char* origin : {"bl", "tl"}) {
        for (const char* compression : {"raw", "rle"}) {
            std::string suffix = std::string("_") + origin + "_" + compression + ".tga";
            expectMatchesPNG("200x32_rgb" + suffix, "200x32_rgb.png");
            expectMatchesPNG("200x32_rgba" + suffix, "200x32_rgba.png");
        }
        std::string raw = std::string("_") + origin + "_raw.tga";
        expectMatchesPNG("200x32_l" + raw, "200x32_l.png");
        expectMatchesPNG("200x32_la" + raw, "200x32_la.png");
        expectMatchesPNG("1x1_l" + raw, "1x1_l.png");
    }
    // Named raw but stored run-length: the header decides.
    TGAPtr mislabelled(tgaOpenImage(tgaData("200x32_rgb_tl_raw.tga").c_str()));
    EXPECT_EQ(mislabelled->type, kTGATypeRunLengthTrueColour);
}

TEST(TGALoaderFiles, OtherFilesLoadOrAreRefusedWithTheirStatus) {
    FL_REQUIRE_SHARED_TESTDATA();
    const std::pair<const char*, std::int32_t> cases[] = {
        {"200x32_p_bl_raw.tga", kTGAStatusIndexedColour},
        {"200x32_p_tl_raw.tga", kTGAStatusIndexedColour},
        {"p_16.tga", kTGAStatusIndexedColour},
        {"200x32_p_bl_rle.tga", kTGAStatusUnsupportedType},
        {"200x32_l_tl_rle.tga", kTGAStatusUnsupportedType},
        {"200x32_la_bl_rle.tga", kTGAStatusUnsupportedType},
        {"1x1_l_bl_rle.tga", kTGAStatusUnsupportedType},
        {"rgba16.tga", kTGAStatusOK},
        {"ReversedAlpha16Bit_5551.tga", kTGAStatusOK},
        {"T_UI_Giz_Charge.TGA", kTGAStatusOK},
        {"tga_id_field.tga", kTGAStatusOK},
    };
    for (const auto& [name, status] : cases) {
        TGAPtr image(tgaOpenImage(tgaData(name).c_str()));
        EXPECT_EQ(image->status, status) << name;
        EXPECT_EQ(image->imageData != nullptr, status == kTGAStatusOK) << name;
    }

    // 16-bit pixels as stored (little-endian A1R5G5B5).
    TGAPtr sixteen(tgaOpenImage(tgaData("rgba16.tga").c_str()));
    Bytes file;
    unsigned char* raw = nullptr;
    int length = loadFileIntoMemory(tgaData("rgba16.tga").c_str(), &raw);
    CCMallocPtr owned(raw);
    ASSERT_GE(length, 22);
    EXPECT_EQ(pixels(sixteen.get()), Bytes(raw + 18, raw + 22));

    // A grey picture behind a six-byte ID ("foobar"): read as pixels, the ID would show as colour.
    TGAPtr withId(tgaOpenImage(tgaData("tga_id_field.tga").c_str()));
    Bytes px = pixels(withId.get());
    std::size_t coloured = 0;
    for (std::size_t i = 0; i < px.size(); i += 3)
        coloured += !(px[i] == px[i + 1] && px[i + 1] == px[i + 2]);
    EXPECT_EQ(coloured, 0u);
}

// Writes the fuzzer's seed corpus: FL_WRITE_TGA_SEEDS=fuzz/corpus/tga_fuzzer test_graphics
TEST(TGALoaderSeeds, WritesTheFuzzCorpusWhenAsked) {
    const char* dir = std::getenv("FL_WRITE_TGA_SEEDS");
    if (!dir) GTEST_SKIP() << "set FL_WRITE_TGA_SEEDS to a directory to write the seeds";
    Bytes rle = tga(10, 3, 2, 24, {0x83, 1, 2, 3, 0x01, 4, 5, 6, 7, 8, 9});
    Bytes raw32 = tga(2, 1, 3, 32, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, 0x28);
    Bytes mapped = tga(2, 2, 2, 24, kBGR2x2);
    mapped[1] = 1;
    mapped[5] = 2;
    mapped[7] = 24;
    mapped.insert(mapped.begin() + 18, {0xAA, 0xAA, 0xAA, 0xBB, 0xBB, 0xBB});
    const std::pair<const char*, Bytes> seeds[] = {
        {"raw24_bl.tga", tga(2, 2, 2, 24, kBGR2x2)},
        {"raw32_tl.tga", raw32},
        {"raw16.tga", tga(2, 2, 1, 16, {0x1F, 0x80, 0xE0, 0x03})},
        {"grey8_tl.tga", tga(3, 3, 1, 8, {10, 20, 30}, 0x20)},
        {"rle24.tga", rle},
        {"rle32_tl.tga", tga(10, 2, 2, 32, {0x81, 1, 2, 3, 4, 0x01, 5, 6, 7, 8, 9, 10, 11, 12}, 0x20)},
        {"id_field.tga", tga(2, 2, 2, 24, kBGR2x2, 0, {'f', 'o', 'o'})},
        {"colour_map.tga", mapped},
        {"indexed.tga", tga(1, 2, 2, 8, Bytes(4))},
        {"short_header.tga", Bytes(rle.begin(), rle.begin() + 10)},
        {"rle_truncated.tga", Bytes(rle.begin(), rle.end() - 2)},
        {"rle_past_image.tga", tga(10, 3, 2, 24, {0x86, 1, 2, 3})},
        {"huge_size.tga", tga(10, 0x7FFF, 0x7FFF, 32, {0xFF, 1, 2, 3, 4})},
    };
    std::filesystem::create_directories(dir);
    for (const auto& [name, bytes] : seeds)
        std::ofstream(std::filesystem::path(dir) / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}
