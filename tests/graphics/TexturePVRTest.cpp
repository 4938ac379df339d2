#include "core/CCConfiguration.h"
#include "core/CCShaderCache.h"
#include "graphics/CCTexture2D.h"
#include "graphics/CCTexturePVR.h"
#include "platform/Drawable.h"
#include "tests/support/GLTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <unistd.h>
#include <string>
#include <utility>
#include <vector>

using platform::Ref;
using Bytes = std::vector<std::uint8_t>;

platform::PixelBuffer drawnTexturePixels(CCTexture2D* texture, int w, int h);

namespace {

void put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = std::uint8_t(v >> (8 * i));
}

// 52 zero bytes for a header, then the parts. Sized once: GCC 12 at -O3 reports a false
// out-of-bounds copy inside a growing insert.
Bytes header52(const Bytes& part, const Bytes& more = {}) {
    Bytes b(52 + part.size() + more.size());
    std::copy(more.begin(), more.end(), std::copy(part.begin(), part.end(), b.begin() + 52));
    return b;
}

// The 52-byte legacy header ("PVR!" at 44), then the data.
Bytes pvrV2(std::uint32_t w, std::uint32_t h, std::uint32_t type, const Bytes& data,
            std::uint32_t alphaMask = 0, std::int64_t dataLength = -1) {
    Bytes b = header52(data);
    put32(b, 0, 52);
    put32(b, 4, h);
    put32(b, 8, w);
    put32(b, 16, type);
    put32(b, 20, dataLength < 0 ? std::uint32_t(data.size()) : std::uint32_t(dataLength));
    put32(b, 40, alphaMask);
    put32(b, 44, 0x21525650);
    put32(b, 48, 1);
    return b;
}

std::uint64_t channels(const char* letters, std::uint8_t b0, std::uint8_t b1 = 0, std::uint8_t b2 = 0,
                       std::uint8_t b3 = 0) {
    std::uint64_t key = 0;
    for (int i = 0; i < 4 && letters[i]; ++i)
        key |= std::uint64_t(std::uint8_t(letters[i])) << (8 * i);
    return key | std::uint64_t(b0) << 32 | std::uint64_t(b1) << 40 | std::uint64_t(b2) << 48 |
           std::uint64_t(b3) << 56;
}

struct V3 {
    V3(std::uint64_t format, std::uint32_t w, std::uint32_t h, std::uint32_t levels = 1,
       std::uint32_t flags = 0, std::uint32_t depth = 1, std::uint32_t surfaces = 1, std::uint32_t faces = 1,
       Bytes metadata = {}, std::int64_t metadataLength = -1)
        : format(format), w(w), h(h), levels(levels), flags(flags), depth(depth), surfaces(surfaces),
          faces(faces), metadata(std::move(metadata)), metadataLength(metadataLength) {}
    std::uint64_t format;
    std::uint32_t w, h, levels, flags, depth, surfaces, faces;
    Bytes metadata;
    std::int64_t metadataLength;
};

Bytes pvrV3(const V3& v, const Bytes& data) {
    Bytes b = header52(v.metadata, data);
    put32(b, 0, 0x03525650);
    put32(b, 4, v.flags);
    put32(b, 8, std::uint32_t(v.format));
    put32(b, 12, std::uint32_t(v.format >> 32));
    put32(b, 24, v.h);
    put32(b, 28, v.w);
    put32(b, 32, v.depth);
    put32(b, 36, v.surfaces);
    put32(b, 40, v.faces);
    put32(b, 44, v.levels);
    put32(b, 48, v.metadataLength < 0 ? std::uint32_t(v.metadata.size()) : std::uint32_t(v.metadataLength));
    return b;
}

Bytes counting(std::size_t n, std::uint8_t start = 1) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = std::uint8_t(start + i * 37);
    return b;
}

