#include "DoveRenderState.h"

namespace Dove {

bool operator==(const RasterizerState& a, const RasterizerState& b) {
    return a.fillSetting == b.fillSetting && a.faceSetting == b.faceSetting && a.cullMode == b.cullMode;
}

bool operator==(const DepthState& a, const DepthState& b) {
    return a.depthTest == b.depthTest && a.depthWrite == b.depthWrite && a.depthFunc == b.depthFunc;
}

bool operator==(const StencilState& a, const StencilState& b) { return a.front == b.front && a.back == b.back; }

bool operator==(const BlendState& a, const BlendState& b) {
    return a.colorEnable == b.colorEnable && a.colorSrc == b.colorSrc && a.colorDst == b.colorDst &&
           a.colorOp == b.colorOp && a.alphaEnable == b.alphaEnable && a.alphaSrc == b.alphaSrc &&
           a.alphaDst == b.alphaDst && a.alphaOp == b.alphaOp;
}

bool operator==(const SamplerState& a, const SamplerState& b) {
    return a.minFilter == b.minFilter && a.magFilter == b.magFilter && a.wrapS == b.wrapS && a.wrapT == b.wrapT &&
           a.lodBias == b.lodBias && a.compare == b.compare;  // NaN biases compare unequal
}

}  // namespace Dove
