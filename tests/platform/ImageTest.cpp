#include "platform/Image.h"
#include "platform/Log.h"
#include "tests/support/TestSupport.h"

#include <png.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

using namespace platform;

namespace {

class ImageTest : public ::testing::Test {
protected:
    void SetUp() override {
        setLogSink([this](const std::string& line) { logged += line + "\n"; });
    }
    void TearDown() override { setLogSink({}); }
    std::string logged;
};

std::filesystem::path shared(const std::string& relative) {
    return fltest::sharedTestData() / relative;
}

std::vector<std::uint8_t> readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A w x h straight-alpha RGBA pattern with every channel varying.
std::vector<std::uint8_t> pattern(std::uint32_t w, std::uint32_t h) {
    std::vector<std::uint8_t> p(std::size_t(w) * h * 4);
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x) {
            std::uint8_t* q = &p[(std::size_t(y) * w + x) * 4];
            q[0] = std::uint8_t(x * 7 + y), q[1] = std::uint8_t(y * 13), q[2] = std::uint8_t(x ^ y),
            q[3] = std::uint8_t(x * 31 + y * 5);
        }
    return p;
}

std::uint8_t premultiplied(unsigned c, unsigned a) {
    return std::uint8_t(std::lround(c * a / 255.0));
}

void appendChunk(std::vector<std::uint8_t>& png, const char* type, const std::vector<std::uint8_t>& data) {
    auto be32 = [&](std::uint32_t v) {
        for (int s = 24; s >= 0; s -= 8)
            png.push_back(std::uint8_t(v >> s));
    };
    be32(std::uint32_t(data.size()));
    std::size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    be32(std::uint32_t(crc32(0, png.data() + start, uInt(png.size() - start))));
}

// A well-formed PNG header claiming a size, with a token of image data.
std::vector<std::uint8_t> pngClaiming(std::uint32_t w, std::uint32_t h) {
    std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> ihdr = {std::uint8_t(w >> 24),
                                      std::uint8_t(w >> 16),
                                      std::uint8_t(w >> 8),
                                      std::uint8_t(w),
                                      std::uint8_t(h >> 24),
                                      std::uint8_t(h >> 16),
                                      std::uint8_t(h >> 8),
                                      std::uint8_t(h),
                                      8,
                                      6,
                                      0,
                                      0,
                                      0};
    appendChunk(png, "IHDR", ihdr);
    std::vector<std::uint8_t> raw(68, 0), packed(128); // 4 rows of a filter byte and 4 pixels
    uLongf packedSize = uLongf(packed.size());
    compress(packed.data(), &packedSize, raw.data(), uLong(raw.size()));
    packed.resize(packedSize);
    appendChunk(png, "IDAT", packed);
    appendChunk(png, "IEND", {});
    return png;
}

void expectClose(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b, int maxDiff,
                 double maxMean, const std::string& what) {
    ASSERT_EQ(a.size(), b.size()) << what;
    int worst = 0;
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        int d = std::abs(int(a[i]) - int(b[i]));
        worst = std::max(worst, d);
        sum += d;
    }
    EXPECT_LE(worst, maxDiff) << what;
    EXPECT_LE(sum / double(a.size()), maxMean) << what;
}

} // namespace

TEST_F(ImageTest, PngRoundTripKeepsStraightRgbaExactly) {
    auto rgba = pattern(37, 19);
    std::vector<std::uint8_t> png = Image::encodePNG(rgba.data(), 37, 19);
    ASSERT_FALSE(png.empty());
    Ref<Image> image = Image::imageWithData(png.data(), png.size());
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), 37u);
    EXPECT_EQ(image->height(), 19u);
    EXPECT_EQ(image->colorSpace(), ImageColorSpace::RGB);
    EXPECT_TRUE(image->hasColorSpace());
    EXPECT_EQ(image->alphaInfo(), ImageAlphaInfo::Last);
    EXPECT_EQ(image->bitsPerComponent(), 8u);
    EXPECT_EQ(image->bitsPerPixel(), 32u);
    EXPECT_EQ(image->pixels(), rgba);
    EXPECT_EQ(image->pngData(), png) << "re-encoding the same pixels gives the same file";
}

