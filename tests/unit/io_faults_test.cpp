// What the machine can do to a write, and what must survive it. The matrix steps one fault
// through every I/O call of every kind of write (the open, the one write of the buffered
// document, the close, the replace and the replace's retries), once and persistently; the
// real-world cases after it make the same faults happen for real on the file system.
#include "output/pacing.h"
#include "support/document.h"
#include "tests/unit/fixture.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

namespace {

struct FaultKind {
    const char* name;
    int err;             // what the failing call reports; 0: it fails by itself after the hook
    bool deletes_folder; // the hook deletes the data folder, with telemetry.json in it
};

// To the plug-in these differ only in the errno: each is a call that fails. The folder
// deletion is real, so the calls after it fail (or, for writes to the unlinked file,
// succeed) the way the system makes them.
const FaultKind FAULT_KINDS[] = {
    {"folder deleted after load", 0, true},
    {"folder read-only", EROFS, false},
    {"disk full", ENOSPC, false},
    {"temporary file not creatable", EACCES, false},
    {"replace failing", EIO, false},
    {"reader holding the target open", EACCES, false}, // a sharing violation, as the runtime maps it
};

enum WritePath { INIT, FRAME_END, PAUSE, START, SHUTDOWN };
const struct {
    WritePath path;
    const char* name;
} WRITE_PATHS[] = {
    {INIT, "initialization"}, {FRAME_END, "frame end"}, {PAUSE, "pause"},
    {START, "start"},         {SHUTDOWN, "shutdown"},
};

std::string g_folder; // for the hook, which takes no arguments

void delete_folder()
{
    std::string cmd = "rm -rf '" + g_folder + "'";
    (void)std::system(cmd.c_str());
}

class IoFaultTest : public PluginTest {
protected:
    void SetUp() override
    {
        PluginTest::SetUp();
        g_folder = dir + "/QAV";
        init();
        // A job with long texts: the largest documents of an everyday drive.
        for (const VocabularyRow& row : JOB_ATTRIBUTES) {
            if (row.type != HOST_TYPE_STRING) continue;
            job_attrs.push_back(host_attribute(row.host_name, host_string(long_text.c_str())));
        }
        job_attrs.push_back(host_attributes_end());
    }

    // A new state, so that the next document differs from the one on disk. Fixed-width
    // text keeps every document the same length: the same calls to step through.
    void change(int trial, const char* tag)
    {
        std::snprintf(event_id, sizeof event_id, "trial-%06d-%s", trial, tag);
        host.configuration("job", job_attrs.data());
        host.gameplay(event_id);
        host.channel("game.time", host_u32((uint32_t)trial));
        host.channel("truck.speed", host_float((float)trial / 8));
        g_test_platform.tick += 7;
    }

    void write(WritePath path, int trial)
    {
        switch (path) {
        case INIT: {
            std::snprintf(game_id, sizeof game_id, "g%06d", trial);
            EXPECT_EQ(host.start(scs_telemetry_init, HOST_VERSION_1_01, game_id, (uint32_t)trial),
                      HOST_RESULT_OK)
                << "a failed write never fails initialization";
            break;
        }
        case FRAME_END:
            g_test_platform.tick += PACING_SLOW_MS;
            host.event(HOST_EVENT_FRAME_END, nullptr);
            break;
        case PAUSE: host.event(HOST_EVENT_PAUSED, nullptr); break;
        case START: host.event(HOST_EVENT_STARTED, nullptr); break;
        case SHUTDOWN: scs_telemetry_shutdown(); break;
        }
    }

    // I/O calls one write of `path` makes when nothing fails.
    int calls_of_a_write(WritePath path)
    {
        change(0, "good");
        int before = g_test_platform.io_calls;
        write(path, 0);
        return g_test_platform.io_calls - before;
    }

    // The current state is on disk, complete and valid, with nothing left beside it.
    void expect_published(const char* what)
    {
        std::string doc = document();
        EXPECT_EQ(doc, current_document(document_written(doc))) << what;
        EXPECT_EQ(document_problem(doc), "") << what;
        EXPECT_FALSE(file_exists(temp_path)) << what;
    }

    const std::string long_text = std::string(90, 'w');
    std::vector<HostNamedValue> job_attrs;
    char event_id[32];
    char game_id[16];
};

} // namespace

