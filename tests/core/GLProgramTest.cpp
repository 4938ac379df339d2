#include "core/CCDirector.h"
#include "core/CCGLProgram.h"
#include "core/CCMatrix.h"
#include "core/CCShaderCache.h"
#include "core/ccGLStateCache.h"
#include "platform/GLCheck.h"
#include "platform/Log.h"
#include "tests/support/EngineTestSupport.h"
#include "tests/support/GLTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

// The log lines of the test so far, as one text.
std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

// A program built the way the cache builds its own.
platform::Ref<CCGLProgram> build(const char* vert, const char* frag) {
    auto program = CCGLProgram::programWithVertexShaderByteArray(vert, frag);
    if (!program) return nullptr;
    program->addAttribute(kCCAttributeNamePosition, kCCVertexAttrib_Position);
    if (!program->link()) return nullptr;
    program->updateUniforms();
    return program;
}

std::vector<float> uniformFloats(CCGLProgram* p, GLint location, int n) {
    std::vector<float> v(static_cast<std::size_t>(n));
    glGetUniformfv(p->program(), location, v.data());
    return v;
}

class GLProgramTest : public fltest::GLTest {
protected:
    void TearDown() override {
        CCShaderCache::purgeSharedShaderCache();
        fltest::GLTest::TearDown();
    }
    std::string log() const { return joined(logLines); }
};

constexpr const char* kPlainVert =
    "attribute vec4 a_position;\nvoid main() { gl_Position = CC_MVPMatrix * a_position; }\n";
constexpr const char* kPlainFrag = "void main() { gl_FragColor = vec4(1.0); }\n";

TEST_F(GLProgramTest, EveryDefaultProgramLinksWithItsSlotsAndUniforms) {
    struct Expect {
        const char* key;
        std::vector<std::pair<const char*, GLint>> attributes;
        std::vector<const char*> uniforms;
    };
    const std::vector<Expect> expected = {
        {"ShaderPositionTextureColor",
         {{"a_position", 0}, {"a_color", 1}, {"a_texCoord", 2}},
         {"CC_Texture0"}},
        {"ShaderPositionTextureColorAlphaTest",
         {{"a_position", 0}, {"a_color", 1}, {"a_texCoord", 2}},
         {"CC_Texture0", "CC_AlphaValue"}},
        {"ShaderPositionColor", {{"a_position", 0}, {"a_color", 1}}, {}},
        {"ShaderPositionTexture", {{"a_position", 0}, {"a_texCoord", 2}}, {"CC_Texture0"}},
        {"ShaderPositionTexture_uColor", {{"a_position", 0}, {"a_texCoord", 2}}, {"CC_Texture0", "u_color"}},
        {"ShaderPositionTextureA8Color",
         {{"a_position", 0}, {"a_color", 1}, {"a_texCoord", 2}},
         {"CC_Texture0"}},
        {"ShaderPosition_uColor", {{"a_position", 0}}, {"u_color", "u_pointSize"}},
        {"ShaderPositionLengthTextureColor", {{"a_position", 0}, {"a_texcoord", 2}, {"a_color", 1}}, {}},
    };
    CCShaderCache* cache = CCShaderCache::sharedShaderCache();
    for (const Expect& e : expected) {
        SCOPED_TRACE(e.key);
        CCGLProgram* p = cache->programForKey(e.key);
        ASSERT_NE(p, nullptr);
        GLint linked = 0;
        glGetProgramiv(p->program(), GL_LINK_STATUS, &linked);
        EXPECT_EQ(linked, GL_TRUE);
        GLint activeAttributes = 0;
        glGetProgramiv(p->program(), GL_ACTIVE_ATTRIBUTES, &activeAttributes);
        EXPECT_EQ(activeAttributes, static_cast<GLint>(e.attributes.size()));
        for (auto [name, slot] : e.attributes)
            EXPECT_EQ(glGetAttribLocation(p->program(), name), slot) << name;
        for (const char* name : e.uniforms)
            EXPECT_GE(p->uniformLocationForName(name), 0) << name;
        EXPECT_GE(p->uniform(kCCUniformMVPMatrix), 0);
        EXPECT_TRUE(p->usesMVP());
        EXPECT_FALSE(p->usesMV());
        EXPECT_FALSE(p->usesTime());
        EXPECT_FALSE(p->usesRandom());
        EXPECT_EQ(p->uniform(kCCUniformSampler) >= 0,
                  std::find(e.uniforms.begin(), e.uniforms.end(), std::string_view("CC_Texture0")) !=
                      e.uniforms.end());
    }
    EXPECT_EQ(cache->programForKey("NoSuchProgram"), nullptr);
}