TEST_F(ImageTest, JpegRoundTripDropsAlphaAndStaysClose) {
    std::vector<std::uint8_t> rgba(64 * 48 * 4);
    for (std::size_t i = 0; i < 64 * 48; ++i) {
        std::size_t x = i % 64, y = i / 64;
        rgba[i * 4 + 0] = std::uint8_t(x * 4), rgba[i * 4 + 1] = std::uint8_t(y * 5), rgba[i * 4 + 2] = 128,
                     rgba[i * 4 + 3] = std::uint8_t(x); // alpha is ignored
    }
    std::vector<std::uint8_t> jpeg = Image::encodeJPEG(rgba.data(), 64, 48, 95);
    ASSERT_FALSE(jpeg.empty());
    Ref<Image> image = Image::imageWithData(jpeg.data(), jpeg.size());
    ASSERT_TRUE(image);
    EXPECT_EQ(image->colorSpace(), ImageColorSpace::RGB);
    EXPECT_EQ(image->alphaInfo(), ImageAlphaInfo::None);
    EXPECT_EQ(image->componentsPerPixel(), 3u);
    for (std::size_t i = 0; i < 64 * 48; ++i)
        rgba[i * 4 + 3] = 255;
    expectClose(image->rgbaPixels(), rgba, 12, 1.5, "JPEG at quality 95");
}

TEST_F(ImageTest, EveryPngKindDecodesToEightBitPixels) {
    FL_REQUIRE_SHARED_TESTDATA();
    struct Kind {
        const char* file;
        ImageColorSpace space;
        ImageAlphaInfo alpha;
    } kinds[] = {
        {"png/basn3p01.png", ImageColorSpace::RGB, ImageAlphaInfo::None},
        {"png/basn3p04.png", ImageColorSpace::RGB, ImageAlphaInfo::None},
        {"png/basn3p08.png", ImageColorSpace::RGB, ImageAlphaInfo::None},
        {"png/tbbn3p08.png", ImageColorSpace::RGB, ImageAlphaInfo::Last},
        {"png/tbrn2c08.png", ImageColorSpace::RGB, ImageAlphaInfo::Last},
        {"png/basn0g01.png", ImageColorSpace::Gray, ImageAlphaInfo::None},
        {"png/basn0g08.png", ImageColorSpace::Gray, ImageAlphaInfo::None},
        {"png/basn0g16.png", ImageColorSpace::Gray, ImageAlphaInfo::None},
        {"png/basn4a08.png", ImageColorSpace::Gray, ImageAlphaInfo::Last},
        {"png/basn4a16.png", ImageColorSpace::Gray, ImageAlphaInfo::Last},
        {"png/basn2c16.png", ImageColorSpace::RGB, ImageAlphaInfo::None},
        {"png/basn6a16.png", ImageColorSpace::RGB, ImageAlphaInfo::Last},
        {"png/oi9n2c16.png", ImageColorSpace::RGB, ImageAlphaInfo::None},
        {"png/z00n2c08.png", ImageColorSpace::RGB, ImageAlphaInfo::None},
        {"png/s01i3p01.png", ImageColorSpace::RGB, ImageAlphaInfo::None},
        {"png/s35i3p04.png", ImageColorSpace::RGB, ImageAlphaInfo::None},
    };
    for (const Kind& k : kinds) {
        Ref<Image> image = Image::imageWithContentsOfFile(shared(k.file));
        ASSERT_TRUE(image) << k.file;
        EXPECT_EQ(image->colorSpace(), k.space) << k.file;
        EXPECT_EQ(image->alphaInfo(), k.alpha) << k.file;
        EXPECT_EQ(image->pixels().size(), image->bytesPerRow() * image->height()) << k.file;
    }
    // One-bit grey widens to full black and white.
    Ref<Image> bits = Image::imageWithContentsOfFile(shared("png/basn0g01.png"));
    for (std::uint8_t v : bits->pixels())
        EXPECT_TRUE(v == 0 || v == 255);
    // tRNS turns into real transparency.
    for (const char* file : {"png/tbbn3p08.png", "png/tbrn2c08.png"}) {
        auto rgba = Image::imageWithContentsOfFile(shared(file))->rgbaPixels();
        std::size_t clear = 0, opaque = 0;
        for (std::size_t i = 3; i < rgba.size(); i += 4)
            clear += rgba[i] == 0, opaque += rgba[i] == 255;
        EXPECT_GT(clear, 0u) << file;
        EXPECT_GT(opaque, 0u) << file;
    }
    EXPECT_EQ(Image::imageWithContentsOfFile(shared("png/s01i3p01.png"))->width(), 1u);
}

