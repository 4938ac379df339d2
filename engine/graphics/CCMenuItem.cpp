#include "graphics/CCMenuItem.h"

#include "actions/CCActionTransform.h"
#include "core/CCArray.h"
#include "graphics/CCLabelAtlas.h"
#include "graphics/CCLabelTTF.h"
#include "graphics/CCSprite.h"
#include "graphics/CCSpriteFrame.h"
#include "platform/Exception.h"

#include <utility>

using platform::Object;
using platform::Ref;

namespace {
template <class T, class Init> Ref<T> madeItem(Init&& init) {
    auto item = platform::make<T>();
    return init(*item) ? item : nullptr;
}

// The press zoom lasts a tenth of a second, the float widened as the scale action takes it.
constexpr double kZoomDuration = static_cast<double>(0.1f);
} // namespace

// ---- CCMenuItem ----

CCMenuItemBlock CCMenuItem::blockForTarget(Object* target, CCMenuItemSelector selector) {
    // The target is kept as a plain pointer: the item must not keep its owner alive.
    return [target, selector](Object* sender) {
        if (target && selector) selector(target, sender);
    };
}

Ref<CCMenuItem> CCMenuItem::itemWithTarget(Object* target, CCMenuItemSelector selector) {
    return madeItem<CCMenuItem>([&](CCMenuItem& i) { return i.initWithTarget(target, std::move(selector)); });
}

Ref<CCMenuItem> CCMenuItem::itemWithBlock(CCMenuItemBlock block) {
    return madeItem<CCMenuItem>([&](CCMenuItem& i) { return i.initWithBlock(std::move(block)); });
}

bool CCMenuItem::init() {
    return initWithBlock(nullptr);
}

bool CCMenuItem::initWithTarget(Object* target, CCMenuItemSelector selector) {
    return initWithBlock(blockForTarget(target, std::move(selector)));
}

bool CCMenuItem::initWithBlock(CCMenuItemBlock block) {
    if (!CCNodeRGBA::init()) return false;
    _block = std::move(block);
    setAnchorPoint(CGPointMake(0.5, 0.5));
    _isEnabled = true;
    _isSelected = false;
    _releaseBlockAtCleanup = true;
    return true;
}

void CCMenuItem::setContentSize(CGSize contentSize) {
    CCNodeRGBA::setContentSize(contentSize);
    _activeArea = CGRectMake(0, 0, contentSize.width, contentSize.height);
}

void CCMenuItem::cleanup() {
    // Dropping the block may release the last owner of this item: stay alive until done.
    Ref<CCMenuItem> keep(this);
    if (_releaseBlockAtCleanup) {
        CCMenuItemBlock dropped = std::move(_block);
        _block = nullptr;
    }
    CCNodeRGBA::cleanup();
}

void CCMenuItem::selected() {
    _isSelected = true;
}

void CCMenuItem::unselected() {
    _isSelected = false;
}

void CCMenuItem::activate() {
    if (!_isEnabled || !_block) return;
    // The handler may remove this item (cleanup drops the block) or replace its own block while
    // it runs: call a copy, with the item kept alive until it returns.
    Ref<CCMenuItem> keep(this);
    CCMenuItemBlock block = _block;
    block(this);
}

void CCMenuItem::setIsEnabled(bool enabled) {
    _isEnabled = enabled;
}

void CCMenuItem::setBlock(CCMenuItemBlock block) {
    _block = std::move(block);
}

void CCMenuItem::setTarget(Object* target, CCMenuItemSelector selector) {
    setBlock(blockForTarget(target, std::move(selector)));
}

// ---- CCMenuItemLabel ----

Ref<CCMenuItemLabel> CCMenuItemLabel::itemWithLabel(CCNode* label) {
    return madeItem<CCMenuItemLabel>(
        [&](CCMenuItemLabel& i) { return i.initWithLabel(label, CCMenuItemBlock()); });
}

Ref<CCMenuItemLabel> CCMenuItemLabel::itemWithLabel(CCNode* label, Object* target,
                                                    CCMenuItemSelector selector) {
    return madeItem<CCMenuItemLabel>(
        [&](CCMenuItemLabel& i) { return i.initWithLabel(label, target, std::move(selector)); });
}