// Each default program draws a full-target quad over one 1x1 texture; the centre pixel shows
// what its fragment stage computes.
TEST_F(GLProgramTest, EveryDefaultProgramComputesWhatItsNameSays) {
    fltest::GLTarget target(8, 8);
    matrixMode(kCCMatrixModeProjection);
    matrixLoadIdentity();
    matrixMode(kCCMatrixModeModelView);
    matrixLoadIdentity();

    auto texture = [](GLenum format, std::vector<std::uint8_t> texel) {
        GLuint name = 0;
        glGenTextures(1, &name);
        glCacheBindTexture2D(name);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(format), 1, 1, 0, format, GL_UNSIGNED_BYTE,
                     texel.data());
        return name;
    };
    GLuint rgba = texture(GL_RGBA, {128, 255, 255, 128});
    GLuint alpha = texture(GL_ALPHA, {128});

    // Clip-space corners double as texture coordinates, so the length program sees its circle.
    const GLfloat corners[] = {-1, -1, 1, -1, -1, 1, 1, 1};
    const GLfloat colors[] = {1, 0.5f, 0.25f, 0.5f, 1, 0.5f, 0.25f, 0.5f,
                              1, 0.5f, 0.25f, 0.5f, 1, 0.5f, 0.25f, 0.5f};
    auto draw = [&](const char* key, GLuint tex, auto&& setUniforms) {
        CCGLProgram* p = CCShaderCache::sharedShaderCache()->programForKey(key);
        if (!p) return std::uint32_t(0xDEADBEEF);
        glClearColor(0, 0, 1, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        p->use();
        p->setUniformsForBuiltins();
        setUniforms(p);
        glCacheBindTexture2D(tex);
        glCacheEnableVertexAttribs(kCCVertexAttribFlag_Position | kCCVertexAttribFlag_Color |
                                   kCCVertexAttribFlag_TexCoords);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        glVertexAttribPointer(kCCVertexAttrib_Position, 2, GL_FLOAT, GL_FALSE, 0, corners);
        glVertexAttribPointer(kCCVertexAttrib_Color, 4, GL_FLOAT, GL_FALSE, 0, colors);
        glVertexAttribPointer(kCCVertexAttrib_TexCoords, 2, GL_FLOAT, GL_FALSE, 0, corners);
        glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        return target.pixelAt(4, 4);
    };
    auto none = [](CCGLProgram*) {};
    auto uColor = [](CCGLProgram* p) {
        p->setUniformLocationWithF1(p->uniformLocationForName("u_color"), 0.5f, 1, 0.25f, 1);
        p->setUniformLocationWithF1(p->uniformLocationForName("u_pointSize"), 1.f);
    };
    auto alphaTest = [](float threshold) {
        return [threshold](CCGLProgram* p) {
            p->setUniformLocationWithF1(p->uniformLocationForName(kCCUniformAlphaTestValue), threshold);
        };
    };

    // colour (255, 128, 64, 128), texel (128, 255, 255, 128), u_color (128, 255, 64, 255)
    EXPECT_TRUE(fltest::colorNear(draw(kCCShader_PositionTextureColor, rgba, none), 0x80804040));
    EXPECT_TRUE(
        fltest::colorNear(draw(kCCShader_PositionTextureColorAlphaTest, rgba, alphaTest(0.4f)), 0x80804040));
    EXPECT_TRUE(
        fltest::colorNear(draw(kCCShader_PositionTextureColorAlphaTest, rgba, alphaTest(0.6f)), 0x0000FFFF))
        << "a texel at or below the threshold is discarded";
    EXPECT_TRUE(fltest::colorNear(draw(kCCShader_PositionColor, 0, none), 0xFF804080));
    EXPECT_TRUE(fltest::colorNear(draw(kCCShader_PositionTexture, rgba, none), 0x80FFFF80));
    EXPECT_TRUE(fltest::colorNear(draw(kCCShader_PositionTexture_uColor, rgba, uColor), 0x40FF4080));
    EXPECT_TRUE(fltest::colorNear(draw(kCCShader_PositionTextureA8Color, alpha, none), 0xFF804040))
        << "the texture gives alpha only";
    EXPECT_TRUE(fltest::colorNear(draw(kCCShader_Position_uColor, 0, uColor), 0x80FF40FF));
    EXPECT_TRUE(fltest::colorNear(draw(kCCShader_PositionLengthTextureColor, 0, none), 0x80402080))
        << "premultiplied inside the circle";
    EXPECT_TRUE(fltest::colorNear(target.pixelAt(0, 0), 0x00000000)) << "nothing outside it";

    glCacheDeleteTexture(rgba);
    glCacheDeleteTexture(alpha);
}

