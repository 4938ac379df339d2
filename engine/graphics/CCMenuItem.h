// Menu items: the tappable nodes a menu holds. Each carries a handler (a block called with the
// item as sender), an enabled and a selected flag and an active area, the rectangle in the
// item's own space that a touch must hit.
//
// Handlers given as a target and a selector are methods `void Class::method(platform::Object*
// sender)`, made with fl_selector(Class::method): the sender is whatever item was activated,
// so one handler can serve items of several kinds. The item wraps the pair in a block that
// does not retain the target: the target (usually the layer that owns the menu) must outlive
// the item.
#pragma once

#include "core/CCNodeRGBA.h"
#include "core/ccTypes.h"
#include "platform/Selector.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

class CCSpriteFrame;

// A handler; the argument is the item that was activated.
using CCMenuItemBlock = std::function<void(platform::Object* sender)>;
// A handler method of the target.
using CCMenuItemSelector = platform::Selector<void(platform::Object*)>;

// The tag of the zoom a label item runs while pressed.
inline constexpr std::int64_t kCCZoomActionTag = 0xC0C05002;

class CCMenuItem : public CCNodeRGBA {
public:
    static platform::Ref<CCMenuItem> itemWithTarget(platform::Object* target, CCMenuItemSelector selector);
    static platform::Ref<CCMenuItem> itemWithBlock(CCMenuItemBlock block);

    // No handler.
    bool init() override;
    virtual bool initWithTarget(platform::Object* target, CCMenuItemSelector selector);
    // The designated initialiser: anchored at the centre, enabled, not selected.
    virtual bool initWithBlock(CCMenuItemBlock block);
    // Also resets the active area to (0, 0, width, height).
    void setContentSize(CGSize contentSize) override;
    // Lets go of the handler too while releaseBlockAtCleanup is on, so a handler that holds the
    // item's owner does not keep it alive once the item has left the scene.
    void cleanup() override;

    // The menu's touch calls: pressed, released, tapped.
    virtual void selected();
    virtual void unselected();
    // Calls the handler when enabled.
    virtual void activate();
    virtual void setIsEnabled(bool enabled);
    bool isEnabled() const { return _isEnabled; }
    // Replaces the handler (a copy is kept).
    void setBlock(CCMenuItemBlock block);
    // The target is not retained.
    void setTarget(platform::Object* target, CCMenuItemSelector selector);
    bool isSelected() const { return _isSelected; }
    bool releaseBlockAtCleanup() const { return _releaseBlockAtCleanup; }
    void setReleaseBlockAtCleanup(bool release) { _releaseBlockAtCleanup = release; }
    // In the item's node space.
    CGRect activeArea() const { return _activeArea; }
    void setActiveArea(CGRect area) { _activeArea = area; }

    // The block a target/selector pair becomes: it sends the selector to the target with the
    // sender, keeps the target unretained, and does nothing for a null target or selector.
    static CCMenuItemBlock blockForTarget(platform::Object* target, CCMenuItemSelector selector);

    // ---- older names, kept for old callers; each forwards to the current operation ----
    // The item's rectangle is gone: always the zero rectangle, and setting it does nothing.
    CGRect rect() const { return CGRectZero; }
    void setRect(CGRect) {}

protected:
    CCMenuItemBlock _block;
    bool _isEnabled = false;
    bool _isSelected = false;
    bool _releaseBlockAtCleanup = true;
    CGRect _activeArea = CGRectZero;
};

// An item showing a label (any node that implements CCLabelProtocol and CCRGBAProtocol). It
// zooms to 1.2 times its scale while pressed and greys its label out while disabled.
class CCMenuItemLabel : public CCMenuItem {
public:
    // No handler.
    static platform::Ref<CCMenuItemLabel> itemWithLabel(CCNode* label);
    static platform::Ref<CCMenuItemLabel> itemWithLabel(CCNode* label, platform::Object* target,
                                                        CCMenuItemSelector selector);
    static platform::Ref<CCMenuItemLabel> itemWithLabel(CCNode* label, CCMenuItemBlock block);

    virtual bool initWithLabel(CCNode* label, platform::Object* target, CCMenuItemSelector selector);
    // The designated initialiser. The label becomes a child; colour and opacity cascade to it.
    virtual bool initWithLabel(CCNode* label, CCMenuItemBlock block);

