// The host's file-system library: paths, directory search and file operations.
#include <sys/stat.h>

#include "support/test_support.h"

namespace {

using gfpdb_test::TEMP_DIR;
using gfpdb_test::write_file;
namespace fs = std::filesystem;

std::string cwd() {
    return fs::current_path().string();
}

TEST(HostFio, PathsAreAbsoluteAndNormal) {
    struct CASE {
        std::string path, directory, fullpath;
    };
    const CASE cases[] = {
        {"/db/xml/pgm_flash_a.xml", "/db/xml/", "/db/xml/pgm_flash_a.xml"},
        {"/db//xml/../xsd/./gfpdb.xsd", "/db/xsd/", "/db/xsd/gfpdb.xsd"},
        {"/db/custom/", "/db/custom/", "/db/custom/"},  // a trailing "/" names a directory
        {"/", "/", "/"},
        {"rel/file.xml", cwd() + "/rel/", cwd() + "/rel/file.xml"},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.path);
        FIO_PATH path(c.path);
        EXPECT_EQ(path.full_directory(), c.directory);
        EXPECT_EQ(path.fullpath(), c.fullpath);
        EXPECT_EQ(static_cast<std::string>(path), c.fullpath);
    }
}

TEST(HostFio, ExistingDirectoryWithoutSlashIsADirectory) {
    TEMP_DIR dir;
    const std::string name = dir.path().substr(0, dir.path().size() - 1);
    FIO_PATH path(name);
    EXPECT_EQ(path.full_directory(), dir.path());
    EXPECT_EQ(path.filename("pgm_flash_*.xml"), dir.path() + "pgm_flash_*.xml");
    EXPECT_EQ(path.fullpath(), dir.path() + "pgm_flash_*.xml");
    EXPECT_EQ(path.filename("other.xml"), dir.path() + "other.xml");
}

TEST(HostFio, FindListsMatchingFilesInByteOrder) {
    TEMP_DIR dir;
    for (const char* name : {"b.xml", "B.xml", "a.xml", "ab.xml", "a.txt", "xa.xml"})
        write_file(dir / name, "x");
    fs::create_directory(dir / "c.xml");  // a directory is never a database file

    struct CASE {
        const char* pattern;
        std::vector<std::string> names;
    };
    const CASE cases[] = {
        {"*.xml", {"B.xml", "a.xml", "ab.xml", "b.xml", "xa.xml"}},
        {"?.xml", {"B.xml", "a.xml", "b.xml"}},
        {"a*", {"a.txt", "a.xml", "ab.xml"}},
        {"*a*.xml", {"a.xml", "ab.xml", "xa.xml"}},
        {"ab.xml", {"ab.xml"}},
        {"*.XML", {}},
        {"*", {"B.xml", "a.txt", "a.xml", "ab.xml", "b.xml", "xa.xml"}},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pattern);
        FIO_FIND find(dir / c.pattern);
        std::vector<std::string> names;
        for (std::string name = find.find_first(); !name.empty(); name = find.find_next())
            names.push_back(name);
        EXPECT_EQ(names, c.names);
        EXPECT_EQ(find.find_next(), "");
    }
}

TEST(HostFio, FindInMissingDirectoryFindsNothing) {
    TEMP_DIR dir;
    FIO_FIND find(dir / "missing/pgm_flash_*.xml");
    EXPECT_EQ(find.find_first(), "");
    EXPECT_EQ(find.find_next(), "");
}

TEST(HostFio, FileOperations) {
    TEMP_DIR dir;
    const std::string file = dir / "pgm_flash_X.xml";
    EXPECT_FALSE(FIO_FILE_SYSTEM::exists(file));
    EXPECT_TRUE(FIO_FILE_SYSTEM::exists(dir.path()));
    EXPECT_TRUE(FIO_FILE_SYSTEM::touch(file));
    EXPECT_TRUE(FIO_FILE_SYSTEM::exists(file.c_str()));
    EXPECT_EQ(fs::file_size(file), 0u);

    write_file(file, "content");
    EXPECT_TRUE(FIO_FILE_SYSTEM::touch(file));  // an existing file keeps its content
    EXPECT_EQ(gfpdb_test::read_file(file), "content");

    EXPECT_TRUE(FIO_FILE_SYSTEM::_chmod(file.c_str(), 0400));
    struct stat info {};
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0400u);
    EXPECT_TRUE(FIO_FILE_SYSTEM::_chmod(file.c_str(), 384));
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_FALSE(FIO_FILE_SYSTEM::_chmod((dir / "missing").c_str(), 384));

    EXPECT_TRUE(FIO_FILE_SYSTEM::remove(file.c_str()));
    EXPECT_FALSE(FIO_FILE_SYSTEM::exists(file));
    EXPECT_FALSE(FIO_FILE_SYSTEM::remove(file.c_str()));
    EXPECT_FALSE(FIO_FILE_SYSTEM::touch(dir / "missing/file.xml"));
    // A folder in a file's place stays, and the reason is known.
    fs::create_directory(file);
    EXPECT_FALSE(FIO_FILE_SYSTEM::remove(file.c_str()));
    EXPECT_EQ(FIO_FILE_SYSTEM::last_failure().describe(), file + ": Is a directory");
}

// A lock nests within the process. That it keeps other processes out, and that a failed
// replacement leaves the old file whole, the saves show (test_hostile_saves).
TEST(HostFio, FolderLockNestsWithinTheProcess) {
    TEMP_DIR dir;
    FIO_FOLDER_LOCK outer(dir.path(), 0);
    EXPECT_TRUE(outer.held());
    EXPECT_TRUE(FIO_FOLDER_LOCK(dir.path(), 0).held());
}

}  // namespace
