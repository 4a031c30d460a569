#include "platform/dialog/run_loop_wire.h"

#include <cstdint>
#include <cstring>

namespace perivane::platform {

namespace {

constexpr std::uint32_t kNil = 0xFFFFFFFF;

void putWord(std::string& out, std::uint32_t word) {
    out.append(reinterpret_cast<const char*>(&word), sizeof word);
}

void putText(std::string& out, const std::optional<NSString>& text) {
    if (!text) return putWord(out, kNil);
    putWord(out, static_cast<std::uint32_t>(text->size()));
    out.append(reinterpret_cast<const char*>(text->data()), text->size() * sizeof(char16_t));
}

// Reads from the front of the bytes, refusing to go past their end.
class Reader {
public:
    explicit Reader(std::string_view bytes) : rest_(bytes) {}
    bool atEnd() const { return rest_.empty(); }

    std::optional<std::uint32_t> word() {
        std::uint32_t w;
        if (rest_.size() < sizeof w) return std::nullopt;
        std::memcpy(&w, rest_.data(), sizeof w);
        rest_.remove_prefix(sizeof w);
        return w;
    }

    std::optional<char> byte() {
        if (rest_.empty()) return std::nullopt;
        const char c = rest_.front();
        rest_.remove_prefix(1);
        return c;
    }

    // A text; false when the bytes end inside it.
    bool text(std::optional<NSString>& out) {
        const std::optional<std::uint32_t> length = word();
        if (!length) return false;
        if (*length == kNil) return out.reset(), true;
        if (rest_.size() / sizeof(char16_t) < *length) return false;
        out.emplace(*length, u'\0');
        std::memcpy(out->data(), rest_.data(), *length * sizeof(char16_t));
        rest_.remove_prefix(*length * sizeof(char16_t));
        return true;
    }

private:
    std::string_view rest_;
};

}  // namespace

std::string encodeRequest(const CapturedTexts& texts) {
    std::string out;
    putWord(out, static_cast<std::uint32_t>(texts.size()));
    for (const auto& text : texts) putText(out, text);
    return out;
}

std::optional<CapturedTexts> decodeRequest(std::string_view bytes) {
    Reader in(bytes);
    const std::optional<std::uint32_t> count = in.word();
    // Every text takes at least its length word: a larger count cannot be right.
    if (!count || *count > bytes.size() / sizeof(std::uint32_t)) return std::nullopt;
    CapturedTexts texts(*count);
    for (auto& text : texts) {
        if (!in.text(text)) return std::nullopt;
    }
    if (!in.atEnd()) return std::nullopt;
    return texts;
}

std::string encodeAnswer(const MainThreadAnswer& answer) {
    std::string out(1, static_cast<char>(answer.kind));
    putText(out, answer.text);
    return out;
}

std::optional<MainThreadAnswer> decodeAnswer(std::string_view bytes) {
    Reader in(bytes);
    MainThreadAnswer answer;
    const std::optional<char> kind = in.byte();
    if (kind == static_cast<char>(MainThreadAnswer::Kind::result)) {
        answer.kind = MainThreadAnswer::Kind::result;
    } else if (kind == static_cast<char>(MainThreadAnswer::Kind::failure)) {
        answer.kind = MainThreadAnswer::Kind::failure;
    } else {
        return std::nullopt;
    }
    if (!in.text(answer.text) || !in.atEnd()) return std::nullopt;
    return answer;
}

}  // namespace perivane::platform
