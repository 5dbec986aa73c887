#include "os/child_process.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#include "os/error.h"
#include "os/os_error.h"
#include "os/process.h"
#include "os/windows_text.h"
#include "text/korean.h"

// Windows has no fork: the program starts itself again (GetModuleFileNameW)
// as "PROGRAM --kaldoria-child TASK HANDLE ARGS...", where HANDLE is the
// child's end of the pipe, the one handle it inherits. A child that must not
// outlive this process runs in a job object of its own: its memory and CPU
// time limits are the job's, and the job ends it when this process closes the
// job's handle, by dropping the ChildProcess or by being killed itself.

namespace {

constexpr char kHiddenMode[] = "--kaldoria-child";
constexpr wchar_t kHiddenModeW[] = L"--kaldoria-child";
// The exit code TerminateProcess gives a child ended here.
constexpr UINT kKilledExit = 137;
// A started program's own commit (the C and C++ runtimes, Qt's DLLs' data)
// before its task runs: the memory limit adds to this, as on POSIX it adds to
// the forked process's size.
constexpr std::size_t kStartAllowance = std::size_t{64} << 20;
constexpr DWORD kPipeBuffer = 64 * 1024;

struct HandleCloser {
    void operator()(HANDLE h) const {
        if (h && h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    }
};
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

HANDLE Valid(HANDLE h) { return h == INVALID_HANDLE_VALUE ? nullptr : h; }

// One argument quoted so that CommandLineToArgvW gives it back unchanged:
// backslashes count only before a quote.
void AppendQuoted(std::wstring& line, const std::wstring& arg) {
    line += L" \"";
    std::size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') line.append(backslashes * 2 + 1, L'\\');
        else line.append(backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

std::wstring ModulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

// The parent's end of the pipe, and the child's, opened here and inherited.
// A named pipe rather than CreatePipe: only a named pipe's end can be read
// with a timeout (overlapped). FILE_FLAG_FIRST_PIPE_INSTANCE and a single
// instance mean no other process can have made or joined it.
std::pair<UniqueHandle, UniqueHandle> MakePipe(ChildPipeDirection direction, DWORD& error) {
    const bool fromChild = direction == ChildPipeDirection::FromChild;
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::wstring name = L"\\\\.\\pipe\\kaldoria-child-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(::GetCurrentThreadId()) + L"-" +
                                  std::to_wstring(now.QuadPart + attempt);
        UniqueHandle ours(Valid(::CreateNamedPipeW(
            name.c_str(), (fromChild ? PIPE_ACCESS_INBOUND : PIPE_ACCESS_OUTBOUND) | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, kPipeBuffer, kPipeBuffer, 0,
            nullptr)));
        if (!ours) {
            error = ::GetLastError();
            if (error == ERROR_ACCESS_DENIED || error == ERROR_PIPE_BUSY) continue;  // the name was taken
            return {};
        }
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        UniqueHandle theirs(Valid(::CreateFileW(name.c_str(), fromChild ? GENERIC_WRITE : GENERIC_READ, 0, &inherit,
                                                OPEN_EXISTING, 0, nullptr)));
        if (!theirs) {
            error = ::GetLastError();
            return {};
        }
        return {std::move(ours), std::move(theirs)};
    }
    return {};
}

// The tasks main() listed (RunChildTask), written once before any other
// thread runs. A child started with a task its program does not list would
// run that program's main instead of the task (a test runner would run its
// tests, each of them starting children again): such a start is refused.
std::vector<std::string>& ListedTasks() {
    static std::vector<std::string> names;
    return names;
}

// Waits for an overlapped operation on `pipe`; false when it failed.
bool Complete(HANDLE pipe, OVERLAPPED& ov, BOOL started, DWORD& bytes) {
    if (!started && ::GetLastError() != ERROR_IO_PENDING) return false;
    return ::GetOverlappedResult(pipe, &ov, &bytes, TRUE) != 0;
}

}  // namespace

// A job's committed-memory limit does not depend on how the program was built.
bool ChildMemoryIsLimited() { return true; }

bool ChildPipe::Write(const void* data, std::size_t size) {
    auto p = static_cast<const char*>(data);
    while (size > 0) {
        DWORD n = 0;
        const DWORD step = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        if (!::WriteFile(reinterpret_cast<HANDLE>(handle_), p, step, &n, nullptr) || n == 0) return false;
        p += n;
        size -= n;
    }
    return true;
}

std::size_t ChildPipe::Read(void* data, std::size_t size) {
    DWORD n = 0;
    const DWORD step = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    if (!::ReadFile(reinterpret_cast<HANDLE>(handle_), data, step, &n, nullptr)) return 0;  // ERROR_BROKEN_PIPE
    return n;
}

std::string DescribeChildExit(const ChildExit& exit) {
    char hex[16];
    switch (exit.how) {
    case ChildExit::How::TimeLimit: return "시간 제한에 걸렸습니다";
    case ChildExit::How::MemoryLimit: return "메모리 제한에 걸렸습니다";
    case ChildExit::How::Killed: return "강제로 끝났습니다";
    case ChildExit::How::Signalled:
        std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(exit.code));
        return std::string("예외 ") + WithParticle(hex, Particle::EuroRo) + " 끝났습니다";
    case ChildExit::How::Exited: break;
    }
    return exit.code == 0 ? std::string() : "상태 " + WithParticle(std::to_string(exit.code), Particle::EuroRo) + " 끝났습니다";
}

struct ChildProcess::Impl {
    UniqueHandle pipe, process, job, port, event;
    bool killed = false;
    bool limited = false;
    ChildExit exit;

