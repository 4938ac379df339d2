#include "graphics/CCTextureAtlas.h"

#include "core/CCConfiguration.h"
#include "core/CCDirector.h"
#include "core/ccGLStateCache.h"
#include "graphics/CCTexture2D.h"
#include "graphics/CCTextureCache.h"
#include "platform/Exception.h"
#include "platform/Format.h"
#include "platform/GLCheck.h"
#include "platform/GLContext.h"
#include "platform/GLExtensions.h"
#include "platform/Log.h"
#include "platform/Thread.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr std::uint64_t kQuadBytes = sizeof(_ccV3F_C4B_T2F_Quad);
constexpr std::uint64_t kIndexBytesPerQuad = 6 * sizeof(GLushort);

// a + b <= limit without wrapping.
bool fits(std::uint64_t a, std::uint64_t b, std::uint64_t limit) {
    return a <= limit && b <= limit - a;
}

// The attribute pointers into the bound vertex buffer, for the array object or a plain draw.
void setVertexPointers() {
    glCheck(glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, sizeof(_ccV3F_C4B_T2F),
                                  reinterpret_cast<const void*>(offsetof(_ccV3F_C4B_T2F, vertices))));
    glCheck(glVertexAttribPointer(1, 4, GL_UNSIGNED_BYTE, GL_TRUE, sizeof(_ccV3F_C4B_T2F),
                                  reinterpret_cast<const void*>(offsetof(_ccV3F_C4B_T2F, colors))));
    glCheck(glVertexAttribPointer(2, 2, GL_FLOAT, GL_FALSE, sizeof(_ccV3F_C4B_T2F),
                                  reinterpret_cast<const void*>(offsetof(_ccV3F_C4B_T2F, texCoords))));
}

platform::Thread* glThread() {
    platform::Thread* running = CCDirector::sharedDirector()->runningThread();
    return running ? running : platform::Thread::mainThread();
}

} // namespace

platform::Ref<CCTextureAtlas> CCTextureAtlas::textureAtlasWithFile(const std::string& file,
                                                                   std::uint64_t capacity) {
    auto atlas = platform::make<CCTextureAtlas>();
    return atlas->initWithFile(file, capacity) ? atlas : nullptr;
}

platform::Ref<CCTextureAtlas> CCTextureAtlas::textureAtlasWithTexture(CCTexture2D* texture,
                                                                      std::uint64_t capacity) {
    auto atlas = platform::make<CCTextureAtlas>();
    return atlas->initWithTexture(texture, capacity) ? atlas : nullptr;
}

CCTextureAtlas::~CCTextureAtlas() {
    std::free(_quads);
    std::free(_indices);
    releaseGL();
}

void CCTextureAtlas::releaseGL() {
    glCacheDeleteObjects(platform::GLObjectKind::Buffer, 2, _buffersVBO, _home);
    _vertexArray.release();
    _buffersVBO[0] = _buffersVBO[1] = 0;
}

bool CCTextureAtlas::initWithFile(const std::string& file, std::uint64_t capacity) {
    platform::Ref<CCTexture2D> texture = CCTextureCache::sharedTextureCache()->addImage(file);
    if (!texture) {
        CCLOG("engine: Could not open file: %s", file);
        return false;
    }
    return initWithTexture(texture.get(), capacity);
}

bool CCTextureAtlas::initWithTexture(CCTexture2D* texture, std::uint64_t capacity) {
    if (capacity > kMaxCapacity) {
        CCLOG("engine: CCTextureAtlas: capacity %lu is more than 16-bit indices can address", capacity);
        return false;
    }
    _capacity = capacity;
    _totalQuads = 0;
    _texture = texture;
    // At least one byte each, so that an empty atlas still has arrays to hand out.
    _quads = static_cast<_ccV3F_C4B_T2F_Quad*>(std::calloc(capacity ? capacity : 1, kQuadBytes));
    _indices = static_cast<GLushort*>(std::calloc(capacity ? capacity : 1, kIndexBytesPerQuad));
    if (!_quads || !_indices) {
        CCLOG("engine: CCTextureAtlas: not enough memory");
        std::free(_quads);
        std::free(_indices);
        _quads = nullptr;
        _indices = nullptr;
        _capacity = 0;
        return false;
    }
    setupIndices();
    setupVBOandVAO();
    _dirty = true;
    return true;
}