TEST_F(ImageTest, InterlacedPngsMatchTheirPlainTwins) {
    FL_REQUIRE_SHARED_TESTDATA();
    for (const char* name : {"0g08", "3p08", "6a08", "6a16"}) {
        Ref<Image> plain = Image::imageWithContentsOfFile(shared(std::string("png/basn") + name + ".png"));
        Ref<Image> interlaced =
            Image::imageWithContentsOfFile(shared(std::string("png/basi") + name + ".png"));
        ASSERT_TRUE(plain && interlaced) << name;
        EXPECT_EQ(plain->pixels(), interlaced->pixels()) << name;
    }
}

TEST_F(ImageTest, SixteenBitSamplesAreScaledToEightBits) {
    // Written here with libpng's own writer: linear 16-bit grey, values chosen around rounding.
    const std::uint16_t samples[4] = {0, 0x1234, 0x8000, 0xFFFF};
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = 4;
    image.height = 1;
    image.format = PNG_FORMAT_LINEAR_Y;
    png_alloc_size_t size = 0;
    ASSERT_TRUE(png_image_write_to_memory(&image, nullptr, &size, 0, samples, 0, nullptr));
    std::vector<std::uint8_t> png(size);
    ASSERT_TRUE(png_image_write_to_memory(&image, png.data(), &size, 0, samples, 0, nullptr));
    Ref<Image> decoded = Image::imageWithData(png.data(), size);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->colorSpace(), ImageColorSpace::Gray);
    for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(decoded->pixels()[i], samples[i] * 255.0 / 65535.0, 0.5001) << i;
}

TEST_F(ImageTest, JpegsMatchTheirReferencePngs) {
    FL_REQUIRE_SHARED_TESTDATA();
    for (const char* name : {"jpg-progressive", "jpg-gray", "jpg-size-15x15", "restarts", "jpg-cmyk-1"}) {
        Ref<Image> jpeg = Image::imageWithContentsOfFile(shared(std::string("jpeg/") + name + ".jpg"));
        Ref<Image> reference = Image::imageWithContentsOfFile(shared(std::string("jpeg/") + name + ".png"));
        ASSERT_TRUE(jpeg && reference) << name;
        EXPECT_EQ(jpeg->width(), reference->width()) << name;
        EXPECT_EQ(jpeg->height(), reference->height()) << name;
        EXPECT_EQ(jpeg->alphaInfo(), ImageAlphaInfo::None) << name;
        expectClose(jpeg->rgbaPixels(), reference->rgbaPixels(), 8, 1.0, name);
    }
    Ref<Image> grey = Image::imageWithContentsOfFile(shared("jpeg/hopper_gray.jpg"));
    ASSERT_TRUE(grey);
    EXPECT_EQ(grey->colorSpace(), ImageColorSpace::Gray);
    EXPECT_TRUE(grey->hasColorSpace()) << "grey images are never taken for masks";
    EXPECT_EQ(grey->width(), 128u);
}

TEST_F(ImageTest, BrokenAndTruncatedFilesFailCleanly) {
    FL_REQUIRE_SHARED_TESTDATA();
    for (const char* file : {"png/xcsn0g01.png", "png/xs1n0g01.png", "png/iphone_tbyn3p08.png"})
        EXPECT_FALSE(Image::imageWithContentsOfFile(shared(file))) << file;
    EXPECT_NE(logged.find("xcsn0g01.png"), std::string::npos) << "failures name the file";

    for (const char* file :
         {"png/basi6a16.png", "png/basn3p08.png", "jpeg/jpg-progressive.jpg", "jpeg/restarts.jpg"}) {
        std::vector<std::uint8_t> bytes = readBytes(shared(file));
        ASSERT_FALSE(bytes.empty());
        for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
            // A copy of exactly the cut length, so a read past it is an address error.
            std::vector<std::uint8_t> part(bytes.begin(), bytes.begin() + std::ptrdiff_t(cut));
            EXPECT_FALSE(Image::imageWithData(part.data(), part.size())) << file << " cut at " << cut;
        }
    }
}

