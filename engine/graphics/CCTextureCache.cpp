#include "graphics/CCTextureCache.h"

#include "core/CCDirector.h"
#include "core/CCFileUtils.h"
#include "core/CCGLView.h"
#include "core/ccGLStateCache.h"
#include "graphics/CCTexture2D.h"
#include "platform/Exception.h"
#include "platform/GLCheck.h"
#include "platform/GLContext.h"
#include "platform/Image.h"
#include "platform/Log.h"
#include "platform/SerialQueue.h"
#include "platform/Thread.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <memory>

namespace {

platform::Ref<CCTextureCache>& sharedCache() {
    static platform::Ref<CCTextureCache> cache;
    return cache;
}

// The live cache's loader context. Not an owner (the cache holds the context), and trivially
// destroyed, so a cache that outlives it at process exit never touches a dead static.
platform::GLContext*& auxContextGlobal() {
    static platform::GLContext* context = nullptr;
    return context;
}

bool endsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool isPVRPath(const std::string& path) {
    std::string lower = path;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return endsWith(lower, ".pvr") || endsWith(lower, ".pvr.gz") || endsWith(lower, ".pvr.ccz");
}

// Decodes the image file and uploads it on the calling thread's context; null on failure.
platform::Ref<CCTexture2D> textureFromImageFile(const std::string& fullPath, ccResolutionType type) {
    platform::Ref<platform::Image> image = platform::Image::imageWithContentsOfFile(fullPath);
    if (!image) return nullptr;
    auto texture = platform::make<CCTexture2D>();
    if (!texture->initWithCGImage(image.get(), type)) return nullptr;
    return texture;
}

// Loads an image or PVR file from a resolved, absolute path on the current context.
platform::Ref<CCTexture2D> loadOnThisContext(const std::string& fullPath, ccResolutionType type) {
    if (!isPVRPath(fullPath)) return textureFromImageFile(fullPath, type);
    auto texture = platform::make<CCTexture2D>();
    if (!texture->initWithPVRFile(fullPath)) return nullptr;
    texture->setResolutionType(type);
    return texture;
}

// The share group the loader context joins: the view's, or the calling thread's context's.
platform::ShareGroup* viewShareGroup() {
    if (CCGLView* view = CCDirector::sharedDirector()->view())
        if (platform::GLContext* context = view->context()) return context->sharegroup();
    if (platform::GLContext* current = platform::GLContext::currentContext()) return current->sharegroup();
    return nullptr;
}

} // namespace

// One background load. The loader thread moves every reference it holds back to the
// director's thread, so that no last release (of the cache above all) happens over there.
struct CCTextureCache::Job {
    platform::Ref<CCTextureCache> cache;
    std::string key;
    std::string fullPath; // resolved on the caller's thread; empty when the file was not found
    ccResolutionType resolutionType = kCCResolutionUnknown;
    CCTextureLoadSettings settings; // the class-wide values of the moment it was queued
    platform::Ref<platform::Thread> replyThread;
    std::function<void(CCTexture2D*)> completion;
};

CCTextureCache* CCTextureCache::sharedTextureCache() {
    platform::Ref<CCTextureCache>& cache = sharedCache();
    if (!cache) {
        CCDirector::setPurgeHook(CCDirectorPurge::TextureCache, [] { purgeSharedTextureCache(); });
        CCDirector::setPurgeHook(CCDirectorPurge::UnusedTextures, [] {
            if (CCTextureCache* live = sharedCache().get()) live->removeUnusedTextures();
        });
        auto made = platform::make<CCTextureCache>();
        made->init();
        cache = std::move(made);
    }
    return cache.get();
}

void CCTextureCache::purgeSharedTextureCache() {
    // Taken out first: the release may run the destructor, which clears the global too.
    platform::Ref<CCTextureCache> old = std::move(sharedCache());
    old = nullptr;
}

platform::GLContext* CCTextureCache::auxiliaryContext() {
    return auxContextGlobal();
}

bool CCTextureCache::init() {
    _loadingQueue = platform::make<platform::SerialQueue>("org.footlight.texturecacheloading");
    _auxContext = platform::GLContext::contextWithAPI(platform::kEAGLRenderingAPIOpenGLES2, viewShareGroup());
    if (!_auxContext) CCLOG("engine: CCTextureCache: could not make the loader context");
    auxContextGlobal() = _auxContext.get();
    return true;
}

CCTextureCache::~CCTextureCache() {
    _textures.clear();
    if (auxContextGlobal() == _auxContext.get()) auxContextGlobal() = nullptr;
    _auxContext = nullptr;
    if (sharedCache().get() == this) (void)sharedCache().leakRef();
    _loadingQueue = nullptr;
}

