#include "core/CCScene.h"

#include "core/CCDirector.h"

bool CCScene::init() {
    if (!CCNode::init()) return false;
    setIgnoreAnchorPointForPosition(true);
    setAnchorPoint(CGPointMake(0.5, 0.5));
    setContentSize(CCDirector::sharedDirector()->winSize());
    return true;
}

platform::Ref<CCScene> CCScene::node() {
    return makeNode<CCScene>();
}
