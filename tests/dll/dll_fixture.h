// The real QAV.dll in a fresh load for every test, with the host's side of the calls: the
// exports found by name, the fake host's records, and the data folder as Windows names it.
#ifndef QAV_TESTS_DLL_DLL_FIXTURE_H
#define QAV_TESTS_DLL_DLL_FIXTURE_H

#include "tests/support/fake_host.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <string>

typedef host_result_t(QAV_HOSTAPI* InitFn)(uint32_t, const HostInitParams*);
typedef void(QAV_HOSTAPI* ShutdownFn)();

inline std::wstring data_folder()
{
    wchar_t appdata[MAX_PATH];
    if (FAILED(SHGetFolderPathW(NULL, CSIDL_LOCAL_APPDATA, NULL, SHGFP_TYPE_CURRENT, appdata))) {
        return L"";
    }
    return std::wstring(appdata) + L"\\QAV";
}

inline std::string read_file(const std::wstring& path)
{
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (f == NULL) return "<missing>";
    std::string s;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    fclose(f);
    return s;
}

inline uint64_t number_after(const std::string& doc, const char* key)
{
    size_t at = doc.find(key);
    if (at == std::string::npos) return UINT64_MAX;
    return std::strtoull(doc.c_str() + at + std::strlen(key), NULL, 10);
}

class DllTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = data_folder();
        ASSERT_FALSE(folder.empty());
        DeleteFileW((folder + L"\\telemetry.json").c_str());
        DeleteFileW((folder + L"\\telemetry.json.tmp").c_str());
        RemoveDirectoryW(folder.c_str());
        // A fresh load for every test: the record starts all zero, as in a real host.
        dll = LoadLibraryW(L"QAV.dll");
        ASSERT_NE(dll, nullptr);
        init = (InitFn)(void*)GetProcAddress(dll, "scs_telemetry_init");
        shutdown = (ShutdownFn)(void*)GetProcAddress(dll, "scs_telemetry_shutdown");
        ASSERT_NE(init, nullptr);
        ASSERT_NE(shutdown, nullptr);
    }
    void TearDown() override
    {
        if (dll != NULL) FreeLibrary(dll);
        g_fake_host = nullptr;
    }
    std::string document() const { return read_file(folder + L"\\telemetry.json"); }
    bool document_exists() const
    {
        return GetFileAttributesW((folder + L"\\telemetry.json").c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    host_result_t start(uint32_t version, const char* game = "haulsim", uint32_t game_version = 0x00010012)
    {
        params = host.params(game, game_version);
        return init(version, &params);
    }

    HMODULE dll = NULL;
    InitFn init = nullptr;
    ShutdownFn shutdown = nullptr;
    std::wstring folder;
    FakeHost host;
    HostInitParams params;
};

#endif
