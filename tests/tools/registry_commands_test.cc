// isodmx register, unregister and registry, run as processes against a
// registry of the test's own.
#include "support/temporary_registry.h"
#include "support/tool_process.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

using isotest::TemporaryRegistry;

TEST(RegistryCommandsTest, EightConcurrentRegistrationsCountEightUses) {
  TemporaryRegistry registry;
  const std::string tool = ISODMX_TOOL;
  std::string script = "sh -c '";
  for (int i = 0; i < 8; ++i) script += tool + " register >/dev/null & ";
  script += "wait'";
  ASSERT_EQ(std::system(script.c_str()), 0);

  const JsonValue doc = RunJson("registry --json");
  ASSERT_EQ(doc["checkBytes"].Size(), 1u);
  EXPECT_EQ(doc["checkBytes"][0]["usageCount"].Int(), 8);
  EXPECT_EQ(doc["checkBytes"][0]["patterns"].Size(), 4u);
  EXPECT_EQ(doc["filter"]["merit"].Int(), 0x00800102);
  EXPECT_EQ(doc["filter"]["module"].String(), std::filesystem::canonical(ISODMX_MODULE).string());
  EXPECT_EQ(doc["filter"]["pins"][0]["mediaTypes"].Size(), 6u);
  EXPECT_EQ(doc["extensions"].Size(), 12u);
  EXPECT_EQ(doc["registry"].String(), registry.Path());
}

TEST(RegistryCommandsTest, InfoNamesTheRegisteredCopyItLoaded) {
  TemporaryRegistry registry;
  const std::string copy = registry.CopyIn(ISODMX_MODULE, "copy.so");
  const ToolRun registered = RunTool("register " + copy);
  ASSERT_EQ(registered.status, 0) << registered.out;
  EXPECT_NE(registered.out.find("registered " + copy), std::string::npos) << registered.out;
  EXPECT_NE(registered.out.find(registry.Path()), std::string::npos) << registered.out;

  EXPECT_EQ(RunJson(std::string("info --json ") + ISODMX_SAMPLES + "/sample.mp4")["module"].String(), copy);

  const ToolRun other = RunTool("unregister");
  EXPECT_NE(other.out.find("not unregistered"), std::string::npos) << other.out;
  EXPECT_EQ(RunTool("unregister " + copy).status, 0);
  const JsonValue after = RunJson("registry --json");
  EXPECT_TRUE(after.Find("filter") != nullptr && after["filter"].IsNull());
}

TEST(RegistryCommandsTest, CorruptRegistryIsNamedWithItsLineAndKept) {
  TemporaryRegistry registry;
  const std::string corrupt = "Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT\\A]\nnot a value\n";
  registry.Write(corrupt);
  for (const char* command : {"register", "registry"}) {
    const ToolRun run = RunTool(command, " 2>&1");
    EXPECT_EQ(run.status, 1) << command;
    EXPECT_NE(run.out.find(registry.Path() + ": line 4"), std::string::npos) << run.out;
  }
  EXPECT_EQ(registry.Text(), corrupt);
}

}  // namespace