Ref<CCMenuItemLabel> CCMenuItemLabel::itemWithLabel(CCNode* label, CCMenuItemBlock block) {
    return madeItem<CCMenuItemLabel>(
        [&](CCMenuItemLabel& i) { return i.initWithLabel(label, std::move(block)); });
}

bool CCMenuItemLabel::initWithLabel(CCNode* label, Object* target, CCMenuItemSelector selector) {
    return initWithLabel(label, blockForTarget(target, std::move(selector)));
}

bool CCMenuItemLabel::initWithLabel(CCNode* label, CCMenuItemBlock block) {
    if (!initWithBlock(std::move(block))) return false;
    _originalScale = 1.0f;
    _colorBackup = ccWHITE;
    _disabledColor = ccc3(126, 126, 126);
    setLabel(label);
    setCascadeColorEnabled(true);
    setCascadeOpacityEnabled(true);
    return true;
}

void CCMenuItemLabel::setLabel(CCNode* label) {
    if (label == _label) return;
    if (_label) removeChild(_label, true);
    _label = label;
    if (label) {
        addChild(label);
        label->setAnchorPoint(CGPointMake(0, 0));
        setContentSize(label->contentSize());
    }
}

void CCMenuItemLabel::setString(const std::string& string) {
    auto* text = dynamic_cast<CCLabelProtocol*>(_label);
    if (!text) return;
    text->setString(string);
    setContentSize(_label->contentSize());
}

void CCMenuItemLabel::activate() {
    if (!_isEnabled) return;
    stopAllActions();
    setScale(_originalScale);
    CCMenuItem::activate();
}

void CCMenuItemLabel::selected() {
    if (!_isEnabled) return;
    CCMenuItem::selected();
    if (CCAction* zoom = getActionByTag(kCCZoomActionTag))
        stopAction(zoom); // pressed again mid-zoom: keep the scale from before the first press
    else
        _originalScale = scale();
    auto zoomIn = CCScaleTo::actionWithDuration(kZoomDuration, static_cast<float>(_originalScale * 1.2));
    zoomIn->setTag(kCCZoomActionTag);
    runAction(zoomIn.get());
}

void CCMenuItemLabel::unselected() {
    if (!_isEnabled) return;
    CCMenuItem::unselected();
    stopActionByTag(kCCZoomActionTag);
    auto zoomOut = CCScaleTo::actionWithDuration(kZoomDuration, _originalScale);
    zoomOut->setTag(kCCZoomActionTag);
    runAction(zoomOut.get());
}

void CCMenuItemLabel::setIsEnabled(bool enabled) {
    if (_isEnabled != enabled) {
        if (auto* rgba = dynamic_cast<CCRGBAProtocol*>(_label)) {
            if (!enabled) {
                _colorBackup = rgba->color();
                rgba->setColor(_disabledColor);
            } else {
                rgba->setColor(_colorBackup);
            }
        }
    }
    CCMenuItem::setIsEnabled(enabled);
}

// ---- CCMenuItemAtlasFont ----

Ref<CCMenuItemAtlasFont> CCMenuItemAtlasFont::itemWithString(const std::string& value,
                                                             const std::string& charMapFile,
                                                             std::int32_t itemWidth, std::int32_t itemHeight,
                                                             char startCharMap) {
    return itemWithString(value, charMapFile, itemWidth, itemHeight, startCharMap, nullptr,
                          CCMenuItemSelector());
}

Ref<CCMenuItemAtlasFont> CCMenuItemAtlasFont::itemWithString(const std::string& value,
                                                             const std::string& charMapFile,
                                                             std::int32_t itemWidth, std::int32_t itemHeight,
                                                             char startCharMap, Object* target,
                                                             CCMenuItemSelector selector) {
    return madeItem<CCMenuItemAtlasFont>([&](CCMenuItemAtlasFont& i) {
        return i.initWithString(value, charMapFile, itemWidth, itemHeight, startCharMap, target,
                                std::move(selector));
    });
}

Ref<CCMenuItemAtlasFont> CCMenuItemAtlasFont::itemWithString(const std::string& value,
                                                             const std::string& charMapFile,
                                                             std::int32_t itemWidth, std::int32_t itemHeight,
                                                             char startCharMap, CCMenuItemBlock block) {
    return madeItem<CCMenuItemAtlasFont>([&](CCMenuItemAtlasFont& i) {
        return i.initWithString(value, charMapFile, itemWidth, itemHeight, startCharMap, std::move(block));
    });
}

