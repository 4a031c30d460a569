#include "strings.h"

#include <unicode/ustring.h>

namespace perivane::platform {

std::optional<std::string> utf16ToUtf8(std::u16string_view text) {
    if (text.empty()) return std::string();
    std::string out(text.size() * 3, '\0');  // every UTF-16 unit needs at most 3 UTF-8 bytes
    int32_t written = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strToUTF8(out.data(), static_cast<int32_t>(out.size()), &written,
                text.data(), static_cast<int32_t>(text.size()), &status);
    if (U_FAILURE(status)) return std::nullopt;  // U_INVALID_CHAR_FOUND for a lone surrogate
    out.resize(static_cast<size_t>(written));
    return out;
}

std::optional<std::string> fileSystemBytes(std::u16string_view path) {
    if (path.find(u'\0') != std::u16string_view::npos) return std::nullopt;
    return utf16ToUtf8(path);
}

namespace {
std::optional<std::u16string> fromUtf8(std::string_view bytes, UChar32 substitute) {
    if (bytes.empty()) return std::u16string();
    std::u16string out(bytes.size(), u'\0');  // UTF-16 never needs more units than UTF-8 bytes
    int32_t written = 0;
    int32_t substitutions = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &written,
                         bytes.data(), static_cast<int32_t>(bytes.size()), substitute,
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
