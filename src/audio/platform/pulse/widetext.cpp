#include "audio/platform/pulse/widetext.h"

static_assert(sizeof(wchar_t) == 4, "wide strings hold one code point per character here");

namespace {

constexpr char32_t replacement = 0xFFFD;

bool isContinuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

} // namespace

std::wstring wideFromUtf8(const std::string &text)
{
    std::wstring wide;
    wide.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        int length = 0;
        char32_t codePoint = 0;
        char32_t smallest = 0;
        if (lead < 0x80) {
            length = 1;
            codePoint = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2;
            codePoint = lead & 0x1F;
            smallest = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            codePoint = lead & 0x0F;
            smallest = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            codePoint = lead & 0x07;
            smallest = 0x10000;
        } else {
            wide.push_back(wchar_t(replacement));
            ++i;
            continue;
        }
        int taken = 1;
        while (taken < length && i + std::size_t(taken) < text.size() &&
               isContinuation(static_cast<unsigned char>(text[i + std::size_t(taken)]))) {
            codePoint = (codePoint << 6) |
                        (static_cast<unsigned char>(text[i + std::size_t(taken)]) & 0x3F);
            ++taken;
        }
        const bool valid = taken == length && codePoint >= smallest && codePoint <= 0x10FFFF &&
                           (codePoint < 0xD800 || codePoint > 0xDFFF);
        wide.push_back(wchar_t(valid ? codePoint : replacement));
        i += std::size_t(taken);
    }
    return wide;
}

std::string utf8FromWide(const std::wstring &text)
{
    std::string utf8;
    utf8.reserve(text.size());
    for (const wchar_t character : text) {
        auto codePoint = char32_t(character);
        if (codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
            codePoint = replacement;
        if (codePoint < 0x80) {
            utf8.push_back(char(codePoint));
        } else if (codePoint < 0x800) {
            utf8.push_back(char(0xC0 | (codePoint >> 6)));
            utf8.push_back(char(0x80 | (codePoint & 0x3F)));
        } else if (codePoint < 0x10000) {
            utf8.push_back(char(0xE0 | (codePoint >> 12)));
            utf8.push_back(char(0x80 | ((codePoint >> 6) & 0x3F)));
            utf8.push_back(char(0x80 | (codePoint & 0x3F)));
        } else {
            utf8.push_back(char(0xF0 | (codePoint >> 18)));
            utf8.push_back(char(0x80 | ((codePoint >> 12) & 0x3F)));
            utf8.push_back(char(0x80 | ((codePoint >> 6) & 0x3F)));
            utf8.push_back(char(0x80 | (codePoint & 0x3F)));
        }
    }
    return utf8;
}
