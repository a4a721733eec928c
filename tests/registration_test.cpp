#include "deploy/registration.h"

#include <gtest/gtest.h>

#include "tests/fakes.h"

namespace ttu::deploy {
namespace {

using test::RecordingLauncher;

TEST(Registration, AssemblyKindsLaunchTypeLibraryThenCodeBase) {
  RecordingLauncher l;
  RegisterComponent("C:\\K\\Brenvia\\", "Kelmo.Core.dll", "R", l);
  RegisterComponent("C:\\K\\Brenvia\\", "a.dll.dll", "R4", l);
  ASSERT_EQ(l.launches.size(), 4u);
  EXPECT_EQ(l.launches[0].command_line,
            "\"C:\\WINDOWS\\Microsoft.NET\\Framework\\v2.0.50727\\regasm.exe\" /nologo "
            "\"C:\\K\\Brenvia\\Kelmo.Core.dll\" /tlb:Kelmo.Core.tlb");
  EXPECT_EQ(l.launches[0].style, 2);
  EXPECT_EQ(l.launches[1].command_line,
            "\"C:\\WINDOWS\\Microsoft.NET\\Framework\\v2.0.50727\\regasm.exe\" /codebase "
            "\"C:\\K\\Brenvia\\Kelmo.Core.dll\"");
  EXPECT_EQ(l.launches[1].style, 0);
  EXPECT_EQ(l.launches[2].command_line,
            "\"C:\\WINDOWS\\Microsoft.NET\\Framework\\v4.0.30319\\regasm.exe\" /nologo "
            "\"C:\\K\\Brenvia\\a.dll.dll\" /tlb:a.tlb.tlb");
  EXPECT_EQ(l.launches[3].command_line,
            "\"C:\\WINDOWS\\Microsoft.NET\\Framework\\v4.0.30319\\regasm.exe\" /codebase "
            "\"C:\\K\\Brenvia\\a.dll.dll\"");
}

TEST(Registration, TypeLibraryNameIsExactAndBare) {
  EXPECT_EQ(TypeLibraryName("A.DLL"), "A.DLL");
  EXPECT_EQ(TypeLibraryName("noext"), "noext");
  EXPECT_EQ(TypeLibraryCommand("R", "C:\\a b\\my lib.dll", TypeLibraryName("my lib.dll")),
            "\"R\" /nologo \"C:\\a b\\my lib.dll\" /tlb:my lib.tlb");
}

TEST(Registration, AnyOtherKindIsACOMServer) {
  for (const char* kind : {"", "r", "R ", "r4", "X"}) {
    RecordingLauncher l;
    RegisterComponent("", "Zelmora.dll", kind, l);
    ASSERT_EQ(l.launches.size(), 1u) << kind;
    EXPECT_EQ(l.launches[0].command_line, "regsvr32.exe \"Zelmora.dll\" /s");
    EXPECT_EQ(l.launches[0].style, 0);
  }
}

TEST(Registration, SecondLaunchOnlyAfterTheFirstStarted) {
  RecordingLauncher l;
  l.fail_on = "/nologo";
  EXPECT_THROW(RegisterComponent("C:\\K\\", "a.dll", "R", l), RunError);
  EXPECT_TRUE(l.launches.empty());
}

}  // namespace
}  // namespace ttu::deploy
