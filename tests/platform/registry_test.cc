#include "support/memory_source.h"
#include "support/temporary_registry.h"

#include "platform/file_type_detection.h"
#include "platform/filter_mapper.h"
#include "platform/fourcc.h"
#include "platform/media_guids.h"
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <utility>

namespace {

using isotest::TemporaryRegistry;

const std::wstring kLongText(300, L'x');

HKEY CreateKey(HKEY root, const wchar_t* path) {
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyEx(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
  return key;
}

// The round trip of ordinary values is what registering the module proves;
// here, what it does not reach.
TEST(RegistryStoreTest, LongAndQuotedValuesSurviveTheFileAndKeysIgnoreCase) {
  TemporaryRegistry registry;
  HKEY key = CreateKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Test\\Key");
  std::vector<BYTE> blob(100);
  for (size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<BYTE>(i * 7);
  ASSERT_EQ(RegSetString(key, nullptr, L"default \"quoted\" \\ text"), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueEx(key, L"Blob", 0, REG_BINARY, blob.data(), static_cast<DWORD>(blob.size())), ERROR_SUCCESS);
  ASSERT_EQ(RegSetString(key, L"Long", kLongText), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_NE(registry.Text().find("\\\n"), std::string::npos) << "a long hex value is broken over lines";

  ASSERT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, L"software\\TEST\\key", 0, KEY_READ, &key), ERROR_SUCCESS);
  std::vector<BYTE> back(blob.size());
  DWORD size = 10;
  EXPECT_EQ(RegQueryValueEx(key, L"blob", nullptr, nullptr, back.data(), &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, blob.size());
  ASSERT_EQ(RegQueryValueEx(key, L"Blob", nullptr, nullptr, back.data(), &size), ERROR_SUCCESS);
  EXPECT_EQ(back, blob);
  std::wstring text;
  ASSERT_TRUE(RegReadString(key, L"", L"", &text));
  EXPECT_EQ(text, L"default \"quoted\" \\ text");
  ASSERT_TRUE(RegReadString(key, L"", L"Long", &text));
  EXPECT_EQ(text, kLongText);
  EXPECT_EQ(RegSetString(key, L"New", L"x"), ERROR_ACCESS_DENIED) << "opened for reading";
  RegCloseKey(key);
  EXPECT_EQ(RegDeleteTree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Test"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteTree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Test"), ERROR_FILE_NOT_FOUND);
}

TEST(RegistryStoreTest, MalformedFileIsReportedWithItsLineAndNeverRewritten) {
  const struct {
    const char* text;
    const char* line;
  } kCases[] = {
      {"REGEDIT4\n", "line 1"},
      {"Windows Registry Editor Version 5.00\n\n\"Orphan\"=\"x\"\n", "line 3"},
      {"Windows Registry Editor Version 5.00\n[HKEY_NOWHERE\\A]\n", "line 2"},
      {"Windows Registry Editor Version 5.00\n[HKEY_CLASSES_ROOT\\A]\n\"N\"=dword:123\n", "line 3"},
      {"Windows Registry Editor Version 5.00\n[HKEY_CLASSES_ROOT\\A]\n\"N\"=hex:0g\n", "line 3"},
      {"Windows Registry Editor Version 5.00\n[HKEY_CLASSES_ROOT\\A]\n\"N=\"x\"\n", "line 3"},
      {"Windows Registry Editor Version 5.00\n[HKEY_CLASSES_ROOT\\A\n", "line 2"},
      {nullptr, "line 2"},
  };
  std::string deep = "Windows Registry Editor Version 5.00\n[HKEY_CLASSES_ROOT";
  for (int i = 0; i < 100000; ++i) deep += "\\k";
  deep += "]\n";
  for (auto c : kCases) {
    if (c.text == nullptr) c.text = deep.c_str();
    SCOPED_TRACE(std::string(c.text).substr(0, 80));
    TemporaryRegistry registry;
    registry.Write(c.text);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, L"A", 0, KEY_READ, &key), ERROR_BADDB);
    EXPECT_EQ(RegCreateKeyEx(HKEY_CLASSES_ROOT, L"B", 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr), ERROR_BADDB);
    const std::string error = RegistryFileError();
    EXPECT_NE(error.find(registry.Path()), std::string::npos) << error;
    EXPECT_NE(error.find(c.line), std::string::npos) << error;
    EXPECT_EQ(registry.Text(), c.text);
  }
}