bool CCMenuItemAtlasFont::initWithString(const std::string& value, const std::string& charMapFile,
                                         std::int32_t itemWidth, std::int32_t itemHeight, char startCharMap,
                                         Object* target, CCMenuItemSelector selector) {
    return initWithString(value, charMapFile, itemWidth, itemHeight, startCharMap,
                          blockForTarget(target, std::move(selector)));
}

bool CCMenuItemAtlasFont::initWithString(const std::string& value, const std::string& charMapFile,
                                         std::int32_t itemWidth, std::int32_t itemHeight, char startCharMap,
                                         CCMenuItemBlock block) {
    // A negative item size would wrap to an enormous tile.
    if (itemWidth <= 0 || itemHeight <= 0) return false;
    auto label = platform::make<CCLabelAtlas>();
    if (!label->initWithString(value, charMapFile, static_cast<std::uint64_t>(itemWidth),
                               static_cast<std::uint64_t>(itemHeight),
                               static_cast<std::uint64_t>(static_cast<unsigned char>(startCharMap))))
        return false;
    return initWithLabel(label.get(), std::move(block));
}

// ---- CCMenuItemFont ----

namespace {
std::uint64_t gFontSize = 32;
std::string& defaultFontNameStorage() {
    static std::string name = "Marker Felt";
    return name;
}
} // namespace

void CCMenuItemFont::setDefaultFontSize(std::uint64_t size) {
    gFontSize = size;
}

std::uint64_t CCMenuItemFont::defaultFontSize() {
    return gFontSize;
}

void CCMenuItemFont::setDefaultFontName(const std::string& name) {
    defaultFontNameStorage() = name;
}

std::string CCMenuItemFont::defaultFontName() {
    return defaultFontNameStorage();
}

Ref<CCMenuItemFont> CCMenuItemFont::itemWithString(const std::string& value) {
    return itemWithString(value, nullptr, CCMenuItemSelector());
}

Ref<CCMenuItemFont> CCMenuItemFont::itemWithString(const std::string& value, Object* target,
                                                   CCMenuItemSelector selector) {
    return madeItem<CCMenuItemFont>(
        [&](CCMenuItemFont& i) { return i.initWithString(value, target, std::move(selector)); });
}

Ref<CCMenuItemFont> CCMenuItemFont::itemWithString(const std::string& value, CCMenuItemBlock block) {
    return madeItem<CCMenuItemFont>(
        [&](CCMenuItemFont& i) { return i.initWithString(value, std::move(block)); });
}

bool CCMenuItemFont::initWithString(const std::string& value, Object* target, CCMenuItemSelector selector) {
    return initWithString(value, blockForTarget(target, std::move(selector)));
}

bool CCMenuItemFont::initWithString(const std::string& value, CCMenuItemBlock block) {
    _fontName = defaultFontName();
    _fontSize = gFontSize;
    auto label = CCLabelTTF::labelWithString(value, _fontName, static_cast<double>(_fontSize));
    if (!label) return false;
    return initWithLabel(label.get(), std::move(block));
}

void CCMenuItemFont::recreateLabel() {
    auto* text = dynamic_cast<CCLabelProtocol*>(_label);
    auto label = platform::make<CCLabelTTF>();
    if (!label->initWithString(text ? text->string() : std::string(), _fontName,
                               static_cast<double>(_fontSize)))
        return;
    setLabel(label.get());
}

void CCMenuItemFont::setFontSize(std::uint64_t size) {
    _fontSize = size;
    recreateLabel();
}

void CCMenuItemFont::setFontName(const std::string& name) {
    _fontName = name;
    recreateLabel();
}

// ---- CCMenuItemSprite ----

Ref<CCMenuItemSprite> CCMenuItemSprite::itemWithNormalSprite(CCNode* normalSprite, CCNode* selectedSprite) {
    return itemWithNormalSprite(normalSprite, selectedSprite, nullptr, nullptr, CCMenuItemSelector());
}