std::string CCTextureAtlas::description() const {
    return platform::format("<%s = %p | totalQuads =  %lu>", className(), static_cast<const void*>(this),
                            _totalQuads);
}

void CCTextureAtlas::setupIndices() {
    if (!_indices) return;
    for (std::uint64_t i = 0; i < _capacity; ++i) {
        GLushort base = static_cast<GLushort>(i * 4);
        GLushort* idx = _indices + i * 6;
        idx[0] = base;
        idx[1] = static_cast<GLushort>(base + 1);
        idx[2] = static_cast<GLushort>(base + 2);
        idx[3] = static_cast<GLushort>(base + 3);
        idx[4] = static_cast<GLushort>(base + 2);
        idx[5] = static_cast<GLushort>(base + 1);
    }
}

void CCTextureAtlas::setupVBOandVAO() {
    platform::Thread* target = glThread();
    // Array objects belong to one context: make them where the drawing happens.
    if (target == platform::Thread::currentThread() ||
        CCConfiguration::sharedConfiguration()->supportsShareableVAO()) {
        createBuffers();
        return;
    }
    if (!target->performBlock([this] { createBuffers(); }, true))
        CCLOG("engine: CCTextureAtlas: the director's thread did not run the buffer set-up");
}

void CCTextureAtlas::createBuffers() {
    glCacheDeleteWaitingFirst();
    bool recording = _vertexArray.create();
    glCheck(glGenBuffers(2, _buffersVBO));
    _home = platform::GLHome::current();

    glCheck(glBindBuffer(GL_ARRAY_BUFFER, _buffersVBO[0]));
    glCheck(glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(kQuadBytes * _capacity), _quads,
                         GL_DYNAMIC_DRAW));
    if (recording) {
        glCheck(glEnableVertexAttribArray(0));
        glCheck(glEnableVertexAttribArray(1));
        glCheck(glEnableVertexAttribArray(2));
        setVertexPointers();
    }
    glCheck(glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, _buffersVBO[1]));
    glCheck(glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(kIndexBytesPerQuad * _capacity),
                         _indices, GL_STATIC_DRAW));
    if (recording) glCacheBindVAO(0);
    glCheck(glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0));
    glCheck(glBindBuffer(GL_ARRAY_BUFFER, 0));
    _uploadedQuads = _capacity;
}

void CCTextureAtlas::mapBuffers() {
    if (!_buffersVBO[0]) return;
    // The index buffer binding is part of the array object: keep it out of the way.
    glCacheBindVAO(0);
    glCheck(glBindBuffer(GL_ARRAY_BUFFER, _buffersVBO[0]));
    glCheck(glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(kQuadBytes * _capacity), _quads,
                         GL_DYNAMIC_DRAW));
    glCheck(glBindBuffer(GL_ARRAY_BUFFER, 0));
    glCheck(glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, _buffersVBO[1]));
    glCheck(glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(kIndexBytesPerQuad * _capacity),
                         _indices, GL_STATIC_DRAW));
    glCheck(glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0));
    _uploadedQuads = _capacity;
}

_ccV3F_C4B_T2F_Quad* CCTextureAtlas::quads() {
    _dirty = true;
    return _quads;
}

void CCTextureAtlas::updateQuad(const _ccV3F_C4B_T2F_Quad* quad, std::uint64_t index) {
    CCAssert(quad && index < _capacity, "updateQuadWithTexture: Invalid index");
    _totalQuads = std::max(index + 1, _totalQuads);
    _quads[index] = *quad;
    _dirty = true;
}

void CCTextureAtlas::insertQuad(const _ccV3F_C4B_T2F_Quad* quad, std::uint64_t index) {
    CCAssert(quad && index <= _totalQuads, "insertQuadWithTexture: Invalid index");
    CCAssert(_totalQuads < _capacity, "insertQuadWithTexture: Invalid totalQuads");
    std::memmove(_quads + index + 1, _quads + index, (_totalQuads - index) * kQuadBytes);
    ++_totalQuads;
    _quads[index] = *quad;
    _dirty = true;
}

