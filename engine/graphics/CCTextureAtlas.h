// An array of textured quads over one texture, with its 16-bit index array, drawn from one
// vertex buffer through one vertex array object. Quads are edited in client memory and
// uploaded only when they changed.
#pragma once

#include "core/CCVertexArray.h"
#include "core/ccTypes.h"
#include "platform/Object.h"

#include <GLES2/gl2.h>

#include <cstdint>
#include <string>

class CCTexture2D;

class CCTextureAtlas : public platform::Object {
public:
    // 16-bit indices reach vertex 65535, the last vertex of quad 16383.
    static constexpr std::uint64_t kMaxCapacity = 16384;

    // Null when the texture cannot be loaded or the capacity is above kMaxCapacity.
    static platform::Ref<CCTextureAtlas> textureAtlasWithFile(const std::string& file,
                                                              std::uint64_t capacity);
    static platform::Ref<CCTextureAtlas> textureAtlasWithTexture(CCTexture2D* texture,
                                                                 std::uint64_t capacity);

    CCTextureAtlas() = default;
    // Frees the arrays and deletes the buffers and the vertex array object in the current context.
    ~CCTextureAtlas() override;

    // The texture comes from the shared texture cache; false when it cannot be loaded.
    virtual bool initWithFile(const std::string& file, std::uint64_t capacity);
    // Retains the texture; false when the capacity is above kMaxCapacity.
    virtual bool initWithTexture(CCTexture2D* texture, std::uint64_t capacity);
    std::string description() const override;

    // Indices of every quad up to the capacity: 4i, 4i+1, 4i+2, 4i+3, 4i+2, 4i+1.
    void setupIndices();
    // Makes the buffers and the vertex array object on the director's thread (waiting for it
    // when called from another thread).
    void setupVBOandVAO();
    // Uploads every quad and index of the capacity again (after a resize).
    void mapBuffers();

    // The quad array, for writing through: marks the atlas dirty.
    _ccV3F_C4B_T2F_Quad* quads();
    // Copies the quad to the index (below the capacity); the total grows to cover it.
    void updateQuad(const _ccV3F_C4B_T2F_Quad* quad, std::uint64_t index);
    // Index at most the total; the quads from it move up by one.
    void insertQuad(const _ccV3F_C4B_T2F_Quad* quad, std::uint64_t index);
    // Copies `amount` quads from the caller's array in at the index (at most the total).
    void insertQuads(const _ccV3F_C4B_T2F_Quad* quads, std::uint64_t index, std::uint64_t amount);
    // Takes the quad at oldIndex out and puts it at newIndex; both below the total.
    void insertQuadFromIndex(std::uint64_t oldIndex, std::uint64_t newIndex);
    // Moves the block of `amount` quads at oldIndex so that it starts at newIndex, shifting the
    // quads between; both blocks lie below the total.
    void moveQuadsFromIndex(std::uint64_t oldIndex, std::uint64_t amount, std::uint64_t newIndex);
    void removeQuadAtIndex(std::uint64_t index);
    void removeQuadsAtIndex(std::uint64_t index, std::uint64_t amount);
    // The total back to 0; the quads stay as they are.
    void removeAllQuads();
    // Grows or shrinks the arrays; new quads are zeroed and the total is cut to the capacity.
    // NO, with the atlas unchanged, for a capacity above kMaxCapacity; NO, with the atlas
    // emptied, when memory runs out.
    bool resizeCapacity(std::uint64_t newCapacity);
    // Zeroes `amount` quads from the index (the total stays).
    void fillWithEmptyQuadsFromIndex(std::uint64_t index, std::uint64_t amount);
    // Counts `amount` more quads as in use (they must fit in the capacity).
    void increaseTotalQuadsWith(std::uint64_t amount);
    // Moves the quads from oldIndex to the end of the total so that they start at newIndex.
    void moveQuadsFromIndex(std::uint64_t oldIndex, std::uint64_t newIndex);

    // One indexed draw call for the quads in use. The caller has set up the program, its
    // uniforms and blending.
    void drawQuads();
    void drawNumberOfQuads(std::uint64_t n);
    // n quads from `start`; start + n must not pass the capacity.
    void drawNumberOfQuads(std::uint64_t n, std::uint64_t start);

    std::uint64_t totalQuads() const { return _totalQuads; }
    std::uint64_t capacity() const { return _capacity; }
    CCTexture2D* texture() const { return _texture.get(); }
    void setTexture(CCTexture2D* texture);
    // Hands the atlas another array of `capacity` quads from malloc, which it then owns and
    // frees; the previous array is neither copied nor freed (the caller keeps it).
    void setQuads(_ccV3F_C4B_T2F_Quad* quads);
    // The index array (capacity x 6 entries).
    const GLushort* indices() const { return _indices; }
    // GL names, for tests and tools: vertex buffer, index buffer, vertex array object.
    GLuint vertexBuffer() const { return _buffersVBO[0]; }
    GLuint indexBuffer() const { return _buffersVBO[1]; }
    GLuint VAOname() const { return _vertexArray.name(); }
    bool isDirty() const { return _dirty; }
    void setDirty(bool dirty) { _dirty = dirty; }

private:
    // The GL part of setupVBOandVAO, run on the GL thread.
    void createBuffers();
    // Copies quads [0, count) into the orphaned vertex buffer.
    void uploadQuads(std::uint64_t count);
    void releaseGL();

    std::uint64_t _totalQuads = 0;
    std::uint64_t _capacity = 0;
    _ccV3F_C4B_T2F_Quad* _quads = nullptr; // owned (malloc)
    GLushort* _indices = nullptr;          // owned (malloc)
    platform::Ref<CCTexture2D> _texture;
    GLuint _buffersVBO[2] = {0, 0}; // vertex buffer, index buffer
    platform::GLHome _home;         // where the buffers were made
    bool _dirty = false;
    // The array object of the context that made the buffers; other contexts draw without it.
    CCVertexArray _vertexArray;
    // Leading quads of the vertex buffer that hold uploaded data: orphaning leaves the rest
    // undefined, so a later draw that reaches past them uploads again.
    std::uint64_t _uploadedQuads = 0;
};