TEST_F(GLProgramTest, BrokenSourcesAnswerFalseAndLogWhy) {
    EXPECT_EQ(CCGLProgram::programWithVertexShaderByteArray("void main() { gl_Position = undefinedThing; }\n",
                                                            kPlainFrag),
              nullptr);
    EXPECT_NE(log().find("vertex"), std::string::npos);
    EXPECT_NE(log().find("undefinedThing"), std::string::npos) << log();

    logLines.clear();
    EXPECT_EQ(
        CCGLProgram::programWithVertexShaderByteArray(kPlainVert, "void main() { gl_FragColor = 1; }\n"),
        nullptr);
    EXPECT_NE(log().find("fragment"), std::string::npos) << log();

    // Both stages compile, but their varyings disagree: the link fails and says so.
    logLines.clear();
    auto p = CCGLProgram::programWithVertexShaderByteArray(
        "attribute vec4 a_position;\nvarying vec3 v_x;\nvoid main() { v_x = vec3(1.0); gl_Position = "
        "a_position; }\n",
        "varying vec4 v_x;\nvoid main() { gl_FragColor = v_x; }\n");
    ASSERT_NE(p, nullptr);
    EXPECT_FALSE(p->link());
    EXPECT_NE(log().find("link"), std::string::npos);
    EXPECT_FALSE(p->programLog().empty());

    // A missing source is no shader of that kind, not an error.
    GLuint shader = 0;
    EXPECT_FALSE(p->compileShader(&shader, GL_VERTEX_SHADER, nullptr));
    EXPECT_EQ(shader, 0u);
}

TEST_F(GLProgramTest, ExtensionLinesCompileAheadOfThePrologue) {
    // "require" fails outright unless the directive comes before every declaration.
    const char* frag = "// dots\n#extension GL_OES_standard_derivatives : require\n"
                       "void main() { gl_FragColor = vec4(fwidth(gl_FragCoord.x)); }\n";
    auto p = build(kPlainVert, frag);
    ASSERT_NE(p, nullptr);
    EXPECT_GE(p->uniform(kCCUniformMVPMatrix), 0);

    // Compiler messages give the line numbers of the source as written, prologue or not.
    EXPECT_EQ(CCGLProgram::programWithVertexShaderByteArray(
                  kPlainVert, "#extension GL_OES_standard_derivatives : enable\nvoid main() {\n  oops;\n}\n"),
              nullptr);
    EXPECT_NE(log().find(":3("), std::string::npos) << log();
    EXPECT_NE(log().find("oops"), std::string::npos) << log();
}

TEST_F(GLProgramTest, FilterSendsOnlyChangedValues) {
    auto p = build("attribute vec4 a_position;\nuniform vec4 u_v[2];\nuniform float u_f;\n"
                   "void main() { gl_Position = CC_MVPMatrix * a_position + u_v[0] + u_v[1] + vec4(u_f); }\n",
                   kPlainFrag);
    ASSERT_NE(p, nullptr);
    p->use();
    GLint vec = p->uniformLocationForName("u_v");
    GLint f = p->uniformLocationForName("u_f");
    ASSERT_GE(vec, 0);
    ASSERT_GE(f, 0);

    fltest::GLCallCounter calls;
    const float m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 3, 4, 5, 1};
    GLint mvp = p->uniform(kCCUniformMVPMatrix);
    p->setUniformLocationWithMatrix4fv(mvp, m, 1);
    p->setUniformLocationWithMatrix4fv(mvp, m, 1);
    EXPECT_EQ(calls.count("glUniformMatrix4fv"), 1u);
    float changed[16];
    std::copy(m, m + 16, changed);
    changed[12] = 7;
    p->setUniformLocationWithMatrix4fv(mvp, changed, 1);
    EXPECT_EQ(calls.count("glUniformMatrix4fv"), 2u);
    EXPECT_EQ(uniformFloats(p.get(), mvp, 16)[12], 7.f);

    // A longer value that starts with the stored one is a change, and so is the shorter one
    // after it; nothing reads past either buffer.
    const float two[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    p->setUniformLocationWith4fv(vec, two, 1);
    p->setUniformLocationWith4fv(vec, two, 2);
    p->setUniformLocationWith4fv(vec, two, 2);
    p->setUniformLocationWith4fv(vec, two, 1);
    EXPECT_EQ(calls.count("glUniform4fv"), 3u);
    p->setUniformLocationWithF1(f, 1.f);
    p->setUniformLocationWithF1(f, 1.f);
    p->setUniformLocationWithF1(f, 2.f);
    EXPECT_EQ(calls.count("glUniform1f"), 2u);
    EXPECT_EQ(uniformFloats(p.get(), f, 1)[0], 2.f);

    // A uniform the program lacks is never sent.
    p->setUniformLocationWithF1(-1, 1.f, 2.f, 3.f, 4.f);
    p->setUniformLocationWithI1(p->uniform(kCCUniformSampler), 3);
    EXPECT_EQ(calls.count("glUniform4f") + calls.count("glUniform1i"), 0u);
    EXPECT_FALSE(p->updateUniformLocation(-1, m, sizeof m));
}

