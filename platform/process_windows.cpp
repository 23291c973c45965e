#include "platform/process.h"

#include "platform/win32_object.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

#include <psapi.h>
#include <tlhelp32.h>

namespace xel::platform {

std::int64_t currentProcessId() {
    return static_cast<std::int64_t>(::GetCurrentProcessId());
}

std::int64_t parentProcessId() {
    // The parent is recorded in the process snapshot's entry of this process.
    Win32Handle snapshot;
    snapshot.handle = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot.handle == INVALID_HANDLE_VALUE) {
        snapshot.handle = nullptr;
        return 0;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    const DWORD self = ::GetCurrentProcessId();
    for (BOOL more = ::Process32FirstW(snapshot.handle, &entry); more;
         more = ::Process32NextW(snapshot.handle, &entry)) {
        if (entry.th32ProcessID == self)
            return static_cast<std::int64_t>(entry.th32ParentProcessID);
    }
    return 0;
}

bool processExists(std::int64_t pid) {
    if (pid <= 0 || pid > static_cast<std::int64_t>(MAXDWORD))
        return false;
    HANDLE process =
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (!process)
        return ::GetLastError() == ERROR_ACCESS_DENIED;
    // A process object outlives its process while handles to it are open; only a running one has
    // no exit code yet.
    DWORD exitCode = 0;
    const bool running = ::GetExitCodeProcess(process, &exitCode) && exitCode == STILL_ACTIVE;
    ::CloseHandle(process);
    return running;
}

bool limitOwnMemory(std::uint64_t bytes) {
    // A job object with a process memory limit, holding this process.
    HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
    if (!job)
        return false;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_PROCESS_MEMORY;
    limits.ProcessMemoryLimit = static_cast<SIZE_T>(bytes);
    const bool limited =
        ::SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits) &&
        ::AssignProcessToJobObject(job, ::GetCurrentProcess());
    // The job stays as long as a process is in it.
    ::CloseHandle(job);
    return limited;
}

std::string currentExecutablePath() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length == MAX_PATH)
        return {};
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, path, static_cast<int>(length), nullptr, 0,
                                            nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, path, static_cast<int>(length), utf8.data(), bytes, nullptr,
                          nullptr);
    return utf8;
}

std::int64_t startChildProcess(const std::string&, const std::vector<std::string>&, int) {
    // Not offered: a child that dies with its starter's thread, inheriting one descriptor, is what
    // the Linux-only benchmarks need, and nothing on Windows starts children this way.
    return -1;
}

std::int64_t startDetachedProcess(const std::string& program,
                                  const std::vector<std::string>& arguments,
                                  const std::string& workingDirectory,
                                  const std::vector<std::string>& environment) {
    // A new process is not a copy of this one here: Qt's start is safe with other threads running.
    QProcess process;
    process.setProgram(QString::fromStdString(program));
    QStringList list;
    for (const std::string& argument : arguments)
        list << QString::fromStdString(argument);
    process.setArguments(list);
    process.setWorkingDirectory(QString::fromStdString(workingDirectory));
    QProcessEnvironment inherited = QProcessEnvironment::systemEnvironment();
    for (const std::string& entry : environment) {
        const QString text = QString::fromStdString(entry);
        const int equals = text.indexOf(QLatin1Char('='));
        inherited.insert(text.left(equals), equals < 0 ? QString() : text.mid(equals + 1));
    }
    process.setProcessEnvironment(inherited);
    qint64 pid = 0;
    return process.startDetached(&pid) && pid > 0 ? pid : -1;
}

int waitForChildExit(std::int64_t) {
    return -1;
}

std::int64_t privateMemoryBytes() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    if (!::GetProcessMemoryInfo(::GetCurrentProcess(),
                                reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                                sizeof counters))
        return -1;
    return static_cast<std::int64_t>(counters.PrivateUsage);
}

}  // namespace xel::platform
