#pragma once

// The text of the creation program's usage box. It names the executable by
// its fixed name, never by the name the file was started under.
extern const wchar_t CreationUsageText[];