    CCNode* label() const { return _label; }
    // Replaces the label (the old one is removed with cleanup) and takes its size.
    void setLabel(CCNode* label);
    // Sets the label's string and takes the label's new size.
    void setString(const std::string& string);

    void activate() override;
    void selected() override;
    void unselected() override;
    void setIsEnabled(bool enabled) override;
    _ccColor3B disabledColor() const { return _disabledColor; }
    // Only stored: a label already greyed out keeps its colour until the next change.
    void setDisabledColor(_ccColor3B color) { _disabledColor = color; }

    // The scale the zoom returns to.
    float originalScale() const { return _originalScale; }

protected:
    CCNode* _label = nullptr; // a child: held by the children array
    _ccColor3B _colorBackup = ccWHITE;
    _ccColor3B _disabledColor = ccc3(126, 126, 126);
    float _originalScale = 1.0f;
};

// A label item whose label is a character-map label.
class CCMenuItemAtlasFont : public CCMenuItemLabel {
public:
    // No handler. Null when the map cannot be loaded. Item sizes are points.
    static platform::Ref<CCMenuItemAtlasFont> itemWithString(const std::string& value,
                                                             const std::string& charMapFile,
                                                             std::int32_t itemWidth, std::int32_t itemHeight,
                                                             char startCharMap);
    static platform::Ref<CCMenuItemAtlasFont> itemWithString(const std::string& value,
                                                             const std::string& charMapFile,
                                                             std::int32_t itemWidth, std::int32_t itemHeight,
                                                             char startCharMap, platform::Object* target,
                                                             CCMenuItemSelector selector);
    static platform::Ref<CCMenuItemAtlasFont> itemWithString(const std::string& value,
                                                             const std::string& charMapFile,
                                                             std::int32_t itemWidth, std::int32_t itemHeight,
                                                             char startCharMap, CCMenuItemBlock block);

    virtual bool initWithString(const std::string& value, const std::string& charMapFile,
                                std::int32_t itemWidth, std::int32_t itemHeight, char startCharMap,
                                platform::Object* target, CCMenuItemSelector selector);
    // The designated initialiser; false when the label cannot be made.
    virtual bool initWithString(const std::string& value, const std::string& charMapFile,
                                std::int32_t itemWidth, std::int32_t itemHeight, char startCharMap,
                                CCMenuItemBlock block);

    // ---- older names, kept for old callers; each forwards to the current operation ----
    static platform::Ref<CCMenuItemAtlasFont> itemFromString(const std::string& value,
                                                             const std::string& charMapFile,
                                                             std::int32_t itemWidth, std::int32_t itemHeight,
                                                             char startCharMap) {
        return itemWithString(value, charMapFile, itemWidth, itemHeight, startCharMap);
    }
    static platform::Ref<CCMenuItemAtlasFont> itemFromString(const std::string& value,
                                                             const std::string& charMapFile,
                                                             std::int32_t itemWidth, std::int32_t itemHeight,
                                                             char startCharMap, platform::Object* target,
                                                             CCMenuItemSelector selector) {
        return itemWithString(value, charMapFile, itemWidth, itemHeight, startCharMap, target, selector);
    }
    static platform::Ref<CCMenuItemAtlasFont> itemFromString(const std::string& value,
                                                             const std::string& charMapFile,
                                                             std::int32_t itemWidth, std::int32_t itemHeight,
                                                             char startCharMap, CCMenuItemBlock block) {
        return itemWithString(value, charMapFile, itemWidth, itemHeight, startCharMap, std::move(block));
    }
    bool initFromString(const std::string& value, const std::string& charMapFile, std::int32_t itemWidth,
                        std::int32_t itemHeight, char startCharMap, platform::Object* target,
                        CCMenuItemSelector selector) {
        return initWithString(value, charMapFile, itemWidth, itemHeight, startCharMap, target, selector);
    }
    bool initFromString(const std::string& value, const std::string& charMapFile, std::int32_t itemWidth,
                        std::int32_t itemHeight, char startCharMap, CCMenuItemBlock block) {
        return initWithString(value, charMapFile, itemWidth, itemHeight, startCharMap, std::move(block));
    }
};

// A label item whose label is a system-font label. New items take the class-wide default font
// name and size ("Marker Felt", 32 points at start).
class CCMenuItemFont : public CCMenuItemLabel {
public:
    // The class-wide defaults. They are named apart from the item's own font accessors.
    static void setDefaultFontSize(std::uint64_t size);
    static std::uint64_t defaultFontSize();
    static void setDefaultFontName(const std::string& name);
    static std::string defaultFontName();

