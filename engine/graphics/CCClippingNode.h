// Draws its children only where a stencil node covers the screen (or, inverted, only where it
// does not), using one bit of the GL stencil buffer per nesting level. The stencil node is drawn
// into the stencil buffer only, never into the colour buffer.
#pragma once

#include "core/CCNode.h"

#include <GLES2/gl2.h>

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

    // Stencil bits of the framebuffer a clipping node was last made or drawn in on the calling
    // thread (-1 until one has been, with a GL context current). Each visit asks the framebuffer
    // bound at the time.
    static std::int32_t stencilBits();
    // The layer being drawn, -1 outside every clipping node.
    static std::int32_t currentLayer();
    // Forgets the bits read and the framebuffers reported without a stencil (tests switch views).
    static void resetStencilBits();
    // The framebuffer name, of the current context, is being deleted: a framebuffer that gets
    // the name later is reported anew when it has no stencil.
    static void forgetFramebuffer(GLuint framebuffer);

    // What a capture into another framebuffer puts aside: the enclosing stencil test, its
    // write mask and the layer being drawn.
    struct EnclosingStencil {
        bool testEnabled = false;
        GLuint writeMask = ~0u;
        std::int32_t layer = -1;
    };
    // From here until endCapture, clipping nodes draw as into a fresh framebuffer: no stencil
    // test, every stencil bit writable, no layer. Captures nest.
    static EnclosingStencil beginCapture();
    // Puts back the stencil test, write mask and layer beginCapture found.
    static void endCapture(const EnclosingStencil& enclosing);
    // The depth-stencil format a capture of the view needs for clipping nodes to clip in it:
    // the view's when it has a stencil, else 0 (no extra buffer).
    static GLenum viewDepthStencilFormat();

protected:
    platform::Ref<CCNode> _stencil;
    float _alphaThreshold = 1;
    bool _inverted = false;
};
