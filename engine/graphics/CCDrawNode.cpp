#include "graphics/CCDrawNode.h"

#include "core/CCDirector.h"
#include "core/CCGLProgram.h"
#include "core/CCPointExtension.h"
#include "core/CCShaderCache.h"
#include "core/ccGLStateCache.h"
#include "platform/GLCheck.h"
#include "platform/GLContext.h"
#include "platform/Log.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <new>

namespace {

constexpr std::uint64_t kInitialCapacity = 512;
// The most vertices one buffer may hold: its byte size must fit GL's size type and the count
// GL's draw count.
constexpr std::uint64_t kMaxVertices =
    static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()) / sizeof(_ccV2F_C4B_T2F);

// Each component times 255, truncated; out-of-range and NaN components are held to 0-255
// first, since converting them to a byte is undefined.
std::uint8_t componentToByte(float c) {
    float v = c * 255.0f;
    if (!(v > 0.0f)) return 0;
    if (v >= 255.0f) return 255;
    return static_cast<std::uint8_t>(v);
}

_ccColor4B colorToBytes(_ccColor4F c) {
    return {componentToByte(c.r), componentToByte(c.g), componentToByte(c.b), componentToByte(c.a)};
}

_ccV2F_C4B_T2F vertex(CGPoint p, _ccColor4B color, CGPoint t) {
    return {{static_cast<float>(p.x), static_cast<float>(p.y)},
            color,
            {static_cast<float>(t.x), static_cast<float>(t.y)}};
}

inline CGPoint neg(CGPoint p) {
    return {-p.x, -p.y};
}

void setVertexPointers() {
    glCheck(glVertexAttribPointer(kCCVertexAttrib_Position, 2, GL_FLOAT, GL_FALSE, sizeof(_ccV2F_C4B_T2F),
                                  reinterpret_cast<const void*>(offsetof(_ccV2F_C4B_T2F, vertices))));
    glCheck(glVertexAttribPointer(kCCVertexAttrib_Color, 4, GL_UNSIGNED_BYTE, GL_TRUE, sizeof(_ccV2F_C4B_T2F),
                                  reinterpret_cast<const void*>(offsetof(_ccV2F_C4B_T2F, colors))));
    glCheck(glVertexAttribPointer(kCCVertexAttrib_TexCoords, 2, GL_FLOAT, GL_FALSE, sizeof(_ccV2F_C4B_T2F),
                                  reinterpret_cast<const void*>(offsetof(_ccV2F_C4B_T2F, texCoords))));
}

} // namespace

CCDrawNode::CCDrawNode() = default;

CCDrawNode::~CCDrawNode() {
    glCacheDeleteObjects(platform::GLObjectKind::Buffer, 1, &_vbo, _home);
    _vertexArray.release();
}

platform::Ref<CCDrawNode> CCDrawNode::node() {
    return makeNode<CCDrawNode>();
}

bool CCDrawNode::ensureCapacity(std::uint64_t count) {
    const std::uint64_t used = static_cast<std::uint64_t>(_bufferCount);
    if (count > kMaxVertices || used + count > kMaxVertices) {
        CCLOG("CCDrawNode: %lu more vertices do not fit one buffer", count);
        return false;
    }
    if (used + count <= _bufferCapacity) return true;
    std::uint64_t capacity = _bufferCapacity + std::max(_bufferCapacity, count);
    // Growth stops at the limit; the request itself fits, as checked above.
    if (capacity > kMaxVertices) capacity = kMaxVertices;
    try {
        _buffer.resize(capacity);
    } catch (const std::bad_alloc&) {
        CCLOG("CCDrawNode: not enough memory for %lu vertices", capacity);
        return false;
    }
    _bufferCapacity = capacity;
    return true;
}

bool CCDrawNode::init() {
    if (!CCNode::init()) return false;
    _blendFunc = {GL_ONE, GL_ONE_MINUS_SRC_ALPHA};
    setShaderProgram(CCShaderCache::sharedShaderCache()->programForKey(kCCShader_PositionLengthTextureColor));
    if (!ensureCapacity(kInitialCapacity)) return false;

    glCacheDeleteWaitingFirst();
    bool recording = _vertexArray.create();
    glCheck(glGenBuffers(1, &_vbo));
    _home = platform::GLHome::current();
    glCheck(glBindBuffer(GL_ARRAY_BUFFER, _vbo));
    glCheck(glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(sizeof(_ccV2F_C4B_T2F) * _bufferCapacity),
                         _buffer.data(), GL_STREAM_DRAW));
    if (recording) {
        glCheck(glEnableVertexAttribArray(kCCVertexAttrib_Position));
        glCheck(glEnableVertexAttribArray(kCCVertexAttrib_Color));
        glCheck(glEnableVertexAttribArray(kCCVertexAttrib_TexCoords));
        setVertexPointers();
        glCacheBindVAO(0);
    }
    glCheck(glBindBuffer(GL_ARRAY_BUFFER, 0));
    platform::reportGLError("-[CCDrawNode init]", 147);
    _dirty = true;
    return true;
}

