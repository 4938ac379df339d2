// Layers: full-window nodes that take touches and accelerometer readings while they run, and
// the coloured kinds that paint a solid or gradient rectangle.
#pragma once

#include "core/CCNode.h"
#include "core/CCNodeRGBA.h"
#include "core/CCProtocols.h"
#include "core/CCTouchDelegateProtocol.h"
#include "platform/Accelerometer.h"

#include <GLES2/gl2.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

using CCAccelerometerDelegate = platform::AccelerometerDelegate;

// How a layer takes touches.
enum ccTouchesMode : std::uint8_t {
    kCCTouchesAllAtOnce = 0, // a standard delegate: whole sets of touches
    kCCTouchesOneByOne = 1,  // a targeted delegate: one touch at a time, claimed in its began phase
};

class CCLayer : public CCNode,
                public CCAccelerometerDelegate,
                public CCTouchAllAtOnceDelegate,
                public CCTouchOneByOneDelegate {
public:
    // Window-sized, anchored at the centre, placed by its lower-left corner; touch and
    // accelerometer off, priority 0, all touches at once, swallowing.
    bool init() override;
    static platform::Ref<CCLayer> node();
    ~CCLayer() override;

    // Registers with the director's touch dispatcher in the current mode; subclasses override
    // it to register differently.
    virtual void registerWithTouchDispatcher();

    bool isAccelerometerEnabled() const { return _accelerometerEnabled; }
    virtual void setAccelerometerEnabled(bool enabled);
    // Seconds between readings, for the whole process.
    virtual void setAccelerometerInterval(float interval);

    bool isTouchEnabled() const { return _touchEnabled; }
    // Registers or unregisters at once when running; otherwise the next onEnter does it.
    virtual void setTouchEnabled(bool enabled);
    std::int64_t touchPriority() const { return _touchPriority; }
    // Lower priorities are asked first; re-registers a running touch-enabled layer.
    virtual void setTouchPriority(std::int64_t priority);
    ccTouchesMode touchMode() const { return static_cast<ccTouchesMode>(_touchMode); }
    virtual void setTouchMode(ccTouchesMode mode);
    bool touchSwallow() const { return _touchSwallow; }
    virtual void setTouchSwallow(bool swallow);

    void onEnter() override;
    void onEnterTransitionDidFinish() override;
    void onExit() override;

    // A plain layer claims every touch offered to it one by one.
    bool ccTouchBegan(platform::Touch* touch, platform::Event* event) override;

    // ---- older names, kept for old callers; each forwards to the current operation ----
    void setIsTouchEnabled(bool enabled) { setTouchEnabled(enabled); }
    void setIsAccelerometerEnabled(bool enabled) { setAccelerometerEnabled(enabled); }

protected:
    bool _touchEnabled = false;
    std::int64_t _touchPriority = 0;
    std::uint8_t _touchMode = kCCTouchesAllAtOnce;
    bool _touchSwallow = true;
    bool _accelerometerEnabled = false;
};

// A layer with the colour and opacity cascade.
class CCLayerRGBA : public CCRGBACascade<CCLayer> {
public:
    // White, opaque, cascading off.
    bool init() override;
    static platform::Ref<CCLayerRGBA> node();
};

// A solid-colour rectangle the size of its content, drawn with "ShaderPositionColor".
class CCLayerColor : public CCLayerRGBA, public CCBlendProtocol {
public:
    // Black, fully transparent, window-sized.
    bool init() override;
    // Colour and opacity from the four bytes; size in points.
    virtual bool initWithColor(_ccColor4B color, float width, float height);
    // Window-sized.
    virtual bool initWithColor(_ccColor4B color);
    static platform::Ref<CCLayerColor> layerWithColor(_ccColor4B color, float width, float height);
    static platform::Ref<CCLayerColor> layerWithColor(_ccColor4B color);
    static platform::Ref<CCLayerColor> node();

    void setContentSize(CGSize size) override;
    // Each keeps the other dimension.
    void changeWidth(float width, float height);
    void changeWidth(float width);
    void changeHeight(float height);