TEST(CheckBytesTest, PatternsMatchTheBytesTheyDescribe) {
  // "....ftypisom" then filler, ending in "END!".
  std::vector<uint8_t> bytes = {0, 0, 0, 20, 'f', 't', 'y', 'p', 'i', 's', 'o', 'm'};
  bytes.resize(60, 0x5A);
  for (char c : std::string("END!")) bytes.push_back(static_cast<uint8_t>(c));
  const ComPtr<MemorySource> source = MemorySource::Create(bytes);
  const std::pair<const wchar_t*, bool> cases[] = {
      {L"4,4,,66747970", true},     {L"4,4,,6d6f6f76", false},   {L"4, 4, , 66747970", true},
      {L"4,4,FFFF0000,66740000", true}, {L"4,4,,66747970,8,4,,69736f6d", true},
      {L"4,4,,66747970,8,4,,6d703432", false}, {L"-4,4,,454e4421", true}, {L"-65,4,,454e4421", false},
      {L"62,4,,00000000", false},   {L"4,4,,667479", false},     {L"4,4,,6674797", false},
      {L"4,4,,66747970,8", false},  {L"4,0,,", false},           {L"4,99999,,00", false},
      {L"", false},
  };
  for (const auto& [pattern, matches] : cases) {
    EXPECT_EQ(MatchCheckBytes(pattern, source.Get(), static_cast<LONGLONG>(bytes.size())), matches)
        << std::string(pattern, pattern + std::wcslen(pattern));
  }
}

TEST(FileTypeDetectionTest, RegisteredChecksThenExtensionsThenBuiltIn) {
  TemporaryRegistry registry;
  const std::vector<uint8_t> mp4 = {0, 0, 0, 8, 'f', 't', 'y', 'p', 'T', 'A', 'I', 'L'};
  const ComPtr<MemorySource> source = MemorySource::Create(mp4);
  const GUID tail = FourCCSubtype(FourCC("TAIL"));
  DetectedFileType found;

  // Nothing registered: the built-in rows; only the last path part has an
  // extension.
  ASSERT_TRUE(DetectFileType(L"/dir.x/manifest.ISM", nullptr, &found));
  EXPECT_EQ(found.subtype, FourCCSubtype(FourCC("VISM")));
  EXPECT_FALSE(DetectFileType(L"/dir.mp4/noext", nullptr, &found));

  // A registered pattern (from the end of the file) wins over the rows.
  const std::wstring typeKey = L"Media Type\\" + GuidToWideString(MEDIATYPE_Stream) + L"\\" + GuidToWideString(tail);
  HKEY key = CreateKey(HKEY_CLASSES_ROOT, typeKey.c_str());
  RegSetString(key, L"0", L"-4,4,,5441494c");
  RegSetString(key, L"Source Filter", GuidToWideString(CLSID_AsyncReader));
  RegCloseKey(key);
  ASSERT_TRUE(DetectFileType(L"/clip.mp4", source.Get(), &found));
  EXPECT_EQ(found.subtype, tail);
  EXPECT_EQ(found.sourceFilter, CLSID_AsyncReader);

  key = CreateKey(HKEY_CLASSES_ROOT, L"Media Type\\Extensions\\.tst");
  RegSetString(key, L"Media Type", GuidToWideString(MEDIATYPE_Stream));
  RegSetString(key, L"Subtype", GuidToWideString(tail));
  RegCloseKey(key);
  ASSERT_TRUE(DetectFileType(L"/a/clip.TST", nullptr, &found));
  EXPECT_EQ(found.subtype, tail);
}

TEST(FilterMapperTest, FilterDataRoundTripsAndTruncationsAreRefused) {
  const GUID subtype = FourCCSubtype(FourCC("VISO"));
  const REGPINTYPES types[] = {{&MEDIATYPE_Stream, &subtype}, {&GUID_NULL, &GUID_NULL}};
  const REGFILTERPINS pins[] = {{L"In", FALSE, FALSE, FALSE, FALSE, &GUID_NULL, L"", 2, types},
                                {L"Out", FALSE, TRUE, FALSE, TRUE, &GUID_NULL, L"", 0, nullptr}};
  const REGFILTER2 record{1, 0x00800102, 2, pins};
  const std::vector<BYTE> data = SerializeFilterData(record);

  RegisteredFilter back;
  ASSERT_TRUE(ParseFilterData(data.data(), data.size(), &back));
  EXPECT_EQ(back.merit, 0x00800102u);
  ASSERT_EQ(back.pins.size(), 2u);
  EXPECT_EQ(back.pins[1].flags, REG_PINFLAG_B_OUTPUT | REG_PINFLAG_B_MANY);
  ASSERT_EQ(back.pins[0].mediaTypes.size(), 2u);
  EXPECT_EQ(back.pins[0].mediaTypes[0].subtype, subtype);
  EXPECT_EQ(back.pins[0].mediaTypes[1].majortype, GUID_NULL);
  for (size_t size = 0; size < data.size(); ++size) {
    EXPECT_FALSE(ParseFilterData(data.data(), size, &back)) << size;
  }
  std::vector<BYTE> hostile = data;
  hostile[8] = 0xFF;  // a pin count far beyond the data
  EXPECT_FALSE(ParseFilterData(hostile.data(), hostile.size(), &back));
}

}  // namespace