void CCTextureAtlas::insertQuads(const _ccV3F_C4B_T2F_Quad* quads, std::uint64_t index,
                                 std::uint64_t amount) {
    CCAssert(index <= _totalQuads, "insertQuadWithTexture: Invalid index");
    CCAssert(fits(_totalQuads, amount, _capacity), "insertQuadWithTexture: Invalid totalQuads");
    if (amount == 0) return;
    CCAssert(quads != nullptr, "insertQuads: no quads");
    std::memmove(_quads + index + amount, _quads + index, (_totalQuads - index) * kQuadBytes);
    std::memcpy(_quads + index, quads, amount * kQuadBytes);
    _totalQuads += amount;
    _dirty = true;
}

void CCTextureAtlas::insertQuadFromIndex(std::uint64_t oldIndex, std::uint64_t newIndex) {
    CCAssert(newIndex < _totalQuads, "insertQuadFromIndex:atIndex: Invalid index");
    CCAssert(oldIndex < _totalQuads, "insertQuadFromIndex:atIndex: Invalid index");
    if (oldIndex == newIndex) return;
    _ccV3F_C4B_T2F_Quad moved = _quads[oldIndex];
    if (oldIndex > newIndex)
        std::memmove(_quads + newIndex + 1, _quads + newIndex, (oldIndex - newIndex) * kQuadBytes);
    else
        std::memmove(_quads + oldIndex, _quads + oldIndex + 1, (newIndex - oldIndex) * kQuadBytes);
    _quads[newIndex] = moved;
    _dirty = true;
}

void CCTextureAtlas::moveQuadsFromIndex(std::uint64_t oldIndex, std::uint64_t amount,
                                        std::uint64_t newIndex) {
    CCAssert(fits(newIndex, amount, _totalQuads), "insertQuadFromIndex:atIndex: Invalid index");
    CCAssert(fits(oldIndex, amount, _totalQuads), "insertQuadFromIndex:atIndex: Invalid index");
    if (oldIndex == newIndex || amount == 0) return;
    std::vector<_ccV3F_C4B_T2F_Quad> block(_quads + oldIndex, _quads + oldIndex + amount);
    if (newIndex > oldIndex)
        std::memmove(_quads + oldIndex, _quads + oldIndex + amount, (newIndex - oldIndex) * kQuadBytes);
    else
        std::memmove(_quads + newIndex + amount, _quads + newIndex, (oldIndex - newIndex) * kQuadBytes);
    std::memcpy(_quads + newIndex, block.data(), amount * kQuadBytes);
    _dirty = true;
}

void CCTextureAtlas::removeQuadAtIndex(std::uint64_t index) {
    CCAssert(index < _totalQuads, "removeQuadAtIndex: Invalid index");
    std::memmove(_quads + index, _quads + index + 1, (_totalQuads - index - 1) * kQuadBytes);
    --_totalQuads;
    _dirty = true;
}

void CCTextureAtlas::removeQuadsAtIndex(std::uint64_t index, std::uint64_t amount) {
    CCAssert(fits(index, amount, _totalQuads), "removeQuadAtIndex: index + amount out of bounds");
    std::memmove(_quads + index, _quads + index + amount, (_totalQuads - index - amount) * kQuadBytes);
    _totalQuads -= amount;
    _dirty = true;
}

void CCTextureAtlas::removeAllQuads() {
    _totalQuads = 0;
}

bool CCTextureAtlas::resizeCapacity(std::uint64_t newCapacity) {
    if (newCapacity == _capacity) return true;
    if (newCapacity > kMaxCapacity) {
        CCLOG("engine: CCTextureAtlas: capacity %lu is more than 16-bit indices can address", newCapacity);
        return false;
    }
    std::uint64_t oldCapacity = _capacity;
    std::uint64_t slots = newCapacity ? newCapacity : 1;
    auto* quads = static_cast<_ccV3F_C4B_T2F_Quad*>(std::realloc(_quads, slots * kQuadBytes));
    if (quads) _quads = quads;
    auto* indices =
        quads ? static_cast<GLushort*>(std::realloc(_indices, slots * kIndexBytesPerQuad)) : nullptr;
    if (indices) _indices = indices;
    if (!quads || !indices) {
        CCLOG("engine: CCTextureAtlas: not enough memory");
        std::free(_quads);
        std::free(_indices);
        _quads = nullptr;
        _indices = nullptr;
        _capacity = _totalQuads = 0;
        return false;
    }
    _totalQuads = std::min(_totalQuads, newCapacity);
    _capacity = newCapacity;
    if (newCapacity > oldCapacity)
        std::memset(static_cast<void*>(_quads + oldCapacity), 0, (newCapacity - oldCapacity) * kQuadBytes);
    setupIndices();
    mapBuffers();
    _dirty = true;
    return true;
}