TEST_F(GLProgramTest, BuiltinsFollowTheMatrixStacks) {
    auto p = build("attribute vec4 a_position;\n"
                   "void main() { gl_Position = CC_MVPMatrix * CC_MVMatrix * a_position; }\n",
                   kPlainFrag);
    ASSERT_NE(p, nullptr);
    // CC_MVMatrix without CC_PMatrix does not count as using the pair.
    EXPECT_TRUE(p->usesMVP());
    EXPECT_FALSE(p->usesMV());

    auto both = build("attribute vec4 a_position;\n"
                      "void main() { gl_Position = CC_PMatrix * CC_MVMatrix * a_position; }\n",
                      kPlainFrag);
    ASSERT_NE(both, nullptr);
    EXPECT_TRUE(both->usesMV());
    EXPECT_FALSE(both->usesMVP());

    kmMat4 projection, translate;
    mat4Orthographic(&projection, 0, 320, 0, 480, -1024, 1024);
    mat4Identity(&translate);
    translate.mat[12] = 10;
    translate.mat[13] = 20;
    matrixMode(kCCMatrixModeProjection);
    matrixLoadIdentity();
    matrixMultiply(&projection);
    matrixMode(kCCMatrixModeModelView);
    matrixLoadIdentity();
    matrixMultiply(&translate);

    p->use();
    p->setUniformsForBuiltins();
    kmMat4 mvp;
    mat4Multiply(&mvp, &projection, &translate);
    EXPECT_EQ(uniformFloats(p.get(), p->uniform(kCCUniformMVPMatrix), 16),
              std::vector<float>(mvp.mat, mvp.mat + 16));

    both->use();
    both->setUniformsForBuiltins();
    EXPECT_EQ(uniformFloats(both.get(), both->uniform(kCCUniformPMatrix), 16),
              std::vector<float>(projection.mat, projection.mat + 16));
    EXPECT_EQ(uniformFloats(both.get(), both->uniform(kCCUniformMVMatrix), 16),
              std::vector<float>(translate.mat, translate.mat + 16));

    // Unchanged stacks send nothing on the next draw.
    fltest::GLCallCounter calls;
    p->use();
    p->setUniformsForBuiltins();
    EXPECT_EQ(calls.count("glUniformMatrix4fv"), 0u);
    matrixMode(kCCMatrixModeModelView);
    matrixLoadIdentity();
    p->setUniformsForBuiltins();
    EXPECT_EQ(calls.count("glUniformMatrix4fv"), 1u);
}

