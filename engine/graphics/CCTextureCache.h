// The process-wide store of loaded textures, keyed by the standardised file path, so that every
// sprite, label and atlas naming one file shares one GL texture. Files load synchronously on the
// caller's context or in the background on a loader context that shares the view's objects.
//
// Threads: the texture dictionary belongs to the director's thread (the main thread). The
// loader thread never touches it: it only decodes and uploads, with its own context made
// current and the texture settings taken when the load was queued (no class-wide value, no
// shared cache), and hands the new texture back to the director's thread, which stores it and
// calls back. So the dictionary needs no queue or lock of its own; the loading queue is the one
// serial queue.
#pragma once

#include "platform/Object.h"
#include "platform/Selector.h"

#include <functional>
#include <map>
#include <string>

class CCTexture2D;

namespace platform {
class GLContext;
class Image;
class SerialQueue;
} // namespace platform

class CCTextureCache : public platform::Object {
public:
    // Made on first use; the view's context (or the calling thread's) must exist by then,
    // because the loader context joins its share group.
    static CCTextureCache* sharedTextureCache();
    // Drops the shared instance; loads still running keep it alive until their callbacks ran.
    static void purgeSharedTextureCache();
    // The loader context of the live cache, null when there is none.
    static platform::GLContext* auxiliaryContext();

    CCTextureCache() = default;
    ~CCTextureCache() override;
    // Makes the loading queue and the loader context in the share group of the director's view
    // (of the current context when there is no view yet).
    virtual bool init();
    std::string description() const override;

    // Loads in the background; the target receives the texture, or null when the file could not
    // be loaded or the director's view moved to another share group meanwhile, on the director's
    // thread. A cached texture is handed over at once. The target is retained until then. The
    // texture gets the default pixel formats of the call's moment.
    void addImageAsync(const std::string& path, platform::Object* target,
                       platform::Selector<void(CCTexture2D*)> selector);
    // The same with a block.
    void addImageAsync(const std::string& path, std::function<void(CCTexture2D*)> block);
    // The cached texture, or a new one loaded now on the caller's context; null when the file
    // cannot be found or decoded.
    platform::Ref<CCTexture2D> addImage(const std::string& path);
    // A texture from an image; cached under the key unless the key is empty.
    platform::Ref<CCTexture2D> addCGImage(platform::Image* image, const std::string& key);

    void removeAllTextures();
    // Drops every texture nobody but the cache holds.
    void removeUnusedTextures();
    // Drops every key the texture is stored under.
    void removeTexture(CCTexture2D* texture);
    void removeTextureForKey(const std::string& key);
    // The cache keeps it; null when the key is not cached.
    CCTexture2D* textureForKey(const std::string& key) const;

    // A PVR file (".pvr", ".pvr.gz", ".pvr.ccz"); null when it cannot be loaded.
    platform::Ref<CCTexture2D> addPVRImage(const std::string& path);

    // Logs one line per texture and a total.
    void dumpCachedTextureInfo() const;

    // Number of textures held.
    std::size_t count() const { return _textures.size(); }

private:
    struct Job;
    void enqueue(const std::string& path, std::function<void(CCTexture2D*)> completion);
    // Runs on the loader thread.
    static void load(Job& job);
    // Back on the director's thread: stores the texture (an entry made meanwhile wins) and
    // calls back; with nil where the texture's share group is no longer the director's.
    void finish(const std::string& key, platform::Ref<CCTexture2D> texture,
                const std::function<void(CCTexture2D*)>& completion);

    std::map<std::string, platform::Ref<CCTexture2D>> _textures;
    platform::Ref<platform::SerialQueue> _loadingQueue;
    platform::Ref<platform::GLContext> _auxContext;
};
