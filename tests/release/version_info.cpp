// Reads QAV.dll's version resource back the way Explorer's Properties > Details does, with
// GetFileVersionInfoW and VerQueryValueW, and checks it against the version the build was
// given. Prints what it found; exits 1 on any difference or a missing resource.
//   version_info QAV.dll
#include "plugin/version.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

static std::string narrow(const wchar_t* w)
{
    std::string s;
    for (; *w != 0; w++) s += *w < 0x80 ? (char)*w : '?';
    return s;
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: version_info QAV.dll\n");
        return 2;
    }
    std::wstring path;
    for (const char* p = argv[1]; *p != 0; p++) path += (wchar_t)(unsigned char)*p;
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    std::vector<char> data(size);
    if (size == 0 || !GetFileVersionInfoW(path.c_str(), 0, size, data.data())) {
        std::printf("%s has no version resource (error %lu)\n", argv[1], GetLastError());
        return 1;
    }

    int status = 0;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data.data(), L"\\", (void**)&fixed, &length) || fixed == nullptr) {
        std::printf("no fixed file information\n");
        return 1;
    }
    DWORD want_ms = (DWORD)QAV_VERSION_MAJOR << 16 | QAV_VERSION_MINOR;
    DWORD want_ls = (DWORD)QAV_VERSION_PATCH << 16;
    std::printf("FileVersion (fixed): %lu.%lu.%lu.%lu\n", fixed->dwFileVersionMS >> 16,
                fixed->dwFileVersionMS & 0xFFFF, fixed->dwFileVersionLS >> 16,
                fixed->dwFileVersionLS & 0xFFFF);
    if (fixed->dwFileVersionMS != want_ms || fixed->dwFileVersionLS != want_ls ||
        fixed->dwProductVersionMS != want_ms || fixed->dwProductVersionLS != want_ls) {
        std::printf("  expected %s\n", QAV_FILE_VERSION);
        status = 1;
    }

    const struct {
        const wchar_t* name;
        const char* want;
    } strings[] = {
        {L"FileVersion", QAV_FILE_VERSION},   {L"ProductVersion", QAV_FILE_VERSION},
        {L"ProductName", QAV_PRODUCT_NAME},   {L"FileDescription", QAV_DESCRIPTION},
        {L"OriginalFilename", "QAV.dll"},     {L"Comments", "SPDX-License-Identifier: MIT"},
        {L"LegalCopyright", QAV_COPYRIGHT},
    };
    for (const auto& s : strings) {
        std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + s.name;
        wchar_t* value = nullptr;
        std::string got = VerQueryValueW(data.data(), key.c_str(), (void**)&value, &length) && value
                              ? narrow(value)
                              : "(missing)";
        std::printf("%s: %s\n", narrow(s.name).c_str(), got.c_str());
        if (got != s.want) {
            std::printf("  expected %s\n", s.want);
            status = 1;
        }
    }
    return status;
}
