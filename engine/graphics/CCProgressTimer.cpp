#include "graphics/CCProgressTimer.h"

#include "core/CCDirector.h"
#include "core/CCGLProgram.h"
#include "core/CCPointExtension.h"
#include "core/CCShaderCache.h"
#include "core/ccGLStateCache.h"
#include "graphics/CCSprite.h"
#include "graphics/CCTexture2D.h"
#include "platform/GLCheck.h"

#include <GLES2/gl2.h>

#include <cfloat>
#include <cmath>
#include <cstddef>
#include <numbers>

namespace {

// The four corners as bit pairs, in the order a clockwise sweep from 12 o'clock meets them.
constexpr int kProgressTextureCoords = 0x4B;
constexpr int kProgressTextureCoordsCount = 4;

// Moves the span [min, max] back inside 0-1 where it sticks out, keeping its length.
void slideIntoUnitRange(double& min, double& max) {
    if (min < 0) {
        max += -min;
        min = 0;
    }
    if (max > 1) {
        min -= max - 1;
        max = 1;
    }
}

} // namespace

CCProgressTimer::CCProgressTimer() = default;
CCProgressTimer::~CCProgressTimer() = default;

platform::Ref<CCProgressTimer> CCProgressTimer::progressWithSprite(CCSprite* sprite) {
    auto timer = platform::make<CCProgressTimer>();
    return timer->initWithSprite(sprite) ? timer : nullptr;
}

bool CCProgressTimer::init() {
    return initWithSprite(nullptr);
}

bool CCProgressTimer::initWithSprite(CCSprite* sprite) {
    if (!CCNodeRGBA::init()) return false;
    _percentage = 0;
    dropVertexData();
    setAnchorPoint(ccp(0.5, 0.5));
    _type = kCCProgressTimerTypeRadial;
    _reverseDirection = false;
    setMidpoint(ccp(0.5, 0.5));
    setBarChangeRate(ccp(1, 1));
    setSprite(sprite);
    setShaderProgram(CCShaderCache::sharedShaderCache()->programForKey(kCCShader_PositionTextureColor));
    return true;
}

// ---- settings --------------------------------------------------------------------------------

void CCProgressTimer::setPercentage(float percentage) {
    // NaN would reach the vertex positions through the sweep angle.
    if (std::isnan(percentage) || _percentage == percentage) return;
    _percentage = clampFloat(percentage, 0, 100);
    updateProgress();
}

void CCProgressTimer::setSprite(CCSprite* sprite) {
    if (_sprite.get() == sprite) return;
    _sprite = sprite;
    setContentSize(sprite ? sprite->contentSize() : CGSizeZero);
    dropVertexData();
}

void CCProgressTimer::setType(CCProgressTimerType type) {
    if (type == _type) return;
    dropVertexData();
    _type = type;
    updateProgress();
}

void CCProgressTimer::setReverseDirection(bool reverse) {
    if (_reverseDirection == reverse) return;
    _reverseDirection = reverse;
    dropVertexData();
}

void CCProgressTimer::setMidpoint(CGPoint midpoint) {
    _midpoint = pointClamp(midpoint, CGPointZero, ccp(1, 1));
}

// ---- colour ----------------------------------------------------------------------------------

void CCProgressTimer::setColor(_ccColor3B color) {
    if (_sprite) _sprite->setColor(color);
    updateColor();
}

_ccColor3B CCProgressTimer::color() const {
    return _sprite ? _sprite->color() : _ccColor3B{0, 0, 0};
}

void CCProgressTimer::setOpacity(std::uint8_t opacity) {
    if (_sprite) _sprite->setOpacity(opacity);
    updateColor();
}

std::uint8_t CCProgressTimer::opacity() const {
    return _sprite ? _sprite->opacity() : 0;
}

void CCProgressTimer::updateDisplayedColor(_ccColor3B parentColor) {
    const _ccColor3B before = _displayedColor;
    CCNodeRGBA::updateDisplayedColor(parentColor);
    if (!(_displayedColor == before)) updateColor();
}

void CCProgressTimer::updateDisplayedOpacity(std::uint8_t parentOpacity) {
    const std::uint8_t before = _displayedOpacity;
    CCNodeRGBA::updateDisplayedOpacity(parentOpacity);
    if (_displayedOpacity != before) updateColor();
}

void CCProgressTimer::updateColor() {
    if (!_sprite || _vertexData.empty()) return;
    _ccColor4B color = _sprite->quad().tl.colors;
    // The timer's own colour and opacity stay white and 255, so the displayed ones are the
    // cascade's part alone. A premultiplied picture carries the opacity in its colour too.
    _ccColor3B rgb = ccCascadeColor(_ccColor3B{color.r, color.g, color.b}, _displayedColor);
    if (_sprite->doesOpacityModifyRGB()) rgb = ccFoldOpacity(rgb, _displayedOpacity);
    color = {rgb.r, rgb.g, rgb.b, ccCascadeOpacity(color.a, _displayedOpacity)};
    for (_ccV2F_C4B_T2F& v : _vertexData)
        v.colors = color;
}

