// Fuzz target for the header decoder, built natively with clang, libFuzzer
// and the address and undefined-behaviour sanitizers (scripts/fuzz
// header_decode), code page 932 coming from iconv (windows_stand_in.cpp).
// The first bytes choose the output capacities; every output must be
// NUL-terminated inside its buffer, hold only whole UTF-16 characters, and
// a cut text must be the uncut text's beginning followed by U+2026.
#include <fuzzer/FuzzedDataProvider.h>

#include <stdint.h>
#include <stdlib.h>

#include <vector>

#include "headers/header_decode.h"

namespace {

void Require(bool condition)
{
    if (!condition)
        abort();
}

// The WCHARs before the NUL, which must lie inside the buffer; no lone
// surrogate among them.
size_t CheckText(const std::vector<WCHAR> &text)
{
    size_t length = 0;
    while (length < text.size() && text[length] != 0)
        length++;
    Require(length < text.size());
    for (size_t i = 0; i < length; i++) {
        if (text[i] >= 0xD800 && text[i] <= 0xDBFF) {
            Require(i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF);
            i++;
        } else {
            Require(!(text[i] >= 0xDC00 && text[i] <= 0xDFFF));
        }
    }
    return length;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    int capacity = input.ConsumeIntegralInRange<int>(1, 80);
    int subjectCapacity = input.ConsumeIntegralInRange<int>(1, 80);
    std::vector<char> header = input.ConsumeRemainingBytes<char>();
    const char *bytes = header.data();
    size_t length = header.size();

    // Every byte gives at most one WCHAR, or a pair for a whole UTF-8
    // character of four: this capacity never cuts.
    std::vector<WCHAR> whole(length + 2);
    int wholeLength = DecodeHeaderText(bytes, length, whole.data(), (int)whole.size());
    Require((size_t)wholeLength == CheckText(whole) && (size_t)wholeLength <= length);

    // Exactly the capacity asked for: a write past it is a heap overflow.
    std::vector<WCHAR> cut((size_t)capacity);
    int cutLength = DecodeHeaderText(bytes, length, cut.data(), capacity);
    Require((size_t)cutLength == CheckText(cut));
    if (wholeLength <= capacity - 1) {
        Require(cutLength == wholeLength);
        for (int i = 0; i < cutLength; i++)
            Require(cut[i] == whole[i]);
    } else if (capacity > 1) {
        Require(cutLength >= 1 && cut[cutLength - 1] == 0x2026);
        for (int i = 0; i + 1 < cutLength; i++)
            Require(cut[i] == whole[i]);
    }

    std::vector<WCHAR> sender((size_t)capacity), subject((size_t)subjectCapacity);
    Require(DecodeMailSummary(bytes, length, sender.data(), capacity, subject.data(), subjectCapacity) == 1);
    CheckText(sender);
    CheckText(subject);
    return 0;
}
