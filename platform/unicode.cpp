#include "unicode.h"

#include "strings.h"

#include <algorithm>
#include <new>
#include <stdexcept>

#include <unicode/unorm.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

namespace perivane::platform {

namespace {

const UNormalizer2* instance(const UNormalizer2* (*get)(UErrorCode*)) {
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2* n = get(&status);  // a process-wide singleton owned by ICU
    if (U_FAILURE(status) || n == nullptr) throw std::runtime_error("ICU normalizer unavailable");
    return n;
}

void fail(UErrorCode status) {
    if (status == U_MEMORY_ALLOCATION_ERROR) throw std::bad_alloc();
    throw std::runtime_error(std::string("ICU normalization failed: ") + u_errorName(status));
}

std::u16string normalize(const UNormalizer2* n, std::u16string_view text) {
    const int32_t length = icuLength(text.size());
    UErrorCode status = U_ZERO_ERROR;
    // Most texts are already normalized; the quick check finds how much of the text is, and
    // only the rest goes through the normalizer (which also mends the seam between the two).
    const int32_t prefix = unorm2_spanQuickCheckYes(n, text.data(), length, &status);
    if (U_FAILURE(status)) fail(status);
    if (prefix == length) return std::u16string(text);

    std::u16string out(static_cast<size_t>(icuLength(text.size() + text.size() / 2 + 16)), u'\0');
    for (;;) {  // runs at most twice: an overflow reports the exact size needed
        std::copy(text.begin(), text.begin() + prefix, out.begin());
        status = U_ZERO_ERROR;
        const int32_t total = unorm2_normalizeSecondAndAppend(
            n, out.data(), prefix, icuLength(out.size()), text.data() + prefix,
            length - prefix, &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            out.assign(static_cast<size_t>(total), u'\0');
            continue;
        }
        if (U_FAILURE(status)) fail(status);
        out.resize(static_cast<size_t>(total));
        return out;
    }
}

bool keptComposedInFileSystem(char32_t c) {
    return (c >= 0x2000 && c <= 0x2FFF) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0x2F800 && c <= 0x2FAFF);
}

}  // namespace

std::u16string precomposed(std::u16string_view text) {
    return normalize(instance(unorm2_getNFCInstance), text);
}

bool isPrecomposed(std::u16string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = icuLength(text.size());
    const int32_t prefix = unorm2_spanQuickCheckYes(instance(unorm2_getNFCInstance), text.data(), length, &status);
    return U_SUCCESS(status) && prefix == length;
}

std::u16string decomposed(std::u16string_view text) {
    return normalize(instance(unorm2_getNFDInstance), text);
}

std::u16string fileSystemDecomposed(std::u16string_view text) {
    const UNormalizer2* nfd = instance(unorm2_getNFDInstance);
    std::u16string out;
    out.reserve(text.size() + text.size() / 4);
    size_t runStart = 0;
    size_t i = 0;
    while (i < text.size()) {
        size_t start = i;
        char32_t c;
        U16_NEXT(text.data(), i, text.size(), c);
        if (keptComposedInFileSystem(c)) {
            out += normalize(nfd, text.substr(runStart, start - runStart));
            out.append(text.substr(start, i - start));
            runStart = i;
        }
    }
    out += normalize(nfd, text.substr(runStart));
    return out;
}

bool equalIgnoringCase(std::u16string_view a, std::u16string_view b) { return CaselessText(b).equals(a); }

CaselessText::CaselessText(std::u16string_view text) : decomposed_(decomposed(text)) {}

bool CaselessText::equals(std::u16string_view other) const {
    // ICU compares without first reading both texts whole only when both are in the FCD form,
    // which Form D is and most texts are already.
    static const UNormalizer2* const fcd =
        instance(+[](UErrorCode* status) { return unorm2_getInstance(nullptr, "nfc", UNORM2_FCD, status); });
    UErrorCode status = U_ZERO_ERROR;
    std::u16string madeFcd;
    if (unorm2_spanQuickCheckYes(fcd, other.data(), icuLength(other.size()), &status) != icuLength(other.size())) {
        madeFcd = decomposed(other);
        other = madeFcd;
    }
    status = U_ZERO_ERROR;
    const int32_t r = unorm_compare(other.data(), icuLength(other.size()), decomposed_.data(),
                                    icuLength(decomposed_.size()),
                                    U_COMPARE_IGNORE_CASE | U_FOLD_CASE_DEFAULT | UNORM_INPUT_IS_FCD, &status);
    if (U_FAILURE(status)) {
        if (status == U_MEMORY_ALLOCATION_ERROR) throw std::bad_alloc();
        return false;
    }
    return r == 0;
}

size_t comparisonLength(std::u16string_view text) {
    const std::u16string d = decomposed(text);
    UErrorCode status = U_ZERO_ERROR;
    const int32_t room = icuLength(d.size() * 3);  // full case folding gives at most 3 per unit
    std::u16string folded(static_cast<size_t>(room), u'\0');
    const int32_t n = u_strFoldCase(folded.data(), room, d.data(), icuLength(d.size()),
                                    U_FOLD_CASE_DEFAULT, &status);
    if (U_FAILURE(status)) fail(status);
    folded.resize(static_cast<size_t>(n));
    const std::u16string again = decomposed(folded);
    return static_cast<size_t>(u_countChar32(again.data(), icuLength(again.size())));
}

}  // namespace perivane::platform
