// An empty program, built like Zeltrane.exe: the floor its size is measured against.
int wmain(int, wchar_t*[]) { return 0; }