    // No handler (a nil target).
    static platform::Ref<CCMenuItemFont> itemWithString(const std::string& value);
    static platform::Ref<CCMenuItemFont> itemWithString(const std::string& value, platform::Object* target,
                                                        CCMenuItemSelector selector);
    static platform::Ref<CCMenuItemFont> itemWithString(const std::string& value, CCMenuItemBlock block);

    virtual bool initWithString(const std::string& value, platform::Object* target,
                                CCMenuItemSelector selector);
    // The designated initialiser.
    virtual bool initWithString(const std::string& value, CCMenuItemBlock block);

    // Makes a new label from the current string with this item's font and size.
    void recreateLabel();
    // In points; makes a new label.
    void setFontSize(std::uint64_t size);
    std::uint64_t fontSize() const { return _fontSize; }
    // Makes a new label.
    void setFontName(const std::string& name);
    const std::string& fontName() const { return _fontName; }

    // ---- older names, kept for old callers; each forwards to the current operation ----
    static platform::Ref<CCMenuItemFont> itemFromString(const std::string& value) {
        return itemWithString(value);
    }
    static platform::Ref<CCMenuItemFont> itemFromString(const std::string& value, platform::Object* target,
                                                        CCMenuItemSelector selector) {
        return itemWithString(value, target, selector);
    }
    static platform::Ref<CCMenuItemFont> itemFromString(const std::string& value, CCMenuItemBlock block) {
        return itemWithString(value, std::move(block));
    }
    bool initFromString(const std::string& value, platform::Object* target, CCMenuItemSelector selector) {
        return initWithString(value, target, selector);
    }
    bool initFromString(const std::string& value, CCMenuItemBlock block) {
        return initWithString(value, std::move(block));
    }

protected:
    std::uint64_t _fontSize = 0;
    std::string _fontName;
};

// An item of three nodes that implement CCRGBAProtocol (sprites, usually): the normal image
// (required; it sizes the item), and optional selected and disabled images. Each is a child
// anchored at its lower-left corner; only one shows at a time.
class CCMenuItemSprite : public CCMenuItem {
public:
    // No handler.
    static platform::Ref<CCMenuItemSprite> itemWithNormalSprite(CCNode* normalSprite, CCNode* selectedSprite);
    static platform::Ref<CCMenuItemSprite> itemWithNormalSprite(CCNode* normalSprite, CCNode* selectedSprite,
                                                                platform::Object* target,
                                                                CCMenuItemSelector selector);
    static platform::Ref<CCMenuItemSprite> itemWithNormalSprite(CCNode* normalSprite, CCNode* selectedSprite,
                                                                CCNode* disabledSprite,
                                                                platform::Object* target,
                                                                CCMenuItemSelector selector);
    static platform::Ref<CCMenuItemSprite> itemWithNormalSprite(CCNode* normalSprite, CCNode* selectedSprite,
                                                                CCMenuItemBlock block);
    static platform::Ref<CCMenuItemSprite> itemWithNormalSprite(CCNode* normalSprite, CCNode* selectedSprite,
                                                                CCNode* disabledSprite,
                                                                CCMenuItemBlock block);

    virtual bool initWithNormalSprite(CCNode* normalSprite, CCNode* selectedSprite, CCNode* disabledSprite,
                                      platform::Object* target, CCMenuItemSelector selector);
    // The designated initialiser; false without a normal image.
    virtual bool initWithNormalSprite(CCNode* normalSprite, CCNode* selectedSprite, CCNode* disabledSprite,
                                      CCMenuItemBlock block);

    // Each replaces its image (the old one is removed with cleanup); the normal image also
    // sizes the item.
    void setNormalImage(CCNode* image);
    void setSelectedImage(CCNode* image);
    void setDisabledImage(CCNode* image);
    void selected() override;
    void unselected() override;
    void setIsEnabled(bool enabled) override;
    // Shows the image for the enabled state.
    void updateImagesVisibility();
    CCNode* normalImage() const { return _normalImage; }
    CCNode* selectedImage() const { return _selectedImage; }
    CCNode* disabledImage() const { return _disabledImage; }

