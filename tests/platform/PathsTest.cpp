#include "platform/Log.h"
#include "platform/Paths.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include <grp.h>
#include <link.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

// A copy of this program started by the folder test below prints its Documents folder and ends
// before any test runs.
[[maybe_unused]] const bool childPrintsItsDocuments = [] {
    if (!std::getenv("FL_PATHS_TEST_CHILD")) return false;
    std::printf("Documents: %s\n", Paths::documentsDirectory().c_str());
    std::fflush(stdout);
    _exit(0);
}();

// What a copy of this program printed (stdout and stderr), started as `program` with `args`,
// as `user` when one is given. `started` is false when it could not become that user or run.
std::string childOutput(const std::string& program, std::vector<std::string> args, uid_t user = uid_t(-1),
                        bool* started = nullptr) {
    std::vector<std::string> env{"FL_PATHS_TEST_CHILD=1"};
    for (char** e = environ; *e; ++e)
        env.emplace_back(*e);
    std::vector<char*> argv, envp;
    for (std::string& a : args)
        argv.push_back(a.data());
    for (std::string& e : env)
        envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0) return "no pipe";
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(out[1], 2);
        if (user != uid_t(-1) && (setgroups(0, nullptr) != 0 || setgid(user) != 0 || setuid(user) != 0))
            _exit(126);
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(out[1]);
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR);)
        if (n > 0) text.append(buffer, static_cast<std::size_t>(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (started) *started = !WIFEXITED(status) || (WEXITSTATUS(status) != 126 && WEXITSTATUS(status) != 127);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        text += "(the child failed: " + std::to_string(status) + ")";
    return text;
}

// The dynamic loader this program was linked for; "" when it has none.
std::string programInterpreter() {
    std::string loader;
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* out) {
            for (int i = 0; i < info->dlpi_phnum; ++i)
                if (info->dlpi_phdr[i].p_type == PT_INTERP)
                    *static_cast<std::string*>(out) =
                        reinterpret_cast<const char*>(info->dlpi_addr + info->dlpi_phdr[i].p_vaddr);
            return 1; // the program itself comes first
        },
        &loader);
    return loader;
}

unsigned modeOf(const fs::path& path) {
    struct stat st {};
    lstat(path.c_str(), &st);
    return st.st_mode & 07777;
}

