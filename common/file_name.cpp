#include "file_name.h"

const wchar_t* FileNameOf(const wchar_t* path) {
    const wchar_t* name = path;
    for (; *path != L'\0'; ++path) {
        if (*path == L'\\') {
            name = path + 1;
        }
    }
    return name;
}
