// Bodies of the older operation names of the core classes that need the shared director or
// the shared file utilities. Each only forwards.
#include "core/CCDirector.h"
#include "core/CCFileUtils.h"
#include "core/CCScheduler.h"
#include "core/CCTouchDispatcher.h"

CCScheduler* CCScheduler::sharedScheduler() {
    return CCDirector::sharedDirector()->scheduler();
}

CCTouchDispatcher* CCTouchDispatcher::sharedDispatcher() {
    return CCDirector::sharedDirector()->touchDispatcher();
}

std::string CCFileUtils::sharedFullPathFromRelativePath(const std::string& relPath) {
    return sharedFileUtils()->fullPathFromRelativePath(relPath);
}

std::string CCFileUtils::sharedFullPathFromRelativePath(const std::string& relPath,
                                                        ccResolutionType* resolutionType) {
    return sharedFileUtils()->fullPathFromRelativePath(relPath, resolutionType);
}

void CCFileUtils::setRetinaDisplaySuffix(const std::string& suffix) {
    sharedFileUtils()->setiPhoneRetinaDisplaySuffix(suffix);
}

std::string CCFileUtils::sharedRemoveSuffixFromFile(const std::string& path) {
    return sharedFileUtils()->removeSuffixFromFile(path);
}

bool CCFileUtils::sharedIPhoneRetinaDisplayFileExistsAtPath(const std::string& path) {
    return sharedFileUtils()->iPhoneRetinaDisplayFileExistsAtPath(path);
}

bool CCFileUtils::sharedIPadFileExistsAtPath(const std::string& path) {
    return sharedFileUtils()->iPadFileExistsAtPath(path);
}

bool CCFileUtils::sharedIPadRetinaDisplayFileExistsAtPath(const std::string& path) {
    return sharedFileUtils()->iPadRetinaDisplayFileExistsAtPath(path);
}
