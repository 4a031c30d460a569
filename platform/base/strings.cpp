#include "platform/base/strings.h"

#include <algorithm>
#include <climits>
#include <new>

#include <unicode/ustring.h>

namespace perivane::platform {

int32_t icuLength(size_t length) {
    if (length > static_cast<size_t>(INT32_MAX)) throw std::bad_alloc();
    return static_cast<int32_t>(length);
}

std::optional<std::string> utf16ToUtf8(std::u16string_view text) {
    if (text.empty()) return std::string();
    // Most paths and names are ASCII, whose UTF-8 is the same units narrowed.
    if (std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; })) {
        return std::string(text.begin(), text.end());
    }
    const int32_t room = icuLength(text.size() * 3);  // every UTF-16 unit needs at most 3 UTF-8 bytes
    std::string out(static_cast<size_t>(room), '\0');
    int32_t written = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strToUTF8(out.data(), room, &written, text.data(), icuLength(text.size()), &status);
    if (U_FAILURE(status)) return std::nullopt;  // U_INVALID_CHAR_FOUND for a lone surrogate
    out.resize(static_cast<size_t>(written));
    return out;
}

std::string utf16ToUtf8Lossy(std::u16string_view text) {
    const int32_t room = icuLength(text.size() * 3);
    std::string out(static_cast<size_t>(room), '\0');
    int32_t written = 0;
    int32_t substitutions = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strToUTF8WithSub(out.data(), room, &written, text.data(), icuLength(text.size()), 0xFFFD,
                       &substitutions, &status);
    if (U_FAILURE(status)) return std::string();
    out.resize(static_cast<size_t>(written));
    return out;
}

std::optional<std::string> fileSystemBytes(std::u16string_view path) {
    if (path.find(u'\0') != std::u16string_view::npos) return std::nullopt;
    return utf16ToUtf8(path);
}

FileSystemName::FileSystemName(std::u16string_view path) {
    // ASCII without U+0000, the common case, is its own UTF-8: narrowed in place. The test
    // folds every unit into two summaries, a loop the compiler can vectorize.
    if (path.size() < sizeof inline_) {
        char16_t all = 0;
        bool nul = false;
        for (const char16_t c : path) {
            all |= c;
            nul |= c == 0;
        }
        if (all < 0x80 && !nul) {
            for (size_t i = 0; i < path.size(); ++i) inline_[i] = static_cast<char>(path[i]);
            inline_[path.size()] = '\0';
            data_ = inline_;
            return;
        }
    }
    if (std::optional<std::string> bytes = fileSystemBytes(path)) {
        heap_ = std::move(*bytes);
        data_ = heap_.c_str();
    }
}

namespace {
std::optional<std::u16string> fromUtf8(std::string_view bytes, UChar32 substitute) {
    if (bytes.empty()) return std::u16string();
    const int32_t length = icuLength(bytes.size());
    std::u16string out(bytes.size(), u'\0');  // UTF-16 never needs more units than UTF-8 bytes
    int32_t written = 0;
    int32_t substitutions = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(out.data(), length, &written, bytes.data(), length, substitute,
                         &substitutions, &status);
    if (U_FAILURE(status)) return std::nullopt;
    out.resize(static_cast<size_t>(written));
    return out;
}
}  // namespace

std::u16string utf8ToUtf16Lossy(std::string_view bytes) {
    return fromUtf8(bytes, 0xFFFD).value_or(std::u16string());
}

std::optional<std::u16string> utf8ToUtf16Strict(std::string_view bytes) {
    return fromUtf8(bytes, U_SENTINEL);  // U_SENTINEL: report invalid input instead of replacing it
}

}  // namespace perivane::platform
