// Frames of moving sprites: the engine (sprites in batch nodes, drawn by the director) against
// a reference that does the least work for the same picture (the same transforms and quads
// written into one client buffer, uploaded once and drawn with raw OpenGL ES).
//
// Every frame each sprite is moved, turned and scaled. Frames run as a game runs them: back to
// back, each ending in a flush (the engine's present, the reference's own), with one glFinish
// at the end of a run of kFramesPerRun frames; a frame's time is the run's over its frames.
// Per case: the engine's frame as the benchmark time, `ref_ms` the reference's and `ratio`
// engine / reference; `sync_ratio` the same for frames that each wait for the GL; `cpu_us`,
// `ref_cpu_us` and `cpu_ratio` the main thread's time from a frame's start to the issue of its
// last draw call; `B_per_sprite` the heap the engine takes per sprite (sprite, its slots in the
// batch's arrays, its quad and indices).
#include "BenchSupport.h"
#include "core/CCDirector.h"
#include "core/CCGLView.h"
#include "core/CCMatrix.h"
#include "core/CCScene.h"
#include "core/CCShaderCache.h"
#include "core/ccGLStateCache.h"
#include "graphics/CCSprite.h"
#include "graphics/CCSpriteBatchNode.h"
#include "graphics/CCTexture2D.h"
#include "graphics/CCTextureCache.h"
#include "platform/Drawable.h"
#include "platform/GLCheck.h"
#include "platform/GLExtensions.h"

#include <benchmark/benchmark.h>

#include <GLES2/gl2.h>
#include <GLES2/gl2ext.h>
#include <malloc.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using platform::Ref;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kWidth = 480, kHeight = 320;
constexpr int kFramesPerRun = 16;
constexpr float kDegrees = 0.017453292f;

// One sprite's motion, the same for engine and reference.
struct Motion {
    float x, y, vx, vy, rotation, spin, scale;
};

std::vector<Motion> makeMotions(int n) {
    std::mt19937 random(42);
    std::uniform_real_distribution<float> ux(0, kWidth), uy(0, kHeight), uv(-2, 2), ur(0, 360), us(-3, 3);
    std::vector<Motion> motions(static_cast<std::size_t>(n));
    for (Motion& m : motions)
        m = {ux(random), uy(random), uv(random), uv(random), ur(random), us(random), 1};
    return motions;
}

inline void step(Motion& m, unsigned frame) {
    m.x += m.vx;
    if (m.x < 0 || m.x > kWidth) m.vx = -m.vx;
    m.y += m.vy;
    if (m.y < 0 || m.y > kHeight) m.vy = -m.vy;
    m.rotation += m.spin;
    if (m.rotation >= 360) m.rotation -= 360;
    if (m.rotation < 0) m.rotation += 360;
    m.scale = 0.9f + 0.05f * static_cast<float>(frame & 3u);
}

// A 64 x 64 opaque pattern; sprites show its top-left `pixels` x `pixels`.
Ref<CCTexture2D> makeTexture() {
    std::vector<std::uint8_t> data(64 * 64 * 4);
    for (int i = 0; i < 64 * 64; ++i) {
        data[static_cast<std::size_t>(i * 4 + 0)] = static_cast<std::uint8_t>(i * 7);
        data[static_cast<std::size_t>(i * 4 + 1)] = static_cast<std::uint8_t>(i * 13);
        data[static_cast<std::size_t>(i * 4 + 2)] = static_cast<std::uint8_t>(i * 29);
        data[static_cast<std::size_t>(i * 4 + 3)] = 255;
    }
    auto texture = platform::make<CCTexture2D>();
    texture->initWithData(data.data(), kCCTexture2DPixelFormat_RGBA8888, 64, 64, CGSizeMake(64, 64));
    return texture;
}

Ref<CCGLView> makeView() {
    auto view = CCGLView::viewWithFrame(CGRectMake(0, 0, kWidth, kHeight), kEAGLColorFormatRGBA8, 0);
    if (!view) return nullptr;
    view->layoutIfNeeded();
    return view;
}

std::size_t heapInUse() {
    return mallinfo2().uordblks;
}

// The time of the last draw call seen by the GL call hook.
Clock::time_point lastDrawCall;
void noteCall(const char* call, void*) {
    if (std::strncmp(call, "glDrawElements", 14) == 0) lastDrawCall = Clock::now();
}

double seconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

// ---- the engine -----------------------------------------------------------------------------

struct Engine {
    std::vector<Motion> motions;
    Ref<CCScene> scene;
    std::vector<Ref<CCSpriteBatchNode>> nodes;
    std::vector<Ref<CCSprite>> sprites;
    double bytesPerSprite = 0;

    Engine(CCTexture2D* texture, int count, int batches, double pixels) : motions(makeMotions(count)) {
        scene = CCScene::node();
        sprites.reserve(static_cast<std::size_t>(count));
        std::size_t heapBefore = heapInUse();
        const int perBatch = (count + batches - 1) / batches;
        for (int b = 0; b < batches; ++b)
            nodes.push_back(
                CCSpriteBatchNode::batchNodeWithTexture(texture, static_cast<std::uint64_t>(perBatch)));
        for (int i = 0; i < count; ++i) {
            sprites.push_back(CCSprite::spriteWithTexture(texture, CGRectMake(0, 0, pixels, pixels)));
            nodes[static_cast<std::size_t>(i / perBatch)]->addChild(sprites.back().get());
        }
        bytesPerSprite = static_cast<double>(heapInUse() - heapBefore) / count;
        for (auto& node : nodes)
            scene->addChild(node.get());
    }

    // One frame: what a game's update does, then the director's frame (which ends by
    // presenting). Returns the time up to the last draw call.
    double frame(unsigned number) {
        Clock::time_point start = Clock::now();
        const std::size_t count = sprites.size();
        for (std::size_t i = 0; i < count; ++i) {
            Motion& m = motions[i];
            step(m, number);
            CCSprite* s = sprites[i].get();
            s->setPosition(CGPointMake(m.x, m.y));
            s->setRotation(m.rotation);
            s->setScale(m.scale);
        }
        CCDirector::sharedDirector()->drawScene();
        return seconds(start, lastDrawCall);
    }
};

// ---- the reference --------------------------------------------------------------------------

const char* const kVertexShader = R"(
attribute vec4 a_position;
attribute vec2 a_texCoord;
attribute vec4 a_color;
uniform mat4 u_mvp;
varying lowp vec4 v_color;
varying mediump vec2 v_texCoord;
void main() {
    gl_Position = u_mvp * a_position;
    v_color = a_color;
    v_texCoord = a_texCoord;
}
)";

const char* const kFragmentShader = R"(
precision lowp float;
varying vec4 v_color;
varying vec2 v_texCoord;
uniform sampler2D u_texture;
void main() {
    gl_FragColor = v_color * texture2D(u_texture, v_texCoord);
}
)";

GLuint compile(GLenum kind, const char* source) {
    GLuint shader = glCreateShader(kind);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    return shader;
}

struct Vertex {
    float x, y, z;
    std::uint8_t r, g, b, a;
    float u, v;
};
struct Quad {
    Vertex tl, bl, tr, br;
};
static_assert(sizeof(Quad) == 96);

// Draws into the engine's framebuffer with its own program, buffers and vertex array object,
// and puts back the bindings the engine's state cache remembers.
struct Reference {
    std::vector<Motion> motions;
    std::vector<Quad> quads;
    int batches, perBatch;
    float pixels;
    GLuint texture, program = 0, vs = 0, fs = 0, vao = 0, buffers[2] = {0, 0};

