#include "graphics/CCClippingNode.h"

#include "core/CCArray.h"
#include "core/CCDirector.h"
#include "core/CCGLView.h"
#include "core/CCGLProgram.h"
#include "core/CCMatrix.h"
#include "core/CCShaderCache.h"
#include "platform/GLCheck.h"
#include "platform/GLContext.h"
#include "platform/Log.h"

#include <GLES2/gl2.h>
#include <GLES2/gl2ext.h>

#include <algorithm>
#include <vector>

namespace {

// Stencil bits of the framebuffer a clipping node was last made or drawn in; the layer being
// drawn. Each thread's own, as is its current context: a worker making nodes for a scene not
// shown yet, or letting go of a render texture of its context, leaves the drawing thread's alone.
thread_local std::int32_t g_stencilBits = -1;
thread_local std::int32_t g_layer = -1;
thread_local bool g_warnedAllBitsUsed = false;

// The framebuffers of one context already reported as having no stencil. Another context
// starts afresh: its names are its own.
struct NoStencilRecord {
    std::uint64_t context = 0;
    std::vector<GLuint> framebuffers;
};
NoStencilRecord& noStencilRecord() {
    static thread_local NoStencilRecord record;
    return record;
}

// Asked at every visit, because each framebuffer has its own stencil (the view's, a grid's
// capture, a render texture's): one query, no more than the visit's own state saving.
std::int32_t boundStencilBits() {
    GLint bits = 0;
    glCheck(glGetIntegerv(GL_STENCIL_BITS, &bits));
    // One bit per layer, and a layer's bit must fit a 32-bit mask.
    return bits < 0 ? 0 : (bits > 31 ? 31 : bits);
}

void readStencilBits() {
    // Without a context there is nothing to ask: stay unread and ask again later.
    if (!platform::GLContext::currentContext()) return;
    g_stencilBits = boundStencilBits();
}

// Says once per framebuffer, not once a frame, that its clipping nodes draw unclipped.
void reportNoStencil() {
    GLint bound = 0;
    glCheck(glGetIntegerv(GL_FRAMEBUFFER_BINDING, &bound));
    const auto framebuffer = static_cast<GLuint>(bound);
    NoStencilRecord& record = noStencilRecord();
    const std::uint64_t context = platform::GLContext::currentSerial();
    if (record.context != context) {
        record.context = context;
        record.framebuffers.clear();
    }
    if (std::find(record.framebuffers.begin(), record.framebuffers.end(), framebuffer) !=
        record.framebuffers.end())
        return;
    record.framebuffers.push_back(framebuffer);
    CCLOG("CCClippingNode: framebuffer %u has no stencil buffer; children are drawn unclipped", framebuffer);
}

// The program becomes the shader of the node and of every node under it.
void setProgramRecursively(CCNode* node, CCGLProgram* program) {
    node->setShaderProgram(program);
    CCArray* children = node->children();
    if (!children) return;
    for (std::uint64_t i = 0; i < children->count(); ++i)
        setProgramRecursively(static_cast<CCNode*>(children->objectAtIndex(i)), program);
}

} // namespace

CCClippingNode::CCClippingNode() = default;
CCClippingNode::~CCClippingNode() = default;

platform::Ref<CCClippingNode> CCClippingNode::clippingNode() {
    return makeNode<CCClippingNode>();
}

platform::Ref<CCClippingNode> CCClippingNode::clippingNodeWithStencil(CCNode* stencil) {
    auto node = platform::make<CCClippingNode>();
    return node->initWithStencil(stencil) ? node : nullptr;
}

bool CCClippingNode::init() {
    return initWithStencil(nullptr);
}

bool CCClippingNode::initWithStencil(CCNode* stencil) {
    if (!CCNode::init()) return false;
    _stencil = stencil;
    _alphaThreshold = 1;
    _inverted = false;
    readStencilBits();
    return true;
}

std::int32_t CCClippingNode::stencilBits() {
    return g_stencilBits;
}