std::string CCTextureCache::description() const {
    std::string keys = "(";
    for (const auto& [key, texture] : _textures) {
        if (keys.size() > 1) keys += ", ";
        keys += key;
    }
    keys += ")";
    return platform::format("<%s = %p | num of textures =  %lu | keys: %s>", className(),
                            static_cast<const void*>(this), static_cast<unsigned long>(_textures.size()),
                            keys);
}

void CCTextureCache::addImageAsync(const std::string& path, platform::Object* target,
                                   platform::Selector<void(CCTexture2D*)> selector) {
    if (!target || !selector) return;
    platform::Ref<platform::Object> held(target);
    enqueue(path, [held, selector](CCTexture2D* texture) { selector(held.get(), texture); });
}

void CCTextureCache::addImageAsync(const std::string& path, std::function<void(CCTexture2D*)> block) {
    if (!block) return;
    enqueue(path, std::move(block));
}

void CCTextureCache::enqueue(const std::string& path, std::function<void(CCTexture2D*)> completion) {
    CCFileUtils* files = CCFileUtils::sharedFileUtils();
    std::string key = files->standarizePath(path);
    if (CCTexture2D* cached = textureForKey(key)) {
        platform::Ref<CCTexture2D> keep(cached);
        completion(keep.get());
        return;
    }

    auto job = std::make_shared<Job>();
    job->cache = this;
    job->key = key;
    job->fullPath = key.empty() ? std::string() : files->fullPathForFilename(key, &job->resolutionType);
    // The loader must not reach the file utilities' caches: an absolute path skips them.
    if (!job->fullPath.empty()) {
        std::error_code error;
        std::filesystem::path absolute = std::filesystem::absolute(job->fullPath, error);
        if (!error) job->fullPath = absolute.string();
    }
    job->completion = std::move(completion);
    platform::Thread* reply = CCDirector::sharedDirector()->runningThread();
    job->replyThread = reply ? reply : platform::Thread::mainThread();

    // The loader reads no process-wide state: programs and GL limits are made and read here,
    // on the drawing context, and the default formats are those of this moment.
    job->settings = CCTextureLoadSettings::current();

    _loadingQueue->dispatchAsync([job] { load(*job); });
}

void CCTextureCache::load(Job& job) {
    platform::Ref<CCTexture2D> texture;
    platform::GLContext* context = job.cache->_auxContext.get();
    if (!job.fullPath.empty()) {
        if (context && platform::GLContext::setCurrentContext(context)) {
            // The loader's safe point: names handed to its context go.
            glCacheDeleteWaitingObjects();
            try {
                CCTextureLoadScope scope(job.settings);
                texture = loadOnThisContext(job.fullPath, job.resolutionType);
            } catch (const platform::Exception& e) {
                // A programmer error (an unusable default pixel format) must not end the loader.
                CCLOG("engine: CCTextureCache: %s", e.reason());
                texture = nullptr;
            }
            // This thread's record of bound textures and GL agree on "none" between jobs, so
            // that no name deleted on the drawing thread meanwhile is taken for bound here, and
            // this context keeps no deleted texture alive. The finish makes the upload complete
            // before the drawing context samples it.
            glCacheBindTexture2D(0);
            glCheck(glFinish());
            platform::GLContext::setCurrentContext(nullptr);
        } else {
            CCLOG("engine: CCTextureCache: could not make the loader context current for %s", job.key);
        }
    }
    if (!texture) CCLOG("engine: Couldn't add image:%s in CCTextureCache", job.key);

    platform::Ref<platform::Thread> reply = std::move(job.replyThread);
    if (reply->isFinished()) reply = platform::Thread::mainThread();
    // The settings go back too: their program and configuration may have lost every other owner.
    reply->performBlock([cache = std::move(job.cache), key = std::move(job.key), texture = std::move(texture),
                         completion = std::move(job.completion),
                         settings = std::move(job.settings)]() mutable {
        cache->finish(key, std::move(texture), completion);
        settings = {};
    });
}

void CCTextureCache::finish(const std::string& key, platform::Ref<CCTexture2D> texture,
                            const std::function<void(CCTexture2D*)>& completion) {
    // Loaded for a share group the director no longer draws with (its view went meanwhile): under
    // that name the director's group holds another texture or none.
    if (texture && texture->home().sharegroup() != viewShareGroup()) {
        CCLOG("engine: CCTextureCache: %s was loaded for a GL share group the director no longer draws with",
              key);
        texture = nullptr;
    }
    if (texture) {
        auto [it, inserted] = _textures.try_emplace(key, texture);
        if (!inserted) texture = it->second;
    }
    completion(texture.get());
}

