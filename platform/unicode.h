// Unicode normalization and comparison, over UTF-16 (ICU does the work).
#pragma once

#include <string>
#include <string_view>

namespace perivane::platform {

// Normalization Form C (canonical decomposition, then canonical composition). Lone surrogates
// and U+0000 pass through unchanged. Throws std::bad_alloc when ICU runs out of memory.
std::u16string precomposed(std::u16string_view text);

// Whether the text is certainly in Normalization Form C already (a quick check that reads it once).
bool isPrecomposed(std::u16string_view text);

// Normalization Form D (standard canonical decomposition).
std::u16string decomposed(std::u16string_view text);

// The decomposition that file-system names get on the platform: canonical decomposition,
// except that characters in U+2000-U+2FFF, U+F900-U+FAFF and U+2F800-U+2FAFF stay as they are.
std::u16string fileSystemDecomposed(std::u16string_view text);

// Whether two texts are equal when letter case is folded and canonically equivalent
// sequences count as the same (a non-literal, case-insensitive comparison).
bool equalIgnoringCase(std::u16string_view a, std::u16string_view b);

// A text that many others are compared with as equalIgnoringCase does, prepared once, so that
// each comparison stops at the first difference: otherwise every comparison reads the whole of
// both texts, and a long text compared with many short ones costs their number times its length.
class CaselessText {
public:
    explicit CaselessText(std::u16string_view text);
    bool equals(std::u16string_view other) const;

private:
    std::u16string decomposed_;  // in Form D, which the stopping comparison needs of both sides
};

// The number of characters (code points) of the form equalIgnoringCase compares: the text
// decomposed, case-folded and decomposed again. Neither step ever maps a character to nothing,
// so a text with more characters than comparisonLength(b) is never equal to b.
size_t comparisonLength(std::u16string_view text);

}  // namespace perivane::platform