Ref<CCMenuItemSprite> CCMenuItemSprite::itemWithNormalSprite(CCNode* normalSprite, CCNode* selectedSprite,
                                                             Object* target, CCMenuItemSelector selector) {
    return itemWithNormalSprite(normalSprite, selectedSprite, nullptr, target, std::move(selector));
}

Ref<CCMenuItemSprite> CCMenuItemSprite::itemWithNormalSprite(CCNode* normalSprite, CCNode* selectedSprite,
                                                             CCNode* disabledSprite, Object* target,
                                                             CCMenuItemSelector selector) {
    return madeItem<CCMenuItemSprite>([&](CCMenuItemSprite& i) {
        return i.initWithNormalSprite(normalSprite, selectedSprite, disabledSprite, target,
                                      std::move(selector));
    });
}

Ref<CCMenuItemSprite> CCMenuItemSprite::itemWithNormalSprite(CCNode* normalSprite, CCNode* selectedSprite,
                                                             CCMenuItemBlock block) {
    return itemWithNormalSprite(normalSprite, selectedSprite, nullptr, std::move(block));
}

Ref<CCMenuItemSprite> CCMenuItemSprite::itemWithNormalSprite(CCNode* normalSprite, CCNode* selectedSprite,
                                                             CCNode* disabledSprite, CCMenuItemBlock block) {
    return madeItem<CCMenuItemSprite>([&](CCMenuItemSprite& i) {
        return i.initWithNormalSprite(normalSprite, selectedSprite, disabledSprite, std::move(block));
    });
}

bool CCMenuItemSprite::initWithNormalSprite(CCNode* normalSprite, CCNode* selectedSprite,
                                            CCNode* disabledSprite, Object* target,
                                            CCMenuItemSelector selector) {
    return initWithNormalSprite(normalSprite, selectedSprite, disabledSprite,
                                blockForTarget(target, std::move(selector)));
}

bool CCMenuItemSprite::initWithNormalSprite(CCNode* normalSprite, CCNode* selectedSprite,
                                            CCNode* disabledSprite, CCMenuItemBlock block) {
    // The item takes its size from the normal image: without one there is nothing to tap.
    if (!normalSprite) return false;
    if (!initWithBlock(std::move(block))) return false;
    setNormalImage(normalSprite);
    setSelectedImage(selectedSprite);
    setDisabledImage(disabledSprite);
    setContentSize(_normalImage->contentSize());
    setCascadeColorEnabled(true);
    setCascadeOpacityEnabled(true);
    return true;
}

void CCMenuItemSprite::replaceImage(CCNode*& slot, CCNode* image) {
    if (image) image->setAnchorPoint(CGPointMake(0, 0));
    if (slot) removeChild(slot, true);
    if (image) addChild(image);
    slot = image;
}

void CCMenuItemSprite::setNormalImage(CCNode* image) {
    if (image == _normalImage) return;
    replaceImage(_normalImage, image);
    if (image) setContentSize(image->contentSize());
    updateImagesVisibility();
}

void CCMenuItemSprite::setSelectedImage(CCNode* image) {
    if (image == _selectedImage) return;
    replaceImage(_selectedImage, image);
    updateImagesVisibility();
}

void CCMenuItemSprite::setDisabledImage(CCNode* image) {
    if (image == _disabledImage) return;
    replaceImage(_disabledImage, image);
    updateImagesVisibility();
}

void CCMenuItemSprite::selected() {
    CCMenuItem::selected();
    if (_normalImage) _normalImage->setVisible(_selectedImage == nullptr);
    if (_selectedImage) _selectedImage->setVisible(true);
    if (_disabledImage) _disabledImage->setVisible(false);
}

void CCMenuItemSprite::unselected() {
    CCMenuItem::unselected();
    if (_normalImage) _normalImage->setVisible(true);
    if (_selectedImage) _selectedImage->setVisible(false);
    if (_disabledImage) _disabledImage->setVisible(false);
}

void CCMenuItemSprite::setIsEnabled(bool enabled) {
    if (_isEnabled == enabled) return;
    CCMenuItem::setIsEnabled(enabled);
    updateImagesVisibility();
}

