#include "core/ccShaders.h"

// The built-in matrices and time values come from the prologue CCGLProgram adds; sources
// declare only what they add themselves ("CC_Texture0", "CC_AlphaValue", "u_color").

namespace {

// Sources that more than one program uses.
constexpr char kTexCoordPassVert[] = R"(
attribute vec4 a_position;
attribute vec2 a_texCoord;

#ifdef GL_ES
varying mediump vec2 v_texCoord;
#else
varying vec2 v_texCoord;
#endif

void main()
{
    gl_Position = CC_MVPMatrix * a_position;
    v_texCoord = a_texCoord;
}
)";

constexpr char kColorPassFrag[] = R"(
#ifdef GL_ES
precision lowp float;
#endif

varying vec4 v_fragmentColor;

void main()
{
    gl_FragColor = v_fragmentColor;
}
)";

} // namespace

const char* const ccPositionTextureColor_vert = R"(
attribute vec4 a_position;
attribute vec2 a_texCoord;
attribute vec4 a_color;

#ifdef GL_ES
varying lowp vec4 v_fragmentColor;
varying mediump vec2 v_texCoord;
#else
varying vec4 v_fragmentColor;
varying vec2 v_texCoord;
#endif

void main()
{
    gl_Position = CC_MVPMatrix * a_position;
    v_fragmentColor = a_color;
    v_texCoord = a_texCoord;
}
)";

const char* const ccPositionTextureColor_frag = R"(
#ifdef GL_ES
precision lowp float;
#endif

varying vec4 v_fragmentColor;
varying vec2 v_texCoord;
uniform sampler2D CC_Texture0;

void main()
{
    gl_FragColor = v_fragmentColor * texture2D(CC_Texture0, v_texCoord);
}
)";

const char* const ccPositionTextureColorAlphaTest_frag = R"(
#ifdef GL_ES
precision lowp float;
#endif

varying vec4 v_fragmentColor;
varying vec2 v_texCoord;
uniform sampler2D CC_Texture0;
uniform float CC_AlphaValue;

void main()
{
    vec4 texColor = texture2D(CC_Texture0, v_texCoord);
    // Cut-out sprites: anything not above the threshold leaves the depth and colour alone.
    if (texColor.a <= CC_AlphaValue)
        discard;
    gl_FragColor = texColor * v_fragmentColor;
}
)";

const char* const ccPositionColor_vert = R"(
attribute vec4 a_position;
attribute vec4 a_color;

#ifdef GL_ES
varying lowp vec4 v_fragmentColor;
#else
varying vec4 v_fragmentColor;
#endif

void main()
{
    gl_Position = CC_MVPMatrix * a_position;
    v_fragmentColor = a_color;
}
)";

const char* const ccPositionColor_frag = kColorPassFrag;

const char* const ccPositionTexture_vert = kTexCoordPassVert;

const char* const ccPositionTexture_frag = R"(
#ifdef GL_ES
precision lowp float;
#endif

varying vec2 v_texCoord;
uniform sampler2D CC_Texture0;

void main()
{
    gl_FragColor = texture2D(CC_Texture0, v_texCoord);
}
)";

const char* const ccPositionTexture_uColor_vert = kTexCoordPassVert;

const char* const ccPositionTexture_uColor_frag = R"(
#ifdef GL_ES
precision lowp float;
#endif

uniform vec4 u_color;
varying vec2 v_texCoord;
uniform sampler2D CC_Texture0;

void main()
{
    gl_FragColor = texture2D(CC_Texture0, v_texCoord) * u_color;
}
)";

const char* const ccPositionTextureA8Color_frag = R"(
#ifdef GL_ES
precision lowp float;
#endif

varying vec4 v_fragmentColor;
varying vec2 v_texCoord;
uniform sampler2D CC_Texture0;

void main()
{
    // An A8 texture carries coverage only; the colour is the vertex's.
    gl_FragColor = vec4(v_fragmentColor.rgb, v_fragmentColor.a * texture2D(CC_Texture0, v_texCoord).a);
}
)";

const char* const ccPosition_uColor_vert = R"(
attribute vec4 a_position;
uniform vec4 u_color;
uniform float u_pointSize;

#ifdef GL_ES
varying lowp vec4 v_fragmentColor;
#else
varying vec4 v_fragmentColor;
#endif

void main()
{
    gl_Position = CC_MVPMatrix * a_position;
    gl_PointSize = u_pointSize;
    v_fragmentColor = u_color;
}
)";

const char* const ccPosition_uColor_frag = kColorPassFrag;

const char* const ccPositionLengthTextureColor_vert = R"(
#ifdef GL_ES
attribute mediump vec4 a_position;
attribute mediump vec2 a_texcoord;
attribute mediump vec4 a_color;

varying mediump vec4 v_color;
varying mediump vec2 v_texcoord;
#else
attribute vec4 a_position;
attribute vec2 a_texcoord;
attribute vec4 a_color;

varying vec4 v_color;
varying vec2 v_texcoord;
#endif

void main()
{
    v_color = vec4(a_color.rgb * a_color.a, a_color.a);
    v_texcoord = a_texcoord;
    gl_Position = CC_MVPMatrix * a_position;
}
)";

const char* const ccPositionLengthTextureColor_frag = R"(
#extension GL_OES_standard_derivatives : enable

#ifdef GL_ES
precision lowp float;
varying mediump vec4 v_color;
varying mediump vec2 v_texcoord;
#else
varying vec4 v_color;
varying vec2 v_texcoord;
#endif

void main()
{
#if defined GL_OES_standard_derivatives
    // One pixel's worth of coverage ramp at the rim.
    gl_FragColor = v_color * smoothstep(0.0, length(fwidth(v_texcoord)), 1.0 - length(v_texcoord));
#else
    gl_FragColor = v_color * step(0.0, 1.0 - length(v_texcoord));
#endif
}
)";