std::int32_t CCClippingNode::currentLayer() {
    return g_layer;
}

void CCClippingNode::resetStencilBits() {
    g_stencilBits = -1;
    g_layer = -1;
    g_warnedAllBitsUsed = false;
    noStencilRecord() = NoStencilRecord{};
}

void CCClippingNode::forgetFramebuffer(GLuint framebuffer) {
    NoStencilRecord& record = noStencilRecord();
    if (record.context != platform::GLContext::currentSerial()) return;
    std::erase(record.framebuffers, framebuffer);
}

CCClippingNode::EnclosingStencil CCClippingNode::beginCapture() {
    EnclosingStencil enclosing;
    enclosing.testEnabled = glIsEnabled(GL_STENCIL_TEST) == GL_TRUE;
    GLint writeMask = 0;
    glCheck(glGetIntegerv(GL_STENCIL_WRITEMASK, &writeMask));
    enclosing.writeMask = static_cast<GLuint>(writeMask);
    enclosing.layer = g_layer;
    if (enclosing.testEnabled) glCheck(glDisable(GL_STENCIL_TEST));
    glCheck(glStencilMask(~0u));
    g_layer = -1;
    return enclosing;
}

void CCClippingNode::endCapture(const EnclosingStencil& enclosing) {
    glCheck(glStencilMask(enclosing.writeMask));
    if (enclosing.testEnabled) glCheck(glEnable(GL_STENCIL_TEST));
    g_layer = enclosing.layer;
}

GLenum CCClippingNode::viewDepthStencilFormat() {
    CCGLView* view = CCDirector::sharedDirector()->view();
    return view && view->depthFormat() == GL_DEPTH24_STENCIL8_OES ? GL_DEPTH24_STENCIL8_OES : 0;
}

void CCClippingNode::onEnter() {
    CCNode::onEnter();
    if (_stencil) _stencil->onEnter();
}

void CCClippingNode::onEnterTransitionDidFinish() {
    CCNode::onEnterTransitionDidFinish();
    if (_stencil) _stencil->onEnterTransitionDidFinish();
}

void CCClippingNode::onExitTransitionDidStart() {
    if (_stencil) _stencil->onExitTransitionDidStart();
    CCNode::onExitTransitionDidStart();
}

void CCClippingNode::onExit() {
    if (_stencil) _stencil->onExit();
    CCNode::onExit();
}

void CCClippingNode::cleanup() {
    // The stencil is ours alone: its actions and timers go with ours.
    if (_stencil) _stencil->cleanup();
    CCNode::cleanup();
}

void CCClippingNode::setStencil(CCNode* stencil) {
    if (stencil == _stencil.get()) return;
    platform::Ref<CCNode> old = _stencil;
    _stencil = stencil;
    // A stencil runs exactly while its clipping node does.
    if (_isRunning) {
        if (old) old->onExit();
        if (stencil) {
            stencil->onEnter();
            stencil->onEnterTransitionDidFinish();
        }
    }
}