TEST_F(ImageTest, GarbageAndMissingFilesGiveNull) {
    EXPECT_FALSE(Image::imageWithData(nullptr, 0));
    std::vector<std::uint8_t> junk(100, 0x5A);
    EXPECT_FALSE(Image::imageWithData(junk.data(), junk.size()));
    junk[0] = 0xFF, junk[1] = 0xD8, junk[2] = 0xFF; // JPEG start, then nonsense
    EXPECT_FALSE(Image::imageWithData(junk.data(), junk.size()));
    EXPECT_FALSE(Image::imageWithContentsOfFile("/nonexistent/picture.png"));
    // Flipped bits in the image data of a valid file.
    auto rgba = pattern(16, 16);
    std::vector<std::uint8_t> png = Image::encodePNG(rgba.data(), 16, 16);
    for (std::size_t i = 45; i < png.size() - 12; i += 7)
        png[i] ^= 0x55;
    EXPECT_FALSE(Image::imageWithData(png.data(), png.size()));
}

TEST_F(ImageTest, OversizedImagesAreRefusedBeforeDecoding) {
    auto ok = pngClaiming(4, 4);
    EXPECT_TRUE(Image::imageWithData(ok.data(), ok.size())) << "the crafted file itself is valid";
    for (auto [w, h] : {std::pair{20000u, 1u}, {1u, 16385u}, {16384u, 16384u}, {0x7FFFFFFFu, 0x7FFFFFFFu}}) {
        auto png = pngClaiming(w, h);
        EXPECT_FALSE(Image::imageWithData(png.data(), png.size())) << w << "x" << h;
    }
    // A JPEG whose frame header is patched to claim 40000 x 40000.
    auto rgba = pattern(8, 8);
    std::vector<std::uint8_t> jpeg = Image::encodeJPEG(rgba.data(), 8, 8);
    bool patched = false;
    for (std::size_t i = 0; i + 8 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
            jpeg[i + 5] = 0x9C, jpeg[i + 6] = 0x40, jpeg[i + 7] = 0x9C, jpeg[i + 8] = 0x40;
            patched = true;
            break;
        }
    ASSERT_TRUE(patched);
    EXPECT_FALSE(Image::imageWithData(jpeg.data(), jpeg.size()));
    std::uint8_t pixel[4] = {};
    EXPECT_FALSE(Image::imageWithPixels(pixel, 0, 1, ImageColorSpace::RGB, ImageAlphaInfo::Last));
    EXPECT_FALSE(Image::imageWithPixels(pixel, 16385, 1, ImageColorSpace::RGB, ImageAlphaInfo::Last));
    EXPECT_TRUE(Image::encodePNG(pixel, 0, 1).empty());
    EXPECT_TRUE(Image::encodeJPEG(nullptr, 1, 1).empty());
}

TEST_F(ImageTest, PixelLayoutsAreCheckedAndMasksHaveNoColourSpace) {
    std::uint8_t bytes[4] = {1, 2, 3, 4};
    EXPECT_FALSE(Image::imageWithPixels(bytes, 1, 1, ImageColorSpace::RGB, ImageAlphaInfo::AlphaOnly));
    EXPECT_FALSE(Image::imageWithPixels(bytes, 1, 1, ImageColorSpace::None, ImageAlphaInfo::Last));
    EXPECT_FALSE(Image::imageWithPixels(bytes, 1, 1, ImageColorSpace::RGB, ImageAlphaInfo::First));
    EXPECT_FALSE(Image::imageWithPixels(nullptr, 1, 1, ImageColorSpace::RGB, ImageAlphaInfo::Last));
    Ref<Image> mask = Image::alphaMask(bytes, 2, 2);
    ASSERT_TRUE(mask);
    EXPECT_FALSE(mask->hasColorSpace());
    EXPECT_EQ(mask->alphaInfo(), ImageAlphaInfo::AlphaOnly);
    EXPECT_EQ(mask->bitsPerPixel(), 8u);
}