TEST_F(GLProgramTest, ShaderFiles) {
    EXPECT_EQ(CCGLProgram::programWithVertexShaderFilename("no-such.vsh", "no-such.fsh"), nullptr);

    std::filesystem::path dir = std::filesystem::temp_directory_path() / "footlight-shader-files";
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "plain.vsh") << kPlainVert;
    std::ofstream(dir / "plain.fsh") << kPlainFrag;
    auto p = CCGLProgram::programWithVertexShaderFilename((dir / "plain.vsh").string(),
                                                          (dir / "plain.fsh").string());
    ASSERT_NE(p, nullptr);
    p->addAttribute(kCCAttributeNamePosition, kCCVertexAttrib_Position);
    EXPECT_TRUE(p->link());
    p->updateUniforms();
    EXPECT_GE(p->uniform(kCCUniformMVPMatrix), 0);

    // One file found: that stage alone.
    auto half = CCGLProgram::programWithVertexShaderFilename((dir / "plain.vsh").string(), "no-such.fsh");
    ASSERT_NE(half, nullptr);
    EXPECT_NE(half->description().find("FragmentShader = 0>"), std::string::npos) << half->description();
    EXPECT_EQ(half->description().find("VertexShader = 0,"), std::string::npos) << half->description();
    std::filesystem::remove_all(dir);
}

TEST_F(GLProgramTest, PurgedCacheBuildsNewPrograms) {
    CCShaderCache* cache = CCShaderCache::sharedShaderCache();
    platform::Ref<CCGLProgram> before = cache->programForKey(kCCShader_PositionColor);
    ASSERT_TRUE(before);
    CCShaderCache::purgeSharedShaderCache();
    CCGLProgram* after = CCShaderCache::sharedShaderCache()->programForKey(kCCShader_PositionColor);
    ASSERT_NE(after, nullptr);
    EXPECT_NE(after, before.get());
    // The old program is still whole for whoever holds it.
    EXPECT_TRUE(glIsProgram(before->program()));
    EXPECT_EQ(before->retainCount(), 1u);

    auto custom = build(kPlainVert, kPlainFrag);
    CCShaderCache::sharedShaderCache()->addProgram(custom, kCCShader_PositionColor);
    EXPECT_EQ(CCShaderCache::sharedShaderCache()->programForKey(kCCShader_PositionColor), custom.get());
}

// Time comes from the director's frame count, so it needs a director that draws.
using GLProgramTimeTest = fltest::EngineGLTest;

TEST_F(GLProgramTimeTest, TimeAndRandomUniforms) {
    for (int i = 0; i < 30; ++i)
        director()->drawScene();
    ASSERT_EQ(director()->totalFrames(), 30u);
    auto p = build("attribute vec4 a_position;\n"
                   "void main() { gl_Position = CC_MVPMatrix * a_position + CC_Time + CC_SinTime + CC_CosTime"
                   " + CC_Random01; }\n",
                   kPlainFrag);
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(p->usesTime());
    EXPECT_TRUE(p->usesRandom());

    srandom(7);
    long r[4] = {random(), random(), random(), random()};
    srandom(7);
    p->use();
    p->setUniformsForBuiltins();

    double t = 30 * director()->animationInterval();
    EXPECT_EQ(uniformFloats(p.get(), p->uniform(kCCUniformTime), 4),
              (std::vector<float>{float(t / 10), float(t), float(t * 2), float(t * 4)}));
    EXPECT_EQ(uniformFloats(p.get(), p->uniform(kCCUniformSinTime), 4),
              (std::vector<float>{float(std::sin(t / 8)), float(std::sin(t / 4)), float(std::sin(t / 2)),
                                  float(std::sin(t))}));
    EXPECT_EQ(uniformFloats(p.get(), p->uniform(kCCUniformCosTime), 4),
              (std::vector<float>{float(std::cos(t / 8)), float(std::cos(t / 4)), float(std::cos(t / 2)),
                                  float(std::cos(t))}));
    std::vector<float> random01 = uniformFloats(p.get(), p->uniform(kCCUniformRandom01), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(random01[static_cast<std::size_t>(i)], float(r[i]) * 0x1p-31f);
        EXPECT_LE(random01[static_cast<std::size_t>(i)], 1.f);
    }

    // A program without time or random uniforms leaves the generator alone.
    auto plain = build(kPlainVert, kPlainFrag);
    srandom(7);
    plain->use();
    plain->setUniformsForBuiltins();
    EXPECT_EQ(random(), r[0]);
}

TEST_F(GLProgramTimeTest, DirectorEndDropsTheCache) {
    platform::Ref<CCGLProgram> before =
        CCShaderCache::sharedShaderCache()->programForKey(kCCShader_PositionColor);
    ASSERT_TRUE(before);
    director()->end();
    EXPECT_NE(CCShaderCache::sharedShaderCache()->programForKey(kCCShader_PositionColor), before.get());
    EXPECT_EQ(before->retainCount(), 1u);
    CCShaderCache::purgeSharedShaderCache();
}

} // namespace
