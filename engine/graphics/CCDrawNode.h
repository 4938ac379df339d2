// Accumulates antialiased dots, thick segments and polygons as coloured triangles in one
// growing vertex buffer and draws them all with one call. Every vertex carries, in its texture
// coordinate, its offset from the shape's centre line in half widths; the length program fades
// the edge where that length reaches 1.
#pragma once

#include "core/CCNode.h"
#include "core/CCVertexArray.h"
#include "core/ccTypes.h"

#include <GLES2/gl2.h>

#include <cstdint>
#include <vector>

class CCDrawNode : public CCNode {
public:
    CCDrawNode();
    ~CCDrawNode() override;

    // Room for count more vertices, growing by at least the present capacity. False (nothing
    // changed) when the buffer cannot grow that far.
    bool ensureCapacity(std::uint64_t count);
    // 512 vertices, the length program, a vertex buffer (and array object where GL has them).
    bool init() override;
    static platform::Ref<CCDrawNode> node();

    // Uploads the vertices when they changed and draws them in one call.
    void render();
    void draw() override;

    // A disc of the radius (points) at pos.
    void drawDot(CGPoint pos, double radius, _ccColor4F color);
    // A line of half-width radius from a to b with round-looking ends.
    void drawSegmentFrom(CGPoint a, CGPoint b, double radius, _ccColor4F color);
    // A convex polygon (count of at least 2 points; fewer draws nothing) filled, with an outline
    // of the width when the border colour is not transparent, else a half-point fringe.
    void drawPolyWithVerts(const CGPoint* verts, std::uint64_t count, _ccColor4F fillColor,
                           double borderWidth, _ccColor4F borderColor);
    // Drops every shape.
    void clear();

    _ccBlendFunc blendFunc() const { return _blendFunc; }
    void setBlendFunc(_ccBlendFunc blendFunc) { _blendFunc = blendFunc; }

    // Vertices the buffer holds, and those in use.
    std::uint64_t bufferCapacity() const { return _bufferCapacity; }
    std::int32_t bufferCount() const { return _bufferCount; }
    const _ccV2F_C4B_T2F* buffer() const { return _buffer.data(); }

private:
    // Appends vertices the caller made room for.
    void append(const _ccV2F_C4B_T2F* vertices, std::uint64_t count);

    // The array object of the context that made the buffer; other contexts draw without it.
    CCVertexArray _vertexArray;
    GLuint _vbo = 0;
    platform::GLHome _home; // where the buffer was made
    std::uint64_t _bufferCapacity = 0;
    std::int32_t _bufferCount = 0;
    std::vector<_ccV2F_C4B_T2F> _buffer; // _bufferCapacity vertices
    _ccBlendFunc _blendFunc;
    bool _dirty = false;
};
