// The GLSL ES 1.00 sources of the default programs. Each is handed to CCGLProgram, which puts
// the built-in uniform declarations in front of it.
#pragma once

// Colour times a texture sample (sprites, labels, atlases).
extern const char* const ccPositionTextureColor_vert;
extern const char* const ccPositionTextureColor_frag;
// Same as above, but fragments whose alpha is at or below "CC_AlphaValue" are dropped.
extern const char* const ccPositionTextureColorAlphaTest_frag;
// Per-vertex colour, no texture (colour layers).
extern const char* const ccPositionColor_vert;
extern const char* const ccPositionColor_frag;
// A texture sample alone.
extern const char* const ccPositionTexture_vert;
extern const char* const ccPositionTexture_frag;
// A texture sample tinted by the uniform "u_color".
extern const char* const ccPositionTexture_uColor_vert;
extern const char* const ccPositionTexture_uColor_frag;
// Vertex colour with the texture giving only alpha (A8 glyph textures).
extern const char* const ccPositionTextureA8Color_frag;
// One uniform colour and point size for every vertex (immediate-mode primitives).
extern const char* const ccPosition_uColor_vert;
extern const char* const ccPosition_uColor_frag;
// Premultiplied vertex colour with a round, anti-aliased edge where the coordinate's length
// reaches 1 (draw-node dots and segments).
extern const char* const ccPositionLengthTextureColor_vert;
extern const char* const ccPositionLengthTextureColor_frag;