    ~Impl() {
        pipe.reset();
        if (process) {
            ::TerminateProcess(process.get(), kKilledExit);
            ::WaitForSingleObject(process.get(), INFINITE);
        }
    }
};

ChildProcess::ChildProcess(const ChildTask& task, const std::vector<std::string>& args, const ChildOptions& options)
    : impl_(std::make_unique<Impl>()) {
    const auto fail = [&](DWORD e) { throw ErrnoError(ErrnoOf(e), options.startFailure); };
    const auto& listed = ListedTasks();
    if (std::find(listed.begin(), listed.end(), task.name) == listed.end())
        throw Error(err::InvalidOperation, options.startFailure + ": 이 프로그램의 main()이 RunChildTask에 작업 " +
                                               WithParticle("'" + std::string(task.name) + "'", Particle::EulReul) + " 넘기지 않았습니다.");
    DWORD error = 0;
    auto [ours, theirs] = MakePipe(options.direction, error);
    if (!ours) fail(error);
    impl_->event.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!impl_->event) fail(::GetLastError());

    const std::wstring program = ModulePath();
    if (program.empty()) fail(::GetLastError());
    std::wstring line = L"\"" + program + L"\" " + kHiddenModeW;
    AppendQuoted(line, Wide(task.name));
    AppendQuoted(line, std::to_wstring(reinterpret_cast<std::uintptr_t>(theirs.get())));
    for (const auto& a : args) AppendQuoted(line, Wide(a));