std::uint32_t rgba(unsigned r, unsigned g, unsigned b, unsigned a) {
    return r << 24 | g << 16 | b << 8 | a;
}
unsigned expand(unsigned q, unsigned bits) {
    return unsigned(std::lround(q * 255.0 / ((1u << bits) - 1)));
}

struct Format {
    const char* name;
    std::uint32_t v2Type;
    std::uint64_t v3Key;
    unsigned bytesPerPixel;
    CCTexture2DPixelFormat engineFormat;
    bool alpha; // as a version 3 file reports it
};

const Format kUncompressed[] = {
    {"RGBA8888", 0x12, channels("rgba", 8, 8, 8, 8), 4, kCCTexture2DPixelFormat_RGBA8888, true},
    {"RGBA4444", 0x10, channels("rgba", 4, 4, 4, 4), 2, kCCTexture2DPixelFormat_RGBA4444, true},
    {"RGBA5551", 0x11, channels("rgba", 5, 5, 5, 1), 2, kCCTexture2DPixelFormat_RGB5A1, true},
    {"RGB565", 0x13, channels("rgb", 5, 6, 5), 2, kCCTexture2DPixelFormat_RGB565, false},
    {"RGB888", 0x15, channels("rgb", 8, 8, 8), 3, kCCTexture2DPixelFormat_RGB888, false},
    {"A8", 0x1B, channels("a", 8), 1, kCCTexture2DPixelFormat_A8, false},
    {"L8", 0x16, channels("l", 8), 1, kCCTexture2DPixelFormat_I8, false},
    {"LA88", 0x17, channels("la", 8, 8), 2, kCCTexture2DPixelFormat_AI88, true},
};

// What sampling texel i of a level in that format gives, computed from the file's bytes.
std::uint32_t expectedTexel(const Format& f, const Bytes& d, std::size_t i) {
    const std::uint8_t* p = d.data() + i * f.bytesPerPixel;
    const unsigned v = p[0] | (f.bytesPerPixel > 1 ? p[1] << 8 : 0);
    const std::string n = f.name;
    if (n == "RGBA8888") return rgba(p[0], p[1], p[2], p[3]);
    if (n == "RGBA4444")
        return rgba(expand(v >> 12, 4), expand(v >> 8 & 15, 4), expand(v >> 4 & 15, 4), expand(v & 15, 4));
    if (n == "RGBA5551")
        return rgba(expand(v >> 11, 5), expand(v >> 6 & 31, 5), expand(v >> 1 & 31, 5), (v & 1) * 255);
    if (n == "RGB565") return rgba(expand(v >> 11, 5), expand(v >> 5 & 63, 6), expand(v & 31, 5), 255);
    if (n == "RGB888") return rgba(p[0], p[1], p[2], 255);
    if (n == "A8") return rgba(0, 0, 0, p[0]);
    if (n == "L8") return rgba(p[0], p[0], p[0], 255);
    return rgba(p[0], p[0], p[0], p[1]);
}