    Reference(GLuint textureName, int count, int batchCount, float px)
        : motions(makeMotions(count)), quads(static_cast<std::size_t>(count)), batches(batchCount),
          perBatch((count + batchCount - 1) / batchCount), pixels(px), texture(textureName) {
        const platform::GLExtensions& ext = platform::glExtensions();
        Saved saved;
        program = glCreateProgram();
        vs = compile(GL_VERTEX_SHADER, kVertexShader);
        fs = compile(GL_FRAGMENT_SHADER, kFragmentShader);
        glAttachShader(program, vs);
        glAttachShader(program, fs);
        glBindAttribLocation(program, 0, "a_position");
        glBindAttribLocation(program, 1, "a_color");
        glBindAttribLocation(program, 2, "a_texCoord");
        glLinkProgram(program);
        glUseProgram(program);
        // The director's 2D projection: an orthographic box over the view.
        const float mvp[16] = {
            2.0f / kWidth, 0, 0, 0, 0, 2.0f / kHeight, 0, 0, 0, 0, -1.0f / 1024, 0, -1, -1, 0, 1};
        glUniformMatrix4fv(glGetUniformLocation(program, "u_mvp"), 1, GL_FALSE, mvp);
        glUniform1i(glGetUniformLocation(program, "u_texture"), 0);

        // Colours and texture coordinates are written once; only positions change.
        const float t = pixels / 64;
        for (Quad& q : quads) {
            q.tl = {0, 0, 0, 255, 255, 255, 255, 0, 0};
            q.bl = {0, 0, 0, 255, 255, 255, 255, 0, t};
            q.tr = {0, 0, 0, 255, 255, 255, 255, t, 0};
            q.br = {0, 0, 0, 255, 255, 255, 255, t, t};
        }
        std::vector<GLushort> indices(static_cast<std::size_t>(perBatch) * 6);
        for (int i = 0; i < perBatch; ++i) {
            const auto v = static_cast<GLushort>(i * 4);
            GLushort* p = &indices[static_cast<std::size_t>(i) * 6];
            p[0] = v, p[1] = v + 1, p[2] = v + 2, p[3] = v + 3, p[4] = v + 2, p[5] = v + 1;
        }
        ext.glGenVertexArraysOES(1, &vao);
        ext.glBindVertexArrayOES(vao);
        glGenBuffers(2, buffers);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffers[1]);
        glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(indices.size() * 2), indices.data(),
                     GL_STATIC_DRAW);
        glBindBuffer(GL_ARRAY_BUFFER, buffers[0]);
        for (GLuint a = 0; a < 3; ++a)
            glEnableVertexAttribArray(a);
    }

    ~Reference() {
        Saved saved;
        platform::glExtensions().glDeleteVertexArraysOES(1, &vao);
        glDeleteBuffers(2, buffers);
        glDeleteProgram(program);
        glDeleteShader(vs);
        glDeleteShader(fs);
    }

    // The bindings the engine's cache believes in, put back when it goes.
    struct Saved {
        GLint program = 0, vao = 0, arrayBuffer = 0, texture = 0;
        Saved() {
            glGetIntegerv(GL_CURRENT_PROGRAM, &program);
            glGetIntegerv(GL_VERTEX_ARRAY_BINDING_OES, &vao);
            glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &arrayBuffer);
            glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
        }
        ~Saved() {
            glUseProgram(static_cast<GLuint>(program));
            platform::glExtensions().glBindVertexArrayOES(static_cast<GLuint>(vao));
            glBindBuffer(GL_ARRAY_BUFFER, static_cast<GLuint>(arrayBuffer));
            glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(texture));
        }
    };

    // One frame with the same motion, transforms and picture, ending in a flush as a present
    // does. Returns the time up to the last draw call.
    double frame(unsigned number) {
        const platform::GLExtensions& ext = platform::glExtensions();
        Saved saved;
        Clock::time_point start = Clock::now();
        const float half = pixels / 2;
        const std::size_t count = quads.size();
        for (std::size_t i = 0; i < count; ++i) {
            Motion& m = motions[i];
            step(m, number);
            // The node transform: turn (clockwise) and scale about the centre, then move.
            float radians = -m.rotation * kDegrees;
            float c = std::cos(radians) * m.scale, s = std::sin(radians) * m.scale;
            float x = m.x - c * half + s * half, y = m.y - s * half - c * half;
            Quad& q = quads[i];
            q.bl.x = x, q.bl.y = y;
            q.br.x = pixels * c + x, q.br.y = pixels * s + y;
            q.tr.x = pixels * c - pixels * s + x, q.tr.y = pixels * s + pixels * c + y;
            q.tl.x = -pixels * s + x, q.tl.y = pixels * c + y;
        }
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glUseProgram(program);
        glBindTexture(GL_TEXTURE_2D, texture);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        ext.glBindVertexArrayOES(vao);
        glBindBuffer(GL_ARRAY_BUFFER, buffers[0]);
        glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(count * sizeof(Quad)), quads.data(),
                     GL_STREAM_DRAW);
        Clock::time_point lastDraw = start;
        for (int b = 0; b < batches; ++b) {
            const int first = b * perBatch;
            const int n = std::min(perBatch, static_cast<int>(count) - first);
            const char* base = reinterpret_cast<const char*>(static_cast<std::size_t>(first) * sizeof(Quad));
            glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, sizeof(Vertex), base);
            glVertexAttribPointer(1, 4, GL_UNSIGNED_BYTE, GL_TRUE, sizeof(Vertex), base + 12);
            glVertexAttribPointer(2, 2, GL_FLOAT, GL_FALSE, sizeof(Vertex), base + 16);
            lastDraw = Clock::now();
            glDrawElements(GL_TRIANGLES, n * 6, GL_UNSIGNED_SHORT, nullptr);
        }
        glFlush();
        return seconds(start, lastDraw);
    }
};

