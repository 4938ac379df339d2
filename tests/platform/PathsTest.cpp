#include "platform/Paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <unistd.h>

using platform::Paths;
namespace fs = std::filesystem;

namespace {

struct TempDir {
    fs::path path;
    TempDir() {
        path = fs::temp_directory_path() / ("fl_paths_" + std::to_string(getpid()));
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~TempDir() { fs::remove_all(path); }
    std::string touch(const std::string& relative) const {
        fs::path p = path / relative;
        fs::create_directories(p.parent_path());
        std::ofstream(p) << "x";
        return p.string();
    }
};

} // namespace

TEST(PathsTest, ComponentsAndExtensions) {
    struct Case {
        const char* path;
        const char* last;
        const char* ext;
        const char* compound;
        const char* noLast;
        const char* noExt;
    };
    const Case cases[] = {
        {"/tmp/scratch.tiff", "scratch.tiff", "tiff", "tiff", "/tmp", "/tmp/scratch"},
        {"/tmp/lock/", "lock", "", "", "/tmp", "/tmp/lock"},
        {"/tmp", "tmp", "", "", "/", "/tmp"},
        {"/", "/", "", "", "/", "/"},
        {"scratch", "scratch", "", "", "", "scratch"},
        {"", "", "", "", "", ""},
        {"dir.d/a", "a", "", "", "dir.d", "dir.d/a"},
        {"a/.hidden", ".hidden", "", "", "a", "a/.hidden"},
        {"maps/a.pvr.ccz", "a.pvr.ccz", "ccz", "pvr.ccz", "maps", "maps/a.pvr"},
        {"a.pvr.gz", "a.pvr.gz", "gz", "pvr.gz", "", "a.pvr"},
        {"a.gz", "a.gz", "gz", "gz", "", "a"},
        {"x//y.png", "y.png", "png", "png", "x", "x//y"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Paths::lastPathComponent(c.path), c.last) << c.path;
        EXPECT_EQ(Paths::pathExtension(c.path), c.ext) << c.path;
        EXPECT_EQ(Paths::compoundPathExtension(c.path), c.compound) << c.path;
        EXPECT_EQ(Paths::stringByDeletingLastPathComponent(c.path), c.noLast) << c.path;
        EXPECT_EQ(Paths::stringByDeletingPathExtension(c.path), c.noExt) << c.path;
    }
    EXPECT_EQ(Paths::stringByDeletingCompoundPathExtension("maps/a.pvr.ccz"), "maps/a");
    EXPECT_EQ(Paths::stringByDeletingCompoundPathExtension("a.png"), "a");
    EXPECT_EQ(Paths::stringByDeletingCompoundPathExtension("noext"), "noext");
}

TEST(PathsTest, AppendingJoinsWithOneSeparator) {
    EXPECT_EQ(Paths::stringByAppendingPathComponent("/tmp", "a.png"), "/tmp/a.png");
    EXPECT_EQ(Paths::stringByAppendingPathComponent("/tmp/", "/a.png"), "/tmp/a.png");
    EXPECT_EQ(Paths::stringByAppendingPathComponent("/", "a.png"), "/a.png");
    EXPECT_EQ(Paths::stringByAppendingPathComponent("", "a/b.png"), "a/b.png");
    EXPECT_EQ(Paths::stringByAppendingPathComponent("dir", ""), "dir");
    EXPECT_EQ(Paths::stringByAppendingPathComponent("dir", "sub/"), "dir/sub");
    EXPECT_EQ(Paths::stringByAppendingPathExtension("a", "png"), "a.png");
    EXPECT_EQ(Paths::stringByAppendingPathExtension("a.old", "png"), "a.old.png");
    EXPECT_EQ(Paths::stringByAppendingPathExtension("/tmp/", "png"), "/tmp.png");
    EXPECT_EQ(Paths::stringByAppendingPathExtension("a", ""), "a");
    EXPECT_EQ(Paths::stringByAppendingPathExtension("", "png"), "");
    EXPECT_TRUE(Paths::isAbsolutePath("/a"));
    EXPECT_TRUE(Paths::isAbsolutePath("~/a"));
    EXPECT_FALSE(Paths::isAbsolutePath("a/b"));
    EXPECT_FALSE(Paths::isAbsolutePath(""));
}

TEST(PathsTest, StandardizingFoldsOnlyWhatIsSafe) {
    EXPECT_EQ(Paths::stringByStandardizingPath("/a//b/./c/"), "/a/b/c");
    EXPECT_EQ(Paths::stringByStandardizingPath("/a/b/../c"), "/a/c");
    EXPECT_EQ(Paths::stringByStandardizingPath("/../a"), "/a");
    // Relative paths keep their parent references: there is nothing to fold them against.
    EXPECT_EQ(Paths::stringByStandardizingPath("a/../b"), "a/../b");
    EXPECT_EQ(Paths::stringByStandardizingPath("./a"), "a");
    const char* home = std::getenv("HOME");
    if (home && *home == '/') {
        EXPECT_EQ(Paths::stringByStandardizingPath("~/x"),
                  Paths::stringByStandardizingPath(std::string(home) + "/x"));
    }
}

TEST(PathsTest, BundleFindsResourcesByNameTypeAndDirectory) {
    TempDir dir;
    dir.touch("a.png");
    dir.touch("sub/b.plist");
    auto bundle = platform::Bundle::bundleWithPath(dir.path.string());
    EXPECT_EQ(bundle->pathForResource("a.png", ""), (dir.path / "a.png").string());
    EXPECT_EQ(bundle->pathForResource("a", "png"), (dir.path / "a.png").string());
    EXPECT_EQ(bundle->pathForResource("b", "plist", "sub"), (dir.path / "sub/b.plist").string());
    EXPECT_EQ(bundle->pathForResource("b.plist", "", "sub/"), (dir.path / "sub/b.plist").string());
    EXPECT_EQ(bundle->pathForResource("b.plist", "", ""), "");
    EXPECT_EQ(bundle->pathForResource("", "", ""), "");
    EXPECT_EQ(bundle->pathForResource("", "", "sub"), "");
    // The main bundle starts at the running program's folder.
    fs::path exe = fs::read_symlink("/proc/self/exe");
    EXPECT_EQ(platform::Bundle::mainBundle()->resourcePath(), exe.parent_path().string());
    EXPECT_NE(platform::Bundle::mainBundle()->pathForResource(exe.filename().string(), ""), "");
}

TEST(PathsTest, DocumentsDirectoryIsCreatedWhenAskedFor) {
    TempDir dir;
    std::string docs = (dir.path / "deep/Documents").string();
    Paths::setDocumentsDirectory(docs);
    EXPECT_FALSE(fs::exists(docs));
    EXPECT_EQ(Paths::documentsDirectory(), docs);
    EXPECT_TRUE(fs::is_directory(docs));
    // A folder that cannot be made answers empty rather than a path that is not there.
    std::string file = dir.touch("plainfile");
    Paths::setDocumentsDirectory(file + "/Documents");
    EXPECT_EQ(Paths::documentsDirectory(), "");
    // The default lives under the user's data folder, one folder per game: the executable's
    // name unless the game names itself.
    std::string saved = std::getenv("XDG_DATA_HOME") ? std::getenv("XDG_DATA_HOME") : "";
    setenv("XDG_DATA_HOME", (dir.path / "data").c_str(), 1);
    Paths::setDocumentsDirectory("");
    const std::string exe = fs::read_symlink("/proc/self/exe").filename().string();
    EXPECT_EQ(Paths::documentsDirectory(), (dir.path / "data" / exe / "Documents").string());
    Paths::setApplicationName("Puzzle Quest");
    EXPECT_EQ(Paths::documentsDirectory(), (dir.path / "data/Puzzle Quest/Documents").string());
    Paths::setApplicationName("../elsewhere");
    EXPECT_EQ(Paths::documentsDirectory(), (dir.path / "data/Puzzle Quest/Documents").string());
    Paths::setApplicationName("");
    if (saved.empty())
        unsetenv("XDG_DATA_HOME");
    else
        setenv("XDG_DATA_HOME", saved.c_str(), 1);
}
