// Unicode normalization and comparison, over UTF-16 (ICU does the work).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace perivane::platform {

// Normalization Form C (canonical decomposition, then canonical composition). Lone surrogates
// and U+0000 pass through unchanged. Throws std::bad_alloc when ICU runs out of memory.
std::u16string precomposed(std::u16string_view text);

// One look at every unit of a text, for the callers that normalize many texts or long ones.
// `composed` counts the leading units in U+0001..U+02FF: characters that are each in Normalization
// Form C and never combine with a character before them, so a text made of them alone is in
// Form C. `nul` is the index of the first U+0000, or the length when there is none. Read eight
// units to a vector instruction where the processor has them.
struct UnitScan {
    size_t composed;
    size_t nul;
};
UnitScan scanUnits(std::u16string_view text) noexcept;

// The length of the leading part of `text` that is certainly in Normalization Form C and ends at
// a normalization boundary (all of the text when it is in Form C): the first `known` units are
// taken as such unread (a count from scanUnits), the rest goes through ICU's quick check.
size_t formCPrefix(std::u16string_view text, size_t known = 0);

// Normalization Form C of `text`, whose first `prefix` units are as formCPrefix gives them,
// written to `out`, which has room for `capacity` units; the result's length. A result that
// does not fit is not written, and the length returned is then more than `capacity`: the room
// to try next (exact once the prefix fits). Room for text.size() + text.size() / 2 + 16 units is nearly always enough.
size_t precomposeInto(std::u16string_view text, size_t prefix, char16_t* out, size_t capacity);

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
