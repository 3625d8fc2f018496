// The platform seams the logger stands on: settings, files, shared memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>

#include "logtestutil.h"
#include "platform/files.h"
#include "platform/settings.h"
#include "platform/shm.h"
#include "support/scratch.h"

namespace fs = std::filesystem;

TEST(Settings, ReadsLikeThePrivateProfileFunctions) {
  testsupport::LogSandbox dir("settings-");  // the current directory
  const fs::path ini = dir.dir() / "Setting.ini";
  logtest::WriteFile(ini,
                     "; comment\r\n"
                     "[GameMgmt]\r\n"
                     "LogLevel=9\r\n"
                     "[ loginfo ]\r\n"
                     "  LogLevel  =  3  \r\n"
                     "IPCMsg=0x1F\r\n"
                     "Neg=-1\r\n"
                     "Trail=12abc\r\n"
                     "Word=abc\r\n"
                     "Empty=\r\n"
                     "Quoted=\"  spaced \"\r\n"
                     "LogLevel=4\r\n"
                     "[LogInfo]\r\n"
                     "Second=1\r\n");
  const std::string f = ini.string();
  using platform::GetPrivateProfileInt;
  EXPECT_EQ(GetPrivateProfileInt("LogInfo", "LogLevel", 7, f.c_str()), 3u);  // no case, first wins
  EXPECT_EQ(GetPrivateProfileInt("LogInfo", "ipcmsg", 0, f.c_str()), 31u);
  EXPECT_EQ(GetPrivateProfileInt("LogInfo", "Neg", 0, f.c_str()), 0xFFFFFFFFu);
  EXPECT_EQ(GetPrivateProfileInt("LogInfo", "Trail", 0, f.c_str()), 12u);
  EXPECT_EQ(GetPrivateProfileInt("LogInfo", "Word", 5, f.c_str()), 0u);
  EXPECT_EQ(GetPrivateProfileInt("LogInfo", "Empty", 5, f.c_str()), 5u);
  EXPECT_EQ(GetPrivateProfileInt("LogInfo", "Missing", 4, f.c_str()), 4u);
  EXPECT_EQ(GetPrivateProfileInt("LogInfo", "Second", 8, f.c_str()), 8u);  // only the first section
  EXPECT_EQ(GetPrivateProfileInt("Nowhere", "LogLevel", 4, f.c_str()), 4u);
  EXPECT_EQ(GetPrivateProfileInt("LogInfo", "LogLevel", 4, "/no/such/file.ini"), 4u);

  char out[8];
  EXPECT_EQ(platform::GetPrivateProfileString("LogInfo", "Quoted", "", out, sizeof out, f.c_str()),
            7u);
  EXPECT_STREQ(out, "  space");  // quotes dropped, cut to 7 bytes
  EXPECT_EQ(
      platform::GetPrivateProfileString("LogInfo", "None", "dflt", out, sizeof out, f.c_str()), 4u);
  EXPECT_STREQ(out, "dflt");
  EXPECT_EQ(
      platform::GetPrivateProfileString("LogInfo", "None", nullptr, out, sizeof out, f.c_str()),
      0u);
  EXPECT_STREQ(out, "");

  // The Windows spelling of a relative path.
  EXPECT_EQ(GetPrivateProfileInt("GameMgmt", "LogLevel", 0, ".\\Setting.ini"), 9u);
}

