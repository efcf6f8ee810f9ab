// A batch's files through worker processes, each a `serve` of its own.
#include "host/commands/Batch.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <system_error>
#include <thread>

#include "host/commands/Output.h"
#include "host/core/Parallel.h"
#include "host/files/FileSystem.h"
#include "host/session/HostProfile.h"

namespace commands {

namespace {

std::string Quoted(const std::string &text)
{
    return "\"" + text + "\"";
}

// A `serve` process of the batch, with a pipe to its input and one from its
// output.
class Worker {
public:
    Worker() = default;
    Worker(const Worker &) = delete;
    Worker &operator=(const Worker &) = delete;
    ~Worker() { Stop(); }

    bool Start(const std::string &commandLine)
    {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        HANDLE childInput = nullptr, childOutput = nullptr;
        if (!CreatePipe(&childInput, &input_, &inherit, 0))
            return false;
        if (!CreatePipe(&output_, &childOutput, &inherit, 0)) {
            CloseHandle(childInput);
            CloseHandle(input_);
            input_ = nullptr;
            return false;
        }
        SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(output_, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = childInput;
        startup.hStdOutput = childOutput;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);  // the answers alone come through the pipe
        std::wstring line = files::Wide(commandLine);
        line.push_back(L'\0');
        const BOOL started =
            CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process_);
        CloseHandle(childInput);
        CloseHandle(childOutput);
        if (!started) {
            process_ = PROCESS_INFORMATION{};
            Stop();
        }
        return started != FALSE;
    }

    bool Running() const { return process_.hProcess != nullptr; }

    // Asks for one file and waits for its line; false when the worker has
    // ended (it is then stopped).
    bool Filter(const std::string &in, const std::string &out, int *status, std::string *line)
    {
        const std::string request = in + "\t" + out + "\n";
        DWORD written = 0;
        if (!WriteFile(input_, request.data(), DWORD(request.size()), &written, nullptr) ||
            written != request.size()) {
            Stop();
            return false;
        }
        std::string answer;
        for (;;) {
            const size_t end = pending_.find('\n');
            if (end != std::string::npos) {
                answer = pending_.substr(0, end);
                pending_.erase(0, end + 1);
                break;
            }
            char buffer[4096];
            DWORD got = 0;
            if (!ReadFile(output_, buffer, sizeof buffer, &got, nullptr) || got == 0) {
                Stop();
                return false;
            }
            pending_.append(buffer, got);
        }
        if (!answer.empty() && answer.back() == '\r')
            answer.pop_back();
        if (answer.size() < 2 || (answer[0] != '0' && answer[0] != '1' && answer[0] != '3') || answer[1] != ' ') {
            *status = 1;
            *line = "FAILED: the worker answered \"" + answer + "\"";
        } else {
            *status = answer[0] - '0';
            *line = answer.substr(2);
        }
        return true;
    }

    // Closes its input, so that it ends, and waits for it.
    void Stop()
    {
        if (input_ != nullptr)
            CloseHandle(input_);
        input_ = nullptr;
        if (process_.hProcess != nullptr) {
            WaitForSingleObject(process_.hProcess, INFINITE);
            CloseHandle(process_.hProcess);
            CloseHandle(process_.hThread);
        }
        process_ = PROCESS_INFORMATION{};
        if (output_ != nullptr)
            CloseHandle(output_);
        output_ = nullptr;
        pending_.clear();
    }

private:
    PROCESS_INFORMATION process_{};
    HANDLE input_ = nullptr, output_ = nullptr;
    std::string pending_;
};


} // namespace

void BatchInProcesses(const RunOptions &o, const std::vector<std::string> &files,
                      const std::vector<OutputName> &outputs, size_t first, int *filtered, int *failed,
                      bool *cancelled)
{
    std::wstring self(32768, L'\0');
    self.resize(GetModuleFileNameW(nullptr, &self[0], DWORD(self.size())));
    std::string commandLine = Quoted(files::Utf8(self)) + " serve " + Quoted(o.module);
    if (o.overwrite)
        commandLine += " --overwrite";
    commandLine += o.hasSet && !o.setSpec.empty() ? " --set " + Quoted(o.setSpec) : " --ok";
    commandLine += " --tile " + std::to_string(o.tileWidth) + "x" + std::to_string(o.tileHeight);
    commandLine += std::string(" --host ") + HostProfileName(o.profile);
    if (o.jpegQuality != 0)
        commandLine += " --quality " + std::to_string(o.jpegQuality);
    // The processors are shared among the workers.
    commandLine += " --threads " + std::to_string(std::max(1, o.threads / std::max(1, o.jobs)));
    std::mutex lock;
    size_t next = first;
    auto work = [&]() {
        Worker worker;
        for (;;) {
            size_t index;
            {
                std::lock_guard<std::mutex> hold(lock);
                if (*cancelled || next >= files.size())
                    return;
                index = next++;
            }
            int status = 1;
            std::string line;
            // A worker that has ended (it crashed on a file) is replaced
            // for the next one.
            if (!worker.Running() && !worker.Start(commandLine))
                line = "FAILED: cannot start a worker process (error " + std::to_string(GetLastError()) + ")";
            else if (!worker.Filter(files[index], outputs[index].path, &status, &line))
                status = 1, line = "FAILED: the worker process ended while filtering it";
            if (status == 0 && !outputs[index].note.empty())
                line += "; " + outputs[index].note;
            std::lock_guard<std::mutex> hold(lock);
            Say(stdout, "[%zu/%zu] %s: %s\n", index + 1, files.size(), files[index].c_str(), line.c_str());
            std::fflush(stdout);
            if (status == 0)
                ++*filtered;
            else if (status == 3)
                *cancelled = true;
            else
                ++*failed;
        }
    };
    // Each worker process is watched by a thread of its own; a thread that
    // cannot be started leaves its files to the others (all the files to
    // this one when none could be), and the batch says so.
    // (FILTERHOST_REFUSE_THREADS, for the tests, makes every start fail as
    // on a system out of threads.)
    if (GetEnvironmentVariableW(L"FILTERHOST_REFUSE_THREADS", nullptr, 0) != 0)
        parallel::RefuseThreadsForTesting(true);
    std::vector<std::thread> threads;
    for (int i = 0; i < o.jobs && first + size_t(i) < files.size(); ++i) {
        try {
            threads.push_back(parallel::StartThread(work));
        } catch (const std::system_error &e) {
            Say(stderr, "filterhost: the batch goes on with %zu worker process(es): another cannot be watched (%s)\n",
                std::max<size_t>(threads.size(), 1), e.what());
            break;
        }
    }
    if (threads.empty())
        work();
    for (std::thread &t : threads)
        t.join();
}


} // namespace commands
