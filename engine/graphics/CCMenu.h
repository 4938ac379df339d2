// The menu: a full-window layer of menu items that turns touches into selection and
// activation, and lays its items out in a column, a row or a grid.
//
// It takes touches one by one at kCCMenuHandlerPriority, ahead of ordinary layers, and claims
// (and swallows) a touch only when it begins on an enabled, visible item of an enabled menu
// whose ancestors are all visible. The claimed touch selects whatever item is under it as it
// moves and activates the one it lifts on.
#pragma once

#include "core/CCLayer.h"
#include "graphics/CCMenuItem.h"

#include <cstdint>
#include <initializer_list>
#include <vector>

// Menus are asked before layers (priority 0).
inline constexpr std::int64_t kCCMenuHandlerPriority = -128;

enum tCCMenuState : std::int32_t {
    kCCMenuStateWaiting = 0,
    kCCMenuStateTrackingTouch = 1,
};

class CCMenu : public CCLayerRGBA {
public:
    // An empty menu.
    bool init() override;
    // The designated initialiser: each item becomes a child with z its index in the list. Null
    // entries are skipped. The menu is window-sized and centred below the status bar.
    virtual bool initWithArray(const std::vector<platform::Ref<CCMenuItem>>& items);

    // Kept for the menu's interface; the node's behaviour unchanged.
    void addChild(CCNode* child, std::int64_t z, std::int64_t tag) override;
    using CCLayerRGBA::addChild;
    // A touch being tracked is dropped: its item is unselected, not activated.
    void onExit() override;

    // Moves the menu's registration in the touch dispatcher.
    void setHandlerPriority(std::int64_t priority);
    // The first child in the children's order that is a visible, enabled menu item whose
    // active area holds the touch; null when there is none.
    CCMenuItem* itemForTouch(platform::Touch* touch);

    bool ccTouchBegan(platform::Touch* touch, platform::Event* event) override;
    void ccTouchMoved(platform::Touch* touch, platform::Event* event) override;
    void ccTouchEnded(platform::Touch* touch, platform::Event* event) override;
    void ccTouchCancelled(platform::Touch* touch, platform::Event* event) override;

    // A column centred on the menu's origin, first child at the top; padding in points (5 by
    // default), scaled content heights.
    void alignItemsVertically();
    void alignItemsVerticallyWithPadding(float padding);
    // A row centred on the menu's origin, first child at the left.
    void alignItemsHorizontally();
    void alignItemsHorizontallyWithPadding(float padding);
    // A grid of rows from the top, each spread over the window's width; the counts give the
    // items of each row. The counts must cover the children exactly, each at least 1;
    // anything else raises NSInternalInconsistencyException and moves nothing.
    void alignItemsInColumns(std::initializer_list<std::uint64_t> columns);
    void alignItemsInColumnsWithArray(const std::vector<std::uint64_t>& columns);
    // A grid of columns from the left; the counts give the items of each column, with the same
    // rule for the counts.
    void alignItemsInRows(std::initializer_list<std::uint64_t> rows);
    void alignItemsInRowsWithArray(const std::vector<std::uint64_t>& rows);

    bool enabled() const { return _enabled; }
    // Off blocks new touches only: a touch being tracked still ends and activates.
    void setEnabled(bool enabled) { _enabled = enabled; }

    static platform::Ref<CCMenu> menuWithArray(const std::vector<platform::Ref<CCMenuItem>>& items);
    // The items up to the first null.
    static platform::Ref<CCMenu> menuWithItems(std::initializer_list<CCMenuItem*> items);

    tCCMenuState state() const { return static_cast<tCCMenuState>(_state); }
    // The item under the tracked touch. Left in place after the touch ends.
    CCMenuItem* selectedItem() const { return _selectedItem; }

protected:
    std::int32_t _state = kCCMenuStateWaiting;
    CCMenuItem* _selectedItem = nullptr; // not retained: one of our children
    bool _enabled = false;

private:
    // _selectedItem while it is still one of our children, else null. The pointer is only
    // compared, never followed, so an item removed (and freed) mid-touch is not touched.
    CCMenuItem* trackedItem() const;
    // The children in their drawing order (sorted first when a reorder is pending).
    std::vector<CCNode*> orderedChildren();
    // Throws unless the counts are all at least 1 and add up to the number of children.
    void checkGridCounts(const std::vector<std::uint64_t>& counts, const char* what);
};
