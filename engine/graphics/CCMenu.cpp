#include "graphics/CCMenu.h"

#include "core/CCArray.h"
#include "core/CCDirector.h"
#include "core/CCTouchDispatcher.h"
#include "platform/Device.h"
#include "platform/Exception.h"
#include "platform/Format.h"

#include <algorithm>
#include <cmath>
#include <limits>

using platform::Ref;

namespace {
// Content sizes become whole points in the grid layouts: a float, truncated; what cannot be an
// unsigned 32-bit value (negative, NaN, huge) is clamped rather than left undefined.
std::uint32_t wholePoints(float value) {
    if (!(value > 0)) return 0;
    if (value >= 4294967295.0f) return std::numeric_limits<std::uint32_t>::max();
    return static_cast<std::uint32_t>(value);
}

std::uint32_t maxWholePoints(std::uint32_t current, double size) {
    float candidate = static_cast<float>(size);
    return wholePoints(static_cast<float>(current) >= candidate ? static_cast<float>(current) : candidate);
}

// A signed 32-bit sum as the layout's integers wrap, without overflow in C++.
std::int32_t wrapped(std::int64_t value) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(value)));
}

// A double that may not fit a signed 32-bit value, truncated and clamped.
std::int32_t truncatedInt(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
    if (value <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}
} // namespace

bool CCMenu::init() {
    return initWithArray({});
}

bool CCMenu::initWithArray(const std::vector<Ref<CCMenuItem>>& items) {
    if (!CCLayerRGBA::init()) return false;
    _touchPriority = kCCMenuHandlerPriority;
    _touchMode = kCCTouchesOneByOne;
    setTouchEnabled(true);
    _enabled = true;

    CGSize s = CCDirector::sharedDirector()->winSize();
    setIgnoreAnchorPointForPosition(true);
    setAnchorPoint(CGPointMake(0.5, 0.5));
    setContentSize(s);
    double statusBar = platform::Device::current().statusBarFrame.size.height;
    setPosition(CGPointMake(s.width / 2, (s.height - statusBar) / 2));

    std::int64_t z = 0;
    for (const Ref<CCMenuItem>& item : items) {
        if (item) addChild(item.get(), z);
        ++z;
    }
    _selectedItem = nullptr;
    _state = kCCMenuStateWaiting;
    setCascadeColorEnabled(true);
    setCascadeOpacityEnabled(true);
    return true;
}

Ref<CCMenu> CCMenu::menuWithArray(const std::vector<Ref<CCMenuItem>>& items) {
    auto menu = platform::make<CCMenu>();
    return menu->initWithArray(items) ? menu : nullptr;
}

Ref<CCMenu> CCMenu::menuWithItems(std::initializer_list<CCMenuItem*> items) {
    std::vector<Ref<CCMenuItem>> array;
    for (CCMenuItem* item : items) {
        if (!item) break;
        array.emplace_back(item);
    }
    return menuWithArray(array);
}

void CCMenu::addChild(CCNode* child, std::int64_t z, std::int64_t tag) {
    CCLayerRGBA::addChild(child, z, tag);
}

void CCMenu::onExit() {
    if (_state == kCCMenuStateTrackingTouch) {
        if (CCMenuItem* item = trackedItem()) item->unselected();
        _state = kCCMenuStateWaiting;
        _selectedItem = nullptr;
    }
    CCLayerRGBA::onExit();
}

void CCMenu::setHandlerPriority(std::int64_t priority) {
    if (CCTouchDispatcher* dispatcher = CCDirector::sharedDirector()->touchDispatcher())
        dispatcher->setPriority(priority, this);
}

std::vector<CCNode*> CCMenu::orderedChildren() {
    sortAllChildren();
    std::vector<CCNode*> nodes;
    if (CCArray* children = this->children()) {
        nodes.reserve(children->count());
        for (platform::Object* child : *children)
            nodes.push_back(static_cast<CCNode*>(child));
    }
    return nodes;
}

CCMenuItem* CCMenu::trackedItem() const {
    if (!_selectedItem || !_children) return nullptr;
    for (platform::Object* child : *_children)
        if (child == _selectedItem) return _selectedItem;
    return nullptr;
}