void CCMenuItemSprite::updateImagesVisibility() {
    if (_isEnabled) {
        if (_normalImage) _normalImage->setVisible(true);
        if (_selectedImage) _selectedImage->setVisible(false);
        if (_disabledImage) _disabledImage->setVisible(false);
    } else if (_disabledImage) {
        if (_normalImage) _normalImage->setVisible(false);
        if (_selectedImage) _selectedImage->setVisible(false);
        _disabledImage->setVisible(true);
    } else {
        if (_normalImage) _normalImage->setVisible(true);
        if (_selectedImage) _selectedImage->setVisible(false);
    }
}

// ---- CCMenuItemImage ----

Ref<CCMenuItemImage> CCMenuItemImage::itemWithNormalImage(const std::string& normalImage,
                                                          const std::string& selectedImage) {
    return itemWithNormalImage(normalImage, selectedImage, std::string(), nullptr, CCMenuItemSelector());
}

Ref<CCMenuItemImage> CCMenuItemImage::itemWithNormalImage(const std::string& normalImage,
                                                          const std::string& selectedImage, Object* target,
                                                          CCMenuItemSelector selector) {
    return itemWithNormalImage(normalImage, selectedImage, std::string(), target, std::move(selector));
}

Ref<CCMenuItemImage> CCMenuItemImage::itemWithNormalImage(const std::string& normalImage,
                                                          const std::string& selectedImage,
                                                          const std::string& disabledImage) {
    return madeItem<CCMenuItemImage>([&](CCMenuItemImage& i) {
        return i.initWithNormalImage(normalImage, selectedImage, disabledImage, nullptr,
                                     CCMenuItemSelector());
    });
}

Ref<CCMenuItemImage> CCMenuItemImage::itemWithNormalImage(const std::string& normalImage,
                                                          const std::string& selectedImage,
                                                          const std::string& disabledImage, Object* target,
                                                          CCMenuItemSelector selector) {
    return madeItem<CCMenuItemImage>([&](CCMenuItemImage& i) {
        return i.initWithNormalImage(normalImage, selectedImage, disabledImage, target, std::move(selector));
    });
}

Ref<CCMenuItemImage> CCMenuItemImage::itemWithNormalImage(const std::string& normalImage,
                                                          const std::string& selectedImage,
                                                          CCMenuItemBlock block) {
    return itemWithNormalImage(normalImage, selectedImage, std::string(), std::move(block));
}

Ref<CCMenuItemImage> CCMenuItemImage::itemWithNormalImage(const std::string& normalImage,
                                                          const std::string& selectedImage,
                                                          const std::string& disabledImage,
                                                          CCMenuItemBlock block) {
    return madeItem<CCMenuItemImage>([&](CCMenuItemImage& i) {
        return i.initWithNormalImage(normalImage, selectedImage, disabledImage, std::move(block));
    });
}

bool CCMenuItemImage::initWithNormalImage(const std::string& normalImage, const std::string& selectedImage,
                                          const std::string& disabledImage, Object* target,
                                          CCMenuItemSelector selector) {
    return initWithNormalImage(normalImage, selectedImage, disabledImage,
                               blockForTarget(target, std::move(selector)));
}

bool CCMenuItemImage::initWithNormalImage(const std::string& normalImage, const std::string& selectedImage,
                                          const std::string& disabledImage, CCMenuItemBlock block) {
    Ref<CCSprite> normal = CCSprite::spriteWithFile(normalImage);
    Ref<CCSprite> selected = selectedImage.empty() ? nullptr : CCSprite::spriteWithFile(selectedImage);
    Ref<CCSprite> disabled = disabledImage.empty() ? nullptr : CCSprite::spriteWithFile(disabledImage);
    return initWithNormalSprite(normal.get(), selected.get(), disabled.get(), std::move(block));
}

void CCMenuItemImage::setNormalSpriteFrame(CCSpriteFrame* frame) {
    if (!frame) return;
    setNormalImage(CCSprite::spriteWithSpriteFrame(frame).get());
}

void CCMenuItemImage::setSelectedSpriteFrame(CCSpriteFrame* frame) {
    if (!frame) return;
    setSelectedImage(CCSprite::spriteWithSpriteFrame(frame).get());
}

void CCMenuItemImage::setDisabledSpriteFrame(CCSpriteFrame* frame) {
    if (!frame) return;
    setDisabledImage(CCSprite::spriteWithSpriteFrame(frame).get());
}

// ---- CCMenuItemToggle ----