class TexturePVRTest : public fltest::GLTest {
protected:
    void SetUp() override {
        fltest::GLTest::SetUp();
        dir_ = std::filesystem::temp_directory_path() /
               ("footlight-pvr-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override {
        std::filesystem::remove_all(dir_);
        CCTexture2D::PVRImagesHavePremultipliedAlpha(false);
        CCShaderCache::purgeSharedShaderCache();
        fltest::GLTest::TearDown();
    }
    std::string write(const std::string& name, const Bytes& bytes) {
        const std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return path;
    }
    static Ref<CCTexture2D> texture(const std::string& path) {
        auto t = platform::make<CCTexture2D>();
        return t->initWithPVRFile(path) ? t : nullptr;
    }
    static std::string shared(const char* relative) { return (fltest::sharedTestData() / relative).string(); }

    std::filesystem::path dir_;
};

TEST_F(TexturePVRTest, EveryUncompressedFormatOfBothVersionsUploadsItsTexels) {
    CCTexture2D::PVRImagesHavePremultipliedAlpha(true);
    for (const Format& f : kUncompressed) {
        SCOPED_TRACE(f.name);
        // A whole chain: 4 x 2, 2 x 1, 1 x 1 (GL samples nothing from an incomplete one).
        const Bytes level0 = counting(4 * 2 * f.bytesPerPixel), levels = counting(3 * f.bytesPerPixel, 9);
        Bytes both = level0;
        both.insert(both.end(), levels.begin(), levels.end());

        const std::string v2 =
            write(std::string(f.name) + ".v2.pvr", pvrV2(4, 2, f.v2Type, both, f.alpha ? 0xFF : 0));
        const std::string v3 = write(std::string(f.name) + ".v3.pvr",
                                     pvrV3({f.v3Key, 4, 2, 3, 0, 1, 1, 1, Bytes(7, 0xEE)}, both));
        for (const std::string& path : {v2, v3}) {
            auto pvr = CCTexturePVR::pvrTextureWithContentsOfFile(path);
            ASSERT_TRUE(pvr) << path;
            EXPECT_EQ(pvr->format(), f.engineFormat);
            EXPECT_EQ(pvr->numberOfMipmaps(), 3u);
            EXPECT_EQ(pvr->hasAlpha(), f.alpha);

            auto t = texture(path);
            ASSERT_TRUE(t);
            EXPECT_EQ(t->pixelFormat(), f.engineFormat);
            EXPECT_EQ(t->pixelsWide(), 4u);
            EXPECT_EQ(t->contentSizeInPixels(), CGSizeMake(4, 2));
            EXPECT_TRUE(t->hasMipmaps());
            EXPECT_EQ(t->maxS(), 1.0f);
            ASSERT_NE(t->shaderProgram(), nullptr) << "a PVR texture draws like any other";
            EXPECT_EQ(t->hasPremultipliedAlpha(), path == v2) << "version 2 follows the class setting";
            const platform::PixelBuffer out = drawnTexturePixels(t.get(), 4, 2);
            for (std::size_t i = 0; i < 8; ++i)
                EXPECT_TRUE(
                    fltest::colorNear(out.pixel(int(i % 4), int(i / 4)), expectedTexel(f, level0, i), 1))
                    << path << " texel " << i;
        }
    }
}

TEST_F(TexturePVRTest, LevelsAreCutByFormatAndPremultiplicationFollowsTheFile) {
    auto pvr = platform::make<CCTexturePVR>();
    const Bytes data = counting(128 + 32 + 8 + 4);
    Bytes file = pvrV3({channels("rgba", 8, 8, 8, 8), 8, 4, 4, 2}, data);
    ASSERT_TRUE(pvr->unpackPVRv3Data(file.data(), file.size()));
    EXPECT_TRUE(pvr->hasPremultipliedAlpha());
    EXPECT_TRUE(pvr->forcePremultipliedAlpha());
    ASSERT_EQ(pvr->numberOfMipmaps(), 4u);
    const std::uint32_t lens[] = {128, 32, 8, 4};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(pvr->mipmaps()[i].len, lens[i]);
    EXPECT_EQ(pvr->mipmaps()[3].address, file.data() + 52 + 168);
    EXPECT_FALSE(pvr->unpackPVRv2Data(file.data(), file.size()));

    // Compressed levels take at least 2 x 2 blocks of 8 bytes.
    file = pvrV3({2, 1, 1, 1}, Bytes(32));
    ASSERT_TRUE(pvr->unpackPVRv3Data(file.data(), file.size()));
    EXPECT_EQ(pvr->format(), kCCTexture2DPixelFormat_PVRTC4);
    EXPECT_EQ(pvr->mipmaps()[0].len, 32u);
    file = pvrV3({1, 32, 8, 1}, Bytes(64));
    ASSERT_TRUE(pvr->unpackPVRv3Data(file.data(), file.size()));
    EXPECT_EQ(pvr->mipmaps()[0].len, 64u) << "4 x 2 blocks of 8 x 4 pixels";
    EXPECT_TRUE(pvr->hasAlpha());
    if (!CCConfiguration::sharedConfiguration()->supportsPVRTC()) {
        EXPECT_FALSE(pvr->createGLTexture());
    }

    // Sizes need not be powers of two with a context that takes any size.
    file = pvrV3({channels("rgb", 5, 6, 5), 100, 64}, Bytes(100 * 64 * 2));
    EXPECT_TRUE(pvr->unpackPVRv3Data(file.data(), file.size()));
    EXPECT_FALSE(pvr->hasPremultipliedAlpha());
}

TEST_F(TexturePVRTest, ALevelCutShortIsKeptButNeverUploaded) {
    auto pvr = platform::make<CCTexturePVR>();
    Bytes file = pvrV2(8, 4, 0x12, counting(128 + 32 + 5));
    ASSERT_TRUE(pvr->unpackPVRv2Data(file.data(), file.size()));
    ASSERT_EQ(pvr->numberOfMipmaps(), 3u);
    EXPECT_EQ(pvr->mipmaps()[2].len, 5u);
    EXPECT_FALSE(pvr->createGLTexture());
    EXPECT_FALSE(texture(write("short.pvr", file)));

    // The same for a version 3 file whose last level runs past its end.
    file = pvrV3({channels("rgba", 8, 8, 8, 8), 8, 4, 3}, counting(128 + 20));
    ASSERT_TRUE(pvr->unpackPVRv3Data(file.data(), file.size()));
    EXPECT_EQ(pvr->mipmaps()[1].len, 20u);
    EXPECT_EQ(pvr->mipmaps()[2].len, 0u);
    EXPECT_FALSE(texture(write("short3.pvr", file)));
}

TEST_F(TexturePVRTest, SizesTheFileCannotHoldAreRefused) {
    const std::uint64_t rgba8 = channels("rgba", 8, 8, 8, 8);
    struct Case {
        const char* what;
        Bytes file;
    };
    Bytes v2 = pvrV2(2, 2, 0x12, Bytes(16));
    Bytes v3 = pvrV3({rgba8, 2, 2}, Bytes(16));
    const Case cases[] = {
        {"empty", {}},
        {"v2 header cut", Bytes(v2.begin(), v2.begin() + 51)},
        {"v3 header cut", Bytes(v3.begin(), v3.begin() + 51)},
        {"v2 data beyond the file", pvrV2(2, 2, 0x12, Bytes(16), 0, 17)},
        {"v2 data length near 2^32", pvrV2(2, 2, 0x12, Bytes(16), 0, 0xFFFFFFFF)},
        {"v3 metadata beyond the file", pvrV3({rgba8, 2, 2, 1, 0, 1, 1, 1, {}, 17}, Bytes(16))},
        {"v3 metadata near 2^32", pvrV3({rgba8, 2, 2, 1, 0, 1, 1, 1, {}, 0xFFFFFFF0}, Bytes(16))},
        {"v3 17 levels", pvrV3({rgba8, 1, 1, 17}, Bytes(17 * 4))},
        {"v2 17 levels", pvrV2(1, 1, 0x12, Bytes(17 * 4))},
        {"v3 overflowing size", pvrV3({rgba8, 0xFFFFFFFF, 0xFFFFFFFF}, Bytes(16))},
        {"v3 level over 4 GiB", pvrV3({rgba8, 0x10000, 0x10000}, Bytes(16))},
        {"v2 overflowing size", pvrV2(0x80000000, 0x80000000, 0x12, Bytes(16))},
        {"v2 zero width", pvrV2(0, 2, 0x12, Bytes(16))},
        {"v3 zero height", pvrV3({rgba8, 2, 0}, Bytes(16))},
        {"v3 cube map", pvrV3({rgba8, 2, 2, 1, 0, 1, 1, 6}, Bytes(16 * 6))},
        {"v3 volume", pvrV3({rgba8, 2, 2, 1, 0, 2}, Bytes(32))},
        {"v3 array", pvrV3({rgba8, 2, 2, 1, 0, 1, 3}, Bytes(48))},
        {"v2 unknown type", pvrV2(2, 2, 0x14, Bytes(16))},
        {"v3 unknown channels", pvrV3({channels("rgba", 8, 8, 8, 0), 2, 2}, Bytes(16))},
        {"v3 big-endian version",
         [] {
             Bytes b = pvrV3({channels("rgba", 8, 8, 8, 8), 2, 2}, Bytes(16));
             put32(b, 0, 0x50565203);
             return b;
         }()},
    };
    for (const Case& c : cases) {
        auto pvr = platform::make<CCTexturePVR>();
        EXPECT_FALSE(pvr->unpackPVRv2Data(c.file.data(), c.file.size()) ||
                     pvr->unpackPVRv3Data(c.file.data(), c.file.size()))
            << c.what;
        EXPECT_FALSE(texture(write("bad.pvr", c.file))) << c.what;
    }
    // A v2 file whose data stops before the announced 16 levels are cut is fine.
    auto pvr = platform::make<CCTexturePVR>();
    const Bytes sixteen = pvrV2(1, 1, 0x12, Bytes(16 * 4));
    EXPECT_TRUE(pvr->unpackPVRv2Data(sixteen.data(), sixteen.size()));
    const Bytes noData = pvrV2(2, 2, 0x12, {});
    ASSERT_TRUE(pvr->unpackPVRv2Data(noData.data(), noData.size()));
    EXPECT_EQ(pvr->numberOfMipmaps(), 0u);
    EXPECT_FALSE(texture(write("levelless.pvr", noData))) << "a texture with no GL storage";
}

TEST_F(TexturePVRTest, FormatsTheContextLacksAreRefusedCleanly) {
    auto config = CCConfiguration::sharedConfiguration();
    const Bytes bgra = counting(16);
    for (const Bytes& file :
         {pvrV2(2, 2, 0x1A, bgra, 0xFF), pvrV3({channels("bgra", 8, 8, 8, 8), 2, 2}, bgra)}) {
        auto t = texture(write("bgra.pvr", file));
        EXPECT_EQ(bool(t), config->supportsBGRA8888());
    }
    for (const Bytes& file : {pvrV2(8, 8, 0x18, Bytes(32), 0xFF), pvrV2(8, 8, 0x19, Bytes(32), 0xFF),
                              pvrV3({0, 16, 8, 1}, Bytes(32)), pvrV3({3, 8, 8, 1}, Bytes(32))})
        EXPECT_EQ(bool(texture(write("pvrtc.pvr", file))), config->supportsPVRTC());
}

TEST_F(TexturePVRTest, CompressedContainersAndURLs) {
    const Bytes pixels = counting(16);
    const Bytes file = pvrV2(2, 2, 0x12, pixels, 0xFF);

    const std::string gz = (dir_ / "a.pvr.gz").string();
    gzFile out = gzopen(gz.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    gzwrite(out, file.data(), unsigned(file.size()));
    gzclose(out);

    uLongf packedSize = compressBound(uLong(file.size()));
    Bytes packed(packedSize);
    ASSERT_EQ(compress(packed.data(), &packedSize, file.data(), uLong(file.size())), Z_OK);
    Bytes ccz = {'C', 'C', 'Z', '!', 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 4; ++i)
        ccz[12 + i] = std::uint8_t(file.size() >> (8 * (3 - i)));
    ccz.insert(ccz.end(), packed.begin(), packed.begin() + std::ptrdiff_t(packedSize));
    const std::string cczPath = write("B.PVR.CCZ", ccz);

    for (const std::string& path : {gz, cczPath}) {
        auto t = texture(path);
        ASSERT_TRUE(t) << path;
        EXPECT_TRUE(fltest::colorNear(drawnTexturePixels(t.get(), 2, 2).pixel(1, 1),
                                      rgba(pixels[12], pixels[13], pixels[14], pixels[15]), 0));
    }
    Bytes broken = ccz;
    broken.resize(broken.size() - 4);
    EXPECT_FALSE(texture(write("c.pvr.ccz", broken)));
    EXPECT_FALSE(texture((dir_ / "missing.pvr").string()));

    EXPECT_TRUE(CCTexturePVR::pvrTextureWithContentsOfURL("file://" + gz));
    EXPECT_FALSE(CCTexturePVR::pvrTextureWithContentsOfURL("http://example.invalid/a.pvr"));
}

TEST_F(TexturePVRTest, RealFilesLoadWithEveryLevel) {
    FL_REQUIRE_SHARED_TESTDATA();
    struct Expect {
        const char* file;
        std::uint32_t w, h;
        std::uint64_t levels;
        CCTexture2DPixelFormat format;
    };
    const Expect expect[] = {
        {"pvr/v3/PVRPrint3DLogo.pvr", 256, 128, 9, kCCTexture2DPixelFormat_RGBA8888},
        {"pvr/v3/crate.pvr", 64, 64, 7, kCCTexture2DPixelFormat_RGB888},
        {"pvr/v3/title_36.pvr", 128, 128, 8, kCCTexture2DPixelFormat_AI88},
        {"pvr/v3/R4G4B4A4+B4A4R4G4_UNORM_lRGB_RGBA_TP.pvr", 1280, 720, 1, kCCTexture2DPixelFormat_RGBA4444},
        {"pvr/gz/bridgesprites.pvr.gz", 512, 512, 1, kCCTexture2DPixelFormat_RGBA8888},
        {"pvr/ccz/normal.pvr.ccz", 254, 1130, 1, kCCTexture2DPixelFormat_RGBA8888},
    };
    for (const Expect& e : expect) {
        SCOPED_TRACE(e.file);
        auto pvr = CCTexturePVR::pvrTextureWithContentsOfFile(shared(e.file));
        ASSERT_TRUE(pvr);
        EXPECT_EQ(pvr->width(), e.w);
        EXPECT_EQ(pvr->height(), e.h);
        EXPECT_EQ(pvr->numberOfMipmaps(), e.levels);
        EXPECT_EQ(pvr->format(), e.format);
        EXPECT_NE(pvr->name(), 0u);
    }
    auto logo = CCTexturePVR::pvrTextureWithContentsOfFile(shared("pvr/v3/PVRPrint3DLogo.pvr"));
    ASSERT_TRUE(logo);
    EXPECT_EQ(logo->mipmaps()[0].len, 256u * 128 * 4);
    EXPECT_EQ(logo->mipmaps()[8].len, 4u) << "the 1 x 1 level of an uncompressed format is one pixel";
    auto premultiplied = texture(shared("pvr/v3/R4G4B4A4+B4A4R4G4_UNORM_lRGB_RGBA_TP.pvr"));
    ASSERT_TRUE(premultiplied);
    EXPECT_TRUE(premultiplied->hasPremultipliedAlpha());

    const bool pvrtc = CCConfiguration::sharedConfiguration()->supportsPVRTC();
    for (const char* file : {"pvr/v2/PVRBPP2_RGBA_TM.pvr", "pvr/v2/PVRBPP4_RGBA_TM.pvr",
                             "pvr/v3/PVRBPP4_UNORM_sRGB_RGBA_T.pvr", "pvr/v3/PVRBPP2_UNORM_sRGB_RGB_TM.pvr"})
        EXPECT_EQ(bool(texture(shared(file))), pvrtc) << file;
    EXPECT_FALSE(texture(shared("pvr/ccz/protection.pvr.ccz"))) << "encrypted containers are not read";
}

} // namespace
