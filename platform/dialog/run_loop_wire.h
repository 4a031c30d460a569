// How a block for the main thread and its answer cross between the library and the chooser
// program, over one socket that the program finds as descriptor kMainThreadChannel. Texts go as
// their UTF-16 units behind a length, so every text arrives as it left (newlines, U+0000, lone
// surrogates, characters beyond the BMP), and nil stays apart from the empty text.
//
//   request := count:u32  text{count}          (the library sends it, then shuts its sending side)
//   answer  := 'R' text                        the block's result (nil: it stored none)
//            | 'E' text                        the block could not run; the text says why
//   text    := 0xFFFFFFFF                      nil
//            | length:u32 unit:u16{length}     (host byte order: both ends run on one machine)
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/strings.h"

namespace perivane::platform {

// The descriptor on which the chooser program reads its request and writes its answer.
inline constexpr int kMainThreadChannel = 3;
// The descriptor the chooser program is started from; the program closes it first thing.
inline constexpr int kProgramDescriptor = 4;

using CapturedTexts = std::vector<std::optional<NSString>>;

struct MainThreadAnswer {
    enum class Kind : char { result = 'R', failure = 'E' };
    Kind kind = Kind::result;
    std::optional<NSString> text;  // the result, or the reason of the failure
};

std::string encodeRequest(const CapturedTexts& texts);
// Nothing unless `bytes` hold exactly one well-formed request.
std::optional<CapturedTexts> decodeRequest(std::string_view bytes);

std::string encodeAnswer(const MainThreadAnswer& answer);
// Nothing unless `bytes` hold exactly one well-formed answer.
std::optional<MainThreadAnswer> decodeAnswer(std::string_view bytes);

}  // namespace perivane::platform
