// Bodies of the older operation names of the graphics classes that need more than their own
// header. Each only forwards.
#include "graphics/CCRenderTexture.h"
#include "graphics/CCSprite.h"
#include "platform/Image.h"
#include "graphics/CCSpriteBatchNode.h"
#include "graphics/CCSpriteFrame.h"

bool CCSprite::initWithBatchNode(CCSpriteBatchNode* batchNode, CGRect rect) {
    if (!initWithTexture(batchNode ? batchNode->texture() : nullptr, rect)) return false;
    setBatchNode(batchNode);
    return true;
}

platform::Ref<CCSpriteFrame> CCSprite::displayedFrame() const {
    return displayFrame();
}

platform::Ref<platform::Image> CCRenderTexture::getUIImageFromBuffer() {
    return getUIImage();
}
