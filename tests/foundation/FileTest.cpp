#include "foundation/ZrFile.h"
#include "foundation/ZrFileSystem.h"
#include "support/TestSupport.h"

#include <sys/stat.h>
#include <unistd.h>

namespace {

using zrtest::TempDir;
using zrtest::U;

TEST(ZrFile, WritesReadsAndPositions) {
    TempDir dir;
    ZrFile file(U(dir / "a file with spaces, 'quotes', $dollar and \xC3\xA9.bin"));
    ASSERT_TRUE(file.Open(ZrFile::Mode::ReadWrite));
    ASSERT_TRUE(file.WriteAll("0123456789", 10));
    EXPECT_EQ(file.WriteAt("AB", 2, 4), 2);
    EXPECT_EQ(file.Tell(), 10); // positioned writes leave the position alone
    char buffer[16] = {};
    EXPECT_EQ(file.ReadAt(buffer, 16, 0), 10);
    EXPECT_STREQ(buffer, "0123AB6789");
    ASSERT_TRUE(file.Seek(8));
    EXPECT_EQ(file.Read(buffer, 16), 2);
    EXPECT_EQ(file.Read(buffer, 16), 0);
    ASSERT_TRUE(file.Truncate(3));
    EXPECT_EQ(file.Size(), 3);
    EXPECT_TRUE(file.Close());
}

TEST(ZrFile, FailuresCarryTheSystemReason) {
    TempDir dir;
    ZrFile missing(U(dir / "no" / "such" / "x.wav"));
    EXPECT_FALSE(missing.Open(ZrFile::Mode::Write));
    EXPECT_EQ(missing.Error(), ENOENT);
    EXPECT_FALSE(missing.ErrorText().IsEmpty());
    EXPECT_FALSE(ZrFile(U(dir.Path())).Open(ZrFile::Mode::Read)); // a folder is never a file
    ZrFile full(u"/dev/full");
    ASSERT_TRUE(full.Open(ZrFile::Mode::Write));
    EXPECT_EQ(full.Write("x", 1), -1);
    EXPECT_EQ(full.Error(), ENOSPC);
}

TEST(ZrFileSystem, MakesFolderTreesSplitsPathsAndDeletes) {
    TempDir dir;
    const ZrString file = U(dir / "a" / "b c" / "\xC3\xA9" / "out.wav");
    EXPECT_TRUE(ZrFileSystem::MakeDirectoryTree(file));
    EXPECT_TRUE(ZrFileSystem::DirectoryExists(ZrFileSystem::FolderOf(file)));
    EXPECT_TRUE(ZrFileSystem::MakeDirectoryTree(file)); // again: already there
    if (::geteuid() != 0) {
        ::chmod(dir.Path().c_str(), 0500);
        EXPECT_FALSE(ZrFileSystem::MakeDirectoryTree(U(dir / "new" / "x.wav")));
        ::chmod(dir.Path().c_str(), 0700);
    }
    zrtest::WriteFile(dir / "plain", "x", 1); // a file where a folder should be
    EXPECT_FALSE(ZrFileSystem::MakeDirectoryTree(U(dir / "plain" / "x.wav")));
    EXPECT_EQ(ZrFileSystem::FolderOf(u"c.wav"), u".");
    EXPECT_EQ(ZrFileSystem::FolderOf(u"/c.wav"), u"/");
    EXPECT_EQ(ZrFileSystem::Join(u"/a/", u"b"), u"/a/b");
    EXPECT_GT(ZrFileSystem::FreeSpace(U(dir.Path())), 0);
    EXPECT_TRUE(ZrFileSystem::DeleteFile(U(dir / "plain")));
    EXPECT_FALSE(ZrFileSystem::DeleteFile(U(dir / "plain")));
}

} // namespace
