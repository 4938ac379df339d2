#include "core/CCLayer.h"

#include "core/CCDirector.h"
#include "core/CCGLProgram.h"
#include "core/CCPointExtension.h"
#include "core/CCShaderCache.h"
#include "core/CCTouchDispatcher.h"
#include "core/ccGLStateCache.h"
#include "platform/Exception.h"
#include "platform/GLCheck.h"

#include <cmath>

namespace {
CCTouchDispatcher* touchDispatcher() {
    return CCDirector::sharedDirector()->touchDispatcher();
}
} // namespace

// ---- CCLayer ----

bool CCLayer::init() {
    if (!CCNode::init()) return false;
    setAnchorPoint(CGPointMake(0.5, 0.5));
    setContentSize(CCDirector::sharedDirector()->winSize());
    setIgnoreAnchorPointForPosition(true);
    _touchEnabled = false;
    _touchPriority = 0;
    _touchMode = kCCTouchesAllAtOnce;
    _touchSwallow = true;
    _accelerometerEnabled = false;
    return true;
}

platform::Ref<CCLayer> CCLayer::node() {
    return makeNode<CCLayer>();
}

CCLayer::~CCLayer() {
    // The accelerometer does not retain its delegate.
    platform::Accelerometer* accelerometer = platform::Accelerometer::sharedAccelerometer();
    if (accelerometer->delegate() == this) accelerometer->setDelegate(nullptr);
}

void CCLayer::registerWithTouchDispatcher() {
    CCTouchDispatcher* dispatcher = touchDispatcher();
    if (!dispatcher) return;
    if (_touchMode == kCCTouchesAllAtOnce)
        dispatcher->addStandardDelegate(this, _touchPriority);
    else
        dispatcher->addTargetedDelegate(this, _touchPriority, _touchSwallow);
}

void CCLayer::setAccelerometerEnabled(bool enabled) {
    if (enabled == _accelerometerEnabled) return;
    _accelerometerEnabled = enabled;
    if (!_isRunning) return;
    platform::Accelerometer* accelerometer = platform::Accelerometer::sharedAccelerometer();
    if (enabled)
        accelerometer->setDelegate(this);
    else if (accelerometer->delegate() == this)
        accelerometer->setDelegate(nullptr);
}

void CCLayer::setAccelerometerInterval(float interval) {
    platform::Accelerometer::sharedAccelerometer()->setUpdateInterval(interval);
}

void CCLayer::setTouchEnabled(bool enabled) {
    if (enabled == _touchEnabled) return;
    _touchEnabled = enabled;
    if (!_isRunning) return;
    if (enabled) {
        registerWithTouchDispatcher();
    } else if (CCTouchDispatcher* dispatcher = touchDispatcher()) {
        dispatcher->removeDelegate(this);
    }
}

void CCLayer::setTouchPriority(std::int64_t priority) {
    if (priority == _touchPriority) return;
    _touchPriority = priority;
    if (_touchEnabled) {
        setTouchEnabled(false);
        setTouchEnabled(true);
    }
}

void CCLayer::setTouchMode(ccTouchesMode mode) {
    std::uint8_t stored = mode == kCCTouchesOneByOne ? 1 : 0;
    if (stored == _touchMode) return;
    _touchMode = stored;
    if (_touchEnabled) {
        setTouchEnabled(false);
        setTouchEnabled(true);
    }
}

void CCLayer::setTouchSwallow(bool swallow) {
    if (swallow == _touchSwallow) return;
    _touchSwallow = swallow;
    if (_touchEnabled) {
        setTouchEnabled(false);
        setTouchEnabled(true);
    }
}

void CCLayer::onEnter() {
    if (_touchEnabled) registerWithTouchDispatcher();
    CCNode::onEnter();
}

void CCLayer::onEnterTransitionDidFinish() {
    if (_accelerometerEnabled) platform::Accelerometer::sharedAccelerometer()->setDelegate(this);
    CCNode::onEnterTransitionDidFinish();
}

void CCLayer::onExit() {
    if (_touchEnabled) {
        if (CCTouchDispatcher* dispatcher = touchDispatcher()) dispatcher->removeDelegate(this);
    }
    if (_accelerometerEnabled) {
        platform::Accelerometer* accelerometer = platform::Accelerometer::sharedAccelerometer();
        // Only our own registration: another layer may have taken the delegate since.
        if (accelerometer->delegate() == this) accelerometer->setDelegate(nullptr);
    }
    CCNode::onExit();
}

bool CCLayer::ccTouchBegan(platform::Touch*, platform::Event*) {
    return true;
}

// ---- CCLayerRGBA ----

bool CCLayerRGBA::init() {
    if (!CCLayer::init()) return false;
    _displayedOpacity = _realOpacity = 255;
    _displayedColor = _realColor = ccWHITE;
    setCascadeOpacityEnabled(false);
    setCascadeColorEnabled(false);
    return true;
}

platform::Ref<CCLayerRGBA> CCLayerRGBA::node() {
    return makeNode<CCLayerRGBA>();
}

// ---- CCLayerColor ----