// Engine and reference runs alternate in one context, so that both see the same machine load.
// The benchmark time is the engine's frame; the counters give the rest.
// args: sprites, batches, pixels per sprite side.
void BM_SpriteFrame(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const int batches = static_cast<int>(state.range(1));
    const int pixels = static_cast<int>(state.range(2));
    double engineFrames = 0, engineCpu = 0, referenceFrames = 0, referenceCpu = 0, bytesPerSprite = 0;
    double engineSync = 0, referenceSync = 0;
    {
        Ref<CCGLView> view = makeView();
        if (!view) {
            state.SkipWithError("no GL view");
            return;
        }
        CCDirector* director = CCDirector::sharedDirector();
        director->setView(view.get());
        director->setProjection(kCCDirectorProjection2D);
        director->setDisplayStats(false);
        Ref<CCTexture2D> texture = makeTexture();
        {
            Engine engine(texture.get(), count, batches, pixels);
            Reference reference(texture->name(), count, batches, static_cast<float>(pixels));
            bytesPerSprite = engine.bytesPerSprite;
            director->runWithScene(engine.scene.get());
            director->drawScene();
            glFinish();

            platform::setGLCallHook(noteCall, nullptr);
            unsigned number = 0;
            // A run of frames back to back, finished once; answers its time.
            auto run = [&](auto&& frame, double* cpu) {
                Clock::time_point start = Clock::now();
                for (int i = 0; i < kFramesPerRun; ++i)
                    *cpu += frame(++number);
                glFinish();
                return seconds(start, Clock::now());
            };
            auto engineFrame = [&](unsigned n) { return engine.frame(n); };
            auto referenceFrame = [&](unsigned n) { return reference.frame(n); };
            for (auto _ : state) {
                double engineTime = run(engineFrame, &engineCpu);
                engineFrames += engineTime;
                state.SetIterationTime(engineTime / kFramesPerRun);
                referenceFrames += run(referenceFrame, &referenceCpu);
                // The same frames, each waiting for the GL.
                for (int i = 0; i < 2; ++i) {
                    Clock::time_point start = Clock::now();
                    engine.frame(++number);
                    glFinish();
                    engineSync += seconds(start, Clock::now());
                    start = Clock::now();
                    reference.frame(++number);
                    glFinish();
                    referenceSync += seconds(start, Clock::now());
                }
            }
            platform::setGLCallHook(nullptr, nullptr);
        }
        purgeEngine();
    }
    matrixFreeAll();
    glCacheInvalidate();

    const double n = static_cast<double>(state.iterations()) * kFramesPerRun;
    state.counters["ref_ms"] = referenceFrames * 1e3 / n;
    state.counters["ratio"] = engineFrames / referenceFrames;
    state.counters["sync_ratio"] = engineSync / referenceSync;
    state.counters["cpu_us"] = engineCpu * 1e6 / n;
    state.counters["ref_cpu_us"] = referenceCpu * 1e6 / n;
    state.counters["cpu_ratio"] = engineCpu / referenceCpu;
    state.counters["B_per_sprite"] = bytesPerSprite;
}

void cases(benchmark::internal::Benchmark* b) {
    for (int pixels : {2, 32}) {
        b->Args({1000, 1, pixels});
        b->Args({10000, 1, pixels});
        b->Args({16000, 1, pixels});
        b->Args({50000, 4, pixels});
    }
    b->ArgNames({"sprites", "batches", "px"})->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);
}

BENCHMARK(BM_SpriteFrame)->Apply(cases);

} // namespace

BENCHMARK_MAIN();
