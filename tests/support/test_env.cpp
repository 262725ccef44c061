#include "tests/support/test_env.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace nvtest {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "nvtest-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

ScopedRegistry::ScopedRegistry() : path_(dir_.file("registry.db")) {
    if (const char* old = getenv("NORVA_REGISTRY")) {
        saved_ = old;
        hadSaved_ = true;
    }
    setenv("NORVA_REGISTRY", path_.c_str(), 1);
    NvRegistryReset();
}

ScopedRegistry::~ScopedRegistry() {
    NvRegistryReset();
    if (hadSaved_) {
        setenv("NORVA_REGISTRY", saved_.c_str(), 1);
    } else {
        unsetenv("NORVA_REGISTRY");
    }
}

TraceCapture::TraceCapture() {
    NvTraceSetSink(&TraceCapture::Sink, this);
}

TraceCapture::~TraceCapture() {
    NvTraceSetSink(nullptr, nullptr);
}

void TraceCapture::Sink(const char* text, void* context) {
    auto* self = static_cast<TraceCapture*>(context);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->text_ += text;
}

std::string TraceCapture::text() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
}

bool TraceCapture::contains(const std::string& needle) const {
    return text().find(needle) != std::string::npos;
}

void TraceCapture::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    text_.clear();
}

// NV_BUILD_DIR when CTest runs the test, else the build tree the test binary lives in
// (build/bin/<test>).
std::string BuildDir() {
    if (const char* dir = getenv("NV_BUILD_DIR")) {
        return dir;
    }
    std::error_code error;
    auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string(".") : self.parent_path().parent_path().string();
}

std::u16string W(const std::string& utf8) {
    return NvFromUtf8(utf8.c_str());
}

std::string U8(const std::u16string& text) {
    return NvToUtf8(text.c_str());
}

namespace {

uint16_t FreePort(int type) {
    const int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

}  // namespace

uint16_t FreeLoopbackPort() {
    return FreePort(SOCK_STREAM);
}

uint16_t FreeLoopbackUdpPort() {
    return FreePort(SOCK_DGRAM);
}

}  // namespace nvtest