platform::Ref<CCTexture2D> CCTextureCache::addImage(const std::string& path) {
    CCFileUtils* files = CCFileUtils::sharedFileUtils();
    std::string key = files->standarizePath(path);
    if (key.empty()) return nullptr;
    if (CCTexture2D* cached = textureForKey(key)) return cached;

    ccResolutionType type = kCCResolutionUnknown;
    std::string fullPath = files->fullPathForFilename(key, &type);
    if (fullPath.empty()) return nullptr;
    if (isPVRPath(fullPath)) return addPVRImage(key);

    platform::Ref<CCTexture2D> texture = textureFromImageFile(fullPath, type);
    if (!texture) {
        CCLOG("engine: Couldn't add image:%s in CCTextureCache", key);
        return nullptr;
    }
    _textures[key] = texture;
    return texture;
}

platform::Ref<CCTexture2D> CCTextureCache::addCGImage(platform::Image* image, const std::string& key) {
    if (!key.empty())
        if (CCTexture2D* cached = textureForKey(key)) return cached;
    if (!image) return nullptr;
    auto texture = platform::make<CCTexture2D>();
    if (!texture->initWithCGImage(image, kCCResolutionUnknown)) {
        CCLOG("engine: Couldn't add CGImage in CCTextureCache");
        return nullptr;
    }
    if (!key.empty()) _textures[key] = texture;
    return texture;
}

void CCTextureCache::removeAllTextures() {
    // Moved out first: a texture's destructor may call back into the cache.
    auto old = std::move(_textures);
    _textures.clear();
}

void CCTextureCache::removeUnusedTextures() {
    std::vector<platform::Ref<CCTexture2D>> dropped;
    for (auto it = _textures.begin(); it != _textures.end();) {
        if (it->second->retainCount() == 1) {
            dropped.push_back(std::move(it->second));
            it = _textures.erase(it);
        } else {
            ++it;
        }
    }
}

void CCTextureCache::removeTexture(CCTexture2D* texture) {
    if (!texture) return;
    platform::Ref<CCTexture2D> keep(texture);
    std::erase_if(_textures, [texture](const auto& entry) { return entry.second.get() == texture; });
}

void CCTextureCache::removeTextureForKey(const std::string& key) {
    auto it = _textures.find(key);
    if (it == _textures.end()) return;
    platform::Ref<CCTexture2D> keep = std::move(it->second);
    _textures.erase(it);
}

CCTexture2D* CCTextureCache::textureForKey(const std::string& key) const {
    auto it = _textures.find(key);
    return it == _textures.end() ? nullptr : it->second.get();
}

platform::Ref<CCTexture2D> CCTextureCache::addPVRImage(const std::string& path) {
    std::string key = CCFileUtils::sharedFileUtils()->standarizePath(path);
    if (key.empty()) return nullptr;
    if (CCTexture2D* cached = textureForKey(key)) return cached;
    auto texture = platform::make<CCTexture2D>();
    if (!texture->initWithPVRFile(key)) {
        CCLOG("engine: Couldn't add PVRImage:%s in CCTextureCache", key);
        return nullptr;
    }
    _textures[key] = texture;
    return texture;
}

void CCTextureCache::dumpCachedTextureInfo() const {
    std::uint64_t count = 0, totalBytes = 0;
    for (const auto& [key, texture] : _textures) {
        std::uint64_t bpp = texture->bitsPerPixelForFormat();
        std::uint64_t bytes = texture->pixelsWide() * bpp * texture->pixelsHigh() / 8;
        totalBytes += bytes;
        ++count;
        CCLOG("engine: \"%s\"\trc=%lu\tid=%lu\t%lu x %lu\t@ %ld bpp =>\t%lu KB", key,
              static_cast<unsigned long>(texture->retainCount()), static_cast<unsigned long>(texture->name()),
              static_cast<unsigned long>(texture->pixelsWide()),
              static_cast<unsigned long>(texture->pixelsHigh()), static_cast<long>(bpp),
              static_cast<unsigned long>(bytes / 1024));
    }
    CCLOG("engine: CCTextureCache dumpDebugInfo:\t%ld textures,\tfor %lu KB (%.2f MB)",
          static_cast<long>(count), static_cast<unsigned long>(totalBytes / 1024),
          static_cast<double>(totalBytes) / (1024.0 * 1024.0));
}