void CCTextureAtlas::fillWithEmptyQuadsFromIndex(std::uint64_t index, std::uint64_t amount) {
    CCAssert(fits(index, amount, _capacity), "fillWithEmptyQuadsFromIndex: out of bounds");
    std::memset(static_cast<void*>(_quads + index), 0, amount * kQuadBytes);
}

void CCTextureAtlas::increaseTotalQuadsWith(std::uint64_t amount) {
    CCAssert(fits(_totalQuads, amount, _capacity), "increaseTotalQuadsWith: more quads than the capacity");
    _totalQuads += amount;
}

void CCTextureAtlas::moveQuadsFromIndex(std::uint64_t oldIndex, std::uint64_t newIndex) {
    CCAssert(oldIndex <= _totalQuads, "moveQuadsFromIndex:to: Invalid index");
    std::uint64_t amount = _totalQuads - oldIndex;
    CCAssert(fits(newIndex, amount, _capacity), "moveQuadsFromIndex:to: move is out of bounds");
    std::memmove(_quads + newIndex, _quads + oldIndex, amount * kQuadBytes);
}

void CCTextureAtlas::drawQuads() {
    drawNumberOfQuads(_totalQuads, 0);
}

void CCTextureAtlas::drawNumberOfQuads(std::uint64_t n) {
    drawNumberOfQuads(n, 0);
}

void CCTextureAtlas::uploadQuads(std::uint64_t count) {
    // Nothing to copy; an empty store (capacity 0) cannot even be mapped.
    if (count == 0) {
        _uploadedQuads = 0;
        return;
    }
    const platform::GLExtensions& ext = platform::glExtensions();
    glCheck(glBindBuffer(GL_ARRAY_BUFFER, _buffersVBO[0]));
    // Orphaning the whole store lets the driver hand out fresh memory instead of waiting for
    // the frame that still reads the old one.
    glCheck(glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(kQuadBytes * _capacity), nullptr,
                         GL_DYNAMIC_DRAW));
    void* mapped = nullptr;
    if (ext.mapBuffer && ext.glMapBufferOES) {
        mapped = ext.glMapBufferOES(GL_ARRAY_BUFFER, GL_WRITE_ONLY_OES);
        CHECK_GL_ERROR_DEBUG();
    }
    if (mapped) {
        std::memcpy(mapped, _quads, count * kQuadBytes);
        glCheck(ext.glUnmapBufferOES(GL_ARRAY_BUFFER));
    } else {
        glCheck(glBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(count * kQuadBytes), _quads));
    }
    glCheck(glBindBuffer(GL_ARRAY_BUFFER, 0));
    _uploadedQuads = count;
}

void CCTextureAtlas::drawNumberOfQuads(std::uint64_t n, std::uint64_t start) {
    CCAssert(fits(start, n, _capacity), "drawNumberOfQuads:fromIndex: quads beyond the capacity");
    if (!_buffersVBO[0]) return;

    glCacheBindTexture2D(_texture ? _texture->name() : 0);
    if (_dirty || start + n > _uploadedQuads) {
        uploadQuads(start + n);
        _dirty = false;
    }

    bool withArrayObject = _vertexArray.bind();
    if (!withArrayObject) {
        // No array object for this context: point the attributes at the buffer for every draw.
        glCacheEnableVertexAttribs(kCCVertexAttribFlag_PosColorTex);
        glCheck(glBindBuffer(GL_ARRAY_BUFFER, _buffersVBO[0]));
        setVertexPointers();
        glCheck(glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, _buffersVBO[1]));
    }
    glCheck(glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(n * 6), GL_UNSIGNED_SHORT,
                           reinterpret_cast<const void*>(start * kIndexBytesPerQuad)));
    if (!withArrayObject) {
        glCheck(glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0));
        glCheck(glBindBuffer(GL_ARRAY_BUFFER, 0));
    }
    ++drawCallCounter;
}

void CCTextureAtlas::setTexture(CCTexture2D* texture) {
    _texture = texture;
}

void CCTextureAtlas::setQuads(_ccV3F_C4B_T2F_Quad* quads) {
    _quads = quads;
    _dirty = true;
}