// ---- alpha mapping ---------------------------------------------------------------------------

_ccTex2F CCProgressTimer::textureCoordFromAlphaPoint(CGPoint alpha) const {
    if (!_sprite) return {};
    const _ccV3F_C4B_T2F_Quad quad = _sprite->quad();
    const _ccTex2F min = quad.bl.texCoords;
    const _ccTex2F max = quad.tr.texCoords;
    // A rotated frame lies on its side in the texture: its x runs along the texture's v.
    if (_sprite->textureRectRotated()) std::swap(alpha.x, alpha.y);
    return {static_cast<float>(min.u * (1 - alpha.x) + max.u * alpha.x),
            static_cast<float>(min.v * (1 - alpha.y) + max.v * alpha.y)};
}

_ccVertex2F CCProgressTimer::vertexFromAlphaPoint(CGPoint alpha) const {
    if (!_sprite) return {};
    const _ccV3F_C4B_T2F_Quad quad = _sprite->quad();
    const _ccVertex3F min = quad.bl.vertices;
    const _ccVertex3F max = quad.tr.vertices;
    return {static_cast<float>(min.x * (1 - alpha.x) + max.x * alpha.x),
            static_cast<float>(min.y * (1 - alpha.y) + max.y * alpha.y)};
}

CGPoint CCProgressTimer::boundaryTexCoord(std::int8_t index) const {
    if (index < 0 || index >= kProgressTextureCoordsCount) return CGPointZero;
    const int i = index;
    if (_reverseDirection)
        return ccp((kProgressTextureCoords >> (7 - 2 * i)) & 1, (kProgressTextureCoords >> (6 - 2 * i)) & 1);
    return ccp((kProgressTextureCoords >> (2 * i + 1)) & 1, (kProgressTextureCoords >> (2 * i)) & 1);
}

// ---- vertex data -----------------------------------------------------------------------------

void CCProgressTimer::dropVertexData() {
    _vertexData.clear();
    _vertexData.shrink_to_fit();
    _vertexDataCount = 0;
}

bool CCProgressTimer::resizeVertexData(std::int32_t count) {
    if (_vertexDataCount == count && !_vertexData.empty()) return false;
    _vertexData.assign(static_cast<std::size_t>(count), _ccV2F_C4B_T2F{});
    _vertexDataCount = count;
    return true;
}

void CCProgressTimer::setVertex(std::int32_t i, CGPoint alpha) {
    _vertexData[static_cast<std::size_t>(i)].texCoords = textureCoordFromAlphaPoint(alpha);
    _vertexData[static_cast<std::size_t>(i)].vertices = vertexFromAlphaPoint(alpha);
}

void CCProgressTimer::updateProgress() {
    switch (_type) {
    case kCCProgressTimerTypeRadial:
        updateRadial();
        break;
    case kCCProgressTimerTypeBar:
        updateBar();
        break;
    }
}

void CCProgressTimer::updateRadial() {
    if (!_sprite) return;
    const float alpha = _percentage / 100.0f;
    const float angle = 2.0f * std::numbers::pi_v<float> * (_reverseDirection ? alpha : 1.0f - alpha);

    // The sweep starts at 12 o'clock: straight up from the midpoint to the top edge.
    const CGPoint topMid = ccp(_midpoint.x, 1);
    const CGPoint percentagePt = pointRotateAround(topMid, _midpoint, angle);

    std::int32_t index = 0;
    CGPoint hit = CGPointZero;
    if (alpha == 0.0f) {
        hit = topMid;
        index = 0;
    } else if (alpha == 1.0f) {
        hit = topMid;
        index = 4;
    } else {
        // Where the ray from the midpoint through percentagePt first leaves the picture. Edge i
        // runs from corner i back to the corner before it; the top edge is split at 12 o'clock
        // into edge 0 (its right part) and edge 4 (its left part).
        float min_t = FLT_MAX;
        for (int i = 0; i <= kProgressTextureCoordsCount; ++i) {
            const int pIndex = (i + kProgressTextureCoordsCount - 1) % kProgressTextureCoordsCount;
            CGPoint edgePtA = boundaryTexCoord(static_cast<std::int8_t>(i % kProgressTextureCoordsCount));
            CGPoint edgePtB = boundaryTexCoord(static_cast<std::int8_t>(pIndex));
            if (i == 0)
                edgePtB = pointLerp(edgePtA, edgePtB, static_cast<float>(1 - _midpoint.x));
            else if (i == 4)
                edgePtA = pointLerp(edgePtA, edgePtB, static_cast<float>(1 - _midpoint.x));

            float s = 0, t = 0;
            if (!segmentIntersect(edgePtA, edgePtB, _midpoint, percentagePt, &s, &t)) continue;
            // The half edges are segments, the others whole lines: the nearest hit wins.
            if ((i == 0 || i == 4) && !(0.0f <= s && s <= 1.0f)) continue;
            if (t >= 0.0f && t < min_t) {
                min_t = t;
                index = i;
            }
        }
        hit = pointAdd(_midpoint, pointMult(pointSub(percentagePt, _midpoint), min_t));
    }

    // Midpoint, 12 o'clock, every corner passed, the hit point: a fan of index + 3 vertices.
    // The fixed vertices are written at every update, not only when the count changes, so a
    // new midpoint or a changed sprite quad never leaves them stale.
    resizeVertexData(index + 3);
    updateColor();
    setVertex(0, _midpoint);
    setVertex(1, topMid);
    for (std::int32_t i = 0; i < index; ++i)
        setVertex(i + 2, boundaryTexCoord(static_cast<std::int8_t>(i)));
    setVertex(_vertexDataCount - 1, hit);
}

