#include "platform/Paths.h"

#include "platform/Format.h"
#include "platform/Log.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace platform {

namespace {

// The path without trailing separators; the root stays "/".
std::string stripTrailingSlashes(const std::string& path) {
    std::size_t end = path.size();
    while (end > 1 && path[end - 1] == '/')
        --end;
    return path.substr(0, end);
}

// Where the last component of an already stripped path starts.
std::size_t lastComponentStart(const std::string& stripped) {
    std::size_t slash = stripped.rfind('/');
    return slash == std::string::npos ? 0 : slash + 1;
}

// The components of a path, without the empty and "." ones.
std::vector<std::string> components(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t i = 0;
    while (i <= path.size()) {
        std::size_t slash = path.find('/', i);
        if (slash == std::string::npos) slash = path.size();
        std::string part = path.substr(i, slash - i);
        i = slash + 1;
        if (!part.empty() && part != ".") parts.push_back(std::move(part));
    }
    return parts;
}

std::string& documentsOverride() {
    static std::string path;
    return path;
}

std::string& applicationNameOverride() {
    static std::string name;
    return name;
}

// One folder name: the game's own, else the name it was started by. Not the executable's real
// path: a link to a versioned build must keep finding its saves after an update re-points it, and
// a game started through the dynamic loader is still itself (the loader puts the game's name
// there).
std::string applicationName() {
    if (!applicationNameOverride().empty()) return applicationNameOverride();
    std::string name = program_invocation_short_name;
    return name.empty() || name == "." || name == ".." ? std::string("footlight") : name;
}

// Makes a missing folder private to the user, 0700 whatever the umask (which only takes bits
// away: 0277 would leave the owner unable to write into it), and never through a link put in its
// place meanwhile. 0, else errno.
int makePrivateFolder(const std::string& folder) {
    if (::mkdir(folder.c_str(), 0700) != 0) return errno;
    return ::fchmodat(AT_FDCWD, folder.c_str(), 0700, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
}

// Makes the path's missing folders private to the user, as the base-directory rules make the data
// home; folders that exist keep their mode. 0 when the path is a folder at the end, else why not:
// the first failure, since the later ones only follow from it.
int makePrivateFolders(const std::string& path) {
    int error = 0;
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string folder = path.substr(0, slash);
        if (const int made = folder.empty() ? 0 : makePrivateFolder(folder); made && made != EEXIST && !error)
            error = made;
        if (slash == std::string::npos) break;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return error ? error : errno;
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

// The folder when it is absolute, else empty: a relative base would move with the working
// folder.
std::string absoluteBase(const char* folder) {
    return folder && *folder == '/' ? std::string(folder) : std::string();
}

std::string errorText(int error) {
    return std::error_code(error, std::generic_category()).message();
}

// <tmp>/footlight-<uid>/<game>/Documents, when the data home cannot be had. Only a folder the user
// owns and nobody else can write to will do: another local user could make footlight-<uid> first
// and then read and replace the game's files. lstat, so a link planted there is refused too. The
// folder used is logged once, since the temporary directory may be cleaned.
std::string temporaryDocumentsDirectory(const std::string& game, const std::string& why) {
    std::string tmp = absoluteBase(Paths::temporaryDirectory().c_str());
    if (tmp.empty()) tmp = "/tmp";
    const std::string own =
        Paths::stringByAppendingPathComponent(tmp, format("footlight-%u", static_cast<unsigned>(getuid())));
    makePrivateFolder(own);
    struct stat st {};
    std::string fault;
    if (::lstat(own.c_str(), &st) != 0)
        fault = errorText(errno);
    else if (!S_ISDIR(st.st_mode))
        fault = "it is not a folder";
    else if (st.st_uid != geteuid())
        fault = "another user owns it";
    else if (st.st_mode & (S_IWGRP | S_IWOTH))
        fault = "others can write to it";
    const std::string dir = Paths::stringByAppendingPathComponent(own, game);
    if (fault.empty())
        if (int error = makePrivateFolders(dir)) fault = errorText(error);
    if (!fault.empty()) {
        log(format("Paths: nothing can be saved: %s, and the fallback %s cannot be used: %s", why, own,
                   fault));
        return {};
    }
    static std::mutex mutex;
    static std::string logged;
    std::lock_guard lock(mutex);
    if (logged != dir) {
        logged = dir;
        log(format("Paths: %s, so files are saved in %s instead, which is temporary", why, dir));
    }
    return dir;
}

std::string defaultDocumentsDirectory() {
    std::string base = absoluteBase(std::getenv("XDG_DATA_HOME"));
    if (base.empty()) {
        if (const std::string home = absoluteBase(std::getenv("HOME")); !home.empty())
            base = Paths::stringByAppendingPathComponent(home, ".local/share");
    }
    const std::string game = Paths::stringByAppendingPathComponent(applicationName(), "Documents");
    if (base.empty()) return temporaryDocumentsDirectory(game, "neither XDG_DATA_HOME nor HOME is set");
    const std::string dir = Paths::stringByAppendingPathComponent(base, game);
    const int error = makePrivateFolders(dir);
    if (!error) return dir;
    return temporaryDocumentsDirectory(game, format("%s cannot be used (%s)", dir, errorText(error)));
}

} // namespace

std::string Paths::lastPathComponent(const std::string& path) {
    std::string s = stripTrailingSlashes(path);
    if (s == "/") return s;
    return s.substr(lastComponentStart(s));
}

std::string Paths::pathExtension(const std::string& path) {
    std::string last = lastPathComponent(path);
    std::size_t dot = last.rfind('.');
    if (dot == std::string::npos || dot == 0) return {};
    return last.substr(dot + 1);
}

std::string Paths::compoundPathExtension(const std::string& path) {
    std::string ext = pathExtension(path);
    if (ext != "gz" && ext != "ccz") return ext;
    std::string inner = pathExtension(stringByDeletingPathExtension(path));
    return inner.empty() ? ext : inner + "." + ext;
}

std::string Paths::stringByDeletingLastPathComponent(const std::string& path) {
    std::string s = stripTrailingSlashes(path);
    if (s == "/") return s;
    std::size_t slash = s.rfind('/');
    if (slash == std::string::npos) return {};
    if (slash == 0) return "/";
    return stripTrailingSlashes(s.substr(0, slash));
}

std::string Paths::stringByDeletingPathExtension(const std::string& path) {
    std::string s = stripTrailingSlashes(path);
    std::size_t start = lastComponentStart(s);
    std::size_t dot = s.rfind('.');
    if (dot == std::string::npos || dot <= start) return s;
    return s.substr(0, dot);
}

std::string Paths::stringByDeletingCompoundPathExtension(const std::string& path) {
    std::string s = stripTrailingSlashes(path);
    std::string ext = compoundPathExtension(s);
    if (ext.empty()) return s;
    return s.substr(0, s.size() - ext.size() - 1);
}

std::string Paths::stringByAppendingPathComponent(const std::string& path, const std::string& component) {
    std::size_t from = 0;
    while (from < component.size() && component[from] == '/')
        ++from;
    std::string tail = stripTrailingSlashes(component.substr(from));
    if (tail == "/") tail.clear();
    if (tail.empty()) return path;
    if (path.empty()) return tail;
    std::string head = stripTrailingSlashes(path);
    return head == "/" ? "/" + tail : head + "/" + tail;
}

std::string Paths::stringByAppendingPathExtension(const std::string& path, const std::string& extension) {
    std::string s = stripTrailingSlashes(path);
    if (extension.empty() || s.empty() || s == "/") return path;
    return s + "." + extension;
}

std::string Paths::stringByAppendingPathInside(const std::string& folder, const std::string& path) {
    if (isAbsolutePath(path)) return {};
    std::vector<std::string> parts;
    for (std::string& part : components(path)) {
        if (part == "..") {
            if (parts.empty()) return {};
            parts.pop_back();
            continue;
        }
        parts.push_back(std::move(part));
    }
    std::string out = folder;
    for (const std::string& part : parts)
        out = stringByAppendingPathComponent(out, part);
    return out;
}

bool Paths::isAbsolutePath(const std::string& path) {
    return !path.empty() && (path[0] == '/' || path[0] == '~');
}

std::string Paths::stringByStandardizingPath(const std::string& path) {
    std::string p = path;
    if (!p.empty() && p[0] == '~' && (p.size() == 1 || p[1] == '/')) {
        if (const char* home = std::getenv("HOME"); home && *home) p = std::string(home) + p.substr(1);
    }
    if (p.empty()) return p;
    bool absolute = p[0] == '/';
    std::vector<std::string> parts;
    for (std::string& part : components(p)) {
        if (part == ".." && absolute) {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(std::move(part));
    }
    std::string out = absolute ? "/" : "";
    for (std::size_t k = 0; k < parts.size(); ++k) {
        if (k) out += '/';
        out += parts[k];
    }
    if (out.empty()) return ".";
    return out;
}

std::string Paths::documentsDirectory() {
    if (documentsOverride().empty()) return defaultDocumentsDirectory();
    return makePrivateFolders(documentsOverride()) ? std::string() : documentsOverride();
}

void Paths::setDocumentsDirectory(const std::string& path) {
    documentsOverride() = path;
}

void Paths::setApplicationName(const std::string& name) {
    // A name must stay one folder under the data folder.
    if (name.find_first_of(std::string("/\0", 2)) != std::string::npos || name == "." || name == "..") {
        log(format("Paths: \"%s\" is not an application name: it must be one folder name", name));
        return;
    }
    applicationNameOverride() = name;
}

std::string Paths::printablePath(const std::string& path) {
    std::string out;
    for (char c : path) {
        if (c == '\0')
            out += "\\0";
        else
            out += c;
    }
    return out;
}

const char* Paths::fileNameFault(const std::string& path) {
    // The kernel reads a path up to its first byte 0: the rest would silently go.
    if (path.find('\0') != std::string::npos) return "a file name cannot hold a byte 0";
    const std::string last = path.substr(path.rfind('/') + 1);
    if (last.empty() || last == "." || last == "..") return "it names a folder, not a file";
    return nullptr;
}

std::string Paths::temporaryDirectory() {
    std::error_code ec;
    fs::path tmp = fs::temp_directory_path(ec);
    return ec ? std::string("/tmp") : tmp.string();
}

FileManager* FileManager::defaultManager() {
    static Ref<FileManager> manager = make<FileManager>();
    return manager.get();
}

bool FileManager::fileExistsAtPath(const std::string& path) const {
    if (path.empty()) return false;
    std::error_code ec;
    return fs::exists(path, ec);
}

bool FileManager::isDirectoryAtPath(const std::string& path) const {
    if (path.empty()) return false;
    std::error_code ec;
    return fs::is_directory(path, ec);
}

Bundle* Bundle::mainBundle() {
    static Ref<Bundle> main = [] {
        std::error_code ec;
        fs::path exe = fs::read_symlink("/proc/self/exe", ec);
        std::string folder = ec ? fs::current_path(ec).string() : exe.parent_path().string();
        return make<Bundle>(folder);
    }();
    return main.get();
}

Ref<Bundle> Bundle::bundleWithPath(const std::string& resourcePath) {
    return make<Bundle>(resourcePath);
}

std::string Bundle::pathForResource(const std::string& name, const std::string& type,
                                    const std::string& directory) const {
    if (name.empty()) return {};
    std::string file = Paths::stringByAppendingPathExtension(name, type);
    std::string full = Paths::stringByAppendingPathComponent(
        Paths::stringByAppendingPathComponent(resourcePath_, directory), file);
    std::error_code ec;
    return fs::exists(full, ec) ? full : std::string();
}

std::string Bundle::description() const {
    return format("<Bundle: %s>", resourcePath_);
}

} // namespace platform