void CCDrawNode::render() {
    if (!_vbo) return;
    if (_dirty) {
        // The array object keeps attribute pointers, not the buffer binding: bind it plainly.
        glCheck(glBindBuffer(GL_ARRAY_BUFFER, _vbo));
        glCheck(glBufferData(GL_ARRAY_BUFFER,
                             static_cast<GLsizeiptr>(sizeof(_ccV2F_C4B_T2F) * _bufferCapacity),
                             _buffer.data(), GL_STREAM_DRAW));
        glCheck(glBindBuffer(GL_ARRAY_BUFFER, 0));
        _dirty = false;
    }
    if (_vertexArray.bind()) {
        glCheck(glDrawArrays(GL_TRIANGLES, 0, _bufferCount));
    } else {
        // No array object for this context: point the attributes at the buffer for every draw.
        glCacheEnableVertexAttribs(kCCVertexAttribFlag_PosColorTex);
        glCheck(glBindBuffer(GL_ARRAY_BUFFER, _vbo));
        setVertexPointers();
        glCheck(glDrawArrays(GL_TRIANGLES, 0, _bufferCount));
        // Later client-side arrays must not be read as offsets into this buffer.
        glCheck(glBindBuffer(GL_ARRAY_BUFFER, 0));
    }
    ++drawCallCounter;
    platform::reportGLError("-[CCDrawNode render]", 185);
}

void CCDrawNode::draw() {
    CCGLProgram* program = shaderProgram();
    if (!program) return;
    glCacheBlendFunc(_blendFunc.src, _blendFunc.dst);
    program->use();
    program->setUniformsForBuiltins();
    render();
}

void CCDrawNode::append(const _ccV2F_C4B_T2F* vertices, std::uint64_t count) {
    std::copy(vertices, vertices + count, _buffer.begin() + _bufferCount);
    _bufferCount += static_cast<std::int32_t>(count);
    _dirty = true;
}

void CCDrawNode::drawDot(CGPoint pos, double radius, _ccColor4F color) {
    constexpr std::uint64_t kVertices = 6;
    if (!ensureCapacity(kVertices)) return;
    const _ccColor4B c = colorToBytes(color);
    const double r = radius;
    const _ccV2F_C4B_T2F v[kVertices] = {
        vertex(ccp(pos.x - r, pos.y - r), c, ccp(-1, -1)), vertex(ccp(pos.x - r, pos.y + r), c, ccp(-1, 1)),
        vertex(ccp(pos.x + r, pos.y + r), c, ccp(1, 1)),   vertex(ccp(pos.x - r, pos.y - r), c, ccp(-1, -1)),
        vertex(ccp(pos.x + r, pos.y + r), c, ccp(1, 1)),   vertex(ccp(pos.x + r, pos.y - r), c, ccp(1, -1)),
    };
    append(v, kVertices);
}

void CCDrawNode::drawSegmentFrom(CGPoint a, CGPoint b, double radius, _ccColor4F color) {
    constexpr std::uint64_t kVertices = 18;
    if (!ensureCapacity(kVertices)) return;
    const _ccColor4B c = colorToBytes(color);

    const CGPoint n = pointNormalize(pointPerp(pointSub(b, a)));
    const CGPoint t = pointPerp(n);
    const CGPoint nw = pointMult(n, radius);
    const CGPoint tw = pointMult(t, radius);
    const CGPoint v0 = pointSub(b, pointAdd(nw, tw));
    const CGPoint v1 = pointAdd(b, pointSub(nw, tw));
    const CGPoint v2 = pointSub(b, nw);
    const CGPoint v3 = pointAdd(b, nw);
    const CGPoint v4 = pointSub(a, nw);
    const CGPoint v5 = pointAdd(a, nw);
    const CGPoint v6 = pointSub(a, pointSub(nw, tw));
    const CGPoint v7 = pointAdd(a, pointAdd(nw, tw));

    const _ccV2F_C4B_T2F v[kVertices] = {
        vertex(v0, c, neg(pointAdd(n, t))),
        vertex(v1, c, pointSub(n, t)),
        vertex(v2, c, neg(n)),
        vertex(v3, c, n),
        vertex(v1, c, pointSub(n, t)),
        vertex(v2, c, neg(n)),
        vertex(v3, c, n),
        vertex(v4, c, neg(n)),
        vertex(v2, c, neg(n)),
        vertex(v3, c, n),
        vertex(v4, c, neg(n)),
        vertex(v5, c, n),
        vertex(v6, c, pointSub(t, n)),
        vertex(v4, c, neg(n)),
        vertex(v5, c, n),
        vertex(v6, c, pointSub(t, n)),
        vertex(v7, c, pointAdd(n, t)),
        vertex(v5, c, n),
    };
    append(v, kVertices);
}

