#include "FileAccess.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <future>
#include <sstream>

#include "ProcessChecks.h"
#include "TemporaryFolder.h"
#include "TestFiles.h"

namespace {

class FileAccessTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(folder_.Create("sorvell-file-access")); }

    TemporaryFolder folder_;
};

TEST_F(FileAccessTest, ReadTakesAFileOfExactlyTheCapAndNothingThatIsNoRegularFile) {
    const std::string path = folder_.Path("ten");
    WriteText(path, "0123456789");
    std::string bytes = "kept";
    EXPECT_TRUE(ReadRegularFile(path, 10, bytes).Ok());
    EXPECT_EQ(bytes, "0123456789");

    WriteText(path, "0123456789A");
    bytes = "kept";
    EXPECT_EQ(ReadRegularFile(path, 10, bytes).kind, FileOutcome::Kind::TooLarge);
    EXPECT_EQ(bytes, "kept");

    // Opening a FIFO for reading would wait for a writer: it is refused at once instead. Should
    // the read wait after all, a writer comes every 5 s to end it and the test fails.
    const std::string fifo = folder_.Path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto read = std::async(std::launch::async, [&] {
        std::string none;
        return ReadRegularFile(fifo, 10, none);
    });
    bool waited = false;
    while (read.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        waited = true;
        ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));  // frees a reader waiting for one
    }
    EXPECT_FALSE(waited) << "the read waited on a FIFO";
    EXPECT_EQ(read.get().kind, FileOutcome::Kind::NotRegular);
}

// The replacement is a new file: it must not come with the owner-only mode a temporary file is
// usually made with, nor drop the owner of the file it replaces.
TEST_F(FileAccessTest, ReplacementTakesTheModeAndOwnerItShould) {
    const std::string fresh = folder_.Path("fresh");
    const mode_t saved = ::umask(027);
    const int failure = ReplaceFileAtomically(fresh, "new\n", ForeignOwner::Refuse);
    ::umask(saved);
    ASSERT_EQ(failure, 0);
    struct stat info {};
    ASSERT_EQ(::stat(fresh.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);

    // A symbolic link lends the mode of the file behind it, and it is the link that is replaced.
    const std::string target = folder_.Path("target");
    WriteText(target, "target\n");
    ASSERT_EQ(::chmod(target.c_str(), 0604), 0);
    const std::string link = folder_.Path("link");
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    ASSERT_EQ(ReplaceFileAtomically(link, "through\n", ForeignOwner::Refuse), 0);
    ASSERT_EQ(::lstat(link.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0604u);
    EXPECT_EQ(ReadText(link), "through\n");
    EXPECT_EQ(ReadText(target), "target\n");

    if (::geteuid() != 0) {
        GTEST_SKIP() << "keeping another user's ownership needs root";
    }
    ASSERT_EQ(::chown(target.c_str(), 65534, 65534), 0);
    ASSERT_EQ(ReplaceFileAtomically(target, "root saved this\n", ForeignOwner::Refuse), 0);
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 65534u);
    EXPECT_EQ(info.st_gid, 65534u);
    EXPECT_EQ(info.st_mode & 07777, 0604u);
    EXPECT_EQ(ReadText(target), "root saved this\n");

    // Someone who may replace another's file in a shared folder but may not give a file away is
    // refused, or gets a file of their own as an editor's save does: as the caller chooses.
    ASSERT_EQ(::chmod(folder_.Path().c_str(), 0777), 0);
    const std::string shared = folder_.Path("shared");
    WriteText(shared, "root's\n");
    ASSERT_EQ(::chmod(shared.c_str(), 0666), 0);
    EXPECT_TRUE(CheckAsUnprivilegedUser([&] {
        return ReplaceFileAtomically(shared, "mine?\n", ForeignOwner::Refuse) == EPERM &&
               ReplaceFileAtomically(shared, "bench\n", ForeignOwner::TakeOver) == 0;
    }));
    ASSERT_EQ(::stat(shared.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 65534u);
    EXPECT_EQ(info.st_mode & 07777, 0666u);
    EXPECT_EQ(ReadText(shared), "bench\n");
}

}  // namespace
