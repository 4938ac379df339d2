// Grids: a node's picture captured into a texture (the grabber) and drawn again over a mesh
// that the grid effects move. CCGrid3D is one mesh of shared points, for effects that bend the
// picture; CCTiledGrid3D is a separate quad per tile, for effects that pull it apart.
#pragma once

#include "core/CCDirector.h"
#include "core/CCGLProgram.h"
#include "core/CCGLView.h"
#include "core/CCGridProtocol.h"
#include "core/CCMatrix.h"
#include "core/ccTypes.h"
#include "graphics/CCClippingNode.h"
#include "graphics/CCTexture2D.h"
#include "platform/Geometry.h"
#include "platform/Object.h"

#include <GLES2/gl2.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class CCNode;

// Makes a texture the colour target of a framebuffer object and switches drawing to it and
// back. Where the view has a stencil, the framebuffer gets the view's depth-stencil format too,
// so that clipping nodes clip in the capture as they do on the view.
class CCGrabber : public platform::Object {
public:
    CCGrabber() = default;
    // Deletes the GL names where they were made (see platform::GLHome).
    ~CCGrabber() override;

    // Generates the framebuffer name.
    bool init();
    // Attaches the texture once, and a depth-stencil buffer of the texture's size where the
    // view has a stencil; throws "Frame Grabber" when the framebuffer is not complete.
    void grab(CCTexture2D* texture);
    // Binds the framebuffer and clears it to transparent black; clipping nodes drawn into it
    // see neither the stencil test nor the layers of those around it. The texture is not used.
    void beforeRender(CCTexture2D* texture);
    // Binds the framebuffer that was bound before and puts the clear colour and the clipping
    // state back.
    void afterRender(CCTexture2D* texture);

private:
    // Gives the bound framebuffer a depth-stencil buffer of the texture's size.
    void attachDepthStencil(CCTexture2D* texture, GLenum format);
    void deleteDepthStencil();

    GLuint _FBO = 0;
    GLint _oldFBO = 0;
    GLfloat oldClearColor_[4] = {0, 0, 0, 0};
    GLuint _depthStencil = 0;
    CCClippingNode::EnclosingStencil _enclosingStencil;
    platform::GLHome _home; // where the names were made
};

// Holds the capture texture and does the capture and the drawing; the mesh belongs to the kind.
class CCGridBase : public CCGridProtocol {
public:
    // New grids of this class; the grid kinds have their own through CCGridFactory.
    static platform::Ref<CCGridBase> gridWithSize(CGSize gridSize);
    static platform::Ref<CCGridBase> gridWithSize(CGSize gridSize, CCTexture2D* texture, bool flipped);

    CCGridBase() = default;
    ~CCGridBase() override;

    // The designated initialiser. False for a size that is not a whole number of cells from 1
    // up to what 16-bit indices can address, or without a texture.
    virtual bool initWithSize(CGSize gridSize, CCTexture2D* texture, bool flipped);
    // A texture of the window's size in pixels, rounded up to powers of two, made for the grid.
    virtual bool initWithSize(CGSize gridSize);
    // "<CCGrid3D = 0x... | Dimensions = 15x10>".
    std::string description() const override;

    bool active() const override { return _active; }
    // Going inactive also re-applies the director's projection, which the capture replaced.
    void setActive(bool active);
    bool isTextureFlipped() const { return _isTextureFlipped; }
    // A change rebuilds the mesh, which drops any distortion.
    void setIsTextureFlipped(bool flipped);

    // Viewport and projection of the window in pixels, model-view identity.
    void set2DProjection();
    void beforeDraw() override;
    // Puts back the viewport and projection in force at beforeDraw (the window's, or those of
    // a render texture being drawn into), then draws the picture over the mesh.
    void afterDraw(CCNode* target) override;
    void abandonDraw() override;
    // These three throw "GridBase" here; the grid kinds implement them.
    virtual void blit();
    virtual void reuse();
    virtual void calculateVertexPoints();

    std::int32_t reuseGrid() const { return _reuseGrid; }
    void setReuseGrid(std::int32_t reuseGrid) { _reuseGrid = reuseGrid; }
    CCTexture2D* texture() const { return _texture.get(); }
    void setTexture(CCTexture2D* texture);
    CCGrabber* grabber() const { return _grabber.get(); }
    void setGrabber(CCGrabber* grabber);
    CGSize gridSize() const { return _gridSize; }
    // The size of one cell, in points.
    CGPoint step() const { return _step; }
    void setStep(CGPoint step) { _step = step; }
    CCGLProgram* shaderProgram() const { return _shaderProgram.get(); }
    void setShaderProgram(CCGLProgram* program);

    // Whether other is of this grid's class or a subclass; see CCGridFactory.
    virtual bool classIncludes(const CCGridBase* other) const { return other != nullptr; }

protected:
    // Back to the viewport, projection and starting model-view in force at beforeDraw.
    void restoreProjection();
    // Whether a mesh of w x h cells fits the kind's 16-bit indices.
    virtual bool fitsIndices(std::uint64_t w, std::uint64_t h) const;
    // Texture coordinates of a point built at (px, py), flipped when the texture is.
    void texCoordsFor(float px, float py, float* uv) const;
    std::uint64_t columns() const { return static_cast<std::uint64_t>(_gridSize.width); }
    std::uint64_t rows() const { return static_cast<std::uint64_t>(_gridSize.height); }

