#include "virtual_cable.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace nightjar::testing {
namespace {

int RunAndWait(const std::string& program, const std::string& a, const std::string& b, const std::string& c)
{
    const pid_t child = fork();
    if (child == 0) {
        execl(program.c_str(), program.c_str(), a.c_str(), b.c_str(), c.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = -1;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

VirtualCable& VirtualCable::Get()
{
    static VirtualCable cable;
    return cable;
}

VirtualCable::VirtualCable()
{
    if (dlsym(RTLD_DEFAULT, "nj_cable_preload_version") == nullptr)
        throw std::runtime_error("libnjcable.so is not preloaded");
    char dir[] = "/tmp/nj-linux-test.XXXXXX";
    if (mkdtemp(dir) == nullptr) throw std::runtime_error("mkdtemp");
    dir_ = dir;
    state_ = dir_ + "/state";
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe");
    daemon_ = fork();
    if (daemon_ == 0) {
        dup2(out[1], 1);
        const std::string parent = std::to_string(getppid());
        execl(NJCABLE_PATH, NJCABLE_PATH, "--parent", parent.c_str(), state_.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    FILE* lines = fdopen(out[0], "r");
    char path[NJ_CABLE_PATH_MAX + 2];
    for (auto& end : ends_) {
        if (std::fgets(path, sizeof(path), lines) == nullptr) throw std::runtime_error("njcable did not start");
        end = path;
        end.pop_back();
    }
    std::fclose(lines);
    // The daemon prints the ends before it writes its state.
    while (access(state_.c_str(), F_OK) != 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    setenv(NJ_CABLE_STATE_ENV, state_.c_str(), 1);
    const int fd = open(state_.c_str(), O_RDONLY | O_CLOEXEC);
    void* mem = mmap(nullptr, sizeof(nj_cable_state), PROT_READ, MAP_SHARED, fd, 0);
    close(fd);
    if (mem == MAP_FAILED) throw std::runtime_error("cannot map the cable's state");
    shared_ = static_cast<const nj_cable_state*>(mem);
}

VirtualCable::~VirtualCable()
{
    munmap(const_cast<nj_cable_state*>(shared_), sizeof(nj_cable_state));
    kill(daemon_, SIGTERM);
    waitpid(daemon_, nullptr, 0);
    rmdir(dir_.c_str());
}

void VirtualCable::RunNjcable(const char* what, int end) const
{
    if (RunAndWait(NJCABLE_PATH, what, std::to_string(end), state_) != 0)
        throw std::runtime_error(std::string("njcable ") + what + " failed");
}

void VirtualCable::Unplug(int end) const { RunNjcable("--unplug", end); }
void VirtualCable::Plug(int end) const { RunNjcable("--plug", end); }

unsigned VirtualCable::Waiters() const { return __atomic_load_n(&shared_->waiters, __ATOMIC_SEQ_CST); }

void VirtualCable::AwaitWaiters(unsigned count) const
{
    while (Waiters() < count) std::this_thread::sleep_for(std::chrono::microseconds(200));
}

}  // namespace nightjar::testing
