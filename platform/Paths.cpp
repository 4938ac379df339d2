#include "platform/Paths.h"

#include "platform/Format.h"
#include "platform/Log.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <vector>

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

// One folder name: the game's own, else its executable's.
std::string applicationName() {
    if (!applicationNameOverride().empty()) return applicationNameOverride();
    std::error_code ec;
    std::string name = fs::read_symlink("/proc/self/exe", ec).filename().string();
    // An executable replaced while it runs (an update) still names the same game.
    const std::string deleted = " (deleted)";
    if (name.size() > deleted.size() && name.ends_with(deleted)) name.resize(name.size() - deleted.size());
    if (ec || name.empty()) name = program_invocation_short_name;
    return name.empty() ? std::string("footlight") : name;
}

std::string defaultDocumentsDirectory() {
    std::string base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/') {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home && *home == '/') {
        base = Paths::stringByAppendingPathComponent(home, ".local/share");
    }
    const std::string game = Paths::stringByAppendingPathComponent(applicationName(), "Documents");
    if (!base.empty()) {
        std::string dir = Paths::stringByAppendingPathComponent(base, game);
        std::error_code ec;
        fs::create_directories(dir, ec);
        if (!ec && fs::is_directory(dir, ec)) return dir;
    }
    return Paths::stringByAppendingPathComponent(
        Paths::temporaryDirectory(), format("footlight-%u/%s", static_cast<unsigned>(getuid()), game));
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
    std::string dir = documentsOverride().empty() ? defaultDocumentsDirectory() : documentsOverride();
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!fs::is_directory(dir, ec)) return {};
    return dir;
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