// Puts back the environment, umask, working folder, log and folder settings a test changes.
struct PathsSettings {
    const char* names[3] = {"HOME", "XDG_DATA_HOME", "TMPDIR"};
    std::vector<std::pair<bool, std::string>> saved;
    mode_t mask = umask(022);
    fs::path workingFolder = fs::current_path();
    PathsSettings() {
        for (const char* name : names) {
            const char* value = std::getenv(name);
            saved.emplace_back(value != nullptr, value ? value : "");
        }
    }
    ~PathsSettings() {
        for (std::size_t i = 0; i < saved.size(); ++i) {
            if (saved[i].first)
                setenv(names[i], saved[i].second.c_str(), 1);
            else
                unsetenv(names[i]);
        }
        umask(mask);
        fs::current_path(workingFolder);
        platform::setLogSink({});
        Paths::setApplicationName("");
        Paths::setDocumentsDirectory("");
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
    EXPECT_EQ(Paths::documentsDirectory(),
              (dir.path / "data" / program_invocation_short_name / "Documents").string());
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

TEST(PathsTest, TheGamesFoldersArePrivateItsOwnAndNamedAsItWasStarted) {
    PathsSettings settings; // umask 022 from here
    TempDir dir;
    std::vector<std::string> lines;
    platform::setLogSink([&](const std::string& line) { lines.push_back(line); });

    // Missing folders of the data home and the game's are made 0700; folders there keep theirs.
    Paths::setApplicationName("Modes");
    fs::create_directories(dir.path / "xdg");
    fs::permissions(dir.path / "xdg", fs::perms(0751));
    setenv("XDG_DATA_HOME", (dir.path / "xdg/share").c_str(), 1);
    EXPECT_EQ(Paths::documentsDirectory(), (dir.path / "xdg/share/Modes/Documents").string());
    EXPECT_EQ(modeOf(dir.path / "xdg"), 0751u);
    for (const char* made : {"xdg/share", "xdg/share/Modes", "xdg/share/Modes/Documents"})
        EXPECT_EQ(modeOf(dir.path / made), 0700u) << made;
    unsetenv("XDG_DATA_HOME");
    setenv("HOME", dir.path.c_str(), 1);
    EXPECT_EQ(Paths::documentsDirectory(), (dir.path / ".local/share/Modes/Documents").string());
    for (const char* made : {".local", ".local/share", ".local/share/Modes", ".local/share/Modes/Documents"})
        EXPECT_EQ(modeOf(dir.path / made), 0700u) << made;
    EXPECT_EQ(lines, std::vector<std::string>());

    // The name is the one the game was started by: a link's, not its target's, and the game's
    // under the dynamic loader.
    Paths::setApplicationName("");
    setenv("XDG_DATA_HOME", (dir.path / "names").c_str(), 1);
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    fs::create_symlink(self, dir.path / "mygame");
    fs::create_symlink(self, dir.path / "alpha");
    EXPECT_EQ(childOutput((dir.path / "mygame").string(), {(dir.path / "mygame").string()}),
              "Documents: " + (dir.path / "names/mygame/Documents").string() + "\n");
    const std::string loader = programInterpreter();
    if (!loader.empty() && access(loader.c_str(), X_OK) == 0)
        EXPECT_EQ(childOutput(loader, {loader, (dir.path / "alpha").string()}),
                  "Documents: " + (dir.path / "names/alpha/Documents").string() + "\n");
    else
        std::printf("No dynamic loader to start a game through; that case is skipped\n");

    // With the data home unusable, the temporary fallback is taken only when it is the user's
    // own and private: neither a link planted there nor a folder others can write to will do.
    Paths::setApplicationName("Fallback");
    setenv("XDG_DATA_HOME", (dir.touch("plainfile") + "/data").c_str(), 1);
    setenv("TMPDIR", (dir.path / "tmp").c_str(), 1);
    fs::create_directories(dir.path / "tmp");
    fs::create_directories(dir.path / "elsewhere");
    const fs::path own = dir.path / "tmp" / ("footlight-" + std::to_string(getuid()));
    fs::create_directory_symlink(dir.path / "elsewhere", own);
    EXPECT_EQ(Paths::documentsDirectory(), "");
    EXPECT_TRUE(fs::is_empty(dir.path / "elsewhere"));
    fs::remove(own);
    fs::create_directory(own);
    fs::permissions(own, fs::perms(0777));
    EXPECT_EQ(Paths::documentsDirectory(), "");
    EXPECT_TRUE(fs::is_empty(own));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("it is not a folder"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("others can write to it"), std::string::npos) << lines[1];
    lines.clear();
    // A missing one is made 0700, and the folder used instead is logged once.
    fs::remove(own);
    const std::string fallback = (own / "Fallback/Documents").string();
    EXPECT_EQ(Paths::documentsDirectory(), fallback);
    EXPECT_EQ(Paths::documentsDirectory(), fallback);
    for (const fs::path& made : {own, own / "Fallback", own / "Fallback/Documents"})
        EXPECT_EQ(modeOf(made), 0700u) << made;
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("plainfile/data/Fallback/Documents cannot be used"), std::string::npos)
        << lines[0];
    EXPECT_NE(lines[0].find("saved in " + fallback), std::string::npos) << lines[0];

    // One another user made first is refused: run as that other user.
    const uid_t nobody = 65534;
    bool started = false;
    if (geteuid() != 0) {
        std::printf("Not run as root: the fallback folder owned by another user is not checked\n");
    } else {
        const fs::path theirs = dir.path / "tmp" / ("footlight-" + std::to_string(nobody));
        fs::create_directory(theirs);
        fs::permissions(theirs, fs::perms(0700));
        fs::permissions(dir.path, fs::perms(0755));
        const std::string text = childOutput(self, {self}, nobody, &started);
        if (!started) {
            std::printf("This program cannot run as another user here; the foreign-owned fallback is not checked\n");
        } else {
            EXPECT_NE(text.find("Documents: \n"), std::string::npos) << text;
            EXPECT_NE(text.find("another user owns it"), std::string::npos) << text;
        }
    }

    // A relative temporary directory is no base: the fallback goes under /tmp instead.
    const std::string uniqueName = "fl_paths_" + std::to_string(getpid());
    Paths::setApplicationName(uniqueName);
    fs::create_directories(dir.path / "reltmp");
    fs::current_path(dir.path);
    setenv("TMPDIR", "reltmp", 1);
    const fs::path tmpOwn = fs::path("/tmp") / ("footlight-" + std::to_string(getuid()));
    const bool hadTmpOwn = fs::exists(tmpOwn);
    EXPECT_EQ(Paths::documentsDirectory(), (tmpOwn / uniqueName / "Documents").string());
    EXPECT_TRUE(fs::is_empty(dir.path / "reltmp"));
    fs::remove_all(tmpOwn / uniqueName);
    std::error_code ignored;
    if (!hadTmpOwn) fs::remove(tmpOwn, ignored); // only when empty: another program may use it now

    // Under a umask that takes the owner's bits the folders are still 0700 and usable, and a
    // folder that cannot be made is logged with its own cause, not a later one's. Run by a copy
    // of this program, as another user when root, whom permissions bind.
    const uid_t runAs = geteuid() == 0 ? nobody : uid_t(-1), user = geteuid() == 0 ? nobody : geteuid();
    const fs::path home = dir.path / "home", locked = dir.path / "locked";
    fs::create_directories(home);
    fs::create_directories(locked);
    fs::permissions(locked, fs::perms(0555));
    fs::permissions(dir.path, fs::perms(0755));
    if (runAs != uid_t(-1)) {
        ASSERT_EQ(chown(home.c_str(), runAs, runAs), 0);
    }
    const std::string name = fs::path(self).filename().string();
    setenv("HOME", home.c_str(), 1);
    setenv("TMPDIR", home.c_str(), 1);
    unsetenv("XDG_DATA_HOME");
    umask(0277);
    std::string text = childOutput(self, {self}, runAs, &started);
    if (!started) {
        std::printf("This program cannot run as another user here; the umask and the causes are not checked\n");
        return;
    }
    const fs::path share = home / ".local/share";
    EXPECT_EQ(text, "Documents: " + (share / name / "Documents").string() + "\n");
    for (const fs::path& made : {home / ".local", share, share / name, share / name / "Documents"})
        EXPECT_EQ(modeOf(made), 0700u) << made;
    setenv("XDG_DATA_HOME", (locked / "data").c_str(), 1);
    text = childOutput(self, {self}, runAs);
    const fs::path saved = home / ("footlight-" + std::to_string(user)) / name / "Documents";
    EXPECT_NE(text.find("Documents: " + saved.string() + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find((locked / "data" / name / "Documents").string() + " cannot be used (Permission denied)"),
              std::string::npos)
        << text;
    EXPECT_EQ(modeOf(saved), 0700u);
}
