// Files and folders: path-string helpers, the file manager, the resource bundle and the
// Documents directory.
//
// Paths are UTF-8 strings with '/' separators. Where the platform answered nil for a path,
// these answer the empty string.
#pragma once

#include "platform/Object.h"

#include <string>

namespace platform {

// Path-string operations that behave as the platform's path methods did.
struct Paths {
    // "/tmp/a.png" -> "a.png"; "/tmp/" -> "tmp"; "/" -> "/"; "" -> "".
    static std::string lastPathComponent(const std::string& path);
    // The text after the last '.' of the last component ("png"); "" when there is none or the
    // component starts with its only dot (".hidden").
    static std::string pathExtension(const std::string& path);
    // pathExtension, except that "gz" and "ccz" keep the extension before them:
    // "a.pvr.ccz" -> "pvr.ccz", "a.pvr.gz" -> "pvr.gz", "a.gz" -> "gz".
    static std::string compoundPathExtension(const std::string& path);
    // "/tmp/a.png" -> "/tmp"; "/tmp" -> "/"; "/" -> "/"; "a.png" -> "".
    static std::string stringByDeletingLastPathComponent(const std::string& path);
    // "/tmp/a.png" -> "/tmp/a"; "a.pvr.ccz" -> "a.pvr"; trailing '/' dropped.
    static std::string stringByDeletingPathExtension(const std::string& path);
    // Drops compoundPathExtension: "a.pvr.ccz" -> "a".
    static std::string stringByDeletingCompoundPathExtension(const std::string& path);
    // Joins with exactly one '/': "/tmp" + "a.png", "/tmp/" + "/a.png" -> "/tmp/a.png";
    // "" + "a.png" -> "a.png". An empty component leaves the path as it is.
    static std::string stringByAppendingPathComponent(const std::string& path, const std::string& component);
    // "a" + "png" -> "a.png"; "/tmp/" + "png" -> "/tmp.png". An empty extension, or a path
    // without a last component, leaves the path as it is.
    static std::string stringByAppendingPathExtension(const std::string& path, const std::string& extension);
    // The relative path joined under the folder, its "." and ".." components folded in:
    // "/docs" + "shots/../a.png" -> "/docs/a.png". "" when the path is absolute or a ".." would
    // climb out of the folder ("../a.png", "a/../../b.png").
    static std::string stringByAppendingPathInside(const std::string& folder, const std::string& path);
    // Starts with '/' or '~'.
    static bool isAbsolutePath(const std::string& path);
    // "~" expanded from $HOME; "//" and "/./" collapsed; a trailing '/' dropped; ".." folded
    // into its parent in absolute paths only (relative ones keep it, as the platform did).
    static std::string stringByStandardizingPath(const std::string& path);

    // The folder the engine writes user files to, one per game. By default
    // $XDG_DATA_HOME/<application name>/Documents (else ~/.local/share/<name>/Documents). When
    // that cannot be made, <tmp>/footlight-<uid>/<name>/Documents (<tmp> is /tmp when the
    // temporary directory is relative), logged once, and only if the user owns footlight-<uid>
    // and nobody else can write to it (else logged, and empty). Missing folders are made when
    // first asked for, private to the user (0700 whatever the umask). Empty when it cannot be
    // made; the log line gives the first failure's cause.
    static std::string documentsDirectory();
    // Replaces the folder; an empty path restores the default.
    static void setDocumentsDirectory(const std::string& path);
    // Names the game's default folder; by default the name the program was started by (the last
    // part of its invocation name, not a link's target). An empty name restores that; a name
    // that is not one folder name ("a/b", ".", "..") is refused (logged).
    static void setApplicationName(const std::string& name);
    // The temporary directory.
    static std::string temporaryDirectory();
    // The path for a log line, its byte 0s shown as "\0" rather than ending the text.
    static std::string printablePath(const std::string& path);
    // Why the path cannot name a file, as the kernel reads it: it holds a byte 0, or its last
    // part is "", "." or ".." (a folder). Null when it can.
    static const char* fileNameFault(const std::string& path);
};

// Queries on the file system, as an object the file utilities own.
class FileManager : public Object {
public:
    static FileManager* defaultManager();
    // Files and folders alike.
    virtual bool fileExistsAtPath(const std::string& path) const;
    bool isDirectoryAtPath(const std::string& path) const;
};

// The folder resources are looked up in.
class Bundle : public Object {
public:
    // The bundle of the running program. Its resource folder is the program's own folder
    // until it is changed.
    static Bundle* mainBundle();
    static Ref<Bundle> bundleWithPath(const std::string& resourcePath);

    explicit Bundle(std::string resourcePath) : resourcePath_(std::move(resourcePath)) {}

    const std::string& resourcePath() const { return resourcePath_; }
    void setResourcePath(const std::string& path) { resourcePath_ = path; }

    // resourcePath/directory/name[.type] when it exists, else "". An empty name finds nothing;
    // an empty type means the name carries its own extension.
    std::string pathForResource(const std::string& name, const std::string& type,
                                const std::string& directory = "") const;

    std::string description() const override;

private:
    std::string resourcePath_;
};

} // namespace platform
