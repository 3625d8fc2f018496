// The crash path's ini reader must answer as the settings reader does.
#include "crs/crash_profile.h"

#include <gtest/gtest.h>

#include "crs_test_support.h"
#include "platform/settings.h"

namespace {

TEST(CrashProfileInt, AnswersAsGetPrivateProfileInt) {
  crs_test::TempFolder tmp;
  const std::string file = (tmp.path() / "Setting.ini").string();
  const char* const cases[] = {
      "[GameMgmt]\nFullDump=0\n",
      "[GameMgmt]\r\nFullDump = 7 \r\n",
      "[gamemgmt]\nfulldump=0x1F\n",
      "[GameMgmt]\nFullDump=-1\n",
      "[GameMgmt]\nFullDump=12abc\n",
      "[GameMgmt]\nFullDump=abc\n",
      "[GameMgmt]\nFullDump=\n",
      "[GameMgmt]\nFullDump=\"0\"\n",
      "[GameMgmt]\n;FullDump=0\n",
      "[Other]\nFullDump=0\n[GameMgmt]\nReadProcessMemory=1\n",
      "[GameMgmt]\nFullDump=0\nFullDump=5\n",
      "[GameMgmt]\nX=1\n[GameMgmt]\nFullDump=0\n",
      "  [ GameMgmt ]  \n  FullDump=0\n",
      "FullDump=0\n[GameMgmt]\n",
      "",
  };
  for (const char* content : cases) {
    crs_test::WriteWhole(file, content);
    for (int fallback : {1, 9}) {
      EXPECT_EQ(platform::GetPrivateProfileInt("GameMgmt", "FullDump", fallback, file.c_str()),
                crs::CrashProfileInt("GameMgmt", "FullDump", fallback, file.c_str()))
          << "ini: " << content << " default " << fallback;
    }
  }
  const std::string missing = (tmp.path() / "none.ini").string();
  EXPECT_EQ(1u, crs::CrashProfileInt("GameMgmt", "FullDump", 1, missing.c_str()));
  // The deployment folder's file keeps full dumps, the default; rooms of the
  // tests write their own 0.
  const std::string shipped = SERVERAPP_SOURCE_DIR "/data/dist/Setting.ini";
  EXPECT_EQ(1u, crs::CrashProfileInt("GameMgmt", "FullDump", 0, shipped.c_str()));
}

}  // namespace
