#include "core/CCGLProgram.h"

#include "core/CCDirector.h"
#include "core/CCFileUtils.h"
#include "core/CCMatrix.h"
#include "core/ccGLStateCache.h"
#include "platform/GLCheck.h"
#include "platform/Log.h"

#include <uthash.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>

// One remembered uniform value. The size is kept with the bytes so that a later value of a
// different size is compared (and stored) correctly rather than read past either buffer.
struct _hashUniformEntry {
    GLint location;
    void* value;
    std::size_t size;
    UT_hash_handle hh;
};

namespace {

constexpr const char* kUniformPrologue = "uniform mat4 CC_PMatrix;\n"
                                         "uniform mat4 CC_MVMatrix;\n"
                                         "uniform mat4 CC_MVPMatrix;\n"
                                         "uniform vec4 CC_Time;\n"
                                         "uniform vec4 CC_SinTime;\n"
                                         "uniform vec4 CC_CosTime;\n"
                                         "uniform vec4 CC_Random01;\n"
                                         "//CC INCLUDES END\n\n";

// The directive name of a preprocessor line ("extension" for "  #  extension GL_X : enable"),
// or empty when the line is not a directive.
std::string_view directiveOf(std::string_view line) {
    std::size_t i = line.find_first_not_of(" \t");
    if (i == std::string_view::npos || line[i] != '#') return {};
    i = line.find_first_not_of(" \t", i + 1);
    if (i == std::string_view::npos) return {};
    std::size_t end = i;
    while (end < line.size() && std::isalpha(static_cast<unsigned char>(line[end])))
        ++end;
    return line.substr(i, end - i);
}

// GLSL ES wants "#version" and "#extension" ahead of every declaration, so they cannot stay
// behind the prologue. They move to a string of their own in front of it; each leaves an empty
// line behind, and the body restarts the line count, so that compiler messages give the line
// numbers of the source as written.
struct SplitSource {
    std::string directives;
    std::string body;
};

SplitSource hoistDirectives(const char* source) {
    SplitSource out;
    out.body = "#line 1\n";
    std::string version, extensions;
    std::string_view rest(source);
    while (!rest.empty()) {
        std::size_t nl = rest.find('\n');
        std::string_view line = rest.substr(0, nl == std::string_view::npos ? rest.size() : nl + 1);
        rest.remove_prefix(line.size());
        std::string_view name = directiveOf(line);
        std::string* target = name == "version" ? &version : name == "extension" ? &extensions : nullptr;
        if (target) {
            target->append(line);
            if (target->back() != '\n') target->push_back('\n');
            out.body.push_back('\n');
        } else {
            out.body.append(line);
        }
    }
    out.directives = version + extensions;
    return out;
}

std::string readTextFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

const char* shaderKind(GLenum type) {
    return type == GL_VERTEX_SHADER ? "vertex" : "fragment";
}

} // namespace

bool CCGLProgram::initWithVertexShaderByteArray(const GLchar* vShaderByteArray,
                                                const GLchar* fShaderByteArray) {
    glCacheDeleteWaitingFirst();
    _program = glCreateProgram();
    CHECK_GL_ERROR_DEBUG();
    _home = platform::GLHome::current();
    // The name may be one deleted elsewhere that the state cache still holds in use.
    glCacheFollowDeletions();
    if (!_program) {
        CCLOG("CCGLProgram: could not create a GL program (is a context current?)");
        return false;
    }
    _vertShader = _fragShader = 0;

    if (vShaderByteArray && !compileShader(&_vertShader, GL_VERTEX_SHADER, vShaderByteArray)) return false;
    if (fShaderByteArray && !compileShader(&_fragShader, GL_FRAGMENT_SHADER, fShaderByteArray)) return false;

    if (_vertShader) glCheck(glAttachShader(_program, _vertShader));
    if (_fragShader) glCheck(glAttachShader(_program, _fragShader));
    return true;
}

