#include "DoveShaderProgram.h"

#include "DoveContext.h"

namespace Dove {

uint32_t& ShaderProgram::nameIndex() { return Context::names().shaderProgram; }

ShaderProgram::ShaderProgram(const std::string& name)
    : mName(name.empty() ? makeGeneratedName("ShaderProgram_", nameIndex()) : name) {}

const char* const kTransformVertexShader =
    "attribute vec4 a_position; attribute vec2 a_texCoord; varying vec2 v_texCoord; uniform mat4 u_modelMatrix; "
    "uniform mat4 u_viewMatrix; uniform mat4 u_projectionMatrix; uniform vec2 u_uvtexture_offset; void main(void) "
    "{ v_texCoord = a_texCoord + u_uvtexture_offset; gl_Position = u_projectionMatrix * u_viewMatrix * "
    "u_modelMatrix * a_position; }";

const char* const kMaskedTextureFragmentShader =
    "varying vec2 v_texCoord; uniform sampler2D s_baseTexture; uniform sampler2D s_maskTexture; uniform float "
    "u_transparency; void main(void) { vec4 baseColor = texture2D(s_baseTexture, v_texCoord); vec4 maskColor = "
    "texture2D(s_maskTexture, v_texCoord); gl_FragColor = vec4(baseColor.rgb, baseColor.a * maskColor.a * "
    "(1.0-u_transparency)); }";

const char* const kPassThroughVertexShader =
    "attribute vec4 a_position; attribute vec2 a_texCoord; varying vec2 v_texCoord; void main(void) { "
    "gl_Position = vec4(a_position.xyz, 1); v_texCoord = a_texCoord; }";

const char* const kCopyFragmentShader =
    "varying vec2 v_texCoord; uniform sampler2D s_texture; void main(void) { gl_FragColor = "
    "texture2D(s_texture, v_texCoord); }";

const char* const kRotateFragmentShader =
    "varying vec2 v_texCoord; uniform sampler2D s_texture; uniform int u_rotateType; void main(void) { vec2 "
    "texCo; if (u_rotateType == 1) { texCo.x = v_texCoord.y; texCo.y = v_texCoord.x; } else if ( u_rotateType == "
    "2 ) { texCo.x = 1.0-v_texCoord.x; texCo.y = 1.0-v_texCoord.y; } else if ( u_rotateType == 3 ) { texCo.x = "
    "1.0- v_texCoord.y; texCo.y = v_texCoord.x; } else texCo = v_texCoord; gl_FragColor = texture2D(s_texture, "
    "texCo); }";

const char* const kCropFragmentShader =
    "varying vec2 v_texCoord; uniform sampler2D s_texture; uniform mat3 u_textureMatrix; uniform vec2 "
    "u_texCoord_threshold; void main(void) { vec3 texCo = u_textureMatrix*vec3(v_texCoord, 1.0); texCo = "
    "texCo/texCo.z; if ( texCo.x<0.0 || texCo.x>u_texCoord_threshold.x || texCo.y<0.0 || "
    "texCo.y>u_texCoord_threshold.y ) gl_FragColor = vec4(0.0, 0, 0, 1.0); else gl_FragColor = "
    "texture2D(s_texture, texCo.xy); }";

}  // namespace Dove
