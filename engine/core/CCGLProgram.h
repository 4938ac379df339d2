// One linked OpenGL ES 2.0 program: the two shaders compiled behind the built-in uniform
// prologue, attribute names bound to the engine's fixed slots, the built-in uniforms loaded
// from the matrix stacks before each draw, and uniform updates filtered so that a value equal
// to the last one sent is not sent again.
#pragma once

#include "platform/GLContext.h"
#include "platform/Object.h"

#include <GLES2/gl2.h>

#include <cstddef>
#include <cstdint>
#include <string>

// Vertex attribute slots every vertex layout, program and the GL state cache agree on.
enum : GLuint {
    kCCVertexAttrib_Position = 0,
    kCCVertexAttrib_Color = 1,
    kCCVertexAttrib_TexCoords = 2,
    kCCVertexAttrib_MAX = 3,
};

// Indexes of the built-in uniform locations in _uniforms.
enum : int {
    kCCUniformPMatrix = 0,
    kCCUniformMVMatrix = 1,
    kCCUniformMVPMatrix = 2,
    kCCUniformTime = 3,
    kCCUniformSinTime = 4,
    kCCUniformCosTime = 5,
    kCCUniformRandom01 = 6,
    kCCUniformSampler = 7,
    kCCUniform_MAX = 8,
};

// Built-in uniform names.
inline constexpr const char* kCCUniformPMatrix_s = "CC_PMatrix";
inline constexpr const char* kCCUniformMVMatrix_s = "CC_MVMatrix";
inline constexpr const char* kCCUniformMVPMatrix_s = "CC_MVPMatrix";
inline constexpr const char* kCCUniformTime_s = "CC_Time";
inline constexpr const char* kCCUniformSinTime_s = "CC_SinTime";
inline constexpr const char* kCCUniformCosTime_s = "CC_CosTime";
inline constexpr const char* kCCUniformRandom01_s = "CC_Random01";
inline constexpr const char* kCCUniformSampler_s = "CC_Texture0";
// Set by the callers of the alpha-test program.
inline constexpr const char* kCCUniformAlphaTestValue = "CC_AlphaValue";

// Attribute names the default programs bind.
inline constexpr const char* kCCAttributeNameColor = "a_color";
inline constexpr const char* kCCAttributeNamePosition = "a_position";
inline constexpr const char* kCCAttributeNameTexCoord = "a_texCoord";

struct _hashUniformEntry;

class CCGLProgram : public platform::Object {
public:
    // Creates the program and compiles and attaches the shaders whose source is given (either
    // may be null). False when a given source does not compile; the log says why. The caller
    // then binds attributes, links and calls updateUniforms, in that order.
    virtual bool initWithVertexShaderByteArray(const GLchar* vShaderByteArray,
                                               const GLchar* fShaderByteArray);
    // Resolves both names through the file utilities; false when neither resolves or a shader
    // does not compile. A name that does not resolve gives no shader of that kind.
    virtual bool initWithVertexShaderFilename(const std::string& vShaderFilename,
                                              const std::string& fShaderFilename);
    // "<CCGLProgram = 0x... | Program = 3, VertexShader = 0, FragmentShader = 0>"
    std::string description() const override;
    // Compiles source behind the prologue into a new shader stored in *shader. False for a
    // null source, and false with the shader log written to the log when compiling fails.
    bool compileShader(GLuint* shader, GLenum type, const GLchar* source);

    // Binds a name to an attribute slot; only effective before link.
    void addAttribute(const std::string& attributeName, GLuint index);
    // Looks the built-in uniforms up and points "CC_Texture0" at texture unit 0; call after link.
    void updateUniforms();
    // Links and drops the shader objects. False, with the program log written to the log,
    // when the link fails.
    bool link();
    // Makes this the current program through the GL state cache.
    void use();
    // The info log of a shader or program, read with the matching GL query and log functions.
    std::string logForOpenGLObject(GLuint object, void (*infoFunc)(GLuint, GLenum, GLint*),
                                   void (*logFunc)(GLuint, GLsizei, GLsizei*, GLchar*)) const;
    // Info logs; empty when GL has none.
    std::string vertexShaderLog() const;
    std::string fragmentShaderLog() const;
    std::string programLog() const;

    // The stored-value filter: true when the value differs from the one last sent for this
    // location (in size or in bytes) and must reach GL; false for a missing uniform (-1).
    bool updateUniformLocation(GLint location, const GLvoid* data, std::size_t bytes);
    GLint uniformLocationForName(const std::string& name) const;

    // Filtered uniform setters: GL is called only when the value changed.
    void setUniformLocationWithI1(GLint location, GLint i1);
    void setUniformLocationWithF1(GLint location, GLfloat f1);
    void setUniformLocationWithF1(GLint location, GLfloat f1, GLfloat f2);
    void setUniformLocationWithF1(GLint location, GLfloat f1, GLfloat f2, GLfloat f3);
    void setUniformLocationWithF1(GLint location, GLfloat f1, GLfloat f2, GLfloat f3, GLfloat f4);
    // count vectors or matrices read from floats.
    void setUniformLocationWith2fv(GLint location, const GLfloat* floats, GLuint count);
    void setUniformLocationWith3fv(GLint location, const GLfloat* floats, GLuint count);
    void setUniformLocationWith4fv(GLint location, const GLfloat* floats, GLuint count);
    void setUniformLocationWithMatrix4fv(GLint location, const GLfloat* matrices, GLuint count);

    // Loads the matrix stack tops (and, where the shaders use them, time and random values)
    // into the built-in uniforms; call after use() and before drawing.
    void setUniformsForBuiltins();
    // The older name of setUniformsForBuiltins.
    void setUniformForModelViewProjectionMatrix() { setUniformsForBuiltins(); }

    GLuint program() const { return _program; }
    // The location of a built-in uniform by its index (kCCUniformMVPMatrix...), -1 when absent.
    GLint uniform(int index) const { return _uniforms[index]; }
    bool usesTime() const { return _flags.usesTime; }
    bool usesMVP() const { return _flags.usesMVP; }
    bool usesMV() const { return _flags.usesMV; }
    bool usesRandom() const { return _flags.usesRandom; }

    // A new program initialised from sources; null when a shader does not compile.
    static platform::Ref<CCGLProgram> programWithVertexShaderByteArray(const GLchar* vShaderByteArray,
                                                                       const GLchar* fShaderByteArray);
    static platform::Ref<CCGLProgram> programWithVertexShaderFilename(const std::string& vShaderFilename,
                                                                      const std::string& fShaderFilename);

protected:
    ~CCGLProgram() override;

private:
    _hashUniformEntry* _hashForUniforms = nullptr;
    GLuint _program = 0;
    platform::GLHome _home; // where the program and its shaders were made
    GLuint _vertShader = 0;
    GLuint _fragShader = 0;
    GLint _uniforms[kCCUniform_MAX] = {-1, -1, -1, -1, -1, -1, -1, -1};
    struct {
        unsigned usesTime : 1;
        unsigned usesMVP : 1;
        unsigned usesMV : 1;
        unsigned usesRandom : 1;
    } _flags = {0, 0, 0, 0};
};