TEST_F(ImageTest, DrawingPremultipliesExactlyForEveryColourAndAlpha) {
    // Red runs over every value across, alpha over every value down.
    std::vector<std::uint8_t> rgba(256 * 256 * 4);
    for (unsigned a = 0; a < 256; ++a)
        for (unsigned c = 0; c < 256; ++c) {
            std::uint8_t* p = &rgba[(a * 256 + c) * 4];
            p[0] = std::uint8_t(c), p[1] = std::uint8_t(255 - c), p[2] = 255, p[3] = std::uint8_t(a);
        }
    Ref<Image> image =
        Image::imageWithPixels(rgba.data(), 256, 256, ImageColorSpace::RGB, ImageAlphaInfo::Last);
    ASSERT_TRUE(image);
    std::vector<std::uint8_t> out(256 * 256 * 4);
    ASSERT_TRUE(image->drawInBitmap(out.data(), 256, 256, 256 * 4, BitmapFormat::RGBAPremultiplied));
    int wrong = 0;
    for (unsigned a = 0; a < 256; ++a)
        for (unsigned c = 0; c < 256; ++c) {
            const std::uint8_t* p = &out[(a * 256 + c) * 4];
            wrong +=
                p[0] != premultiplied(c, a) || p[1] != premultiplied(255 - c, a) || p[2] != a || p[3] != a;
        }
    EXPECT_EQ(wrong, 0);
    // Without alpha: the image over black, the fourth byte full.
    ASSERT_TRUE(image->drawInBitmap(out.data(), 256, 256, 256 * 4, BitmapFormat::RGBX));
    EXPECT_EQ(out[(100 * 256 + 200) * 4 + 0], premultiplied(200, 100));
    EXPECT_EQ(out[(100 * 256 + 200) * 4 + 3], 255);
    // Premultiplied back to straight for export.
    Ref<Image> premul =
        Image::imageWithPixels(out.data(), 256, 256, ImageColorSpace::RGB, ImageAlphaInfo::PremultipliedLast);
    ASSERT_TRUE(image->drawInBitmap(out.data(), 256, 256, 256 * 4, BitmapFormat::RGBAPremultiplied));
    premul =
        Image::imageWithPixels(out.data(), 256, 256, ImageColorSpace::RGB, ImageAlphaInfo::PremultipliedLast);
    auto straight = premul->rgbaPixels();
    EXPECT_EQ(straight[(255 * 256 + 77) * 4], 77) << "opaque pixels come back unchanged";
    EXPECT_NEAR(straight[(128 * 256 + 77) * 4], 77, 1);
    EXPECT_EQ(straight[77 * 4], 0) << "fully clear pixels have no colour";
}

TEST_F(ImageTest, DrawingFillsTheTopRowsOfALargerBufferAndClearsTheRest) {
    auto rgba = pattern(3, 2);
    Ref<Image> image = Image::imageWithPixels(rgba.data(), 3, 2, ImageColorSpace::RGB, ImageAlphaInfo::Last);
    const std::size_t rowBytes = 4 * 4 + 8; // padding after each row
    std::vector<std::uint8_t> buffer(rowBytes * 4, 0xAB);
    ASSERT_TRUE(image->drawInBitmap(buffer.data(), 4, 4, rowBytes, BitmapFormat::RGBAPremultiplied));
    for (std::size_t y = 0; y < 4; ++y)
        for (std::size_t i = 0; i < rowBytes; ++i) {
            std::size_t x = i / 4, c = i % 4;
            std::uint8_t expected = 0;
            if (y < 2 && x < 3) {
                const std::uint8_t* s = &rgba[(y * 3 + x) * 4];
                expected = c == 3 ? s[3] : premultiplied(s[c], s[3]);
            }
            EXPECT_EQ(buffer[y * rowBytes + i], expected) << "row " << y << " byte " << i;
        }

    // Alpha-only: opaque images give full alpha; masks give their own.
    std::uint8_t greyPixels[6] = {10, 20, 30, 40, 50, 60};
    Ref<Image> grey = Image::imageWithPixels(greyPixels, 3, 2, ImageColorSpace::Gray, ImageAlphaInfo::None);
    std::vector<std::uint8_t> alpha(8 * 4, 0xCD);
    ASSERT_TRUE(grey->drawInBitmap(alpha.data(), 8, 4, 8, BitmapFormat::Alpha8));
    EXPECT_EQ(alpha[0], 255);
    EXPECT_EQ(alpha[8 + 2], 255);
    EXPECT_EQ(alpha[3], 0);
    EXPECT_EQ(alpha[2 * 8], 0);
    Ref<Image> mask = Image::alphaMask(greyPixels, 3, 2);
    ASSERT_TRUE(mask->drawInBitmap(alpha.data(), 8, 4, 8, BitmapFormat::Alpha8));
    EXPECT_EQ(alpha[8 + 1], 50);
    ASSERT_TRUE(mask->drawInBitmap(buffer.data(), 4, 4, rowBytes, BitmapFormat::RGBAPremultiplied));
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(buffer[3], 10) << "a mask draws black at its own alpha";
}