    // Only the pipe's end is inherited, whatever else this process holds
    // open (another thread may be starting a process with every inheritable
    // handle meanwhile; the end is inheritable only until it is closed below).
    SIZE_T listSize = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &listSize);
    std::vector<char> listBuffer(listSize);
    auto list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(listBuffer.data());
    if (!::InitializeProcThreadAttributeList(list, 1, 0, &listSize)) fail(::GetLastError());
    std::unique_ptr<_PROC_THREAD_ATTRIBUTE_LIST, decltype(&::DeleteProcThreadAttributeList)> listGuard(
        list, &::DeleteProcThreadAttributeList);
    HANDLE inherited[] = {theirs.get()};
    if (!::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited, sizeof inherited, nullptr,
                                     nullptr))
        fail(::GetLastError());
    STARTUPINFOEXW si{};
    si.StartupInfo.cb = sizeof si;
    si.StartupInfo.dwFlags = STARTF_USESTDHANDLES;  // none: the child writes to no console
    si.lpAttributeList = list;

    if (!options.outlivesParent) {
        impl_->job.reset(::CreateJobObjectW(nullptr, nullptr));
        if (!impl_->job) fail(::GetLastError());
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        auto& basic = limits.BasicLimitInformation;
        // A crash ends the child at once, never waiting in an error dialog;
        // the child starts no process of its own.
        basic.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION |
                           JOB_OBJECT_LIMIT_ACTIVE_PROCESS;
        basic.ActiveProcessLimit = 1;
        if (options.limits) {
            impl_->limited = true;
            basic.LimitFlags |= JOB_OBJECT_LIMIT_PROCESS_MEMORY | JOB_OBJECT_LIMIT_PROCESS_TIME;
            limits.ProcessMemoryLimit = options.limits->memoryBytes + kStartAllowance;
            const long long ms = std::max<long long>(1000, options.limits->time.count());
            basic.PerProcessUserTimeLimit.QuadPart = ms * 10'000;  // in 100 ns
        }
        if (!::SetInformationJobObject(impl_->job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits))
            fail(::GetLastError());
        // The job says on this port which limit it enforced.
        impl_->port.reset(::CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
        if (!impl_->port) fail(::GetLastError());
        JOBOBJECT_ASSOCIATE_COMPLETION_PORT association{impl_->job.get(), impl_->port.get()};
        if (!::SetInformationJobObject(impl_->job.get(), JobObjectAssociateCompletionPortInformation, &association,
                                       sizeof association))
            fail(::GetLastError());
    }

    DWORD flags = CREATE_NO_WINDOW | CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT;
    // A watcher leaves a job this process may run in (a console's, a test
    // runner's), where it is allowed to, so that job's end does not end it.
    if (options.outlivesParent) flags |= CREATE_BREAKAWAY_FROM_JOB;
    PROCESS_INFORMATION pi{};
    BOOL started = ::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                                    &si.StartupInfo, &pi);
    if (!started && options.outlivesParent && ::GetLastError() == ERROR_ACCESS_DENIED) {
        flags &= ~static_cast<DWORD>(CREATE_BREAKAWAY_FROM_JOB);
        started = ::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                                   &si.StartupInfo, &pi);
    }
    if (!started) fail(::GetLastError());
    theirs.reset();
    impl_->process.reset(pi.hProcess);
    UniqueHandle thread(pi.hThread);
    // Limited before it runs a single instruction of its own.
    if (impl_->job && !::AssignProcessToJobObject(impl_->job.get(), pi.hProcess)) fail(::GetLastError());
    if (::ResumeThread(pi.hThread) == static_cast<DWORD>(-1)) fail(::GetLastError());
    impl_->pipe = std::move(ours);
}

ChildProcess::~ChildProcess() = default;
ChildProcess::ChildProcess(ChildProcess&&) noexcept = default;
ChildProcess& ChildProcess::operator=(ChildProcess&&) noexcept = default;

std::optional<std::size_t> ChildProcess::Read(std::span<std::uint8_t> into, std::chrono::milliseconds wait) {
    HANDLE pipe = impl_->pipe.get();
    if (!pipe) return 0;
    OVERLAPPED ov{};
    ov.hEvent = impl_->event.get();
    ::ResetEvent(ov.hEvent);
    const DWORD step = static_cast<DWORD>(std::min<std::size_t>(into.size(), 1u << 30));
    DWORD n = 0;
    if (::ReadFile(pipe, into.data(), step, &n, &ov)) return ::GetOverlappedResult(pipe, &ov, &n, TRUE) ? n : 0;
    const DWORD e = ::GetLastError();
    if (e != ERROR_IO_PENDING) return 0;  // ERROR_BROKEN_PIPE: the child's end has closed
    const DWORD ms = static_cast<DWORD>(std::clamp<long long>(wait.count(), 1, INFINITE - 1));
    const DWORD waited = ::WaitForSingleObject(ov.hEvent, ms);
    if (waited == WAIT_FAILED) {
        const DWORD failure = ::GetLastError();
        ::CancelIoEx(pipe, &ov);
        ::GetOverlappedResult(pipe, &ov, &n, TRUE);
        throw ErrnoError(ErrnoOf(failure), "읽기 과정을 기다릴 수 없습니다");
    }
    if (waited == WAIT_TIMEOUT) ::CancelIoEx(pipe, &ov);
    // The buffer is the caller's: the read is over, one way or the other,
    // before this returns; bytes that came as it was cancelled count.
    if (::GetOverlappedResult(pipe, &ov, &n, TRUE)) return n;
    return ::GetLastError() == ERROR_OPERATION_ABORTED ? std::nullopt : std::optional<std::size_t>(0);
}

