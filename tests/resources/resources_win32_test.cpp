// Windows-only checks that run inside a program linked with one kind's
// compiled resources (vezovud_add_resources): icon group 1, the version
// record's strings and fixed part, and the common-controls manifest.
#include <gtest/gtest.h>

#include <windows.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

namespace {

const bool kIsMaker = std::strcmp(VEZOVUD_TEST_RESOURCE_KIND, "maker") == 0;

// The program's own version record, as the shell would read it.
std::vector<char> OwnVersionRecord() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  if (length == 0 || length >= sizeof path) return {};
  DWORD ignored = 0;
  DWORD bytes = GetFileVersionInfoSizeA(path, &ignored);
  if (bytes == 0) return {};
  std::vector<char> record(bytes);
  if (!GetFileVersionInfoA(path, 0, bytes, record.data())) return {};
  return record;
}

std::string VersionString(std::vector<char>& record, const char* key) {
  std::string query = std::string("\\StringFileInfo\\000004B0\\") + key;
  char* value = nullptr;
  UINT chars = 0;
  if (!VerQueryValueA(record.data(), query.c_str(), reinterpret_cast<void**>(&value), &chars) ||
      value == nullptr)
    return "<missing>";
  return std::string(value);
}

TEST(CompiledResources, IconGroupOneLoads) {
  HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(1));
  EXPECT_NE(icon, nullptr) << "the window class asks for icon resource 1";
}

TEST(CompiledResources, IconGroupHoldsThree256ColourImages) {
  HMODULE self = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(self, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
  ASSERT_NE(found, nullptr);
  DWORD bytes = SizeofResource(self, found);
  const unsigned char* group = static_cast<const unsigned char*>(LockResource(LoadResource(self, found)));
  ASSERT_NE(group, nullptr);
  // GRPICONDIR: 6 bytes, then 14-byte entries that name RT_ICON resources.
  ASSERT_GE(bytes, 6u + 3 * 14u);
  ASSERT_EQ(group[4] | (group[5] << 8), 3);
  const int kSizesPixels[] = {16, 32, 48};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const unsigned char* entry = group + 6 + i * 14;
    EXPECT_EQ(entry[0], kSizesPixels[i]);
    EXPECT_EQ(entry[1], kSizesPixels[i]);
    EXPECT_EQ(entry[6] | (entry[7] << 8), 8) << "bits per pixel";
    int id = entry[12] | (entry[13] << 8);
    HRSRC image = FindResourceA(self, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(3));  // RT_ICON
    ASSERT_NE(image, nullptr) << "icon image " << id;
    HICON icon = CreateIconFromResourceEx(
        static_cast<PBYTE>(LockResource(LoadResource(self, image))), SizeofResource(self, image),
        TRUE, 0x00030000, kSizesPixels[i], kSizesPixels[i], 0);
    EXPECT_NE(icon, nullptr);
    if (icon) DestroyIcon(icon);
  }
}

TEST(CompiledResources, VersionRecordStrings) {
  std::vector<char> record = OwnVersionRecord();
  ASSERT_FALSE(record.empty());
  EXPECT_EQ(VersionString(record, "FileDescription"),
            kIsMaker ? "Vezovud Archive Maker" : "Vezovud Archive");
  EXPECT_EQ(VersionString(record, "ProductName"), "Vezovud");
  EXPECT_EQ(VersionString(record, "ProductVersion"), "1.1");
  EXPECT_EQ(VersionString(record, "FileVersion"), "0.2");
  EXPECT_EQ(VersionString(record, "InternalName"), "Vezovud");
  EXPECT_EQ(VersionString(record, "OriginalFilename"), "None");
  for (const char* key : {"CompanyName", "LegalCopyright", "Email", "Website"}) {
    std::string value = VersionString(record, key);
    EXPECT_NE(value, "<missing>") << key;
    EXPECT_FALSE(value.empty()) << key;
  }
}

TEST(CompiledResources, VersionRecordFixedPartAndLanguageNeutralTable) {
  std::vector<char> record = OwnVersionRecord();
  ASSERT_FALSE(record.empty());
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT bytes = 0;
  ASSERT_TRUE(VerQueryValueA(record.data(), "\\", reinterpret_cast<void**>(&fixed), &bytes));
  ASSERT_GE(bytes, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, 0u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0u);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

  WORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueA(record.data(), "\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &bytes));
  ASSERT_GE(bytes, 4u);
  EXPECT_EQ(translation[0], 0x0000) << "language neutral";
  EXPECT_EQ(translation[1], 1200) << "Unicode";
}

TEST(CompiledResources, ManifestAsksForCommonControls6) {
  HMODULE self = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(self, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
  ASSERT_NE(found, nullptr);
  const char* text = static_cast<const char*>(LockResource(LoadResource(self, found)));
  ASSERT_NE(text, nullptr);
  std::string manifest(text, SizeofResource(self, found));
  EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\""), std::string::npos);
  EXPECT_NE(manifest.find("version=\"6.0.0.0\""), std::string::npos);
  EXPECT_NE(manifest.find("publicKeyToken=\"6595b64144ccf1df\""), std::string::npos);
  EXPECT_NE(manifest.find("processorArchitecture=\"x86\""), std::string::npos);
}

TEST(CompiledResources, ManifestSelectsVersion6OfComctl32) {
  // The loader activates the manifest at start-up, so comctl32 resolves to
  // the side-by-side copy of version 6 (below WinSxS, in a folder named after
  // the assembly) instead of the system folder's 5.8. The folder is checked
  // rather than DllGetVersion, because Wine's version 6 reports 5.
  HMODULE comctl = LoadLibraryA("comctl32.dll");
  ASSERT_NE(comctl, nullptr);
  char path[MAX_PATH] = "";
  GetModuleFileNameA(comctl, path, sizeof path);
  std::string lower(path);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  FreeLibrary(comctl);
  EXPECT_NE(lower.find("microsoft.windows.common-controls"), std::string::npos) << path;
  EXPECT_NE(lower.find("_6.0."), std::string::npos) << path;
}

}  // namespace
