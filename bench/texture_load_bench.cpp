// Loading a 1024 x 1024 PNG into an RGBA8888 texture, beside the floor: libpng decoding the
// same file on its own. The texture path adds the bitmap draw and the GL upload.
//
// Letting go of 2,000 textures: in their own context, current on the releasing thread (the
// floor); on a worker with no context, then the owner's next safe point; and beside a context of
// another group, current on the same thread, then the own context taken up again. Timed: the
// releasing thread's work and the safe point's (not the worker's start). `own_ratio` is each
// case's time over the floor's of the same run.
#include "core/CCShaderCache.h"
#include "core/ccGLStateCache.h"
#include "graphics/CCTexture2D.h"
#include "platform/GLContext.h"
#include "platform/Image.h"
#include "platform/Log.h"

#include <GLES2/gl2.h>
#include <benchmark/benchmark.h>
#include <png.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr std::uint32_t kSide = 1024;

// A picture that compresses like artwork: smooth gradients, a shape with a soft edge, and
// faint noise in the transparent part.
const std::string& pngPath() {
    static const std::string path = [] {
        std::vector<std::uint8_t> rgba(std::size_t(kSide) * kSide * 4);
        std::uint32_t seed = 12345;
        for (std::uint32_t y = 0; y < kSide; ++y)
            for (std::uint32_t x = 0; x < kSide; ++x) {
                seed = seed * 1664525u + 1013904223u;
                const double dx = x - 512.0, dy = y - 400.0, d = std::sqrt(dx * dx + dy * dy);
                std::uint8_t* p = &rgba[(std::size_t(y) * kSide + x) * 4];
                p[0] = std::uint8_t(x / 4);
                p[1] = std::uint8_t(y / 4);
                p[2] = std::uint8_t(128 + 100 * std::sin(d / 30.0));
                p[3] = std::uint8_t(d < 300 ? 255 : d < 340 ? 255 - (d - 300) * 6 : (seed >> 24) & 7);
            }
        const std::string file =
            (std::filesystem::temp_directory_path() / "footlight-texture-bench.png").string();
        platform::Image::writePNG(file, rgba.data(), kSide, kSide);
        return file;
    }();
    return path;
}

std::vector<std::uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The floor: read the file and let libpng decode it into RGBA8.
void BM_LibpngDecode(benchmark::State& state) {
    const std::string& path = pngPath();
    std::vector<std::uint8_t> pixels;
    for (auto _ : state) {
        const std::vector<std::uint8_t> file = readFile(path);
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) {
            state.SkipWithError("libpng refused the file");
            return;
        }
        image.format = PNG_FORMAT_RGBA;
        pixels.resize(PNG_IMAGE_SIZE(image));
        png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr);
        benchmark::DoNotOptimize(pixels.data());
    }
}
BENCHMARK(BM_LibpngDecode)->Unit(benchmark::kMillisecond);

// The engine: decode through the platform image, make the texture and let GL finish.
void BM_TextureFromPNG(benchmark::State& state) {
    const std::string& path = pngPath();
    for (auto _ : state) {
        platform::Ref<platform::Image> image = platform::Image::imageWithContentsOfFile(path);
        auto texture = platform::make<CCTexture2D>();
        if (!image || !texture->initWithCGImage(image.get(), kCCResolutionUnknown)) {
            state.SkipWithError("no texture");
            return;
        }
        glFinish();
        benchmark::DoNotOptimize(texture->name());
    }
}
BENCHMARK(BM_TextureFromPNG)->Unit(benchmark::kMillisecond);

enum PurgeFrom : std::int64_t { kOwnContext, kWorker, kBesideAnotherGroup };

double ownPurgeSeconds = 0;

void BM_PurgeTextures(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    constexpr int kTextures = 2000;
    const auto from = static_cast<PurgeFrom>(state.range(0));
    platform::GLContext* own = platform::GLContext::currentContext();
    platform::Ref<platform::GLContext> other = platform::GLContext::contextWithAPI(platform::kEAGLRenderingAPIOpenGLES2);
    const std::uint8_t pixel[4] = {255, 255, 255, 255};
    double total = 0;
    for (auto _ : state) {
        std::vector<platform::Ref<CCTexture2D>> textures(kTextures);
        for (auto& texture : textures) {
            texture = platform::make<CCTexture2D>();
            texture->initWithData(pixel, kCCTexture2DPixelFormat_RGBA8888, 1, 1, CGSizeMake(1, 1));
        }
        if (from == kBesideAnotherGroup) platform::GLContext::setCurrentContext(other.get());
        auto release = [&textures] {
            Clock::time_point start = Clock::now();
            textures.clear();
            return std::chrono::duration<double>(Clock::now() - start).count();
        };
        double seconds = 0;
        if (from == kWorker)
            std::thread([&] { seconds = release(); }).join();
        else
            seconds = release();
        // The own context taken up again is the safe point beside another group's context.
        Clock::time_point safePoint = Clock::now();
        if (from == kBesideAnotherGroup) platform::GLContext::setCurrentContext(own);
        glCacheDeleteWaitingObjects();
        seconds += std::chrono::duration<double>(Clock::now() - safePoint).count();
        state.SetIterationTime(seconds);
        total += seconds;
    }
    double perPurge = total / static_cast<double>(state.iterations());
    if (from == kOwnContext) ownPurgeSeconds = perPurge;
    if (ownPurgeSeconds > 0) state.counters["own_ratio"] = perPurge / ownPurgeSeconds;
}
BENCHMARK(BM_PurgeTextures)
    ->Arg(kOwnContext)
    ->Arg(kWorker)
    ->Arg(kBesideAnotherGroup)
    ->ArgName("from")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    platform::setLogSink([](const std::string&) {});
    platform::Ref<platform::GLContext> context =
        platform::GLContext::contextWithAPI(platform::GLRenderingAPI::OpenGLES2);
    if (!context || !platform::GLContext::setCurrentContext(context.get())) {
        std::fprintf(stderr, "no GL context\n");
        return 1;
    }
    CCTexture2D::setDefaultAlphaPixelFormat(kCCTexture2DPixelFormat_RGBA8888);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    CCShaderCache::purgeSharedShaderCache();
    platform::GLContext::setCurrentContext(nullptr);
    std::filesystem::remove(pngPath());
    return 0;
}
