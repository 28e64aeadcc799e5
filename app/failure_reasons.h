// Why a batch did not convert a name, in words its user understands, in
// Japanese and English as the usage is: one line a name on standard error,
// beside the summary, which stays as it is.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace morvane {

// The name was not found (or could not be looked up).
std::u16string NotFoundReason();

// The encoder library could not be opened, or lacks its entry point.
std::u16string EncoderUnreachableReason();

// The batch was cancelled before the name's turn.
std::u16string CancelledReason();

// What the encoder's `result` (not 0) says, from its result codes
// (EncoderResult); the JPEG's path `jpeg` is named where it is at fault.
std::u16string ReasonOfResult(int16_t result, std::u16string_view jpeg);

// "<program>: <name>: <reason>", ending in LF.
std::u16string NotConvertedLine(std::u16string_view name, std::u16string_view reason);

// The line for a command line that names no bitmap at all.
std::u16string NoBitmapNamedLine();

}  // namespace morvane
