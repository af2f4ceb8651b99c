#pragma once
// A drawing layer that a view hosts: its content scale (device pixels per point of its
// contents) and its sublayers. Views composite through Qt; the layer keeps the scale that
// layer-drawing code renders its contents at.

#include <memory>
#include <vector>

namespace kpv {

class Layer {
public:
    static std::shared_ptr<Layer> layer() { return std::make_shared<Layer>(); }

    double contentsScale() const { return m_contentsScale; }
    void setContentsScale(double s) { m_contentsScale = s; }
    const std::vector<std::shared_ptr<Layer>>& sublayers() const { return m_sublayers; }
    void addSublayer(std::shared_ptr<Layer> l) { m_sublayers.push_back(std::move(l)); }

private:
    double m_contentsScale = 1.0;
    std::vector<std::shared_ptr<Layer>> m_sublayers;
};

} // namespace kpv
