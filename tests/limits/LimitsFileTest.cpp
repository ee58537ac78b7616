#include "LimitsFile.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <csignal>
#include <fstream>
#include <sstream>
#include <vector>

#include "TemporaryFolder.h"
#include "TestFiles.h"

namespace {

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    while (const dirent* entry = dir ? ::readdir(dir) : nullptr) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    if (dir) {
        ::closedir(dir);
    }
    return names;
}

void ExpectSameLimits(const SpectrumStore& actual, const SpectrumStore& expected) {
    EXPECT_EQ(actual.maxLimitX, expected.maxLimitX);
    EXPECT_EQ(actual.minLimitX, expected.minLimitX);
    EXPECT_EQ(actual.maxLimitY, expected.maxLimitY);
    EXPECT_EQ(actual.minLimitY, expected.minLimitY);
}

class LimitsFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.Create("sorvell-limits"));
        store_.FillDefaults();
    }
    std::string Path(const char* name) const { return folder_.Path(name); }

    TemporaryFolder folder_;
    SpectrumStore store_;
};

TEST_F(LimitsFileTest, SavedLimitsReadBackExactly) {
    for (std::size_t i = 0; i < LimitsFileEntries; ++i) {
        store_.maxLimitX[i] = 0.1 * static_cast<double>(i) - 3.0;  // not exact in binary
        store_.minLimitX[i] = -139.0 + 1.0 / 3.0;
        store_.maxLimitY[i] = 19.0;
        store_.minLimitY[i] = -1e-300 * static_cast<double>(i);
    }
    store_.minLimitY[7] = 12.0;  // a lower limit above its upper one is the user's to keep
    std::string error;
    ASSERT_TRUE(SaveLimitsFile(Path("limits.csv"), store_, error)) << error;

    SpectrumStore loaded;
    loaded.FillDefaults();
    ASSERT_TRUE(LoadLimitsFile(Path("limits.csv"), loaded, error)) << error;
    ExpectSameLimits(loaded, store_);
    EXPECT_EQ(ReadText(Path("limits.csv")).substr(0, 25), "axis,entry,max_db,min_db\n");
}

TEST_F(LimitsFileTest, EntriesNotListedKeepTheirLimits) {
    WriteText(
        Path("some.csv"),
        "# bench 4\r\naxis,entry,max_db,min_db\r\n\r\nX,5,-10,-20\r\n Y , 31 , +3.5 , -1e2 \r\n");
    store_.maxLimitX[6] = 7.0;
    std::string error;
    ASSERT_TRUE(LoadLimitsFile(Path("some.csv"), store_, error)) << error;
    EXPECT_EQ(store_.maxLimitX[5], -10.0);
    EXPECT_EQ(store_.minLimitX[5], -20.0);
    EXPECT_EQ(store_.maxLimitY[31], 3.5);
    EXPECT_EQ(store_.minLimitY[31], -100.0);
    EXPECT_EQ(store_.maxLimitX[6], 7.0);
    EXPECT_EQ(store_.minLimitX[6], DefaultMinLimit);
    EXPECT_EQ(store_.maxLimitY[5], DefaultMaxLimit);
    EXPECT_EQ(store_.maxLimitX[32], DefaultMaxLimit);
}