    // ---- older names, kept for old callers; each forwards to the current operation ----
    static platform::Ref<CCMenuItemSprite> itemFromNormalSprite(CCNode* normalSprite,
                                                                CCNode* selectedSprite) {
        return itemWithNormalSprite(normalSprite, selectedSprite);
    }
    static platform::Ref<CCMenuItemSprite> itemFromNormalSprite(CCNode* normalSprite, CCNode* selectedSprite,
                                                                platform::Object* target,
                                                                CCMenuItemSelector selector) {
        return itemWithNormalSprite(normalSprite, selectedSprite, target, selector);
    }
    static platform::Ref<CCMenuItemSprite> itemFromNormalSprite(CCNode* normalSprite, CCNode* selectedSprite,
                                                                CCNode* disabledSprite,
                                                                platform::Object* target,
                                                                CCMenuItemSelector selector) {
        return itemWithNormalSprite(normalSprite, selectedSprite, disabledSprite, target, selector);
    }
    static platform::Ref<CCMenuItemSprite> itemFromNormalSprite(CCNode* normalSprite, CCNode* selectedSprite,
                                                                CCMenuItemBlock block) {
        return itemWithNormalSprite(normalSprite, selectedSprite, std::move(block));
    }
    static platform::Ref<CCMenuItemSprite> itemFromNormalSprite(CCNode* normalSprite, CCNode* selectedSprite,
                                                                CCNode* disabledSprite,
                                                                CCMenuItemBlock block) {
        return itemWithNormalSprite(normalSprite, selectedSprite, disabledSprite, std::move(block));
    }
    bool initFromNormalSprite(CCNode* normalSprite, CCNode* selectedSprite, CCNode* disabledSprite,
                              platform::Object* target, CCMenuItemSelector selector) {
        return initWithNormalSprite(normalSprite, selectedSprite, disabledSprite, target, selector);
    }
    bool initFromNormalSprite(CCNode* normalSprite, CCNode* selectedSprite, CCNode* disabledSprite,
                              CCMenuItemBlock block) {
        return initWithNormalSprite(normalSprite, selectedSprite, disabledSprite, std::move(block));
    }

protected:
    // Children: held by the children array.
    CCNode* _normalImage = nullptr;
    CCNode* _selectedImage = nullptr;
    CCNode* _disabledImage = nullptr;

private:
    // Swaps one image slot: anchors the new image, removes the old one, adds the new one.
    void replaceImage(CCNode*& slot, CCNode* image);
};

// A sprite item whose images are sprites made from image files or sprite frames. An empty
// file name means no image of that kind.
class CCMenuItemImage : public CCMenuItemSprite {
public:
    // No handler. Every factory gives null when the normal image cannot be loaded.
    static platform::Ref<CCMenuItemImage> itemWithNormalImage(const std::string& normalImage,
                                                              const std::string& selectedImage);
    static platform::Ref<CCMenuItemImage> itemWithNormalImage(const std::string& normalImage,
                                                              const std::string& selectedImage,
                                                              platform::Object* target,
                                                              CCMenuItemSelector selector);
    static platform::Ref<CCMenuItemImage> itemWithNormalImage(const std::string& normalImage,
                                                              const std::string& selectedImage,
                                                              const std::string& disabledImage);
    static platform::Ref<CCMenuItemImage> itemWithNormalImage(const std::string& normalImage,
                                                              const std::string& selectedImage,
                                                              const std::string& disabledImage,
                                                              platform::Object* target,
                                                              CCMenuItemSelector selector);
    static platform::Ref<CCMenuItemImage> itemWithNormalImage(const std::string& normalImage,
                                                              const std::string& selectedImage,
                                                              CCMenuItemBlock block);
    static platform::Ref<CCMenuItemImage> itemWithNormalImage(const std::string& normalImage,
                                                              const std::string& selectedImage,
                                                              const std::string& disabledImage,
                                                              CCMenuItemBlock block);

    virtual bool initWithNormalImage(const std::string& normalImage, const std::string& selectedImage,
                                     const std::string& disabledImage, platform::Object* target,
                                     CCMenuItemSelector selector);
    // The designated initialiser.
    virtual bool initWithNormalImage(const std::string& normalImage, const std::string& selectedImage,
                                     const std::string& disabledImage, CCMenuItemBlock block);

    // Each makes a sprite of the frame and sets it as the matching image; a null frame changes
    // nothing.
    void setNormalSpriteFrame(CCSpriteFrame* frame);
    void setSelectedSpriteFrame(CCSpriteFrame* frame);
    void setDisabledSpriteFrame(CCSpriteFrame* frame);

