#include "text.h"

void Clear(Text& text) {
    text.length = 0;
    text.cut = false;
    text.data[0] = L'\0';
}

void AppendChar(Text& text, wchar_t character) {
    if (text.length + 1 >= kCapacity) {
        text.cut = true;
        return;
    }
    text.data[text.length++] = character;
    text.data[text.length] = L'\0';
}

void Append(Text& text, const wchar_t* part) {
    for (; *part != L'\0'; ++part) {
        AppendChar(text, *part);
    }
}

void AppendCode(Text& text, DWORD code) {
    constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
    constexpr int kDigitBits = 4;
    constexpr DWORD kDigitMask = 0xF;
    constexpr int kHighestDigit = 28;
    Append(text, L"0x");
    for (int shift = kHighestDigit; shift >= 0; shift -= kDigitBits) {
        AppendChar(text, kDigits[(code >> shift) & kDigitMask]);
    }
}

void AppendArgument(Text& text, const wchar_t* argument) {
    AppendChar(text, L'"');
    DWORD backslashes = 0;
    for (; *argument != L'\0'; ++argument) {
        if (*argument == L'\\') {
            ++backslashes;
        } else {
            const DWORD copies = *argument == L'"' ? 2 * backslashes + 1 : backslashes;
            for (DWORD i = 0; i < copies; ++i) {
                AppendChar(text, L'\\');
            }
            backslashes = 0;
            AppendChar(text, *argument);
        }
    }
    for (DWORD i = 0; i < 2 * backslashes; ++i) {
        AppendChar(text, L'\\');
    }
    AppendChar(text, L'"');
}

wchar_t* SplitAt(wchar_t* text, wchar_t separator) {
    for (; *text != L'\0'; ++text) {
        if (*text == separator) {
            *text = L'\0';
            return text + 1;
        }
    }
    return nullptr;
}

bool EachPiece(const wchar_t* list, wchar_t separator, bool (*test)(const wchar_t*)) {
    if (*list == L'\0') {
        return true;
    }
    wchar_t piece[MAX_PATH + 1];
    DWORD length = 0;
    for (const wchar_t* at = list;; ++at) {
        if (*at != separator && *at != L'\0') {
            if (length == MAX_PATH) {
                return false;
            }
            piece[length++] = *at;
            continue;
        }
        piece[length] = L'\0';
        if (length == 0 || !test(piece)) {
            return false;
        }
        if (*at == L'\0') {
            return true;
        }
        length = 0;
    }
}

bool Same(const wchar_t* text, const wchar_t* word) {
    for (; *text != L'\0' && *text == *word; ++text, ++word) {
    }
    return *text == *word;
}

DWORD Length(const wchar_t* text) {
    DWORD length = 0;
    while (text[length] != L'\0') {
        ++length;
    }
    return length;
}

bool SameBytes(const BYTE* one, const BYTE* other, DWORD size) {
    for (DWORD i = 0; i < size; ++i) {
        if (one[i] != other[i]) {
            return false;
        }
    }
    return true;
}

void Path(const Text& folder, const wchar_t* name, Text& path) {
    Clear(path);
    Append(path, folder.data);
    AppendChar(path, L'\\');
    Append(path, name);
}
