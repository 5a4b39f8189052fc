#include "support/Digest.h"

#include <openssl/evp.h>

#include <cstdio>
#include <memory>

namespace corvane {

namespace {

struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using Context = std::unique_ptr<EVP_MD_CTX, ContextFree>;

Context started() {
    Context context(EVP_MD_CTX_new());
    if (context && EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        context.reset();
    return context;
}

std::string finished(EVP_MD_CTX* context) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context, digest, &length) != 1)
        return {};
    static constexpr char Hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * length);
    for (unsigned int i = 0; i < length; ++i) {
        out += Hex[digest[i] >> 4];
        out += Hex[digest[i] & 0xF];
    }
    return out;
}

} // namespace

std::string sha256Of(std::string_view bytes) {
    const Context context = started();
    if (!context || EVP_DigestUpdate(context.get(), bytes.data(), bytes.size()) != 1)
        return {};
    return finished(context.get());
}

std::string sha256OfFile(const std::string& path) {
    const Context context = started();
    if (!context)
        return {};
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return {};
    char buffer[1 << 14];
    size_t n = 0;
    bool failed = false;
    while (!failed && (n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        failed = EVP_DigestUpdate(context.get(), buffer, n) != 1;
    failed = failed || std::ferror(file) != 0;
    std::fclose(file);
    return failed ? std::string() : finished(context.get());
}

} // namespace corvane
