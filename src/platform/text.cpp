#include "platform/text.h"

#include <iconv.h>
#include <langinfo.h>

#include <bit>
#include <cstring>

namespace vimbra::platform {
namespace {

constexpr const char* kWideCharset =
    std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

// The narrow character set of the calling thread's locale.
const char* NarrowCharset() {
    const char* set = ::nl_langinfo(CODESET);
    if (set == nullptr || *set == '\0' || std::strcmp(set, "ANSI_X3.4-1968") == 0) return "UTF-8";
    return set;
}

// Converts `in_bytes` bytes with iconv into `out` of `out_size` bytes; the
// number of bytes written, or -1 when a character cannot be converted or the
// output is full.
ptrdiff_t Convert(const char* to, const char* from, const char* in, size_t in_bytes, char* out,
                  size_t out_size) {
    iconv_t cd = ::iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return -1;
    char* src = const_cast<char*>(in);
    char* dst = out;
    size_t src_left = in_bytes;
    size_t dst_left = out_size;
    size_t r = ::iconv(cd, &src, &src_left, &dst, &dst_left);
    // Flush any shift state of a stateful character set.
    if (r != static_cast<size_t>(-1)) r = ::iconv(cd, nullptr, nullptr, &dst, &dst_left);
    ::iconv_close(cd);
    if (r == static_cast<size_t>(-1) || src_left != 0) return -1;
    return dst - out;
}

}  // namespace

bool WideToNarrow(const char16_t* in, char* out, size_t out_size) {
    if (out == nullptr || out_size == 0) return false;
    out[0] = '\0';
    if (in == nullptr) return false;
    size_t units = 0;
    while (in[units] != u'\0') ++units;
    const ptrdiff_t n = Convert(NarrowCharset(), kWideCharset, reinterpret_cast<const char*>(in),
                                units * sizeof(char16_t), out, out_size - 1);
    if (n < 0) {
        out[0] = '\0';
        return false;
    }
    out[n] = '\0';
    return true;
}

bool NarrowToWide(const char* in, char16_t* out, size_t out_units) {
    if (out == nullptr || out_units == 0) return false;
    out[0] = u'\0';
    if (in == nullptr) return false;
    const ptrdiff_t n = Convert(kWideCharset, NarrowCharset(), in, std::strlen(in),
                                reinterpret_cast<char*>(out), (out_units - 1) * sizeof(char16_t));
    if (n < 0 || n % 2 != 0) {
        out[0] = u'\0';
        return false;
    }
    out[n / 2] = u'\0';
    return true;
}

}  // namespace vimbra::platform