void CCProgressTimer::updateBar() {
    if (!_sprite) return;
    const float alpha = _percentage / 100.0f;
    const CGPoint alphaOffset = pointMult(ccp(1.0f * (1.0f - static_cast<float>(_barChangeRate.x)) +
                                                  alpha * static_cast<float>(_barChangeRate.x),
                                              1.0f * (1.0f - static_cast<float>(_barChangeRate.y)) +
                                                  alpha * static_cast<float>(_barChangeRate.y)),
                                          0.5f);
    CGPoint min = pointSub(_midpoint, alphaOffset);
    CGPoint max = pointAdd(_midpoint, alphaOffset);
    // A rectangle that would leave the picture slides back in, keeping its size.
    slideIntoUnitRange(min.x, max.x);
    slideIntoUnitRange(min.y, max.y);

    if (!_reverseDirection) {
        // One strip: top-left, bottom-left, top-right, bottom-right.
        resizeVertexData(4);
        setVertex(0, ccp(min.x, max.y));
        setVertex(1, ccp(min.x, min.y));
        setVertex(2, ccp(max.x, max.y));
        setVertex(3, ccp(max.x, min.y));
    } else {
        // Two strips, from the picture's left edge to the rectangle's left side and from the
        // rectangle's right side to the picture's right edge: what lies outside the bar.
        resizeVertexData(8);
        setVertex(0, ccp(0, 1));
        setVertex(1, ccp(0, 0));
        setVertex(6, ccp(1, 1));
        setVertex(7, ccp(1, 0));
        setVertex(2, ccp(min.x, max.y));
        setVertex(3, ccp(min.x, min.y));
        setVertex(4, ccp(max.x, max.y));
        setVertex(5, ccp(max.x, min.y));
    }
    updateColor();
}

// ---- drawing ---------------------------------------------------------------------------------

void CCProgressTimer::draw() {
    CCGLProgram* program = shaderProgram();
    if (_vertexData.empty() || !_sprite || !program) return;
    glCacheEnableServerState(_glServerState);
    program->use();
    program->setUniformsForBuiltins();

    const _ccBlendFunc blend = _sprite->blendFunc();
    glCacheBlendFunc(blend.src, blend.dst);
    glCacheEnableVertexAttribs(kCCVertexAttribFlag_PosColorTex);
    CCTexture2D* texture = _sprite->texture();
    glCacheBindTexture2D(texture ? texture->name() : 0);

    constexpr GLsizei stride = sizeof(_ccV2F_C4B_T2F);
    const char* base = reinterpret_cast<const char*>(_vertexData.data());
    glCheck(glVertexAttribPointer(kCCVertexAttrib_Position, 2, GL_FLOAT, GL_FALSE, stride,
                                  base + offsetof(_ccV2F_C4B_T2F, vertices)));
    glCheck(glVertexAttribPointer(kCCVertexAttrib_Color, 4, GL_UNSIGNED_BYTE, GL_TRUE, stride,
                                  base + offsetof(_ccV2F_C4B_T2F, colors)));
    glCheck(glVertexAttribPointer(kCCVertexAttrib_TexCoords, 2, GL_FLOAT, GL_FALSE, stride,
                                  base + offsetof(_ccV2F_C4B_T2F, texCoords)));

    if (_type == kCCProgressTimerTypeRadial) {
        glCheck(glDrawArrays(GL_TRIANGLE_FAN, 0, _vertexDataCount));
        ++drawCallCounter;
    } else if (_type == kCCProgressTimerTypeBar) {
        if (!_reverseDirection) {
            glCheck(glDrawArrays(GL_TRIANGLE_STRIP, 0, _vertexDataCount));
            ++drawCallCounter;
        } else {
            glCheck(glDrawArrays(GL_TRIANGLE_STRIP, 0, _vertexDataCount / 2));
            glCheck(glDrawArrays(GL_TRIANGLE_STRIP, 4, _vertexDataCount / 2));
            drawCallCounter += 2;
        }
    }
}