    void draw() override;
    void setColor(_ccColor3B color) override;
    void setOpacity(std::uint8_t opacity) override;
    // A cascade from the parent repaints the corners too.
    void updateDisplayedColor(_ccColor3B parentColor) override;
    void updateDisplayedOpacity(std::uint8_t parentOpacity) override;
    _ccBlendFunc blendFunc() const override { return _blendFunc; }
    void setBlendFunc(_ccBlendFunc blendFunc) override { _blendFunc = blendFunc; }

    // Corners in the order (0, 0), (w, 0), (0, h), (w, h), as the triangle strip draws them.
    const _ccVertex2F* squareVertices() const { return _squareVertices; }
    const _ccColor4F* squareColors() const { return _squareColors; }

protected:
    // Corner colours from the displayed colour and opacity.
    virtual void updateColor();

    _ccVertex2F _squareVertices[4];
    _ccColor4F _squareColors[4];
    _ccBlendFunc _blendFunc{GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA};
};

// A two-colour gradient along a direction: the start colour is the layer's own colour.
class CCLayerGradient : public CCLayerColor {
public:
    // Opaque black to opaque black.
    bool init() override;
    // Along (0, -1): the start colour at the top, the end colour at the bottom.
    virtual bool initWithColor(_ccColor4B start, _ccColor4B end);
    virtual bool initWithColor(_ccColor4B start, _ccColor4B end, CGPoint vector);
    using CCLayerColor::initWithColor;
    static platform::Ref<CCLayerGradient> layerWithColor(_ccColor4B start, _ccColor4B end);
    static platform::Ref<CCLayerGradient> layerWithColor(_ccColor4B start, _ccColor4B end, CGPoint vector);
    static platform::Ref<CCLayerGradient> node();

    _ccColor3B startColor() const { return color(); }
    void setStartColor(_ccColor3B color) { setColor(color); }
    _ccColor3B endColor() const { return _endColor; }
    void setEndColor(_ccColor3B color);
    std::uint8_t startOpacity() const { return _startOpacity; }
    void setStartOpacity(std::uint8_t opacity);
    std::uint8_t endOpacity() const { return _endOpacity; }
    void setEndOpacity(std::uint8_t opacity);
    // From the start colour towards the end colour; need not be normalised. A zero vector
    // leaves the plain colour.
    CGPoint vector() const { return _vector; }
    void setVector(CGPoint vector);
    // When on, a diagonal gradient reaches the full colours at the corners rather than
    // stopping short of them.
    bool compressedInterpolation() const { return _compressedInterpolation; }
    void setCompressedInterpolation(bool compress);

protected:
    void updateColor() override;

    _ccColor3B _endColor = ccBLACK;
    std::uint8_t _startOpacity = 255;
    std::uint8_t _endOpacity = 255;
    CGPoint _vector = CGPointZero;
    bool _compressedInterpolation = true;
};

// Shows one layer of a list at a time.
class CCLayerMultiplex : public CCLayer {
public:
    // Shows the first layer. False for an empty list or a null layer.
    virtual bool initWithArray(const std::vector<platform::Ref<CCLayer>>& layers);
    virtual bool initWithLayers(std::initializer_list<CCLayer*> layers);
    static platform::Ref<CCLayerMultiplex> layerWithArray(const std::vector<platform::Ref<CCLayer>>& layers);
    static platform::Ref<CCLayerMultiplex> layerWithLayers(std::initializer_list<CCLayer*> layers);

    // Removes the shown layer (with cleanup) and shows layer n. n must name a layer that is
    // still in the list; anything else throws NSInternalInconsistencyException.
    void switchTo(std::uint32_t n);
    // The same, and the list lets go of the layer shown until now.
    void switchToAndReleaseMe(std::uint32_t n);

    std::uint32_t enabledLayer() const { return _enabledLayer; }
    const std::vector<platform::Ref<CCLayer>>& layers() const { return _layers; }

protected:
    std::uint32_t _enabledLayer = 0;
    std::vector<platform::Ref<CCLayer>> _layers;
};
