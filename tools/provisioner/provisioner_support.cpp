#include "provisioner_support.h"

#include <stdio.h>

namespace provisioner {

std::string LastErrorText(DWORD error) {
    char text[256] = {};
    if (!FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                        sizeof text, nullptr))
        return "error " + std::to_string(error);
    std::string s(text);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '.')) s.pop_back();
    return s + " (" + std::to_string(error) + ")";
}

bool Fail(const std::string& what) {
    fprintf(stderr, "provisioner: %s\n", what.c_str());
    return false;
}

std::string WindowsPath(const std::string& path) {
    if (path.empty() || path[0] != '/') return path;
    typedef WCHAR*(CDECL * ToDos)(const char*);
    ToDos toDos = reinterpret_cast<ToDos>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_dos_file_name")));
    if (!toDos) return path;
    WCHAR* wide = toDos(path.c_str());
    if (!wide) return path;
    char ansi[MAX_PATH * 2] = {};
    WideCharToMultiByte(CP_ACP, 0, wide, -1, ansi, sizeof ansi, nullptr, nullptr);
    HeapFree(GetProcessHeap(), 0, wide);
    return ansi;
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool ReadWholeFile(const std::string& path, std::string* text) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD size = GetFileSize(file, nullptr);
    bool done = size != INVALID_FILE_SIZE && size < (16u << 20);
    if (done) {
        text->assign(size, '\0');
        DWORD read = 0;
        done = size == 0 || (ReadFile(file, &(*text)[0], size, &read, nullptr) && read == size);
    }
    CloseHandle(file);
    return done;
}

bool WriteNewFile(const std::string& path, const void* bytes, size_t size, DWORD disposition) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool done = WriteFile(file, bytes, static_cast<DWORD>(size), &written, nullptr) && written == size;
    CloseHandle(file);
    return done;
}

bool DeleteIfPresent(const std::string& path) {
    for (int attempt = 0;; ++attempt) {
        if (DeleteFileA(path.c_str()) || !Exists(path)) return true;
        DWORD error = GetLastError();
        if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || attempt == 30) {
            SetLastError(error);
            return false;
        }
        Sleep(100);
    }
}

}   // namespace provisioner
