#include "platform/base/unicode.h"

#include "platform/base/strings.h"

#include <algorithm>
#include <new>
#include <stdexcept>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>
#include <unicode/unorm.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

namespace perivane::platform {

namespace {

// ICU's normalizer of a form: a process-wide singleton that ICU owns, looked up once.
const icu::Normalizer2& instance(const icu::Normalizer2* (*get)(UErrorCode&)) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* n = get(status);
    if (U_FAILURE(status) || n == nullptr) throw std::runtime_error("ICU normalizer unavailable");
    return *n;
}

const icu::Normalizer2& nfc() {
    static const icu::Normalizer2& n = instance(&icu::Normalizer2::getNFCInstance);
    return n;
}

const icu::Normalizer2& nfd() {
    static const icu::Normalizer2& n = instance(&icu::Normalizer2::getNFDInstance);
    return n;
}

void fail(UErrorCode status) {
    if (status == U_MEMORY_ALLOCATION_ERROR) throw std::bad_alloc();
    throw std::runtime_error(std::string("ICU normalization failed: ") + u_errorName(status));
}

// ICU's view of units it only reads: no copy.
icu::UnicodeString readOnly(std::u16string_view text) {
    return icu::UnicodeString(false, text.data(), icuLength(text.size()));
}

// The end of the leading part of `text` that the quick check of form `n` passes, reading from
// `from`, which must be a normalization boundary: the end is one too.
size_t normalizedPrefix(const icu::Normalizer2& n, std::u16string_view text, size_t from) {
    UErrorCode status = U_ZERO_ERROR;
    const int32_t span = n.spanQuickCheckYes(readOnly(text.substr(from)), status);
    if (U_FAILURE(status)) fail(status);
    return from + static_cast<size_t>(span);
}

// Form `n` of `text`, whose first `prefix` units are in that form and end at a normalization
// boundary, into out[0, capacity): the prefix as it is, then the rest normalized on its own
// (a boundary is where the two can be cut). The result's length, or, when it does not fit,
// more than `capacity` (the room needed once the prefix fits). ICU's C++ interface writes
// straight into `out` (its C one looks the normalizer's class up on every call).
size_t normalizeInto(const icu::Normalizer2& n, std::u16string_view text, size_t prefix, char16_t* out,
                     size_t capacity) {
    if (capacity < prefix) return text.size() + text.size() / 2 + 16;
    std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(prefix), out);
    icu::UnicodeString rest(out + prefix, 0, icuLength(capacity - prefix));  // writes into `out`
    UErrorCode status = U_ZERO_ERROR;
    n.normalize(readOnly(text.substr(prefix)), rest, status);
    if (U_FAILURE(status)) fail(status);
    const size_t length = prefix + static_cast<size_t>(rest.length());
    // A result that outgrew the room was moved by ICU to a block of its own.
    return rest.getBuffer() == out + prefix ? length : std::max(length, capacity + 1);
}

std::u16string normalize(const icu::Normalizer2& n, std::u16string_view text) {
    // Most texts are already normalized: then the quick check is all it takes.
    const size_t prefix = normalizedPrefix(n, text, 0);
    if (prefix == text.size()) return std::u16string(text);
    std::u16string out(text.size() + text.size() / 2 + 16, u'\0');
    for (;;) {  // an overflow reports the room needed
        const size_t length = normalizeInto(n, text, prefix, out.data(), out.size());
        if (length <= out.size()) {
            out.resize(length);
            return out;
        }
        out.resize(length);
    }
}

#ifdef __SSE2__
// Moves `at` over the groups of units, 32 then 8 at a time, in which `mark` (a vector of 8 units
// to a vector with a non-zero lane for each unit sought) finds nothing; it stops at the first
// group that holds a unit sought. Fewer than 8 units left are looked at as the last 8 of the
// text (a short text needs no unit-by-unit loop).
template <typename Mark>
size_t skipGroupsWithout(const char16_t* p, size_t at, size_t n, Mark mark) {
    const __m128i zero = _mm_setzero_si128();
    auto marked = [&](size_t i) { return mark(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i))); };
    auto none = [&](__m128i lanes) { return _mm_movemask_epi8(_mm_cmpeq_epi16(lanes, zero)) == 0xFFFF; };
    for (; n - at >= 32; at += 32) {
        if (!none(_mm_or_si128(_mm_or_si128(marked(at), marked(at + 8)), _mm_or_si128(marked(at + 16), marked(at + 24))))) break;
    }
    for (; n - at >= 8; at += 8) {
        if (!none(marked(at))) return at;
    }
    // Those before `at` are known to hold none: a mark among the last 8 is from `at` on.
    return n >= 8 && none(marked(n - 8)) ? n : at;
}
#endif

