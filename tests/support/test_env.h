// Helpers shared by the Linux tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "platform/linux/include/nvplatform.h"

namespace nvtest {

// A private temporary directory, removed with everything in it at destruction.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

// Points the registry functions at a fresh store of its own for the life of the object.
class ScopedRegistry {
  public:
    ScopedRegistry();
    ~ScopedRegistry();
    const std::string& path() const { return path_; }

  private:
    TempDir dir_;
    std::string path_;
    std::string saved_;
    bool hadSaved_ = false;
};

// Collects everything traced with DbgPrint while it lives.
class TraceCapture {
  public:
    TraceCapture();
    ~TraceCapture();
    std::string text() const;
    bool contains(const std::string& needle) const;
    void clear();

  private:
    static void Sink(const char* text, void* context);
    mutable std::mutex mutex_;
    std::string text_;
};

// The build tree (set by CTest as NV_BUILD_DIR), for tests that load built libraries or run
// built tools.
std::string BuildDir();

// A loopback TCP (UDP) port that was free a moment ago.
uint16_t FreeLoopbackPort();
uint16_t FreeLoopbackUdpPort();

// Wide text helpers for tests.
std::u16string W(const std::string& utf8);
std::string U8(const std::u16string& text);

}  // namespace nvtest
