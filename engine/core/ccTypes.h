// The value types every subsystem shares: colours, vertices, quads, blend pairs.
#pragma once

#include "platform/Geometry.h"

#include <cstdint>

struct _ccColor3B {
    std::uint8_t r = 0, g = 0, b = 0;
};
struct _ccColor4B {
    std::uint8_t r = 0, g = 0, b = 0, a = 0;
};
struct _ccColor4F {
    float r = 0, g = 0, b = 0, a = 0;
};
struct _ccVertex2F {
    float x = 0, y = 0;
};
struct _ccVertex3F {
    float x = 0, y = 0, z = 0;
};
struct _ccTex2F {
    float u = 0, v = 0;
};

// One vertex of a sprite, atlas or particle quad.
struct _ccV3F_C4B_T2F {
    _ccVertex3F vertices;
    _ccColor4B colors;
    _ccTex2F texCoords;
};
// Corners in the order top-left, bottom-left, top-right, bottom-right.
struct _ccV3F_C4B_T2F_Quad {
    _ccV3F_C4B_T2F tl, bl, tr, br;
};
// The vertex of the progress timer and the draw node.
struct _ccV2F_C4B_T2F {
    _ccVertex2F vertices;
    _ccColor4B colors;
    _ccTex2F texCoords;
};
// One grid tile's corners: bottom-left, bottom-right, top-left, top-right.
struct _ccQuad3 {
    _ccVertex3F bl, br, tl, tr;
};

// Source and destination factors; (GL_ONE, GL_ZERO) means no blending.
struct _ccBlendFunc {
    std::uint32_t src = 0, dst = 0;
};

static_assert(sizeof(_ccV3F_C4B_T2F) == 24, "GL reads this layout");
static_assert(sizeof(_ccV3F_C4B_T2F_Quad) == 96, "GL reads this layout");
static_assert(sizeof(_ccV2F_C4B_T2F) == 20, "GL reads this layout");
static_assert(sizeof(_ccQuad3) == 48, "GL reads this layout");
static_assert(sizeof(_ccColor4B) == 4 && sizeof(_ccColor3B) == 3, "packed colours");

inline constexpr _ccColor3B ccc3(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return {r, g, b};
}
inline constexpr _ccColor4B ccc4(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a) {
    return {r, g, b, a};
}
inline constexpr _ccColor4F ccc4f(float r, float g, float b, float a) {
    return {r, g, b, a};
}
inline constexpr _ccColor4F ccc4FFromccc4B(_ccColor4B c) {
    return {c.r / 255.f, c.g / 255.f, c.b / 255.f, c.a / 255.f};
}
inline constexpr _ccColor4F ccc4FFromccc3B(_ccColor3B c) {
    return {c.r / 255.f, c.g / 255.f, c.b / 255.f, 1.f};
}
inline constexpr _ccColor4B ccc4BFromccc4F(_ccColor4F c) {
    return {static_cast<std::uint8_t>(c.r * 255), static_cast<std::uint8_t>(c.g * 255),
            static_cast<std::uint8_t>(c.b * 255), static_cast<std::uint8_t>(c.a * 255)};
}
inline constexpr bool operator==(_ccColor3B a, _ccColor3B b) {
    return a.r == b.r && a.g == b.g && a.b == b.b;
}
inline constexpr bool operator==(_ccColor4B a, _ccColor4B b) {
    return a.r == b.r && a.g == b.g && a.b == b.b && a.a == b.a;
}
inline constexpr bool operator==(_ccColor4F a, _ccColor4F b) {
    return a.r == b.r && a.g == b.g && a.b == b.b && a.a == b.a;
}
inline constexpr bool operator==(_ccBlendFunc a, _ccBlendFunc b) {
    return a.src == b.src && a.dst == b.dst;
}

inline constexpr _ccColor3B ccWHITE{255, 255, 255};
inline constexpr _ccColor3B ccBLACK{0, 0, 0};
inline constexpr _ccColor3B ccRED{255, 0, 0};
inline constexpr _ccColor3B ccGREEN{0, 255, 0};
inline constexpr _ccColor3B ccBLUE{0, 0, 255};
inline constexpr _ccColor3B ccYELLOW{255, 255, 0};
inline constexpr _ccColor3B ccMAGENTA{255, 0, 255};
inline constexpr _ccColor3B ccORANGE{255, 127, 0};
inline constexpr _ccColor3B ccGRAY{166, 166, 166};
