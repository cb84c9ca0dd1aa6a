// libQAV.so where the user's file system gets in its way: a missing data folder, a '\' in its
// name, or what a crash or another program left at the temporary name. The document must land
// where hostsim looks for it, and nothing else may be written.
#include "support/host_model.h"
#include "support/os.h"
#include "support/reader.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

static const struct {
    const char* name;
    const char* data_home; // below the row's folder; when `leave` is null, missing down to it
    int (*leave)(const char* temp, const char* victim);
} SO_CASES[] = {
    {"a link to another file", "data", [](const char* t, const char* v) { return symlink(v, t); }},
    {"a read-only file", "data",
     [](const char* t, const char*) { return close(open(t, O_CREAT | O_WRONLY, 0444)); }},
    {"$XDG_DATA_HOME and its parents missing", "new/deep/share", nullptr},
    {"a backslash in the folder's name", "back\\slash", nullptr},
    {"a FIFO, last: before the fix it stalls the load", "data",
     [](const char* t, const char*) { return mkfifo(t, 0666); }},
};

TEST(SoFileSystem, TheDocumentLandsWhateverIsInTheWay)
{
    alarm(20); // a stalled load fails the test rather than hanging it
    if (geteuid() == 0) { // root writes through read-only files; a user does not
        ASSERT_TRUE(setgid(65534) == 0 && setuid(65534) == 0);
        prctl(PR_SET_DUMPABLE, 1); // for the leak checker, which attaches to its own process
    }
    char tmp[] = "/tmp/qav-so-fs-XXXXXX";
    ASSERT_NE(mkdtemp(tmp), nullptr);
    HostPlugin plugin;
    std::string error;
    ASSERT_TRUE(host_load_plugin(os_default_plugin(), &plugin, &error)) << error;
    const std::string victim = tmp + std::string("/victim");
    std::ofstream(victim) << "not QAV's";
    for (const auto& c : SO_CASES) {
        SCOPED_TRACE(c.name);
        const std::string row = tmp + ("/" + std::to_string(&c - SO_CASES));
        const std::string home = row + "/" + c.data_home;
        const std::string final = home + "/QAV/telemetry.json", temp = final + ".tmp";
        ASSERT_EQ(std::system(("mkdir -p '" + (c.leave ? home + "/QAV" : row) + "'").c_str()), 0);
        ASSERT_TRUE(c.leave == nullptr || c.leave(temp.c_str(), victim.c_str()) == 0);
        setenv("XDG_DATA_HOME", home.c_str(), 1);
        HostModel host;
        ASSERT_EQ(host.start(plugin.init, HOST_VERSION_1_01), HOST_RESULT_OK);
        plugin.shutdown();
        EXPECT_EQ(read_document(final).rfind("{\"plugin\":\"QAV\"", 0), 0u);
        EXPECT_EQ(os_telemetry_paths().final, final);
        EXPECT_EQ(os_telemetry_paths().temp, temp);
        struct stat st;
        EXPECT_NE(lstat(temp.c_str(), &st), 0) << "the temporary name is still taken";
        for (size_t at = row.size(); c.leave == nullptr && at != std::string::npos;) {
            at = home.find('/', at + 1);
            std::string made = home.substr(0, at);
            EXPECT_EQ(stat(made.c_str(), &st) == 0 ? st.st_mode & 0777 : 0, 0700u) << made;
        }
    }
    EXPECT_EQ(read_document(victim), "not QAV's") << "written through the link";
    host_unload_plugin(&plugin);
    (void)std::system(("rm -rf '" + std::string(tmp) + "'").c_str());
}