bool ChildProcess::Write(std::span<const std::uint8_t> bytes) {
    HANDLE pipe = impl_->pipe.get();
    if (!pipe) return false;
    while (!bytes.empty()) {
        OVERLAPPED ov{};
        ov.hEvent = impl_->event.get();
        ::ResetEvent(ov.hEvent);
        const DWORD step = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD n = 0;
        if (!Complete(pipe, ov, ::WriteFile(pipe, bytes.data(), step, nullptr, &ov), n) || n == 0) return false;
        bytes = bytes.subspan(n);
    }
    return true;
}

ChildExit ChildProcess::Finish(bool kill) {
    // Killed before its pipe closes, so that its end is ours to tell, not a failed write's.
    if (kill && impl_->process) {
        ::TerminateProcess(impl_->process.get(), kKilledExit);
        impl_->killed = true;
    }
    impl_->pipe.reset();
    if (!impl_->process) return impl_->exit;
    HANDLE process = impl_->process.get();
    ::WaitForSingleObject(process, INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(process, &code);
    bool timeLimit = false, memoryLimit = false;
    if (impl_->port) {
        DWORD message = 0;
        ULONG_PTR key = 0;
        LPOVERLAPPED detail = nullptr;
        while (::GetQueuedCompletionStatus(impl_->port.get(), &message, &key, &detail, 0)) {
            if (message == JOB_OBJECT_MSG_END_OF_PROCESS_TIME) timeLimit = true;
            if (message == JOB_OBJECT_MSG_PROCESS_MEMORY_LIMIT) memoryLimit = true;
        }
    }
    impl_->process.reset();
    impl_->job.reset();
    impl_->port.reset();

    ChildExit& e = impl_->exit;
    e.code = static_cast<int>(code);
    if (impl_->killed && code == kKilledExit) e.how = ChildExit::How::Killed;
    else if (timeLimit || (impl_->limited && code == ERROR_NOT_ENOUGH_QUOTA)) e.how = ChildExit::How::TimeLimit;
    else if (memoryLimit || code == childstatus::OutOfMemory) e.how = ChildExit::How::MemoryLimit;
    else if (code >= 0xC0000000u) e.how = ChildExit::How::Signalled;  // an exception's NTSTATUS
    else e.how = ChildExit::How::Exited;
    return e;
}

std::optional<int> RunChildTask(int argc, char* argv[], std::initializer_list<const ChildTask*> tasks) {
    // A child may start children of its own (a guard's watcher).
    for (const ChildTask* t : tasks) ListedTasks().push_back(t->name);
    if (argc < 2 || std::strcmp(argv[1], kHiddenMode) != 0) return std::nullopt;
    // No dialog for a crash or a missing drive: the parent reports.
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    // From the wide command line: argv is in the ANSI code page, which may
    // not hold every character of a path.
    std::vector<std::string> words = ProgramArguments(argc, argv);
    if (words.size() < 4) return childstatus::UnknownTask;
    words.erase(words.begin(), words.begin() + 2);
    const ChildTask* task = nullptr;
    for (const ChildTask* t : tasks)
        if (words[0] == t->name) task = t;
    if (!task) return childstatus::UnknownTask;
    try {
        ChildPipe pipe(static_cast<std::intptr_t>(std::stoull(words[1])));
        const std::vector<std::string> args(words.begin() + 2, words.end());
        return task->run(pipe, args);
    } catch (const std::bad_alloc&) {
        return childstatus::OutOfMemory;
    } catch (...) {
        return childstatus::Failed;
    }
}
