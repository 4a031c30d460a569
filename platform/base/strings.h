// Text as the platform layer handles it: UTF-16 strings (what NSString and CFString hold),
// and the conversions to and from the bytes that POSIX calls take and give.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace perivane::platform {

// An NSString / CFString stand-in: UTF-16 code units, possibly holding U+0000 or lone
// surrogates, exactly as Java handed them over. A nil string is std::nullopt.
using NSString = std::u16string;

// UTF-16 -> UTF-8. Fails (nullopt) on a lone surrogate, which has no UTF-8 form.
std::optional<std::string> utf16ToUtf8(std::u16string_view text);

// UTF-16 -> UTF-8 for text shown to people (log lines): a lone surrogate becomes U+FFFD.
std::string utf16ToUtf8Lossy(std::u16string_view text);

// UTF-16 -> the bytes that name a file: standard UTF-8 (not the JVM's modified UTF-8).
// Fails on a lone surrogate and on U+0000, since no file name can hold either.
std::optional<std::string> fileSystemBytes(std::u16string_view path);

// The bytes that name a file (as fileSystemBytes makes them), kept inline when they are short
// so that the common call needs no heap block. Not copyable: c_str() points into the object.
class FileSystemName {
public:
    explicit FileSystemName(std::u16string_view path);
    FileSystemName(const FileSystemName&) = delete;
    FileSystemName& operator=(const FileSystemName&) = delete;

    // Null when the path cannot name a file (it holds U+0000 or a lone surrogate).
    const char* c_str() const noexcept { return data_; }

private:
    char inline_[256];
    std::string heap_;
    const char* data_ = nullptr;
};

// Room for UTF-16 units that are about to be written, not zero-filled: in the object itself
// when `Inline` units are enough (a short text needs no heap block), else in one heap block.
// Not copyable: data() points into the object.
template <size_t Inline>
class UnitBuffer {
public:
    explicit UnitBuffer(size_t size) { resize(size); }
    UnitBuffer(const UnitBuffer&) = delete;
    UnitBuffer& operator=(const UnitBuffer&) = delete;

    // Room for `size` units; what the buffer held is gone. Throws std::bad_alloc.
    void resize(size_t size) {
        heap_.reset(size > Inline ? new char16_t[size] : nullptr);
        data_ = heap_ ? heap_.get() : inline_;
        size_ = size;
    }
    char16_t* data() noexcept { return data_; }
    const char16_t* data() const noexcept { return data_; }
    size_t size() const noexcept { return size_; }

private:
    char16_t inline_[Inline];
    std::unique_ptr<char16_t[]> heap_;
    char16_t* data_ = inline_;
    size_t size_ = 0;
};

// UTF-8 -> UTF-16 for text read back from the system (link targets, user and group names).
// Every byte sequence that is not valid UTF-8 becomes U+FFFD; this never fails.
std::u16string utf8ToUtf16Lossy(std::string_view bytes);

// UTF-8 -> UTF-16 that refuses invalid input (nullopt), for callers where a name made of
// invalid bytes must count as no name at all.
std::optional<std::u16string> utf8ToUtf16Strict(std::string_view bytes);

// A length for ICU, which counts in int32_t. A longer text is an allocation failure
// (std::bad_alloc), never a wrong count.
int32_t icuLength(size_t length);

// Convenience for literals and ASCII-only texts in the platform layer.
inline NSString ascii(std::string_view s) { return NSString(s.begin(), s.end()); }

}  // namespace perivane::platform
