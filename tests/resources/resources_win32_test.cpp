// Inside a program linked with one kind's compiled resources: icons, version strings, manifest.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// Icon group 1 (the window class asks for it): 16, 32 and 48 pixel images of 256 colours.
TEST(CompiledResources, IconGroupOneHoldsThree256ColourImages) {
  HMODULE self = GetModuleHandleA(nullptr);
  EXPECT_NE(nullptr, LoadIconA(self, MAKEINTRESOURCEA(1)));
  HRSRC found = FindResourceA(self, MAKEINTRESOURCEA(1), RT_GROUP_ICON);
  ASSERT_NE(nullptr, found);
  const unsigned char* group =
      static_cast<const unsigned char*>(LockResource(LoadResource(self, found)));
  ASSERT_GE(SizeofResource(self, found), 6u + 3 * 14u);
  ASSERT_EQ(3, group[4] | (group[5] << 8));
  for (int i = 0, size = 16; i < 3; ++i, size += 16) {
    const unsigned char* entry = group + 6 + i * 14;  // 14-byte entries naming RT_ICON images
    EXPECT_EQ(size, entry[0]) << "width of image " << i;
    EXPECT_EQ(size, entry[1]) << "height of image " << i;
    EXPECT_EQ(8, entry[6] | (entry[7] << 8)) << "bits per pixel of image " << i;
    // Each image is a PNG: the system must decode it to an icon of its size.
    HRSRC image = FindResourceA(self, MAKEINTRESOURCEA(entry[12] | (entry[13] << 8)), RT_ICON);
    ASSERT_NE(nullptr, image) << i;
    HICON icon = CreateIconFromResourceEx(
        static_cast<BYTE*>(LockResource(LoadResource(self, image))), SizeofResource(self, image),
        TRUE, 0x00030000, size, size, 0);
    ICONINFO info = {};
    BITMAP bitmap = {};
    ASSERT_TRUE(icon && GetIconInfo(icon, &info)) << i;
    GetObjectA(info.hbmColor, sizeof bitmap, &bitmap);
    EXPECT_EQ(size, bitmap.bmWidth) << i;
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icon);
  }
}

// The program's own version record, as the shell reads it: the kind's.
TEST(CompiledResources, VersionRecordStrings) {
  char path[MAX_PATH] = "";
  DWORD ignored = 0;
  ASSERT_LT(GetModuleFileNameA(nullptr, path, sizeof path), sizeof path);
  std::vector<char> record(GetFileVersionInfoSizeA(path, &ignored));
  ASSERT_TRUE(GetFileVersionInfoA(path, 0, static_cast<DWORD>(record.size()), record.data()));
  // The shell shows these two; the others are the .rc file's business.
  const char* expected[][2] = {
      {"FileDescription", std::strcmp(VEZOVUD_TEST_RESOURCE_KIND, "maker") == 0
                              ? "Vezovud Archive Maker"
                              : "Vezovud Archive"},
      {"ProductVersion", "1.1"}};
  for (const auto& row : expected) {
    std::string query = std::string("\\StringFileInfo\\000004B0\\") + row[0];
    char* value = nullptr;
    UINT chars = 0;
    ASSERT_TRUE(
        VerQueryValueA(record.data(), query.c_str(), reinterpret_cast<void**>(&value), &chars) &&
        value)
        << row[0] << " is missing";
    EXPECT_STREQ(row[1], value) << row[0];
  }
}

// The manifest asks for Common Controls 6.0.0.0, so the loader maps comctl32 from that assembly's
// folder (checked by folder: Wine's version 6 reports 5 from DllGetVersion), and for the user's
// own rights, so that an output named setup.exe asks for no administrator.
// The shipped programs are i686; the x86_64 twin's manifest names its own processor.
TEST(CompiledResources, ManifestSelectsCommonControls6AndAsInvoker) {
  const char* kProcessor = sizeof(void*) == 4 ? "processorArchitecture=\"x86\""
                                              : "processorArchitecture=\"amd64\"";
  HMODULE self = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(self, MAKEINTRESOURCEA(1), RT_MANIFEST);
  ASSERT_NE(nullptr, found);
  const char* text = static_cast<const char*>(LockResource(LoadResource(self, found)));
  std::string manifest(text, SizeofResource(self, found));
  for (const char* part : {"name=\"Microsoft.Windows.Common-Controls\"", "version=\"6.0.0.0\"",
                           "publicKeyToken=\"6595b64144ccf1df\"", kProcessor,
                           "<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">",
                           "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"})
    EXPECT_NE(std::string::npos, manifest.find(part)) << part;
  char path[MAX_PATH] = "";
  ASSERT_NE(0u, GetModuleFileNameA(LoadLibraryA("comctl32.dll"), path, sizeof path));
  std::string lower = CharLowerA(path);
  EXPECT_NE(std::string::npos, lower.find("microsoft.windows.common-controls")) << path;
  EXPECT_NE(std::string::npos, lower.find("_6.0.")) << path;
}

}  // namespace