bool keptComposedInFileSystem(char32_t c) {
    return (c >= 0x2000 && c <= 0x2FFF) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0x2F800 && c <= 0x2FAFF);
}

}  // namespace

std::u16string precomposed(std::u16string_view text) {
    return normalize(nfc(), text);
}

UnitScan scanUnits(std::u16string_view text) noexcept {
    const char16_t* p = text.data();
    const size_t n = text.size();
    size_t i = 0;
#ifdef __SSE2__
    // unit - 1 wraps U+0000 to 0xFFFF; what is left above 0x2FE after a saturating subtraction
    // is zero exactly for the units in U+0001..U+02FF.
    i = skipGroupsWithout(p, 0, n, [one = _mm_set1_epi16(1), top = _mm_set1_epi16(0x2FE)](__m128i units) {
        return _mm_subs_epu16(_mm_sub_epi16(units, one), top);
    });
#endif
    while (i < n && static_cast<char16_t>(p[i] - 1) < 0x2FF) ++i;
    const size_t composed = i;
    if (composed == n) return {n, n};  // the common text: no U+0000 among them
#ifdef __SSE2__
    i = skipGroupsWithout(p, i, n, [zero = _mm_setzero_si128()](__m128i units) { return _mm_cmpeq_epi16(units, zero); });
#endif
    while (i < n && p[i] != u'\0') ++i;
    return {composed, i};
}

size_t formCPrefix(std::u16string_view text, size_t known) {
    // A unit below U+0300 starts at a boundary: the check reads on from the last known one. When
    // the character after them may combine with what precedes it, the check would stop there
    // and step back to that boundary: it is not asked.
    const size_t from = known > 0 ? known - 1 : 0;
    if (known < text.size()) {
        char32_t next;
        U16_GET(text.data(), 0, known, text.size(), next);
        if (!nfc().hasBoundaryBefore(static_cast<UChar32>(next))) return from;
    }
    return normalizedPrefix(nfc(), text, from);
}

size_t precomposeInto(std::u16string_view text, size_t prefix, char16_t* out, size_t capacity) {
    return normalizeInto(nfc(), text, prefix, out, capacity);
}

std::u16string decomposed(std::u16string_view text) {
    return normalize(nfd(), text);
}

std::u16string fileSystemDecomposed(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size() + text.size() / 4);
    size_t runStart = 0;
    size_t i = 0;
    while (i < text.size()) {
        size_t start = i;
        char32_t c;
        U16_NEXT(text.data(), i, text.size(), c);
        if (keptComposedInFileSystem(c)) {
            out += normalize(nfd(), text.substr(runStart, start - runStart));
            out.append(text.substr(start, i - start));
            runStart = i;
        }
    }
    out += normalize(nfd(), text.substr(runStart));
    return out;
}

bool equalIgnoringCase(std::u16string_view a, std::u16string_view b) { return CaselessText(b).equals(a); }

CaselessText::CaselessText(std::u16string_view text) : decomposed_(decomposed(text)) {}

bool CaselessText::equals(std::u16string_view other) const {
    // ICU compares without first reading both texts whole only when both are in the FCD form,
    // which Form D is and most texts are already.
    static const icu::Normalizer2& fcd = instance(
        +[](UErrorCode& status) { return icu::Normalizer2::getInstance(nullptr, "nfc", UNORM2_FCD, status); });
    UErrorCode status = U_ZERO_ERROR;
    std::u16string madeFcd;
    if (fcd.spanQuickCheckYes(readOnly(other), status) != icuLength(other.size())) {
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