TEST(Files, FoldersRenamesSearchAndTheLogBase) {
  testsupport::LogSandbox sandbox("files-");
  const fs::path dir = sandbox.dir();
  const std::string chain = (dir / "a" / "b" / "c").string();
  EXPECT_TRUE(platform::CreateFolderChain(chain.c_str()));
  EXPECT_TRUE(platform::CreateFolderChain(chain.c_str()));  // existing is no error
  EXPECT_TRUE(platform::IsFolder(chain.c_str()));
  EXPECT_FALSE(platform::CreateFolder((dir / "x" / "y").string().c_str()));  // parent missing
  logtest::WriteFile(dir / "file", std::string("f"));
  EXPECT_FALSE(platform::CreateFolderChain((dir / "file" / "sub").string().c_str()));
  EXPECT_FALSE(platform::CreateFolder((dir / "file").string().c_str()));

  const std::string from = (dir / "file").string();
  const std::string to = (dir / "moved").string();
  logtest::WriteFile(dir / "taken", std::string("t"));
  EXPECT_FALSE(platform::RenamePath(from.c_str(), (dir / "taken").string().c_str()));
  EXPECT_TRUE(platform::RenamePath(from.c_str(), to.c_str()));
  EXPECT_FALSE(platform::PathExists(from.c_str()));
  EXPECT_TRUE(platform::DeleteFilePath(to.c_str()));
  EXPECT_FALSE(platform::DeleteFilePath(to.c_str()));
  EXPECT_FALSE(platform::DeleteFilePath(chain.c_str()));  // not a folder

  const fs::path rez = dir / "rez";
  for (const char* name : {"Map1.rez", "map2.REZ", "notes.txt", "[x].rez", "rez.rez.bak"}) {
    logtest::WriteFile(rez / name, std::string("r"));
  }
  fs::create_directories(rez / "folder.rez");
  auto found = platform::FindFiles((rez.string() + "/*.rez").c_str());
  std::sort(found.begin(), found.end(),
            [](const auto& a, const auto& b) { return a.name < b.name; });
  ASSERT_EQ(found.size(), 4u);
  EXPECT_EQ(found[0].name, "Map1.rez");
  EXPECT_EQ(found[1].name, "[x].rez");  // '[' is no wildcard
  EXPECT_EQ(found[2].name, "folder.rez");
  EXPECT_TRUE(found[2].is_folder);
  EXPECT_EQ(found[3].name, "map2.REZ");
  EXPECT_EQ(platform::FindFiles((rez.string() + "\\map?.rez").c_str()).size(), 2u);  // no case
  EXPECT_TRUE(platform::FindFiles((dir / "none" / "*").string().c_str()).empty());

  // Append, and the exclusive open of another opener.
  const std::string log = (dir / "log.txt").string();
  for (const char* part : {"one ", "two"}) {
    platform::ScopedFile f(platform::OpenForAppend(log.c_str()));
    ASSERT_TRUE(f.valid());
    EXPECT_TRUE(platform::WriteToFile(f.get(), part, std::strlen(part)));
  }
  EXPECT_EQ(logtest::ReadFile(log), "one two");
  platform::ScopedFile first(platform::OpenForReadExclusive(log.c_str()));
  ASSERT_TRUE(first.valid());
  EXPECT_FALSE(platform::ScopedFile(platform::OpenForReadExclusive(log.c_str())).valid());
  // POSIX shuts out only other exclusive openers; Windows, every opener.
  EXPECT_EQ(platform::ScopedFile(platform::OpenForRead(log.c_str())).valid(),
            !testsupport::OnWindows());
  EXPECT_EQ(platform::FileSizeOf(first.get()), 7);
  EXPECT_EQ(platform::OpenForAppend((dir / "no" / "dir.txt").string().c_str()),
            platform::kInvalidFile);

  // The log base comes from the environment, with the system's separator.
  testsupport::SetEnv("SERVERAPP_LOG_BASE", "/tmp/somewhere/");
  EXPECT_EQ(platform::LogBaseFolder(),
            testsupport::OnWindows() ? "\\tmp\\somewhere" : "/tmp/somewhere");
  for (const char* unset : {"", static_cast<const char*>(nullptr)}) {
    testsupport::SetEnv("SERVERAPP_LOG_BASE", unset);
    EXPECT_EQ(platform::LogBaseFolder(), testsupport::OnWindows() ? "C:\\log" : "/var/log");
  }
}

TEST(SharedMemory, HasTheLifetimeOfWin32Mappings) {
  logtest::ShmSession session;
  bool existed = true;
  platform::SharedMemory* a = platform::CreateSharedMemory("LifeTest", 512, &existed);
  ASSERT_NE(a, nullptr);
  EXPECT_FALSE(existed);
  auto* view = static_cast<char*>(platform::MapSharedMemory(a, 512, true));
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view[0], 0);
  std::strcpy(view, "shared");

  platform::SharedMemory* b = platform::OpenSharedMemory("LifeTest", false);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(platform::MapSharedMemory(b, 512, true), nullptr);  // read-only handle
  // Larger than the object's last page (Windows rounds an opener's size up).
  EXPECT_EQ(platform::MapSharedMemory(b, 1 << 20, false), nullptr);
  const char* seen = static_cast<const char*>(platform::MapSharedMemory(b, 0, false));
  ASSERT_NE(seen, nullptr);
  EXPECT_STREQ(seen, "shared");
  platform::UnmapSharedMemory(b, const_cast<char*>(seen), 0);

  // Creating again opens the live object.
  platform::SharedMemory* c = platform::CreateSharedMemory("LifeTest", 64, &existed);
  ASSERT_NE(c, nullptr);
  EXPECT_TRUE(existed);
  platform::CloseSharedMemory(c);

  // The last holder closes: it is gone.
  platform::UnmapSharedMemory(a, view, 512);
  platform::CloseSharedMemory(a);
  platform::CloseSharedMemory(b);
  EXPECT_EQ(platform::OpenSharedMemory("LifeTest", false), nullptr);

  EXPECT_EQ(platform::CreateSharedMemory("bad/name", 16, nullptr), nullptr);
  EXPECT_EQ(platform::CreateSharedMemory("", 16, nullptr), nullptr);
}
