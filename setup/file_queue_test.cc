// The file queue: what is queued from INF sections, and what a commit does to targets that
// exist, are newer, cannot be written or have no source.
#include "setup/file_queue.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "testsupport/test_environment.h"

namespace hbt::setup {
namespace {

using testsupport::read_file;
using testsupport::TestEnvironment;
using testsupport::write_file;

const std::string kInf =
    "[Version]\nSignature=$Windows NT$\n"
    "[DestinationDirs]\nMain = 65701\nSub = 65701, docs\nDefaultDestDir = 11\n"
    "[SourceDisksFiles]\nprog = 1, bin\n"
    "[Install]\nCopyFiles = Main, Sub, @loose.txt\n"
    "[Main]\nprog\nrenamed.txt, original.txt\n"
    "[Sub]\nguide.html\n"
    "[NoList]\nCopyFiles = Missing\n"
    "[NoDest]\nCopyFiles = Orphan\n"
    "[Orphan]\nx\n"
    "[Climb]\nCopyFiles = Bad\n"
    "[Bad]\n..\n";

void set_mtime(const std::string& path, time_t when) {
  struct timespec times[2] = {{when, 0}, {when, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

time_t mtime(const std::string& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return st.st_mtim.tv_sec;
}

class FileQueueTest : public ::testing::Test {
 protected:
  TestEnvironment env;
  std::string media = env.path("media/");
  std::string install = env.path("install");
  DirectoryIds ids{{65701, install}, {11, env.path("system")}, {1, media}};
  InfFile inf = *InfFile::parse(kInf, "Q.inf", &error);
  std::string error;

  void SetUp() override {
    ASSERT_EQ(make_directories(media + "bin"), 0);
    ASSERT_TRUE(write_file(media + "bin/prog", "program v2"));
    chmod((media + "bin/prog").c_str(), 0755);
    ASSERT_TRUE(write_file(media + "original.txt", "text v2"));
    ASSERT_TRUE(write_file(media + "guide.html", "<p>v2</p>"));
    ASSERT_TRUE(write_file(media + "loose.txt", "loose v2"));
    for (const char* f : {"bin/prog", "original.txt", "guide.html", "loose.txt"}) set_mtime(media + f, 1700000000);
  }
};

TEST_F(FileQueueTest, QueuesListsSingleFilesSubfoldersAndRenames) {
  FileQueue queue;
  ASSERT_TRUE(queue.queue_install_section(inf, "install", ids, media, 0, &error)) << error;
  std::vector<std::pair<std::string, std::string>> got;
  for (const auto& c : queue.copies()) got.emplace_back(c.paths.source, c.paths.target);
  EXPECT_EQ(got, (std::vector<std::pair<std::string, std::string>>{
                     {media + "bin/prog", install + "/prog"},
                     {media + "original.txt", install + "/renamed.txt"},
                     {media + "guide.html", install + "/docs/guide.html"},
                     {media + "loose.txt", env.path("system") + "/loose.txt"},
                 }));
  int e = 0;
  ASSERT_TRUE(queue.commit({}, &e)) << e;
  EXPECT_EQ(read_file(install + "/prog"), "program v2");
  EXPECT_EQ(read_file(install + "/docs/guide.html"), "<p>v2</p>");
  struct stat st {};
  stat((install + "/prog").c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0755u) << "the program stays executable";
  EXPECT_EQ(mtime(install + "/prog"), 1700000000) << "the copy keeps the media's time";
}

TEST_F(FileQueueTest, BadSectionsAreRefusedWithTheirLine) {
  FileQueue queue;
  EXPECT_FALSE(queue.queue_install_section(inf, "Absent", ids, media, 0, &error));
  EXPECT_EQ(error, "Q.inf: no section [Absent]");
  EXPECT_FALSE(queue.queue_install_section(inf, "NoList", ids, media, 0, &error));
  EXPECT_EQ(error, "Q.inf line 17: CopyFiles names a missing section [Missing]");
  EXPECT_FALSE(queue.queue_install_section(inf, "Climb", ids, media, 0, &error));
  EXPECT_EQ(error, "Q.inf line 25: '..' is not a plain file name");
  DirectoryIds no_system{{65701, install}};
  EXPECT_FALSE(queue.queue_install_section(inf, "NoDest", no_system, media, 0, &error));
  EXPECT_EQ(error, "Q.inf line 6: directory id 11 has no value");
  EXPECT_TRUE(queue.copies().empty()) << "a refused section queues nothing";
}

TEST_F(FileQueueTest, ExistingTargetsFollowTheCopyStyle) {
  ASSERT_EQ(make_directories(install), 0);
  const std::string target = install + "/prog";
  auto install_with = [&](unsigned style, bool overwrite_answer, int* asked) {
    FileQueue queue;
    EXPECT_TRUE(queue.queue_install_section(inf, "Install", ids, media, style, &error)) << error;
    QueueCallback callback;
    callback.target_exists = [&](const FilePaths& paths) {
      if (paths.target == target) ++*asked;
      return overwrite_answer;
    };
    int e = 0;
    EXPECT_TRUE(queue.commit(callback, &e));
  };
  int asked = 0;
  // No overwrite style: the callback decides.
  ASSERT_TRUE(write_file(target, "program v1"));
  install_with(kCopyNoOverwrite, false, &asked);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(read_file(target), "program v1");
  install_with(kCopyNoOverwrite, true, &asked);
  EXPECT_EQ(read_file(target), "program v2");

  // Force-newer style: a newer target stays without asking, an older one is replaced.
  ASSERT_TRUE(write_file(target, "program v3"));
  set_mtime(target, 1800000000);
  asked = 0;
  install_with(kCopyForceNewer, false, &asked);
  EXPECT_EQ(asked, 0);
  EXPECT_EQ(read_file(target), "program v3");
  set_mtime(target, 1600000000);
  install_with(kCopyForceNewer, false, &asked);
  EXPECT_EQ(read_file(target), "program v2");
}

TEST_F(FileQueueTest, FailedCopiesAreReportedSkippedAndLeaveTargetsWhole) {
  ASSERT_EQ(unlink((media + "original.txt").c_str()), 0);
  ASSERT_EQ(make_directories(install), 0);
  ASSERT_TRUE(write_file(install + "/renamed.txt", "text v1"));
  FileQueue queue;
  ASSERT_TRUE(queue.queue_install_section(inf, "Install", ids, media, 0, &error));
  std::vector<std::string> failed;
  QueueCallback callback;
  callback.copy_error = [&](const FilePaths& paths, int e) {
    failed.push_back(paths.target + " " + std::to_string(e));
    return true;
  };
  int e = 0;
  EXPECT_FALSE(queue.commit(callback, &e));
  EXPECT_EQ(e, ENOENT);
  EXPECT_EQ(failed, std::vector<std::string>{install + "/renamed.txt " + std::to_string(ENOENT)});
  EXPECT_EQ(read_file(install + "/renamed.txt"), "text v1") << "the old file is not lost";
  EXPECT_EQ(read_file(install + "/docs/guide.html"), "<p>v2</p>") << "the files after it are copied";

  // A target folder that cannot be made (a file is in the way); ending the commit stops it.
  ASSERT_TRUE(write_file(env.path("blocker"), "x"));
  DirectoryIds blocked{{65701, env.path("blocker/install")}, {11, env.path("system")}};
  FileQueue second;
  ASSERT_TRUE(second.queue_install_section(inf, "Install", blocked, media, 0, &error));
  int calls = 0;
  callback.copy_error = [&](const FilePaths&, int) { return ++calls, false; };
  EXPECT_FALSE(second.commit(callback, &e));
  EXPECT_EQ(e, ENOTDIR);
  EXPECT_EQ(calls, 1);
}

TEST(FileQueue, JoinPath) {
  EXPECT_EQ(join_path("/a", "b"), "/a/b");
  EXPECT_EQ(join_path("/a/", "b"), "/a/b");
  EXPECT_EQ(join_path("/a/", "/b"), "/a/b");
  EXPECT_EQ(join_path("", "b"), "b");
}

}  // namespace
}  // namespace hbt::setup