Ref<CCMenuItemToggle> CCMenuItemToggle::itemWithTarget(Object* target, CCMenuItemSelector selector,
                                                       std::initializer_list<CCMenuItem*> items) {
    std::vector<Ref<CCMenuItem>> array;
    array.reserve(2);
    for (CCMenuItem* item : items) {
        if (!item) break;
        array.emplace_back(item);
    }
    CCMenuItemBlock block = blockForTarget(target, std::move(selector));
    return madeItem<CCMenuItemToggle>(
        [&](CCMenuItemToggle& i) { return i.initWithItems(array, std::move(block)); });
}

Ref<CCMenuItemToggle> CCMenuItemToggle::itemWithItems(const std::vector<Ref<CCMenuItem>>& items) {
    return itemWithItems(items, CCMenuItemBlock());
}

Ref<CCMenuItemToggle> CCMenuItemToggle::itemWithItems(const std::vector<Ref<CCMenuItem>>& items,
                                                      CCMenuItemBlock block) {
    return madeItem<CCMenuItemToggle>(
        [&](CCMenuItemToggle& i) { return i.initWithItems(items, std::move(block)); });
}

bool CCMenuItemToggle::initWithItems(const std::vector<Ref<CCMenuItem>>& items, CCMenuItemBlock block) {
    // A toggle shows one of its sub-items at all times.
    if (items.empty()) return false;
    for (const Ref<CCMenuItem>& item : items)
        if (!item) return false;
    if (!initWithBlock(std::move(block))) return false;
    _subItems = items;
    _currentItem = nullptr;
    _selectedIndex = UINT64_MAX;
    setSelectedIndex(0);
    setCascadeColorEnabled(true);
    setCascadeOpacityEnabled(true);
    return true;
}

void CCMenuItemToggle::setSelectedIndex(std::uint64_t index) {
    if (index == _selectedIndex) return;
    CCAssert(index < _subItems.size(), "CCMenuItemToggle: selected index out of range");
    _selectedIndex = index;
    // Without cleanup: the sub-item keeps its actions and timers for when it shows again.
    if (_currentItem) _currentItem->removeFromParentAndCleanup(false);
    CCMenuItem* item = _subItems[index].get();
    addChild(item, 0);
    _currentItem = item;
    CGSize s = item->contentSize();
    setContentSize(s);
    item->setPosition(CGPointMake(s.width / 2, s.height / 2));
}

void CCMenuItemToggle::selected() {
    CCMenuItem::selected();
    if (CCMenuItem* item = selectedItem()) item->selected();
}

void CCMenuItemToggle::unselected() {
    CCMenuItem::unselected();
    if (CCMenuItem* item = selectedItem()) item->unselected();
}

void CCMenuItemToggle::activate() {
    if (_isEnabled && !_subItems.empty()) {
        std::uint64_t next = (_selectedIndex + 1) % _subItems.size();
        setSelectedIndex(next);
    }
    CCMenuItem::activate();
}

void CCMenuItemToggle::setIsEnabled(bool enabled) {
    if (_isEnabled == enabled) return;
    CCMenuItem::setIsEnabled(enabled);
    // By index, holding each: a sub-item's own handling may change the array.
    for (std::size_t i = 0; i < _subItems.size(); ++i) {
        Ref<CCMenuItem> item = _subItems[i];
        item->setIsEnabled(enabled);
    }
}

void CCMenuItemToggle::cleanup() {
    Ref<CCMenuItemToggle> keep(this);
    for (std::size_t i = 0; i < _subItems.size(); ++i) {
        Ref<CCMenuItem> item = _subItems[i];
        if (!item->parent()) item->cleanup(); // the shown one is reached as a child
    }
    CCMenuItem::cleanup();
}

CCMenuItem* CCMenuItemToggle::selectedItem() const {
    return _selectedIndex < _subItems.size() ? _subItems[_selectedIndex].get() : nullptr;
}

void CCMenuItemToggle::setSubItems(const std::vector<Ref<CCMenuItem>>& items) {
    std::vector<Ref<CCMenuItem>> kept;
    kept.reserve(items.size());
    for (const Ref<CCMenuItem>& item : items)
        if (item) kept.push_back(item);
    _subItems = std::move(kept);
}