CCMenuItem* CCMenu::itemForTouch(platform::Touch* touch) {
    if (!touch) return nullptr;
    CCDirector* director = CCDirector::sharedDirector();
    CGPoint location = director->convertToGL(touch->locationInView(touch->view()));
    sortAllChildren();
    if (!_children) return nullptr;
    for (std::uint64_t i = 0; i < _children->count(); ++i) {
        // Anything that is not an item cannot be hit.
        auto* item = dynamic_cast<CCMenuItem*>(_children->objectAtIndex(i));
        if (!item || !item->visible() || !item->isEnabled()) continue;
        CGPoint local = item->convertToNodeSpace(location);
        if (CGRectContainsPoint(item->activeArea(), local)) return item;
    }
    return nullptr;
}

bool CCMenu::ccTouchBegan(platform::Touch* touch, platform::Event*) {
    if (_state != kCCMenuStateWaiting || !_visible || !_enabled) return false;
    for (CCNode* c = _parent; c; c = c->parent())
        if (!c->visible()) return false;
    _selectedItem = itemForTouch(touch);
    if (!_selectedItem) return false;
    _state = kCCMenuStateTrackingTouch;
    _selectedItem->selected();
    return true;
}

void CCMenu::ccTouchMoved(platform::Touch* touch, platform::Event*) {
    if (_state != kCCMenuStateTrackingTouch) return;
    CCMenuItem* current = itemForTouch(touch);
    CCMenuItem* previous = trackedItem();
    if (current == _selectedItem) return;
    Ref<CCMenuItem> keepPrevious(previous), keepCurrent(current);
    if (previous) previous->unselected();
    _selectedItem = current;
    if (current) current->selected();
}

void CCMenu::ccTouchEnded(platform::Touch*, platform::Event*) {
    if (_state != kCCMenuStateTrackingTouch) return;
    _state = kCCMenuStateWaiting;
    if (CCMenuItem* item = trackedItem()) {
        // The handler may remove the item, or the whole menu.
        Ref<CCMenu> keepMenu(this);
        Ref<CCMenuItem> keep(item);
        item->unselected();
        item->activate();
    }
}

void CCMenu::ccTouchCancelled(platform::Touch*, platform::Event*) {
    if (_state != kCCMenuStateTrackingTouch) return;
    _state = kCCMenuStateWaiting;
    if (CCMenuItem* item = trackedItem()) {
        Ref<CCMenuItem> keep(item);
        item->unselected();
    }
}

// ---- layout ----

void CCMenu::alignItemsVertically() {
    alignItemsVerticallyWithPadding(5);
}

void CCMenu::alignItemsVerticallyWithPadding(float padding) {
    std::vector<CCNode*> nodes = orderedChildren();
    float height = -padding;
    for (CCNode* child : nodes)
        height = static_cast<float>(height + child->contentSize().height * child->scaleY() + padding);

    float y = height / 2.0f;
    for (CCNode* child : nodes) {
        double h = child->contentSize().height * child->scaleY();
        child->setPosition(CGPointMake(0, y - h / 2.0));
        y = static_cast<float>(y - h - padding);
    }
}

void CCMenu::alignItemsHorizontally() {
    alignItemsHorizontallyWithPadding(5);
}

void CCMenu::alignItemsHorizontallyWithPadding(float padding) {
    std::vector<CCNode*> nodes = orderedChildren();
    float width = -padding;
    for (CCNode* child : nodes)
        width = static_cast<float>(width + child->contentSize().width * child->scaleX() + padding);

    float x = -width / 2.0f;
    for (CCNode* child : nodes) {
        double w = child->contentSize().width * child->scaleX();
        child->setPosition(CGPointMake(x + w / 2.0, 0));
        x = static_cast<float>(x + w + padding);
    }
}

void CCMenu::checkGridCounts(const std::vector<std::uint64_t>& counts, const char* what) {
    const std::uint64_t children = _children ? _children->count() : 0;
    std::uint64_t covered = 0; // never above children, so the sum cannot overflow
    bool exact = true;
    for (std::uint64_t count : counts) {
        if (count == 0) platform::raiseInconsistency(platform::format("CCMenu: a %s of no items", what));
        if (count > children - covered) {
            exact = false;
            break;
        }
        covered += count;
    }
    if (!exact || covered != children)
        platform::raiseInconsistency(
            platform::format("CCMenu: the %s counts must cover the %llu children exactly", what,
                             static_cast<unsigned long long>(children)));
}