TEST_F(IoFaultTest, EveryCallOfEveryWriteFailsOnceAndPersistently)
{
    int trials = 0, injected = 0, lost = 0, overcome = 0;
    for (const auto& p : WRITE_PATHS) {
        const int calls = calls_of_a_write(p.path);
        // open, one write (the stream holds the whole document), close, replace
        ASSERT_EQ(calls, 4) << p.name;
        std::printf("%s: %d I/O calls a write\n", p.name, calls);
        for (const FaultKind& kind : FAULT_KINDS) {
            for (bool persistent : {false, true}) {
                for (int nth = 1; nth <= calls; nth++) {
                    trials++;
                    SCOPED_TRACE(std::string(p.name) + ", " + kind.name +
                                 (persistent ? ", persistent" : ", once") + ", call " +
                                 std::to_string(nth) + " of " + std::to_string(calls));
                    // A clean slate: the folder there, a good document on disk.
                    test_platform_clear_fault();
                    mkdir(g_folder.c_str(), 0777);
                    change(trials, "good");
                    host.event(HOST_EVENT_PAUSED, nullptr);
                    const std::string good = document();
                    ASSERT_EQ(document_problem(good), "");

                    change(trials, "flty");
                    const int fired_before = g_test_platform.faults_fired;
                    test_platform_arm_fault(nth, persistent ? FAULT_PERSISTENT : 1, kind.err,
                                            kind.deletes_folder ? delete_folder : nullptr);
                    write(p.path, trials);
                    const int fired = g_test_platform.faults_fired - fired_before;
                    EXPECT_GE(fired, 1) << "the fault was reached";
                    injected += fired;

                    // The last good document stays, byte for byte; only a write that got
                    // past a one-off fault in full may have replaced it, with the whole
                    // current document. Deleting the folder takes the document with it.
                    const std::string after = document();
                    bool kept = after == good || (kind.deletes_folder && after == "<missing>");
                    bool replaced_whole =
                        !persistent && after == current_document(document_written(after));
                    EXPECT_TRUE(kept || replaced_whole) << after;
                    if (replaced_whole && !kept) overcome++; // a retried replace got through

                    // The fault clears (the user puts the folder back); the next write of
                    // the same kind publishes the state of that moment.
                    test_platform_clear_fault();
                    if (kind.deletes_folder) mkdir(g_folder.c_str(), 0777);
                    change(trials, "done");
                    write(p.path, trials);
                    std::string doc = document();
                    bool published = doc == current_document(document_written(doc));
                    if (!(kept || replaced_whole) || !published) lost++;
                    expect_published("first write after the fault");
                }
            }
        }
    }
    std::printf("fault matrix: %d trials, %d faults injected, %d documents lost, %d one-off "
                "faults overcome within the same write\n",
                trials, injected, lost, overcome);
    EXPECT_EQ(lost, 0);
}

// The same faults, made by the file system itself rather than by the scripted platform (but
// for the full disk, which only the scripted platform can make here).
TEST_F(IoFaultTest, RealFileSystemFaultsKeepTheLastGoodDocument)
{
    host.event(HOST_EVENT_STARTED, nullptr);
    const std::string good = document();
    ASSERT_EQ(document_problem(good), "");

    // Disk full: from the document's write on, every call fails with ENOSPC.
    test_platform_arm_fault(2, FAULT_PERSISTENT, ENOSPC, nullptr);
    change(1, "full");
    host.event(HOST_EVENT_PAUSED, nullptr);
    EXPECT_EQ(document(), good);
    test_platform_clear_fault();
    change(1, "room");
    host.event(HOST_EVENT_STARTED, nullptr);
    expect_published("after the disk had room again");

    // The temporary file cannot be created: a folder of that name is in the way.
    const std::string good2 = document();
    ASSERT_EQ(mkdir(temp_path.c_str(), 0777), 0);
    change(2, "tmpd");
    host.event(HOST_EVENT_PAUSED, nullptr);
    EXPECT_EQ(document(), good2);
    ASSERT_EQ(rmdir(temp_path.c_str()), 0);
    change(2, "free");
    host.event(HOST_EVENT_STARTED, nullptr);
    expect_published("after the way was cleared");

    // The folder is deleted while the plug-in runs; writes fail until it is back.
    delete_folder();
    change(3, "gone");
    host.event(HOST_EVENT_PAUSED, nullptr);
    EXPECT_FALSE(file_exists(doc_path));
    EXPECT_FALSE(file_exists(g_folder)) << "only initialization creates the folder";
    ASSERT_EQ(mkdir(g_folder.c_str(), 0777), 0);
    change(3, "back");
    host.event(HOST_EVENT_STARTED, nullptr);
    expect_published("after the folder came back");

    // A reader that holds the old document open keeps reading it whole, while the path
    // already leads to the new one.
    const std::string held_doc = document();
    std::ifstream held(doc_path, std::ios::binary);
    ASSERT_TRUE(held.good());
    change(4, "held");
    host.event(HOST_EVENT_PAUSED, nullptr);
    expect_published("while a reader held the old document");
    std::string seen((std::istreambuf_iterator<char>(held)), std::istreambuf_iterator<char>());
    EXPECT_EQ(seen, held_doc);
}

// A read-only folder. Root writes anywhere, so when the tests run as root the write is made
// by a child process that has given its privileges up first.
TEST_F(IoFaultTest, ReadOnlyFolderKeepsTheLastGoodDocument)
{
    host.event(HOST_EVENT_STARTED, nullptr);
    const std::string good = document();
    const uid_t nobody = 65534;
    ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
    ASSERT_EQ(chmod(g_folder.c_str(), 0555), 0);
    change(1, "rdon");
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(nobody) != 0 || setuid(nobody) != 0)) _exit(2);
        int probe = open((g_folder + "/probe").c_str(), O_WRONLY | O_CREAT, 0666);
        if (probe >= 0) _exit(3); // the folder is not read-only for us: the test proves nothing
        host.event(HOST_EVENT_PAUSED, nullptr);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0) << "2: could not drop privileges, 3: folder writable";
    EXPECT_EQ(document(), good);
    EXPECT_FALSE(file_exists(temp_path));

    ASSERT_EQ(chmod(g_folder.c_str(), 0755), 0);
    host.event(HOST_EVENT_PAUSED, nullptr);
    expect_published("after the folder became writable");
}