// Every bad line is refused with the file, its line number and the fault, and a good row before
// it in the same file changes nothing.
TEST_F(LimitsFileTest, BadLinesAreRefusedWithTheirLineNumberAndChangeNothing) {
    struct Case {
        std::string text;
        std::string message;
    };
    const std::string head = "# saved\naxis,entry,max_db,min_db\nX,5,1,-1\n";
    const std::vector<Case> cases = {
        {head + "Z,6,1,-1\n", ":4: unknown axis \"Z\" (X or Y)"},
        {head + "x,6,1,-1\n", ":4: unknown axis \"x\" (X or Y)"},
        {head + "X,32,1,-1\n", ":4: entry \"32\" is not a whole number from 0 to 31"},
        {head + "X,-1,1,-1\n", ":4: entry \"-1\" is not a whole number from 0 to 31"},
        {head + "X,5.0,1,-1\n", ":4: entry \"5.0\" is not a whole number from 0 to 31"},
        {head + "Y,6,nan,-1\n", ":4: max_db \"nan\" is not a finite number"},
        {head + "Y,6,1,-inf\n", ":4: min_db \"-inf\" is not a finite number"},
        {head + "Y,6,1e999,-1\n", ":4: max_db \"1e999\" is not a finite number"},
        {head + "Y,6,1 dB,-1\n", ":4: max_db \"1 dB\" is not a finite number"},
        {head + "Y,6,,-1\n", ":4: max_db \"\" is not a finite number"},
        {head + "Y,6,1\n", ":4: 3 fields where 4 are expected (axis,entry,max_db,min_db)"},
        {head + "Y,6,1,2,3\n", ":4: more than 4 fields (axis,entry,max_db,min_db)"},
        {head + "\n\nX,5,2,-2\n", ":6: duplicate row for X entry 5 (first on line 3)"},
        {"X,5,1,-1\n", ":1: expected the header line axis,entry,max_db,min_db, found \"X,5,1,-1\""},
        {"# only a comment\n", ":1: no header line axis,entry,max_db,min_db (empty file)"},
        {"", ":1: no header line axis,entry,max_db,min_db (empty file)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::string path = Path("bad.csv");
        WriteText(path, c.text);
        SpectrumStore before = store_;
        std::string error;
        EXPECT_FALSE(LoadLimitsFile(path, store_, error));
        EXPECT_EQ(error, path + c.message);
        ExpectSameLimits(store_, before);
    }
}

TEST_F(LimitsFileTest, UnreadableFilesSayWhy) {
    std::string error;
    EXPECT_FALSE(LoadLimitsFile(Path("missing.csv"), store_, error));
    EXPECT_EQ(error, Path("missing.csv") + ": cannot be read: No such file or directory");
    EXPECT_FALSE(LoadLimitsFile(folder_.Path(), store_, error));
    EXPECT_EQ(error, folder_.Path() + ": cannot be read: not a regular file");
    WriteText(Path("huge.csv"), std::string(LimitsFileMaxBytes + 1, '#'));
    EXPECT_FALSE(LoadLimitsFile(Path("huge.csv"), store_, error));
    EXPECT_NE(error.find("larger than"), std::string::npos) << error;
}

// A write that fails half-way (here the file size limit stops it) leaves the old file whole, no
// temporary file beside it, and a reason.
TEST_F(LimitsFileTest, FailedWriteLeavesTheOldFileAndSaysWhy) {
    const std::string path = Path("limits.csv");
    WriteText(path, "old contents\n");
    ::chmod(path.c_str(), 0640);

    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 100;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string error;
    const bool written = WriteFileAtomically(path, std::string(5000, 'n'), error);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(written);
    EXPECT_EQ(error, "Could not write " + path + ": File too large");
    EXPECT_EQ(ReadText(path), "old contents\n");
    EXPECT_EQ(FolderEntries(folder_.Path()), std::vector<std::string>{"limits.csv"});

    // A write that succeeds replaces the file and keeps its permissions.
    ASSERT_TRUE(WriteFileAtomically(path, "new\n", error)) << error;
    EXPECT_EQ(ReadText(path), "new\n");
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(FolderEntries(folder_.Path()), std::vector<std::string>{"limits.csv"});

    EXPECT_FALSE(SaveLimitsFile(Path("no-such-folder/limits.csv"), store_, error));
    EXPECT_EQ(error, "Could not write " + Path("no-such-folder/limits.csv") +
                         ": No such file or directory");
    ::mkdir(Path("folder.csv").c_str(), 0755);
    EXPECT_FALSE(SaveLimitsFile(Path("folder.csv"), store_, error));
    EXPECT_EQ(error, "Could not write " + Path("folder.csv") + ": Is a directory");
    ::rmdir(Path("folder.csv").c_str());
    EXPECT_EQ(FolderEntries(folder_.Path()), std::vector<std::string>{"limits.csv"});
}

}  // namespace