TEST_F(ImageTest, DrawingIntoASmallerBufferCutsTheImageAndBadBuffersAreRefused) {
    auto rgba = pattern(10, 10);
    Ref<Image> image =
        Image::imageWithPixels(rgba.data(), 10, 10, ImageColorSpace::RGB, ImageAlphaInfo::Last);
    std::vector<std::uint8_t> small(4 * 3 * 4);
    ASSERT_TRUE(image->drawInBitmap(small.data(), 4, 3, 16, BitmapFormat::RGBAPremultiplied));
    EXPECT_EQ(small[(2 * 4 + 3) * 4 + 3], rgba[(2 * 10 + 3) * 4 + 3]);
    EXPECT_FALSE(image->drawInBitmap(nullptr, 4, 4, 16, BitmapFormat::RGBAPremultiplied));
    EXPECT_FALSE(image->drawInBitmap(small.data(), 4, 3, 15, BitmapFormat::RGBAPremultiplied))
        << "row too short";
    EXPECT_FALSE(
        image->drawInBitmap(small.data(), SIZE_MAX / 2, 1, SIZE_MAX, BitmapFormat::RGBAPremultiplied));
}

TEST_F(ImageTest, WritersProduceFilesTheDecoderReads) {
    auto dir = std::filesystem::temp_directory_path() / ("fl-image-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    auto rgba = pattern(5, 7);
    ASSERT_TRUE(Image::writePNG((dir / "a.png").string(), rgba.data(), 5, 7));
    ASSERT_TRUE(Image::writeJPEG((dir / "a.jpg").string(), rgba.data(), 5, 7, 80));
    Ref<Image> png = Image::imageWithContentsOfFile((dir / "a.png").string());
    Ref<Image> jpeg = Image::imageWithContentsOfFile((dir / "a.jpg").string());
    ASSERT_TRUE(png && jpeg);
    EXPECT_EQ(png->pixels(), rgba);
    EXPECT_EQ(jpeg->width(), 5u);
    EXPECT_FALSE(Image::writePNG((dir / "missing" / "b.png").string(), rgba.data(), 5, 7));
    std::filesystem::remove_all(dir);
}

// Written files take the mode the umask gives (not a temporary file's 0600), replace an older
// file whole, and leave no temporary file behind.
TEST_F(ImageTest, WrittenFilesGetTheUmasksPermissionsAndNothingIsLeftBeside) {
    auto dir = std::filesystem::temp_directory_path() / ("fl-image-mode-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    auto path = (dir / "shot.png").string();
    auto rgba = pattern(3, 2);
    using std::filesystem::perms;
    mode_t old = ::umask(022);
    bool first = Image::writePNG(path, rgba.data(), 3, 2);
    perms wide = std::filesystem::status(path).permissions();
    ::umask(077);
    bool second = Image::writeFile(path, {1, 2, 3});
    perms narrow = std::filesystem::status(path).permissions();
    ::umask(old);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(wide, perms::owner_read | perms::owner_write | perms::group_read | perms::others_read);
    EXPECT_EQ(narrow, perms::owner_read | perms::owner_write);
    EXPECT_EQ(readBytes(path), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()),
              1);
    EXPECT_FALSE(Image::writeFile(path, {}));
    std::filesystem::remove_all(dir);
}