bool CCLayerColor::init() {
    CGSize s = CCDirector::sharedDirector()->winSize();
    return initWithColor(ccc4(0, 0, 0, 0), static_cast<float>(s.width), static_cast<float>(s.height));
}

bool CCLayerColor::initWithColor(_ccColor4B color, float width, float height) {
    if (!CCLayerRGBA::init()) return false;
    _blendFunc = {GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA};
    _displayedColor = _realColor = ccc3(color.r, color.g, color.b);
    _displayedOpacity = _realOpacity = color.a;
    for (_ccVertex2F& v : _squareVertices)
        v = {0, 0};
    updateColor();
    setContentSize(CGSizeMake(width, height));
    setShaderProgram(CCShaderCache::sharedShaderCache()->programForKey(kCCShader_PositionColor));
    return true;
}

bool CCLayerColor::initWithColor(_ccColor4B color) {
    CGSize s = CCDirector::sharedDirector()->winSize();
    return initWithColor(color, static_cast<float>(s.width), static_cast<float>(s.height));
}

platform::Ref<CCLayerColor> CCLayerColor::layerWithColor(_ccColor4B color, float width, float height) {
    auto layer = platform::make<CCLayerColor>();
    return layer->initWithColor(color, width, height) ? layer : nullptr;
}

platform::Ref<CCLayerColor> CCLayerColor::layerWithColor(_ccColor4B color) {
    auto layer = platform::make<CCLayerColor>();
    return layer->initWithColor(color) ? layer : nullptr;
}

platform::Ref<CCLayerColor> CCLayerColor::node() {
    return makeNode<CCLayerColor>();
}

void CCLayerColor::setContentSize(CGSize size) {
    _squareVertices[1].x = static_cast<float>(size.width);
    _squareVertices[2].y = static_cast<float>(size.height);
    _squareVertices[3].x = static_cast<float>(size.width);
    _squareVertices[3].y = static_cast<float>(size.height);
    CCLayerRGBA::setContentSize(size);
}

void CCLayerColor::changeWidth(float width, float height) {
    setContentSize(CGSizeMake(width, height));
}

void CCLayerColor::changeWidth(float width) {
    setContentSize(CGSizeMake(width, _contentSize.height));
}

void CCLayerColor::changeHeight(float height) {
    setContentSize(CGSizeMake(_contentSize.width, height));
}

void CCLayerColor::updateColor() {
    for (_ccColor4F& c : _squareColors) {
        c.r = _displayedColor.r / 255.0f;
        c.g = _displayedColor.g / 255.0f;
        c.b = _displayedColor.b / 255.0f;
        c.a = _displayedOpacity / 255.0f;
    }
}

void CCLayerColor::draw() {
    CCGLProgram* program = shaderProgram();
    if (!program) return;
    glCacheEnableServerState(_glServerState);
    program->use();
    program->setUniformsForBuiltins();

    glCacheEnableVertexAttribs(kCCVertexAttribFlag_Position | kCCVertexAttribFlag_Color);
    // Client-side arrays: no buffer object may be bound for these pointers to mean memory.
    glCheck(glVertexAttribPointer(kCCVertexAttrib_Position, 2, GL_FLOAT, GL_FALSE, 0, _squareVertices));
    glCheck(glVertexAttribPointer(kCCVertexAttrib_Color, 4, GL_FLOAT, GL_FALSE, 0, _squareColors));

    glCacheBlendFunc(_blendFunc.src, _blendFunc.dst);
    glCheck(glDrawArrays(GL_TRIANGLE_STRIP, 0, 4));
    ++drawCallCounter;
}

void CCLayerColor::setColor(_ccColor3B color) {
    CCLayerRGBA::setColor(color);
    updateColor();
}

void CCLayerColor::setOpacity(std::uint8_t opacity) {
    CCLayerRGBA::setOpacity(opacity);
    updateColor();
}

void CCLayerColor::updateDisplayedColor(_ccColor3B parentColor) {
    CCLayerRGBA::updateDisplayedColor(parentColor);
    updateColor();
}

void CCLayerColor::updateDisplayedOpacity(std::uint8_t parentOpacity) {
    CCLayerRGBA::updateDisplayedOpacity(parentOpacity);
    updateColor();
}

// ---- CCLayerGradient ----

bool CCLayerGradient::init() {
    return initWithColor(ccc4(0, 0, 0, 255), ccc4(0, 0, 0, 255));
}

bool CCLayerGradient::initWithColor(_ccColor4B start, _ccColor4B end) {
    return initWithColor(start, end, CGPointMake(0, -1));
}

bool CCLayerGradient::initWithColor(_ccColor4B start, _ccColor4B end, CGPoint vector) {
    _endColor = ccc3(end.r, end.g, end.b);
    _endOpacity = end.a;
    _startOpacity = start.a;
    _vector = vector;
    _compressedInterpolation = true;
    return CCLayerColor::initWithColor(ccc4(start.r, start.g, start.b, 255));
}

