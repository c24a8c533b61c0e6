// The reading child of the tvx tool, through the built tool: a file that
// makes the reader swallow memory or loop costs one line, within limits that
// the options and the environment set, and the child never outlives the tool.

#include "MeshFiles.h"
#include "ToolRun.h"

#include <tests/support/Meshes.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

namespace {

using tvxtest::describe;
using tvxtest::TempDir;
using tvxtest::ToolRun;
using tvxtest::tvx;
using tvxtest::write;

// A damaged PLY header on which the reader library loops for ever.
std::string const kLoopingPly("ply\nformat ascii 1.0\nent ve\xa9tex 42\npropt x\nproper");

void expectOneLine(ToolRun const& r, std::string const& piece)
{
    EXPECT_EQ(r.status, 2) << describe(r);
    EXPECT_NE(r.err.find(piece), std::string::npos) << describe(r);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << describe(r);
    EXPECT_TRUE(r.out.empty()) << describe(r);
}

TEST(ToolReader, AFileThatAsksForTooMuchMemoryCostsOneLine)
{
#ifdef TVX_TEST_SLOW_BUILD
    // AddressSanitizer's shadow memory leaves no address space to limit: the
    // reader would really take the 12 GB asked for.
    GTEST_SKIP() << "no address-space limit under the sanitizers";
#endif
    TempDir dir;
    // An OFF header announcing 993785167 points: 12 GB of them, allocated
    // before the file is found to hold two. The assimp test model that
    // announces 35353523535 comes to the same once its reader truncates it.
    std::vector<std::string> files = {write(dir, "huge.off", "OFF\n993785167 6 0\n0 0 0\n1 0 0\n")};
    if (std::filesystem::exists("/usr/share/assimp/models/invalid/OutOfMemory.off"))
        files.push_back("/usr/share/assimp/models/invalid/OutOfMemory.off");
    for (std::string const& f : files) {
        SCOPED_TRACE(f);
        expectOneLine(tvx(dir, {"info", f}), "tvx: " + f + ": out of memory: the reader needed more than the ");
    }

    // The limit as set by the option, by the environment, and the option
    // over the environment: a mesh that needs some megabytes fails in 1 MiB.
    std::string const mesh = write(dir, "sphere.ply", tvxtest::plyAsciiText(tvxtest::makeIcosphere(5, 1.0)));
    std::string const small = "the 1 MiB allowed to it";
    expectOneLine(tvx(dir, {"info", mesh, "--reader-memory", "1M"}), small);
    expectOneLine(tvx(dir, {"info", mesh}, {"TVX_READER_MEMORY=1M"}), small);
    ToolRun const enough = tvx(dir, {"info", mesh, "--reader-memory", "1G"}, {"TVX_READER_MEMORY=1M"});
    EXPECT_EQ(enough.status, 0) << describe(enough);
}

TEST(ToolReader, AReaderThatLoopsStopsAtItsOwnDeadline)
{
    TempDir dir;
    std::string const loop = write(dir, "loop.ply", kLoopingPly);
    expectOneLine(tvx(dir, {"info", loop, "--reader-seconds", "1"}),
                  "tvx: " + loop + ": the reader did not finish within 1 s of processor time\n");
}

// The processes whose parent is pid.
std::vector<pid_t> childrenOf(pid_t pid)
{
    std::vector<pid_t> out;
    for (auto const& entry : std::filesystem::directory_iterator("/proc")) {
        std::string const name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        // pid (comm) state ppid ...: the command may hold spaces, not ")".
        std::size_t const close = line.rfind(')');
        if (close == std::string::npos)
            continue;
        char state = 0;
        long ppid = 0;
        if (std::sscanf(line.c_str() + close + 1, " %c %ld", &state, &ppid) == 2 && ppid == pid)
            out.push_back(static_cast<pid_t>(std::stol(name)));
    }
    return out;
}

// Whether pid still runs (not gone, not a zombie waiting to be reaped).
bool running(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return false;
    std::size_t const close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z' && line[close + 2] != 'X';
}

TEST(ToolReader, TheReaderDiesWithTheTool)
{
    TempDir dir;
    std::string const loop = write(dir, "loop.ply", kLoopingPly);
    pid_t const tool = ::fork();
    ASSERT_GE(tool, 0);
    if (tool == 0) {
        // A deadline far beyond the test's patience: only the tool's death
        // may end the reader.
        ::setenv("TVX_READER_SECONDS", "600", 1);
        int const quiet = ::open("/dev/null", O_WRONLY);
        ::dup2(quiet, STDOUT_FILENO);
        ::dup2(quiet, STDERR_FILENO);
        ::execl(TVX_TOOL_PATH, "tvx", "info", loop.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    std::vector<pid_t> readers;
    auto const waitFor = [](auto done) {
        for (auto const end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
             std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(std::chrono::milliseconds(20)))
            if (done())
                return true;
        return false;
    };
    bool const started = waitFor([&] {
        readers = childrenOf(tool);
        return !readers.empty();
    });
    ::kill(tool, SIGKILL);
    int status = 0;
    ::waitpid(tool, &status, 0);
    ASSERT_TRUE(started) << "the tool started no reader";
    ASSERT_EQ(readers.size(), 1u);
    EXPECT_TRUE(waitFor([&] { return !running(readers[0]); })) << "reader " << readers[0] << " outlived the tool";
    if (running(readers[0]))
        ::kill(readers[0], SIGKILL);
}

} // namespace