bool CCGLProgram::initWithVertexShaderFilename(const std::string& vShaderFilename,
                                               const std::string& fShaderFilename) {
    auto resolve = [](const std::string& name) -> std::string {
        if (name.empty()) return {};
        std::string path = CCFileUtils::sharedFileUtils()->fullPathForFilenameIgnoringResolutions(name);
        std::error_code ec;
        return std::filesystem::is_regular_file(path, ec) ? path : std::string{};
    };
    std::string vPath = resolve(vShaderFilename);
    std::string fPath = resolve(fShaderFilename);
    if (vPath.empty() && fPath.empty()) {
        CCLOG("CCGLProgram: neither shader file found: %s, %s", vShaderFilename, fShaderFilename);
        return false;
    }
    std::string vSource = vPath.empty() ? std::string{} : readTextFile(vPath);
    std::string fSource = fPath.empty() ? std::string{} : readTextFile(fPath);
    return initWithVertexShaderByteArray(vPath.empty() ? nullptr : vSource.c_str(),
                                         fPath.empty() ? nullptr : fSource.c_str());
}

std::string CCGLProgram::description() const {
    return platform::format("<%s = %p | Program = %i, VertexShader = %i, FragmentShader = %i>", className(),
                            static_cast<const void*>(this), _program, _vertShader, _fragShader);
}

bool CCGLProgram::compileShader(GLuint* shader, GLenum type, const GLchar* source) {
    if (!source) return false;

    SplitSource split = hoistDirectives(source);
    const GLchar* sources[] = {
        split.directives.c_str(),
        type == GL_VERTEX_SHADER ? "precision highp float;\n" : "precision mediump float;\n",
        kUniformPrologue,
        split.body.c_str(),
    };

    *shader = glCreateShader(type);
    CHECK_GL_ERROR_DEBUG();
    if (!*shader) {
        CCLOG("CCGLProgram: could not create a %s shader", shaderKind(type));
        return false;
    }
    glCheck(glShaderSource(*shader, 4, sources, nullptr));
    glCheck(glCompileShader(*shader));

    GLint status = 0;
    glCheck(glGetShaderiv(*shader, GL_COMPILE_STATUS, &status));
    if (status != GL_TRUE) {
        CCLOG("CCGLProgram: failed to compile the %s shader:\n%s", shaderKind(type),
              logForOpenGLObject(*shader, glGetShaderiv, glGetShaderInfoLog));
        // The caller drops this program; the shader goes with it in the destructor.
        return false;
    }
    return true;
}

void CCGLProgram::addAttribute(const std::string& attributeName, GLuint index) {
    glCheck(glBindAttribLocation(_program, index, attributeName.c_str()));
}

void CCGLProgram::updateUniforms() {
    static constexpr const char* names[kCCUniform_MAX] = {
        kCCUniformPMatrix_s, kCCUniformMVMatrix_s, kCCUniformMVPMatrix_s, kCCUniformTime_s,
        kCCUniformSinTime_s, kCCUniformCosTime_s,  kCCUniformRandom01_s,  kCCUniformSampler_s,
    };
    for (int i = 0; i < kCCUniform_MAX; ++i)
        _uniforms[i] = glGetUniformLocation(_program, names[i]);
    CHECK_GL_ERROR_DEBUG();

    _flags.usesMVP = _uniforms[kCCUniformMVPMatrix] != -1;
    _flags.usesMV = _uniforms[kCCUniformMVMatrix] != -1 && _uniforms[kCCUniformPMatrix] != -1;
    _flags.usesTime = _uniforms[kCCUniformTime] != -1 || _uniforms[kCCUniformSinTime] != -1 ||
                      _uniforms[kCCUniformCosTime] != -1;
    _flags.usesRandom = _uniforms[kCCUniformRandom01] != -1;

    use();
    // Samplers read texture unit 0 unless a caller says otherwise.
    setUniformLocationWithI1(_uniforms[kCCUniformSampler], 0);
}

bool CCGLProgram::link() {
    if (!_program) return false;
    glCheck(glLinkProgram(_program));

    // The program keeps the compiled code; the shader objects are no longer needed.
    const GLuint shaders[] = {_vertShader, _fragShader};
    glCacheDeleteObjects(platform::GLObjectKind::Shader, 2, shaders, _home);
    _vertShader = _fragShader = 0;

    GLint status = 0;
    glCheck(glGetProgramiv(_program, GL_LINK_STATUS, &status));
    if (status != GL_TRUE) {
        CCLOG("CCGLProgram: failed to link program %u:\n%s", _program, programLog());
        return false;
    }
    return true;
}

void CCGLProgram::use() {
    glCacheUseProgram(_program);
}