platform::Ref<CCLayerGradient> CCLayerGradient::layerWithColor(_ccColor4B start, _ccColor4B end) {
    auto layer = platform::make<CCLayerGradient>();
    return layer->initWithColor(start, end) ? layer : nullptr;
}

platform::Ref<CCLayerGradient> CCLayerGradient::layerWithColor(_ccColor4B start, _ccColor4B end,
                                                               CGPoint vector) {
    auto layer = platform::make<CCLayerGradient>();
    return layer->initWithColor(start, end, vector) ? layer : nullptr;
}

platform::Ref<CCLayerGradient> CCLayerGradient::node() {
    return makeNode<CCLayerGradient>();
}

void CCLayerGradient::updateColor() {
    CCLayerColor::updateColor();

    float h = pointLength(_vector);
    if (h == 0) return;

    const float c = std::sqrt(2.0f);
    float ux = static_cast<float>(_vector.x) / h;
    float uy = static_cast<float>(_vector.y) / h;
    // Stretch the unit vector so that its larger component reaches the corners: a diagonal
    // then runs from full start colour in one corner to full end colour in the other.
    if (_compressedInterpolation) {
        float k = c / (std::fabs(ux) + std::fabs(uy));
        ux *= k;
        uy *= k;
    }

    float opacityf = _displayedOpacity / 255.0f;
    _ccColor4F S{_displayedColor.r / 255.0f, _displayedColor.g / 255.0f, _displayedColor.b / 255.0f,
                 _startOpacity * opacityf / 255.0f};
    _ccColor4F E{_endColor.r / 255.0f, _endColor.g / 255.0f, _endColor.b / 255.0f,
                 _endOpacity * opacityf / 255.0f};

    const float t[4] = {
        (c + ux + uy) / (2.0f * c),
        (c - ux + uy) / (2.0f * c),
        (c + ux - uy) / (2.0f * c),
        (c - ux - uy) / (2.0f * c),
    };
    for (int i = 0; i < 4; ++i) {
        _squareColors[i].r = E.r + (S.r - E.r) * t[i];
        _squareColors[i].g = E.g + (S.g - E.g) * t[i];
        _squareColors[i].b = E.b + (S.b - E.b) * t[i];
        _squareColors[i].a = E.a + (S.a - E.a) * t[i];
    }
}

void CCLayerGradient::setEndColor(_ccColor3B color) {
    _endColor = color;
    updateColor();
}

void CCLayerGradient::setStartOpacity(std::uint8_t opacity) {
    _startOpacity = opacity;
    updateColor();
}

void CCLayerGradient::setEndOpacity(std::uint8_t opacity) {
    _endOpacity = opacity;
    updateColor();
}

void CCLayerGradient::setVector(CGPoint vector) {
    _vector = vector;
    updateColor();
}

void CCLayerGradient::setCompressedInterpolation(bool compress) {
    _compressedInterpolation = compress;
    updateColor();
}

// ---- CCLayerMultiplex ----

bool CCLayerMultiplex::initWithArray(const std::vector<platform::Ref<CCLayer>>& layers) {
    if (layers.empty() || !layers.front()) return false;
    if (!CCLayer::init()) return false;
    _layers = layers;
    _enabledLayer = 0;
    addChild(_layers[0].get());
    return true;
}

bool CCLayerMultiplex::initWithLayers(std::initializer_list<CCLayer*> layers) {
    std::vector<platform::Ref<CCLayer>> list;
    list.reserve(5);
    for (CCLayer* layer : layers)
        list.emplace_back(layer);
    return initWithArray(list);
}

platform::Ref<CCLayerMultiplex>
CCLayerMultiplex::layerWithArray(const std::vector<platform::Ref<CCLayer>>& layers) {
    auto multiplex = platform::make<CCLayerMultiplex>();
    return multiplex->initWithArray(layers) ? multiplex : nullptr;
}

platform::Ref<CCLayerMultiplex> CCLayerMultiplex::layerWithLayers(std::initializer_list<CCLayer*> layers) {
    auto multiplex = platform::make<CCLayerMultiplex>();
    return multiplex->initWithLayers(layers) ? multiplex : nullptr;
}

void CCLayerMultiplex::switchTo(std::uint32_t n) {
    CCAssert(n < _layers.size(), "CCLayerMultiplex: switchTo index out of range");
    CCAssert(_layers[n], "CCLayerMultiplex: switchTo a layer that was released");
    if (CCLayer* shown = _layers[_enabledLayer].get()) removeChild(shown, true);
    _enabledLayer = n;
    addChild(_layers[n].get());
}

void CCLayerMultiplex::switchToAndReleaseMe(std::uint32_t n) {
    CCAssert(n < _layers.size(), "CCLayerMultiplex: switchTo index out of range");
    CCAssert(_layers[n] && n != _enabledLayer, "CCLayerMultiplex: switchTo a layer that was released");
    // Held until it is off the stage: the list lets go of it first.
    platform::Ref<CCLayer> shown = std::move(_layers[_enabledLayer]);
    if (shown) removeChild(shown.get(), true);
    _enabledLayer = n;
    addChild(_layers[n].get());
}
