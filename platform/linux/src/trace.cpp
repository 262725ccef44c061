// The system debugger output. DbgPrint formats like the Windows kernel's: %ws and %S take a wide
// string, 'l' and 'h' keep 32-bit and 16-bit widths (LONG is 32 bits), "ll" and "I64" are
// 64-bit. The text goes to a sink set by the host or a test, else to NORVA_TRACE, else nowhere.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/linux/src/internal.h"

namespace {

std::mutex gTraceMutex;
NvTraceSink gSink = nullptr;
void* gSinkContext = nullptr;
int gTraceFd = -2;  // -2: NORVA_TRACE not read yet, -1: no destination

// The trace file named by NORVA_TRACE, opened for appending; -1 when it is not a regular file
// or a terminal. The path may lie in a directory that others can write to, so a symbolic link
// there is not followed (it could lead a privileged process to append to a file of its
// choosing), and a FIFO or device is not waited for nor written.
int OpenTraceFile(const char* path) {
    int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd < 0) {
        return -1;
    }
    struct stat file;
    if (fstat(fd, &file) != 0 || !(S_ISREG(file.st_mode) || isatty(fd))) {
        close(fd);
        return -1;
    }
    fcntl(fd, F_SETFL, O_APPEND);  // writes block again, as for any file
    return fd;
}

int TraceFd() {
    if (gTraceFd == -2) {
        const char* target = getenv("NORVA_TRACE");
        if (target == nullptr || *target == '\0') {
            gTraceFd = -1;
        } else if (strcmp(target, "-") == 0) {
            gTraceFd = STDERR_FILENO;
        } else {
            gTraceFd = OpenTraceFile(target);
        }
    }
    return gTraceFd;
}

struct Spec {
    std::string flags;          // the conversion as written, up to (not including) the length
    int lengthBits = 32;        // 16, 32 or 64
    bool wide = false;          // %ws, %ls, %S
    bool narrowForced = false;  // %hs
    char conversion = 0;
};

// Parses one conversion after '%'; returns the position after it.
const char* ParseSpec(const char* p, Spec* spec) {
    const char* start = p;
    while (*p != 0 && strchr("-+ #0", *p) != nullptr) {
        ++p;
    }
    while ((*p >= '0' && *p <= '9') || *p == '*' || *p == '.') {
        ++p;
    }
    spec->flags.assign(start, p);
    for (;;) {
        if (p[0] == 'l' && p[1] == 'l') {
            spec->lengthBits = 64, p += 2;
        } else if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
            spec->lengthBits = 64, p += 3;
        } else if (p[0] == 'I' && p[1] == '3' && p[2] == '2') {
            spec->lengthBits = 32, p += 3;
        } else if (*p == 'l' || *p == 'w') {
            spec->wide = true, ++p;
        } else if (*p == 'h') {
            spec->lengthBits = 16, spec->narrowForced = true, ++p;
        } else if (*p == 'z' || *p == 'I') {
            spec->lengthBits = sizeof(size_t) * 8, ++p;
        } else {
            break;
        }
    }
    spec->conversion = *p;
    return *p != 0 ? p + 1 : p;
}

void AppendFormatted(std::string* out, const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n > 0) {
        out->append(buffer, static_cast<size_t>(n) < sizeof buffer ? n : sizeof buffer - 1);
    }
}

// Formats one conversion; `*` widths are not used by this project and print literally.
void FormatOne(std::string* out, const Spec& spec, va_list* args) {
    std::string fmt = "%" + spec.flags;
    switch (spec.conversion) {
        case 'd':
        case 'i':
        case 'u':
        case 'x':
        case 'X':
        case 'o': {
            if (spec.lengthBits == 64) {
                fmt += "ll";
                fmt += spec.conversion;
                AppendFormatted(out, fmt.c_str(), va_arg(*args, long long));
            } else {
                int value = va_arg(*args, int);
                if (spec.lengthBits == 16) {
                    value = (spec.conversion == 'd' || spec.conversion == 'i')
                                ? static_cast<short>(value)
                                : static_cast<unsigned short>(value);
                }
                fmt += spec.conversion;
                AppendFormatted(out, fmt.c_str(), value);
            }
            break;
        }
        case 'c':
            fmt += 'c';
            AppendFormatted(out, fmt.c_str(), va_arg(*args, int));
            break;
        case 'p':
            fmt += 'p';
            AppendFormatted(out, fmt.c_str(), va_arg(*args, void*));
            break;
        case 'S':
        case 's': {
            bool wide = spec.conversion == 'S' ? !spec.narrowForced : spec.wide;
            std::string text;
            if (wide) {
                const WCHAR* w = va_arg(*args, const WCHAR*);
                text = w != nullptr ? NvUtf16ToUtf8(w) : "(null)";
            } else {
                const char* s = va_arg(*args, const char*);
                text = s != nullptr ? s : "(null)";
            }
            fmt += 's';
            char buffer[4096];
            int n = snprintf(buffer, sizeof buffer, fmt.c_str(), text.c_str());
            if (n >= 0 && static_cast<size_t>(n) < sizeof buffer) {
                out->append(buffer, n);
            } else {
                out->append(text);
            }
            break;
        }
        case '%':
            out->push_back('%');
            break;
        default:
            out->append(fmt);
            if (spec.conversion != 0) {
                out->push_back(spec.conversion);
            }
            break;
    }
}

std::string Format(const char* format, va_list args) {
    std::string out;
    va_list copy;
    va_copy(copy, args);
    for (const char* p = format; *p != 0;) {
        if (*p != '%') {
            out.push_back(*p++);
            continue;
        }
        Spec spec;
        p = ParseSpec(p + 1, &spec);
        FormatOne(&out, spec, &copy);
    }
    va_end(copy);
    return out;
}

void Emit(const std::string& text) {
    std::lock_guard<std::mutex> lock(gTraceMutex);
    if (gSink != nullptr) {
        gSink(text.c_str(), gSinkContext);
        return;
    }
    int fd = TraceFd();
    if (fd >= 0) {
        ssize_t ignored = write(fd, text.data(), text.size());
        (void)ignored;
    }
}

bool Enabled() {
    std::lock_guard<std::mutex> lock(gTraceMutex);
    return gSink != nullptr || TraceFd() >= 0;
}

}  // namespace

ULONG DbgPrint(PCSTR format, ...) {
    if (format == nullptr || !Enabled()) {
        return 0;
    }
    DWORD savedError = GetLastError();  // tracing never disturbs the caller's last error
    va_list args;
    va_start(args, format);
    std::string text = Format(format, args);
    va_end(args);
    Emit(text);
    SetLastError(savedError);
    return 0;
}

void OutputDebugStringA(LPCSTR text) {
    if (text != nullptr && Enabled()) {
        Emit(text);
    }
}

void NvTraceSetSink(NvTraceSink sink, void* context) {
    std::lock_guard<std::mutex> lock(gTraceMutex);
    gSink = sink;
    gSinkContext = context;
}