std::string CCGLProgram::logForOpenGLObject(GLuint object, void (*infoFunc)(GLuint, GLenum, GLint*),
                                            void (*logFunc)(GLuint, GLsizei, GLsizei*, GLchar*)) const {
    // Shaders are gone after link; asking GL about name 0 would only raise an error.
    if (!object) return {};
    GLint length = 0;
    infoFunc(object, GL_INFO_LOG_LENGTH, &length);
    if (length < 1) return {};
    std::string log(static_cast<std::size_t>(length), '\0');
    GLsizei written = 0;
    logFunc(object, length, &written, log.data());
    log.resize(static_cast<std::size_t>(std::clamp<GLsizei>(written, 0, length)));
    return log;
}

std::string CCGLProgram::vertexShaderLog() const {
    return logForOpenGLObject(_vertShader, glGetShaderiv, glGetShaderInfoLog);
}

std::string CCGLProgram::fragmentShaderLog() const {
    return logForOpenGLObject(_fragShader, glGetShaderiv, glGetShaderInfoLog);
}

std::string CCGLProgram::programLog() const {
    return logForOpenGLObject(_program, glGetProgramiv, glGetProgramInfoLog);
}

bool CCGLProgram::updateUniformLocation(GLint location, const GLvoid* data, std::size_t bytes) {
    if (location < 0) return false;
    if (!data && bytes) return false;

    _hashUniformEntry* element = nullptr;
    HASH_FIND_INT(_hashForUniforms, &location, element);
    if (!element) {
        element = static_cast<_hashUniformEntry*>(std::calloc(1, sizeof(_hashUniformEntry)));
        void* copy = std::malloc(bytes ? bytes : 1);
        if (!element || !copy) {
            // Nothing remembered: the value still goes to GL, and so will the next one.
            std::free(element);
            std::free(copy);
            return true;
        }
        element->location = location;
        element->value = copy;
        if (bytes) std::memcpy(element->value, data, bytes);
        element->size = bytes;
        HASH_ADD_INT(_hashForUniforms, location, element);
        return true;
    }
    if (element->size == bytes && (bytes == 0 || std::memcmp(element->value, data, bytes) == 0)) return false;
    if (element->size != bytes) {
        void* grown = std::realloc(element->value, bytes ? bytes : 1);
        if (!grown) return true; // keep the old copy; the value still goes to GL
        element->value = grown;
        element->size = bytes;
    }
    if (bytes) std::memcpy(element->value, data, bytes);
    return true;
}

GLint CCGLProgram::uniformLocationForName(const std::string& name) const {
    if (!_program) return -1;
    return glGetUniformLocation(_program, name.c_str());
}

void CCGLProgram::setUniformLocationWithI1(GLint location, GLint i1) {
    if (updateUniformLocation(location, &i1, sizeof(i1))) glCheck(glUniform1i(location, i1));
}

void CCGLProgram::setUniformLocationWithF1(GLint location, GLfloat f1) {
    if (updateUniformLocation(location, &f1, sizeof(f1))) glCheck(glUniform1f(location, f1));
}

void CCGLProgram::setUniformLocationWithF1(GLint location, GLfloat f1, GLfloat f2) {
    GLfloat floats[2] = {f1, f2};
    if (updateUniformLocation(location, floats, sizeof(floats))) glCheck(glUniform2f(location, f1, f2));
}

void CCGLProgram::setUniformLocationWithF1(GLint location, GLfloat f1, GLfloat f2, GLfloat f3) {
    GLfloat floats[3] = {f1, f2, f3};
    if (updateUniformLocation(location, floats, sizeof(floats))) glCheck(glUniform3f(location, f1, f2, f3));
}

void CCGLProgram::setUniformLocationWithF1(GLint location, GLfloat f1, GLfloat f2, GLfloat f3, GLfloat f4) {
    GLfloat floats[4] = {f1, f2, f3, f4};
    if (updateUniformLocation(location, floats, sizeof(floats)))
        glCheck(glUniform4f(location, f1, f2, f3, f4));
}

void CCGLProgram::setUniformLocationWith2fv(GLint location, const GLfloat* floats, GLuint count) {
    if (updateUniformLocation(location, floats, sizeof(GLfloat) * 2 * count))
        glCheck(glUniform2fv(location, static_cast<GLsizei>(count), floats));
}

void CCGLProgram::setUniformLocationWith3fv(GLint location, const GLfloat* floats, GLuint count) {
    if (updateUniformLocation(location, floats, sizeof(GLfloat) * 3 * count))
        glCheck(glUniform3fv(location, static_cast<GLsizei>(count), floats));
}