    bool _active = false;
    std::int32_t _reuseGrid = 0;
    CGSize _gridSize = CGSizeZero;
    platform::Ref<CCTexture2D> _texture;
    CGPoint _step = CGPointZero;
    platform::Ref<CCGrabber> _grabber;
    bool _isTextureFlipped = false;
    // Retained, so that purging the shader cache cannot leave the grid drawing with a freed
    // program.
    platform::Ref<CCGLProgram> _shaderProgram;
    ccDirectorProjection _directorProjection = kCCDirectorProjection2D;
    GLint _oldViewport[4] = {0, 0, 0, 0};
    kmMat4 _oldProjection{};
    kmCaptureModelView _outerCaptureModelView;
};

// Gives every grid class its own gridWithSize factories and the class test the grid actions
// use to decide whether a grid may be reused.
template <class Self, class Base> class CCGridFactory : public Base {
public:
    // A new grid of this class with its own capture texture; null when none can be made.
    static platform::Ref<Self> gridWithSize(CGSize gridSize) {
        platform::Ref<Self> grid = platform::make<Self>();
        if (!grid->initWithSize(gridSize)) return nullptr;
        return grid;
    }
    static platform::Ref<Self> gridWithSize(CGSize gridSize, CCTexture2D* texture, bool flipped) {
        platform::Ref<Self> grid = platform::make<Self>();
        if (!grid->initWithSize(gridSize, texture, flipped)) return nullptr;
        return grid;
    }

    // Whether the other grid is of this grid's class or of a subclass of it.
    bool classIncludes(const CCGridBase* other) const override {
        return dynamic_cast<const Self*>(other) != nullptr;
    }
};

// (w+1) x (h+1) shared points; point (i, j) is vertex i*(h+1) + j.
class CCGrid3D : public CCGridFactory<CCGrid3D, CCGridBase> {
public:
    CCGrid3D() = default;

    void blit() override;
    void calculateVertexPoints() override;
    // Positions of grid point (i, j); a point outside the grid reads (0, 0, 0) and is not
    // written.
    _ccVertex3F vertex(CGPoint pos) const;
    _ccVertex3F originalVertex(CGPoint pos) const;
    void setVertex(CGPoint pos, const _ccVertex3F& vertex);
    void reuse() override;
    // Whether the mesh may fold over itself, as the page curl does. Such a mesh is drawn
    // triangle by triangle from far to near on every target, so a fold always covers what lies
    // under it; the depth state is left as the game set it. The mark stays while the mesh is
    // folded, also for the next effect on a reused grid, and goes once the vertices are flat
    // again (drawn flat, a new grid starts without it).
    bool foldsOverItself() const { return _foldsOverItself; }
    void setFoldsOverItself(bool folds) { _foldsOverItself = folds; }

protected:
    bool fitsIndices(std::uint64_t w, std::uint64_t h) const override;
    // The vertex number of a point inside the grid, or -1.
    std::int64_t indexOf(CGPoint pos) const;
    // _indices reordered into _sortedIndices, triangles far to near under the current
    // model-view; triangles at one depth keep their order.
    void sortTrianglesFarToNear();

    std::vector<GLfloat> _texCoordinates;
    std::vector<_ccVertex3F> _vertices;
    std::vector<_ccVertex3F> _originalVertices;
    // The mesh as calculateVertexPoints built it; a reuse does not change it.
    std::vector<_ccVertex3F> _flatVertices;
    std::vector<GLushort> _indices;
    bool _foldsOverItself = false;
    // Kept between frames so that sorting allocates nothing once the grid has drawn.
    std::vector<float> _eyeDepths;
    std::vector<std::pair<float, std::uint32_t>> _triangleDepths;
    std::vector<GLushort> _sortedIndices;
};

// w x h separate quads; tile (x, y) is quad x*h + y.
class CCTiledGrid3D : public CCGridFactory<CCTiledGrid3D, CCGridBase> {
public:
    CCTiledGrid3D() = default;

    void blit() override;
    void calculateVertexPoints() override;
    // A tile outside the grid is not written and reads as a quad of zeros.
    void setTile(CGPoint pos, const _ccQuad3& coords);
    _ccQuad3 originalTile(CGPoint pos) const;
    _ccQuad3 tile(CGPoint pos) const;
    void reuse() override;

protected:
    bool fitsIndices(std::uint64_t w, std::uint64_t h) const override;
    // The quad number of a tile inside the grid, or -1.
    std::int64_t indexOf(CGPoint pos) const;

    std::vector<GLfloat> _texCoordinates;
    std::vector<_ccQuad3> _vertices;
    std::vector<_ccQuad3> _originalVertices;
    std::vector<GLushort> _indices;
};