void CCMenu::alignItemsInColumns(std::initializer_list<std::uint64_t> columns) {
    alignItemsInColumnsWithArray(std::vector<std::uint64_t>(columns));
}

void CCMenu::alignItemsInColumnsWithArray(const std::vector<std::uint64_t>& columns) {
    checkGridCounts(columns, "row");
    std::vector<CCNode*> nodes = orderedChildren();

    // Measure the rows.
    std::int32_t height = -5;
    std::uint64_t row = 0;
    std::uint32_t rowHeight = 0;
    std::uint64_t columnsOccupied = 0;
    for (CCNode* child : nodes) {
        std::uint64_t rowColumns = columns[row];
        rowHeight = maxWholePoints(rowHeight, child->contentSize().height);
        ++columnsOccupied;
        if (columnsOccupied >= rowColumns) {
            height = wrapped(static_cast<std::int64_t>(height) + rowHeight + 5);
            columnsOccupied = 0;
            rowHeight = 0;
            ++row;
        }
    }

    // Place them, each row spread evenly over the window's width.
    CGSize winSize = CCDirector::sharedDirector()->winSize();
    row = 0;
    rowHeight = 0;
    std::uint64_t rowColumns = 0;
    float w = 0, x = 0;
    float y = static_cast<float>(height / 2);
    for (CCNode* child : nodes) {
        if (rowColumns == 0) {
            rowColumns = columns[row];
            w = static_cast<float>(winSize.width / static_cast<double>(1 + rowColumns));
            x = w;
        }
        double childHeight = child->contentSize().height;
        rowHeight = maxWholePoints(rowHeight, childHeight);
        child->setPosition(CGPointMake(x - winSize.width / 2, y - childHeight / 2));
        ++columnsOccupied;
        if (columnsOccupied >= rowColumns) {
            y = static_cast<float>(static_cast<double>(y) - (static_cast<double>(rowHeight) + 5));
            columnsOccupied = 0;
            rowColumns = 0;
            rowHeight = 0;
            ++row;
        }
        x += w;
    }
}

void CCMenu::alignItemsInRows(std::initializer_list<std::uint64_t> rows) {
    alignItemsInRowsWithArray(std::vector<std::uint64_t>(rows));
}

void CCMenu::alignItemsInRowsWithArray(const std::vector<std::uint64_t>& rows) {
    checkGridCounts(rows, "column");
    std::vector<CCNode*> nodes = orderedChildren();

    // Measure the columns.
    std::vector<std::uint32_t> columnWidths;
    std::vector<std::int32_t> columnHeights;
    std::int32_t width = -10;
    std::int32_t columnHeight = -5;
    std::uint64_t column = 0;
    std::uint32_t columnWidth = 0;
    std::uint64_t rowsOccupied = 0;
    for (CCNode* child : nodes) {
        std::uint64_t columnRows = rows[column];
        CGSize size = child->contentSize();
        columnWidth = maxWholePoints(columnWidth, size.width);
        columnHeight = truncatedInt(columnHeight + size.height + 5);
        ++rowsOccupied;
        if (rowsOccupied >= columnRows) {
            columnWidths.push_back(columnWidth);
            columnHeights.push_back(columnHeight);
            width = wrapped(static_cast<std::int64_t>(width) + columnWidth + 10);
            rowsOccupied = 0;
            columnWidth = 0;
            columnHeight = -5;
            ++column;
        }
    }

    // Place them: the gaps here are 5 between columns and 10 between items.
    CGSize winSize = CCDirector::sharedDirector()->winSize();
    float x = static_cast<float>(-(width / 2));
    float y = 0;
    column = 0;
    columnWidth = 0;
    std::uint64_t columnRows = 0;
    for (CCNode* child : nodes) {
        if (columnRows == 0) {
            columnRows = rows[column];
            y = static_cast<float>((columnHeights[column] + winSize.height) / 2);
        }
        CGSize size = child->contentSize();
        columnWidth = maxWholePoints(columnWidth, size.width);
        child->setPosition(CGPointMake(x + columnWidths[column] / 2, y - winSize.height / 2));
        y = static_cast<float>(y - (size.height + 10));
        ++rowsOccupied;
        if (rowsOccupied >= columnRows) {
            x = static_cast<float>(static_cast<double>(x) + columnWidth + 5);
            rowsOccupied = 0;
            columnRows = 0;
            columnWidth = 0;
            ++column;
        }
    }
}