void CCGLProgram::setUniformLocationWith4fv(GLint location, const GLfloat* floats, GLuint count) {
    if (updateUniformLocation(location, floats, sizeof(GLfloat) * 4 * count))
        glCheck(glUniform4fv(location, static_cast<GLsizei>(count), floats));
}

void CCGLProgram::setUniformLocationWithMatrix4fv(GLint location, const GLfloat* matrices, GLuint count) {
    if (updateUniformLocation(location, matrices, sizeof(GLfloat) * 16 * count))
        glCheck(glUniformMatrix4fv(location, static_cast<GLsizei>(count), GL_FALSE, matrices));
}

void CCGLProgram::setUniformsForBuiltins() {
    kmMat4 matrixP;
    kmMat4 matrixMV;
    matrixGet(kCCMatrixModeProjection, &matrixP);
    matrixGet(kCCMatrixModeModelView, &matrixMV);

    if (_flags.usesMVP) {
        kmMat4 matrixMVP;
        mat4Multiply(&matrixMVP, &matrixP, &matrixMV);
        setUniformLocationWithMatrix4fv(_uniforms[kCCUniformMVPMatrix], matrixMVP.mat, 1);
    }
    if (_flags.usesMV) {
        setUniformLocationWithMatrix4fv(_uniforms[kCCUniformPMatrix], matrixP.mat, 1);
        setUniformLocationWithMatrix4fv(_uniforms[kCCUniformMVMatrix], matrixMV.mat, 1);
    }
    if (_flags.usesTime) {
        CCDirector* director = CCDirector::sharedDirector();
        // Time follows the frame count, so every frame of a run sees the same values.
        double time = static_cast<double>(director->totalFrames()) * director->animationInterval();
        setUniformLocationWithF1(_uniforms[kCCUniformTime], static_cast<float>(time / 10.0),
                                 static_cast<float>(time), static_cast<float>(time * 2),
                                 static_cast<float>(time * 4));
        setUniformLocationWithF1(_uniforms[kCCUniformSinTime], static_cast<float>(std::sin(time / 8.0)),
                                 static_cast<float>(std::sin(time / 4.0)),
                                 static_cast<float>(std::sin(time / 2.0)),
                                 static_cast<float>(std::sin(time)));
        setUniformLocationWithF1(_uniforms[kCCUniformCosTime], static_cast<float>(std::cos(time / 8.0)),
                                 static_cast<float>(std::cos(time / 4.0)),
                                 static_cast<float>(std::cos(time / 2.0)),
                                 static_cast<float>(std::cos(time)));
    }
    if (_flags.usesRandom) {
        constexpr float scale = 0x1p-31f;
        float r0 = static_cast<float>(random()) * scale;
        float r1 = static_cast<float>(random()) * scale;
        float r2 = static_cast<float>(random()) * scale;
        float r3 = static_cast<float>(random()) * scale;
        setUniformLocationWithF1(_uniforms[kCCUniformRandom01], r0, r1, r2, r3);
    }
}

platform::Ref<CCGLProgram> CCGLProgram::programWithVertexShaderByteArray(const GLchar* vShaderByteArray,
                                                                         const GLchar* fShaderByteArray) {
    auto program = platform::make<CCGLProgram>();
    if (!program->initWithVertexShaderByteArray(vShaderByteArray, fShaderByteArray)) return nullptr;
    return program;
}

platform::Ref<CCGLProgram> CCGLProgram::programWithVertexShaderFilename(const std::string& vShaderFilename,
                                                                        const std::string& fShaderFilename) {
    auto program = platform::make<CCGLProgram>();
    if (!program->initWithVertexShaderFilename(vShaderFilename, fShaderFilename)) return nullptr;
    return program;
}

CCGLProgram::~CCGLProgram() {
    // Shaders are still here when compiling or linking never finished.
    const GLuint shaders[] = {_vertShader, _fragShader};
    glCacheDeleteObjects(platform::GLObjectKind::Shader, 2, shaders, _home);
    if (_program) glCacheDeleteProgram(_program, _home);

    _hashUniformEntry* current = nullptr;
    _hashUniformEntry* tmp = nullptr;
    HASH_ITER(hh, _hashForUniforms, current, tmp) {
        HASH_DEL(_hashForUniforms, current);
        std::free(current->value);
        std::free(current);
    }
}
