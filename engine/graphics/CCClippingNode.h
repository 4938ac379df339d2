// Draws its children only where a stencil node covers the screen (or, inverted, only where it
// does not), using one bit of the GL stencil buffer per nesting level. The stencil node is drawn
// into the stencil buffer only, never into the colour buffer.
#pragma once

#include "core/CCNode.h"

#include <cstdint>

class CCClippingNode : public CCNode {
public:
    CCClippingNode();
    ~CCClippingNode() override;

    // No stencil: draws nothing unless inverted.
    bool init() override;
    // The stencil is retained; null is allowed.
    virtual bool initWithStencil(CCNode* stencil);

    // The stencil enters after the node and exits before it.
    void onEnter() override;
    void onEnterTransitionDidFinish() override;
    void onExitTransitionDidStart() override;
    void onExit() override;
    // Also cleans up the stencil, which no parent reaches.
    void cleanup() override;

    void visit() override;

    CCNode* stencil() const { return _stencil.get(); }
    // Retains the stencil. While the node runs, the old stencil exits and the new one enters.
    void setStencil(CCNode* stencil);
    // Below 1, only stencil pixels whose alpha exceeds it count.
    float alphaThreshold() const { return _alphaThreshold; }
    void setAlphaThreshold(float alphaThreshold) { _alphaThreshold = alphaThreshold; }
    bool inverted() const { return _inverted; }
    void setInverted(bool inverted) { _inverted = inverted; }

    static platform::Ref<CCClippingNode> clippingNode();
    static platform::Ref<CCClippingNode> clippingNodeWithStencil(CCNode* stencil);

    // Stencil bits of the framebuffer as read once per process (-1 until a clipping node has
    // been made with a GL context current).
    static std::int32_t stencilBits();
    // The layer being drawn, -1 outside every clipping node.
    static std::int32_t currentLayer();
    // Forgets the bits read, so the next clipping node reads them again (tests switch views).
    static void resetStencilBits();

protected:
    platform::Ref<CCNode> _stencil;
    float _alphaThreshold = 1;
    bool _inverted = false;
};
