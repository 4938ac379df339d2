#include "core/ccGLStateCache.h"
#include "core/CCMatrix.h"

#include "platform/Exception.h"
#include "platform/GLExtensions.h"
#include "tests/support/GLTestSupport.h"

#include <thread>
#include <utility>

namespace {

class GLStateCacheTest : public fltest::GLTest {
protected:
    static GLint integer(GLenum name) {
        GLint value = -1;
        glGetIntegerv(name, &value);
        return value;
    }
    static GLint textureOnUnit(GLuint unit) {
        glActiveTexture(GL_TEXTURE0 + unit);
        GLint bound = integer(GL_TEXTURE_BINDING_2D);
        glActiveTexture(GL_TEXTURE0);
        return bound;
    }
    static bool attribEnabled(GLuint attrib) {
        GLint enabled = 0;
        glGetVertexAttribiv(attrib, GL_VERTEX_ATTRIB_ARRAY_ENABLED, &enabled);
        return enabled != 0;
    }
    // A linked program: GL refuses to use one that is not.
    static GLuint makeProgram() {
        static const char* vertex = "attribute vec4 a_position; void main() { gl_Position = a_position; }";
        static const char* fragment = "void main() { gl_FragColor = vec4(1.0); }";
        GLuint program = glCreateProgram();
        for (auto [type, source] :
             {std::pair{GL_VERTEX_SHADER, vertex}, std::pair{GL_FRAGMENT_SHADER, fragment}}) {
            GLuint shader = glCreateShader(type);
            glShaderSource(shader, 1, &source, nullptr);
            glCompileShader(shader);
            glAttachShader(program, shader);
            glDeleteShader(shader);
        }
        glLinkProgram(program);
        GLint linked = 0;
        glGetProgramiv(program, GL_LINK_STATUS, &linked);
        EXPECT_TRUE(linked);
        return program;
    }
    static GLuint makeTexture() {
        GLuint t = 0;
        glGenTextures(1, &t);
        return t;
    }
    static GLuint makeVAO() {
        GLuint v = 0;
        platform::glExtensions().glGenVertexArraysOES(1, &v);
        return v;
    }
};

TEST_F(GLStateCacheTest, ProgramReachesGLOnlyWhenItChanges) {
    GLuint a = makeProgram(), b = makeProgram();
    fltest::GLCallCounter calls;
    glCacheUseProgram(a);
    glCacheUseProgram(a);
    EXPECT_EQ(calls.count("glUseProgram"), 1u);
    EXPECT_EQ(integer(GL_CURRENT_PROGRAM), static_cast<GLint>(a));
    glCacheUseProgram(b);
    EXPECT_EQ(calls.count("glUseProgram"), 2u);

    // Invalidating forgets the program (asking for it again reaches GL) and frees the matrix
    // stacks, so a pop before they are made again is refused.
    matrixPush();
    glCacheInvalidate();
    EXPECT_THROW(matrixPop(), platform::Exception);
    glCacheUseProgram(b);
    EXPECT_EQ(calls.count("glUseProgram"), 3u);

    // Deleting the current program forgets it, so a program that reuses the name is used.
    glCacheDeleteProgram(b);
    glCacheDeleteProgram(a);
    EXPECT_EQ(calls.count("glDeleteProgram"), 2u);
    glCacheUseProgram(b);
    EXPECT_EQ(calls.count("glUseProgram"), 4u);
    glCacheUseProgram(0);
}

TEST_F(GLStateCacheTest, OneZeroBlendPairTurnsBlendingOffWithoutSettingFactors) {
    fltest::GLCallCounter calls;
    glCacheBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    EXPECT_EQ(integer(GL_BLEND_SRC_RGB), GL_ONE);
    EXPECT_EQ(integer(GL_BLEND_DST_RGB), GL_ONE_MINUS_SRC_ALPHA);
    EXPECT_EQ(calls.count("glEnable"), 1u);
    EXPECT_EQ(calls.count("glBlendFuncSeparate"), 1u);

    calls.reset();
    glCacheBlendFunc(GL_ONE, GL_ZERO);
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_EQ(calls.count("glDisable"), 1u);
    EXPECT_EQ(calls.count("glBlendFuncSeparate"), 0u);
    EXPECT_EQ(integer(GL_BLEND_DST_RGB), GL_ONE_MINUS_SRC_ALPHA) << "factors left as they were";

    calls.reset();
    glCacheBlendFunc(GL_ONE, GL_ZERO);
    EXPECT_EQ(calls.total(), 0u);
}

TEST_F(GLStateCacheTest, BlendResetAppliesAlwaysAndLeavesTheCacheAlone) {
    glCacheBlendFunc(GL_ONE, GL_ZERO);
    fltest::GLCallCounter calls;
    glCacheBlendReset(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glCacheBlendReset(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    EXPECT_EQ(calls.count("glBlendFuncSeparate"), 2u);
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    // The cache still believes (GL_ONE, GL_ZERO) is in force.
    calls.reset();
    glCacheBlendFunc(GL_ONE, GL_ZERO);
    EXPECT_EQ(calls.total(), 0u);
    glCacheBlendReset(GL_ONE, GL_ZERO);
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
}

TEST_F(GLStateCacheTest, TexturesAreRememberedPerUnit) {
    GLuint t = makeTexture(), u = makeTexture();
    fltest::GLCallCounter calls;
    glCacheBindTexture2DOnUnit(1, t);
    glCacheBindTexture2D(t);
    EXPECT_EQ(calls.count("glBindTexture"), 2u) << "different units";
    EXPECT_EQ(calls.count("glActiveTexture"), 2u);
    glCacheBindTexture2D(t);
    glCacheBindTexture2DOnUnit(1, t);
    EXPECT_EQ(calls.count("glBindTexture"), 2u);
    glCacheBindTexture2DOnUnit(15, u);
    EXPECT_EQ(textureOnUnit(0), static_cast<GLint>(t));
    EXPECT_EQ(textureOnUnit(1), static_cast<GLint>(t));
    EXPECT_EQ(textureOnUnit(15), static_cast<GLint>(u));
    EXPECT_THROW(glCacheBindTexture2DOnUnit(16, t), platform::Exception);
    glCacheDeleteTexture(u);
    glCacheDeleteTexture(t);
}

TEST_F(GLStateCacheTest, DeletedTextureIsForgottenOnEveryUnit) {
    GLuint t = makeTexture();
    glCacheBindTexture2DOnUnit(1, t);
    glCacheDeleteTexture(t);
    EXPECT_EQ(textureOnUnit(1), 0) << "GL unbinds a deleted texture";
    // The name comes back for the next texture; binding it on unit 1 must reach GL.
    GLuint reused = makeTexture();
    fltest::GLCallCounter calls;
    glCacheBindTexture2DOnUnit(1, reused);
    EXPECT_EQ(calls.count("glBindTexture"), 1u);
    EXPECT_EQ(textureOnUnit(1), static_cast<GLint>(reused));
    glCacheDeleteTexture(reused);
}

TEST_F(GLStateCacheTest, AttributeArraysSwitchOnlyWhatChanges) {
    fltest::GLCallCounter calls;
    glCacheEnableVertexAttribs(kCCVertexAttribFlag_PosColorTex);
    EXPECT_EQ(calls.count("glEnableVertexAttribArray"), 3u);
    glCacheEnableVertexAttribs(kCCVertexAttribFlag_PosColorTex);
    EXPECT_EQ(calls.total(), 3u);

    calls.reset();
    glCacheEnableVertexAttribs(kCCVertexAttribFlag_Position | kCCVertexAttribFlag_TexCoords);
    EXPECT_EQ(calls.count("glDisableVertexAttribArray"), 1u);
    EXPECT_EQ(calls.total(), 1u);
    EXPECT_TRUE(attribEnabled(0));
    EXPECT_FALSE(attribEnabled(1));
    EXPECT_TRUE(attribEnabled(2));

    calls.reset();
    glCacheEnableVertexAttribs(kCCVertexAttribFlag_None);
    EXPECT_EQ(calls.count("glDisableVertexAttribArray"), 2u);
    EXPECT_FALSE(attribEnabled(0));
    EXPECT_FALSE(attribEnabled(2));
}

TEST_F(GLStateCacheTest, EnablingAttributesUnbindsABoundVertexArrayFirst) {
    GLuint vao = makeVAO();
    glCacheEnableVertexAttribs(kCCVertexAttribFlag_PosColorTex);
    fltest::GLCallCounter calls;
    glCacheBindVAO(vao);
    glCacheBindVAO(vao);
    EXPECT_EQ(calls.count("glBindVertexArrayOES"), 1u);
    EXPECT_EQ(integer(GL_VERTEX_ARRAY_BINDING_OES), static_cast<GLint>(vao));

    calls.reset();
    glCacheEnableVertexAttribs(kCCVertexAttribFlag_PosColorTex);
    EXPECT_EQ(calls.count("glBindVertexArrayOES"), 1u);
    EXPECT_EQ(calls.total(), 1u) << "the default array's attributes were already on";
    EXPECT_EQ(integer(GL_VERTEX_ARRAY_BINDING_OES), 0);
    // The object's own attribute state was not touched.
    {
        platform::glExtensions().glBindVertexArrayOES(vao);
        EXPECT_FALSE(attribEnabled(0));
        platform::glExtensions().glBindVertexArrayOES(0);
    }

    // Invalidating keeps the vertex array object it knows.
    glCacheBindVAO(vao);
    glCacheInvalidate();
    calls.reset();
    glCacheBindVAO(vao);
    EXPECT_EQ(calls.total(), 0u);
    glCacheBindVAO(0);
    platform::glExtensions().glDeleteVertexArraysOES(1, &vao);
}

TEST_F(GLStateCacheTest, CallPointsWithoutEffectMakeNoGLCalls) {
    fltest::GLCallCounter calls;
    glCacheEnableServerState(0);
    glCacheSetProjectionDirty();
    drawPrimitivesFree();
    EXPECT_EQ(calls.total(), 0u);
}

TEST_F(GLStateCacheTest, AnotherContextStartsFromUnknownState) {
    platform::GLContext* main = fltest::sharedGLContext();
    GLuint program = makeProgram();
    GLuint vao = makeVAO();
    glCacheUseProgram(program);
    glCacheEnableVertexAttribs(kCCVertexAttribFlag_PosColorTex);

    auto other =
        platform::GLContext::contextWithAPI(platform::kEAGLRenderingAPIOpenGLES2, main->sharegroup());
    ASSERT_TRUE(other);
    ASSERT_TRUE(platform::GLContext::setCurrentContext(other.get()));
    fltest::GLCallCounter calls;
    glCacheUseProgram(program);
    EXPECT_EQ(calls.count("glUseProgram"), 1u);
    EXPECT_EQ(integer(GL_CURRENT_PROGRAM), static_cast<GLint>(program));
    glCacheEnableVertexAttribs(kCCVertexAttribFlag_Position);
    EXPECT_TRUE(attribEnabled(0));
    glCacheUseProgram(0);

    // Back on the first context, whose arrays are all on: none may be trusted to be off.
    ASSERT_TRUE(platform::GLContext::setCurrentContext(main));
    glCacheBindVAO(vao);
    glCacheEnableVertexAttribs(kCCVertexAttribFlag_None);
    platform::glExtensions().glBindVertexArrayOES(0);
    EXPECT_FALSE(attribEnabled(0));
    EXPECT_FALSE(attribEnabled(1));
    EXPECT_FALSE(attribEnabled(2));
    calls.reset();
    glCacheUseProgram(program);
    EXPECT_EQ(calls.count("glUseProgram"), 1u);

    // A vertex array object bound before the switch is unbound again after it.
    glCacheBindVAO(vao);
    ASSERT_TRUE(platform::GLContext::setCurrentContext(other.get()));
    ASSERT_TRUE(platform::GLContext::setCurrentContext(main));
    EXPECT_EQ(integer(GL_VERTEX_ARRAY_BINDING_OES), static_cast<GLint>(vao));
    glCacheEnableVertexAttribs(kCCVertexAttribFlag_None);
    EXPECT_EQ(integer(GL_VERTEX_ARRAY_BINDING_OES), 0);

    glCacheUseProgram(0);
    glCacheDeleteProgram(program);
    platform::glExtensions().glDeleteVertexArraysOES(1, &vao);
}

TEST_F(GLStateCacheTest, ALoadingThreadKeepsItsOwnRecord) {
    GLuint t = makeTexture(), u = makeTexture();
    glCacheBindTexture2D(t);
    glFinish();
    platform::ShareGroup* group = fltest::sharedGLContext()->sharegroup();
    GLint boundThere = -1;
    std::thread loader([&] {
        auto context = platform::GLContext::contextWithAPI(platform::kEAGLRenderingAPIOpenGLES2, group);
        ASSERT_TRUE(context && platform::GLContext::setCurrentContext(context.get()));
        glCacheBindTexture2D(u);
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &boundThere);
        platform::GLContext::setCurrentContext(nullptr);
    });
    loader.join();
    EXPECT_EQ(boundThere, static_cast<GLint>(u));
    fltest::GLCallCounter calls;
    glCacheBindTexture2D(t);
    EXPECT_EQ(calls.total(), 0u) << "this context still has t bound";
    EXPECT_EQ(textureOnUnit(0), static_cast<GLint>(t));
    glCacheDeleteTexture(t);
    glCacheDeleteTexture(u);
}

} // namespace