void CCClippingNode::visit() {
    if (!_visible) return;
    const std::int32_t stencilBits = boundStencilBits();
    g_stencilBits = stencilBits;
    if (stencilBits < 1) {
        reportNoStencil();
        CCNode::visit();
        return;
    }
    if (!_stencil || !_stencil->visible()) {
        if (_inverted) CCNode::visit();
        return;
    }
    const std::int32_t layer = g_layer + 1;
    if (layer >= stencilBits) {
        if (!g_warnedAllBitsUsed) {
            CCLOG("CCClippingNode: all %d stencil bits are in use; nested clipping nodes draw unclipped",
                  stencilBits);
            g_warnedAllBitsUsed = true;
        }
        CCNode::visit();
        return;
    }
    g_layer = layer;
    const GLuint maskLayer = 1u << layer;
    const GLuint maskLayerLE = maskLayer | (maskLayer - 1);

    // Everything this draw changes, to be put back after.
    const GLboolean stencilTestWasEnabled = glIsEnabled(GL_STENCIL_TEST);
    GLint writeMask = 0, func = 0, ref = 0, valueMask = 0, fail = 0, passDepthFail = 0, passDepthPass = 0;
    GLint clearValue = 0;
    glCheck(glGetIntegerv(GL_STENCIL_WRITEMASK, &writeMask));
    glCheck(glGetIntegerv(GL_STENCIL_FUNC, &func));
    glCheck(glGetIntegerv(GL_STENCIL_REF, &ref));
    glCheck(glGetIntegerv(GL_STENCIL_VALUE_MASK, &valueMask));
    glCheck(glGetIntegerv(GL_STENCIL_FAIL, &fail));
    glCheck(glGetIntegerv(GL_STENCIL_PASS_DEPTH_FAIL, &passDepthFail));
    glCheck(glGetIntegerv(GL_STENCIL_PASS_DEPTH_PASS, &passDepthPass));
    glCheck(glGetIntegerv(GL_STENCIL_CLEAR_VALUE, &clearValue));

    // Puts back what this visit changed; also while a throw from game code unwinds through it.
    auto restore = [&] {
        glCheck(glStencilFunc(static_cast<GLenum>(func), ref, static_cast<GLuint>(valueMask)));
        glCheck(glStencilOp(static_cast<GLenum>(fail), static_cast<GLenum>(passDepthFail),
                            static_cast<GLenum>(passDepthPass)));
        glCheck(glStencilMask(static_cast<GLuint>(writeMask)));
        if (!stencilTestWasEnabled) glCheck(glDisable(GL_STENCIL_TEST));
        g_layer = layer - 1;
    };
    GLboolean depthWriteMask = GL_TRUE;
    bool stencilPushed = false, depthMaskChanged = false;
    try {
        glCheck(glEnable(GL_STENCIL_TEST));
        glCheck(glStencilMask(maskLayer));
        glCheck(glGetBooleanv(GL_DEPTH_WRITEMASK, &depthWriteMask));
        glCheck(glDepthMask(GL_FALSE));
        depthMaskChanged = true;

        // Only this layer's bit is written: clear it to "outside" (all inside when inverted).
        glCheck(glClearStencil(_inverted ? ~0 : 0));
        glCheck(glClear(GL_STENCIL_BUFFER_BIT));
        glCheck(glClearStencil(clearValue));

        // Wherever the stencil draws, the bit flips; nothing reaches the colour buffer.
        glCheck(glStencilFunc(GL_NEVER, static_cast<GLint>(maskLayer), maskLayer));
        glCheck(glStencilOp(_inverted ? GL_ZERO : GL_REPLACE, GL_KEEP, GL_KEEP));

        if (_alphaThreshold < 1) {
            CCGLProgram* program =
                CCShaderCache::sharedShaderCache()->programForKey(kCCShader_PositionTextureColorAlphaTest);
            if (program) {
                // The uniform belongs to the program in use: make it current before setting it.
                program->use();
                program->setUniformLocationWithF1(program->uniformLocationForName(kCCUniformAlphaTestValue),
                                                  _alphaThreshold);
                setProgramRecursively(_stencil.get(), program);
            }
        }

        matrixPush();
        stencilPushed = true;
        transform();
        {
            platform::Ref<CCNode> stencil = _stencil;
            stencil->visit();
        }
        stencilPushed = false;
        matrixPop();

        depthMaskChanged = false;
        glCheck(glDepthMask(depthWriteMask));
        // Children draw where this layer's bit and every outer layer's bit are set.
        glCheck(glStencilFunc(GL_EQUAL, static_cast<GLint>(maskLayerLE), maskLayerLE));
        glCheck(glStencilOp(GL_KEEP, GL_KEEP, GL_KEEP));

        CCNode::visit();
    } catch (...) {
        if (stencilPushed) {
            matrixMode(kCCMatrixModeModelView);
            matrixPop();
        }
        if (depthMaskChanged) glCheck(glDepthMask(depthWriteMask));
        restore();
        throw;
    }
    restore();
}
