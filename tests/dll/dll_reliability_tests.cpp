// The real QAV.dll when Windows gets in the way (a reader holding the document open, a
// read-only document, the folder deleted, something in the temporary file's place) and when
// the host misbehaves. The last good document must stay whole, the first write after the
// fault clears must publish the current state, and every document must pass a strict parser.
#include "tests/dll/dll_fixture.h"
#include "support/document.h"

#include <vector>

namespace {

class DllReliabilityTest : public DllTest {
protected:
    bool temp_exists() const
    {
        DWORD attributes = GetFileAttributesW(os_wide(paths.temp).c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    }
    // The document on disk is valid and shows `event` as the latest gameplay event.
    void expect_latest(const std::string& event, bool paused)
    {
        DocumentView s;
        std::string doc = document();
        ASSERT_EQ(document_problem(doc, &s), "") << doc;
        EXPECT_EQ(s.lastEvent, event);
        EXPECT_EQ(s.paused, paused);
        EXPECT_FALSE(temp_exists());
    }
};

struct WindowsFault {
    const char* name;
    HANDLE (*make)(const TelemetryPaths& paths); // returns a handle to close, or null
    void (*clear)(const TelemetryPaths& paths, HANDLE held);
    bool keeps_document; // false: the fault takes the document away with it
    bool leaves_temp;    // the write got as far as a failed replace
};

HANDLE hold_for_reading(const TelemetryPaths& paths)
{
    // How a companion reads with the C runtime: sharing reads and writes, not deletion.
    return CreateFileW(os_wide(paths.final).c_str(), GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
}
void release(const TelemetryPaths&, HANDLE held) { CloseHandle(held); }

HANDLE delete_folder(const TelemetryPaths& paths)
{
    const std::wstring folder = os_wide(paths.folder);
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                DeleteFileW((folder + L"\\" + entry.cFileName).c_str());
            }
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    EXPECT_TRUE(RemoveDirectoryW(folder.c_str()));
    return NULL;
}
void recreate_folder(const TelemetryPaths& paths, HANDLE) { CreateDirectoryW(os_wide(paths.folder).c_str(), NULL); }

HANDLE block_temporary(const TelemetryPaths& paths)
{
    CreateDirectoryW(os_wide(paths.temp).c_str(), NULL);
    return NULL;
}
void unblock_temporary(const TelemetryPaths& paths, HANDLE) { RemoveDirectoryW(os_wide(paths.temp).c_str()); }

const WindowsFault WINDOWS_FAULTS[] = {
    {"a reader holding the document open", hold_for_reading, release, true, true},
    {"the folder deleted after load", delete_folder, recreate_folder, false, false},
    {"a folder in the temporary file's place", block_temporary, unblock_temporary, true, false},
};

} // namespace

TEST_F(DllReliabilityTest, FaultsKeepTheLastGoodDocumentAndTheNextWritePublishes)
{
    ASSERT_EQ(start(HOST_VERSION_1_01), HOST_RESULT_OK);
    int n = 0;
    for (const WindowsFault& f : WINDOWS_FAULTS) {
        SCOPED_TRACE(f.name);
        const std::string before = "before." + std::to_string(n), during = "during." + std::to_string(n),
                          after = "after." + std::to_string(n);
        n++;
        host.gameplay(before.c_str());
        host.event(HOST_EVENT_STARTED, nullptr);
        const std::string good = document();
        ASSERT_EQ(document_problem(good), "");

        HANDLE held = f.make(paths);
        host.gameplay(during.c_str());
        host.event(HOST_EVENT_PAUSED, nullptr); // writes at once, and must fail
        if (f.keeps_document) {
            EXPECT_EQ(document(), good) << "byte for byte";
        } else {
            EXPECT_FALSE(document_exists());
        }
        EXPECT_EQ(temp_exists(), f.leaves_temp);
        if (temp_exists()) {
            // What a failed replace leaves behind is the complete newer document.
            DocumentView s;
            EXPECT_EQ(document_problem(read_document(paths.temp), &s), "");
            EXPECT_EQ(s.lastEvent, during);
        }
        f.clear(paths, held);

        host.gameplay(after.c_str());
        host.event(HOST_EVENT_STARTED, nullptr);
        expect_latest(after, false);
    }
}

TEST_F(DllReliabilityTest, ShutdownWithoutInitializationWritesNothing)
{
    shutdown();
    shutdown();
    EXPECT_FALSE(document_exists());
    // A refused version leaves no paths either; a later good initialization works.
    EXPECT_EQ(start(0x00020000), HOST_RESULT_UNSUPPORTED);
    shutdown();
    EXPECT_FALSE(document_exists());
    ASSERT_EQ(start(HOST_VERSION_1_01), HOST_RESULT_OK);
    expect_latest("", true);
}

// A read-only temporary file left behind (after a crash, by a backup tool or by hand) would
// otherwise refuse every write of the session.
TEST_F(DllReliabilityTest, AStaleReadOnlyTemporaryFileGivesWay)
{
    ASSERT_EQ(start(HOST_VERSION_1_01), HOST_RESULT_OK);
    HANDLE stale = CreateFileW(os_wide(paths.temp).c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_READONLY, NULL);
    ASSERT_NE(stale, INVALID_HANDLE_VALUE);
    CloseHandle(stale);
    stale = CreateFileW(os_wide(paths.temp).c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (stale != INVALID_HANDLE_VALUE) {
        CloseHandle(stale); // Wine run by root writes read-only files as root does
        SetFileAttributesW(os_wide(paths.temp).c_str(), FILE_ATTRIBUTE_NORMAL);
        GTEST_SKIP() << "read-only files are writable here: nothing to test";
    }
    host.gameplay("after.crash");
    host.event(HOST_EVENT_STARTED, nullptr);
    expect_latest("after.crash", false);
}

TEST_F(DllReliabilityTest, MisbehavingHostGetsValidDocuments)
{
    const std::string huge(5000, '\xFF');
    ASSERT_EQ(start(HOST_VERSION_1_01, huge.c_str()), HOST_RESULT_OK);
    ASSERT_EQ(start(HOST_VERSION_1_01, "twice"), HOST_RESULT_OK) << "initialization twice";
    expect_latest("", true);

    // Null records and null values, through the callbacks the DLL registered; mistyped
    // values; unknown event numbers to every event callback.
    for (const HostRegistration& r : host.registrations) {
        if (r.is_channel) {
            r.on_channel(r.channel.c_str(), r.index, nullptr, r.context);
            HostValue wrong = host_string(huge.c_str());
            r.on_channel(r.channel.c_str(), r.index, &wrong, r.context);
            continue;
        }
        for (uint32_t event : {r.event, 0u, 99u, 0xFFFFFFFFu}) r.on_event(event, nullptr, r.context);
    }
    host.configuration(nullptr, nullptr);
    host.gameplay(nullptr);

    // Attributes of every name with every type, empty and very long names and strings.
    std::vector<std::string> names = {"", huge, "cargo", "cargo.id", "source.city", "income",
                                      "cargo.mass", "delivery.time", "planned_distance.km",
                                      "destination.company.id"};
    std::vector<HostNamedValue> attrs;
    for (const std::string& name : names) {
        for (uint32_t type : {0u, 3u, 4u, 5u, 11u, 12u, 13u, 0xFFFFFFFFu}) {
            HostValue v = host_u64(0xFFFFFFFFFFFFFFFFull);
            v.type = type;
            if (type == HOST_TYPE_STRING) v.value.string = huge.c_str();
            attrs.push_back(host_attribute(name.c_str(), v));
        }
    }
    attrs.push_back(host_attribute("cargo", host_string(nullptr)));
    attrs.push_back(host_attributes_end());
    host.configuration("job", attrs.data());
    host.gameplay(huge.c_str());
    host.event(HOST_EVENT_PAUSED, nullptr);
    std::string doc = document();
    EXPECT_EQ(document_problem(doc), "") << doc;
    EXPECT_NE(doc.find("\"cargo\":\"\",\"cargoId\":\"\xEF\xBF\xBD"), std::string::npos)
        << "broken UTF-8 is published as U+FFFD";

    shutdown();
    shutdown();
    expect_latest("game.closed", true);
    host.event(HOST_EVENT_STARTED, nullptr); // a callback after shutdown
    expect_latest("game.closed", false);
}

// A refused core event leaves the frame-end callback registered; a host that calls it gets
// documents as valid as any other.
TEST_F(DllReliabilityTest, CallbacksAfterAFailedInitialization)
{
    host.refuse_event = HOST_EVENT_STARTED;
    EXPECT_EQ(start(HOST_VERSION_1_01), HOST_RESULT_GENERIC_ERROR);
    for (int i = 0; i < 3; i++) {
        host.event(HOST_EVENT_FRAME_END, nullptr);
        host.event(HOST_EVENT_PAUSED, nullptr);
        if (document_exists()) {
            EXPECT_EQ(document_problem(document()), "");
        }
    }
}