    // ---- older names, kept for old callers; each forwards to the current operation ----
    static platform::Ref<CCMenuItemImage> itemFromNormalImage(const std::string& normalImage,
                                                              const std::string& selectedImage) {
        return itemWithNormalImage(normalImage, selectedImage);
    }
    static platform::Ref<CCMenuItemImage> itemFromNormalImage(const std::string& normalImage,
                                                              const std::string& selectedImage,
                                                              platform::Object* target,
                                                              CCMenuItemSelector selector) {
        return itemWithNormalImage(normalImage, selectedImage, target, selector);
    }
    static platform::Ref<CCMenuItemImage> itemFromNormalImage(const std::string& normalImage,
                                                              const std::string& selectedImage,
                                                              const std::string& disabledImage,
                                                              platform::Object* target,
                                                              CCMenuItemSelector selector) {
        return itemWithNormalImage(normalImage, selectedImage, disabledImage, target, selector);
    }
    static platform::Ref<CCMenuItemImage> itemFromNormalImage(const std::string& normalImage,
                                                              const std::string& selectedImage,
                                                              CCMenuItemBlock block) {
        return itemWithNormalImage(normalImage, selectedImage, std::move(block));
    }
    static platform::Ref<CCMenuItemImage> itemFromNormalImage(const std::string& normalImage,
                                                              const std::string& selectedImage,
                                                              const std::string& disabledImage,
                                                              CCMenuItemBlock block) {
        return itemWithNormalImage(normalImage, selectedImage, disabledImage, std::move(block));
    }
    bool initFromNormalImage(const std::string& normalImage, const std::string& selectedImage,
                             const std::string& disabledImage, platform::Object* target,
                             CCMenuItemSelector selector) {
        return initWithNormalImage(normalImage, selectedImage, disabledImage, target, selector);
    }
    bool initFromNormalImage(const std::string& normalImage, const std::string& selectedImage,
                             const std::string& disabledImage, CCMenuItemBlock block) {
        return initWithNormalImage(normalImage, selectedImage, disabledImage, std::move(block));
    }
};

// An item that cycles through sub-items, one shown at a time, each activation moving to the
// next. The handler sees the new index.
class CCMenuItemToggle : public CCMenuItem {
public:
    // Items up to the first null; the handler through the target and selector.
    static platform::Ref<CCMenuItemToggle> itemWithTarget(platform::Object* target,
                                                          CCMenuItemSelector selector,
                                                          std::initializer_list<CCMenuItem*> items);
    static platform::Ref<CCMenuItemToggle> itemWithItems(const std::vector<platform::Ref<CCMenuItem>>& items);
    static platform::Ref<CCMenuItemToggle> itemWithItems(const std::vector<platform::Ref<CCMenuItem>>& items,
                                                         CCMenuItemBlock block);

    // The designated initialiser: shows the first sub-item. False for an empty list or a null
    // item.
    virtual bool initWithItems(const std::vector<platform::Ref<CCMenuItem>>& items, CCMenuItemBlock block);

    // Shows the sub-item at the index (below the number of sub-items, or
    // NSInternalInconsistencyException); the one shown before is removed without cleanup, so its
    // actions survive for later.
    void setSelectedIndex(std::uint64_t index);
    std::uint64_t selectedIndex() const { return _selectedIndex; }
    void selected() override;
    void unselected() override;
    // Moves to the next sub-item, then calls the handler.
    void activate() override;
    // Passes the flag on to every sub-item.
    void setIsEnabled(bool enabled) override;
    // Reaches the sub-items not shown as well: they keep their actions while hidden, and an
    // action's hold on its node would otherwise outlive the toggle.
    void cleanup() override;
    // The sub-item at the selected index; null when there is none.
    CCMenuItem* selectedItem() const;
    // Not retained.
    CCMenuItem* currentItem() const { return _currentItem; }
    void setCurrentItem(CCMenuItem* item) { _currentItem = item; }
    const std::vector<platform::Ref<CCMenuItem>>& subItems() const { return _subItems; }
    // Null items are dropped.
    void setSubItems(const std::vector<platform::Ref<CCMenuItem>>& items);

protected:
    std::uint64_t _selectedIndex = UINT64_MAX;
    std::vector<platform::Ref<CCMenuItem>> _subItems;
    CCMenuItem* _currentItem = nullptr; // a child while shown; the array keeps it
};
