// Helpers of the runtime, archive and maker tests: temporary folders, deterministic bytes, and
// file access through the C++ library (so the code under test never checks itself).
#ifndef VEZOVUD_TESTS_RUNTIME_TEST_SUPPORT_H
#define VEZOVUD_TESTS_RUNTIME_TEST_SUPPORT_H

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "runtime/file.h"

#ifndef _WIN32
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#endif

namespace test_support {

// True in a build with AddressSanitizer, whose memory use is its own.
#if defined(__SANITIZE_ADDRESS__)
const bool kUnderAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
const bool kUnderAddressSanitizer = true;
#else
const bool kUnderAddressSanitizer = false;
#endif
#else
const bool kUnderAddressSanitizer = false;
#endif

inline std::string Separator() { return std::string(1, kPathSeparator); }

// A new, empty folder; Path() ends in the separator. Removed with all below it.
class TempFolder {
 public:
  TempFolder() {
    static std::atomic<int> counter{0};
    long long stamp = std::chrono::steady_clock::now().time_since_epoch().count() % 100000;
    std::string base = TempDirectory().c_str();
    std::error_code error;
    for (int attempt = 0; attempt < 100 && path_.empty(); attempt++) {
      std::string candidate =
          base + "vzt" + std::to_string(stamp) + "-" + std::to_string(counter++);
      if (std::filesystem::create_directory(candidate, error)) path_ = candidate + Separator();
    }
  }
  ~TempFolder() {
    std::error_code error;
    if (Ok()) std::filesystem::remove_all(path_.substr(0, path_.size() - 1), error);
  }
  bool Ok() const { return !path_.empty(); }
  const std::string& Path() const { return path_; }
  std::string Join(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

// size bytes with no short period, so a byte from the wrong offset shows.
inline std::vector<unsigned char> PatternBytes(size_t size, uint32_t seed = 1) {
  std::vector<unsigned char> bytes(size);
  uint32_t x = seed * 2654435761u + 12345u;
  for (size_t i = 0; i < size; i++) {
    x = x * 1103515245u + 12345u;
    bytes[i] = static_cast<unsigned char>(x >> 23);
  }
  return bytes;
}

inline std::vector<unsigned char> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

inline bool WriteWholeFile(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

inline bool Exists(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

inline bool MakeFolder(const std::string& path) {
  std::error_code error;
  return std::filesystem::create_directories(path, error) && !error;
}

// A path of total bytes below folder, components of at most 200 bytes: the last of lastFill,
// the folders on the way (made here) of folderFill.
inline std::string NestedPath(std::string path, size_t total, char folderFill, char lastFill) {
  while (total - path.size() > 200) {
    path += std::string(100, folderFill);
    MakeFolder(path);
    path += Separator();
  }
  return path + std::string(total - path.size(), lastFill);
}

#ifndef _WIN32
// Runs body in a child process that sees a disk of bytes (a tmpfs) at folder, an empty folder,
// in a mount namespace of its own: no other process sees that disk, and it goes with the child.
// The child's words: body's ("" when all was well), or "skip: ..." where no such disk can be
// made (no privilege for namespaces and mounts).
inline std::string OnSmallDisk(const std::string& folder, size_t bytes,
                               const std::function<std::string()>& body) {
  int channel[2];
  if (pipe(channel) != 0) return "skip: no pipe";
  pid_t child = fork();
  if (child < 0) return "skip: no child process";
  if (child == 0) {
    close(channel[0]);
    std::string words;
    std::string size = "size=" + std::to_string(bytes);
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", folder.c_str(), "tmpfs", 0, size.c_str()) != 0) {
      words = "skip: no disk of our own can be mounted here";
    } else {
      words = body();
    }
    ssize_t written = write(channel[1], words.data(), words.size());
    _exit(written == static_cast<ssize_t>(words.size()) ? 0 : 1);
  }
  close(channel[1]);
  std::string words;
  char buffer[256];
  ssize_t got;
  while ((got = read(channel[0], buffer, sizeof(buffer))) > 0) words.append(buffer, got);
  close(channel[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) words += " (the child did not end well)";
  return words;
}
#endif

}  // namespace test_support

#endif