void CCDrawNode::drawPolyWithVerts(const CGPoint* verts, std::uint64_t count, _ccColor4F fillColor,
                                   double borderWidth, _ccColor4F borderColor) {
    // Fewer than two points make no edge (and would wrap the counts below).
    if (!verts || count < 2) return;
    if (count > kMaxVertices / 9) {
        CCLOG("CCDrawNode: a polygon of %lu points does not fit one buffer", count);
        return;
    }

    struct ExtrudeVerts {
        CGPoint offset, n;
    };
    std::vector<ExtrudeVerts> extrude(count);
    for (std::uint64_t i = 0; i < count; ++i) {
        const CGPoint v0 = verts[(i + count - 1) % count];
        const CGPoint v1 = verts[i];
        const CGPoint v2 = verts[(i + 1) % count];
        const CGPoint n1 = pointNormalize(pointPerp(pointSub(v1, v0)));
        const CGPoint n2 = pointNormalize(pointPerp(pointSub(v2, v1)));
        const double denominator = pointDot(n1, n2) + 1.0;
        CGPoint offset = pointMult(pointAdd(n1, n2), 1.0 / denominator);
        // An edge that turns straight back has no mitre: push out along the outgoing edge's
        // normal rather than by an infinite (or NaN) offset.
        if (!std::isfinite(offset.x) || !std::isfinite(offset.y)) offset = n2;
        extrude[i] = {offset, n2};
    }
    const bool outline = borderColor.a > 0.0f && borderWidth > 0.0;

    const std::uint64_t total = 3 * (3 * count - 2);
    if (!ensureCapacity(total)) return;
    std::vector<_ccV2F_C4B_T2F> out;
    out.reserve(total);

    const _ccColor4B fill = colorToBytes(fillColor);
    const _ccColor4B border = colorToBytes(borderColor);
    const double inset = outline ? 0.0 : 0.5;
    for (std::uint64_t i = 0; i + 2 < count; ++i) {
        const CGPoint p0 = pointSub(verts[0], pointMult(extrude[0].offset, inset));
        const CGPoint p1 = pointSub(verts[i + 1], pointMult(extrude[i + 1].offset, inset));
        const CGPoint p2 = pointSub(verts[i + 2], pointMult(extrude[i + 2].offset, inset));
        out.push_back(vertex(p0, fill, CGPointZero));
        out.push_back(vertex(p1, fill, CGPointZero));
        out.push_back(vertex(p2, fill, CGPointZero));
    }

    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t j = (i + 1) % count;
        const CGPoint v0 = verts[i], v1 = verts[j];
        const CGPoint n0 = extrude[i].n;
        const CGPoint offset0 = extrude[i].offset, offset1 = extrude[j].offset;
        if (outline) {
            const CGPoint inner0 = pointSub(v0, pointMult(offset0, borderWidth));
            const CGPoint inner1 = pointSub(v1, pointMult(offset1, borderWidth));
            const CGPoint outer0 = pointAdd(v0, pointMult(offset0, borderWidth));
            const CGPoint outer1 = pointAdd(v1, pointMult(offset1, borderWidth));
            out.push_back(vertex(inner0, border, neg(n0)));
            out.push_back(vertex(inner1, border, neg(n0)));
            out.push_back(vertex(outer1, border, n0));
            out.push_back(vertex(inner0, border, neg(n0)));
            out.push_back(vertex(outer0, border, n0));
            out.push_back(vertex(outer1, border, n0));
        } else {
            const CGPoint inner0 = pointSub(v0, pointMult(offset0, 0.5));
            const CGPoint inner1 = pointSub(v1, pointMult(offset1, 0.5));
            const CGPoint outer0 = pointAdd(v0, pointMult(offset0, 0.5));
            const CGPoint outer1 = pointAdd(v1, pointMult(offset1, 0.5));
            out.push_back(vertex(inner0, fill, CGPointZero));
            out.push_back(vertex(inner1, fill, CGPointZero));
            out.push_back(vertex(outer1, fill, n0));
            out.push_back(vertex(inner0, fill, CGPointZero));
            out.push_back(vertex(outer0, fill, n0));
            out.push_back(vertex(outer1, fill, n0));
        }
    }
    append(out.data(), out.size());
}

void CCDrawNode::clear() {
    _bufferCount = 0;
    _dirty = true;
}
