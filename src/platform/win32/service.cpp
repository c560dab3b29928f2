#include "platform/service.h"

#include <windows.h>

#include <mutex>

#include "platform/paths.h"
#include "platform/win32/registry_access.h"
#include "platform/win32/stop_signals.h"
#include "platform/win32/text_wide.h"

namespace sentrel {

namespace {

constexpr wchar_t kServiceName[] = L"Sentrel";
constexpr wchar_t kDisplayName[] = L"Sentrel host monitor";
constexpr wchar_t kDescription[] =
    L"Checks the hosts of Sentrel's list and raises their alarms, without a window.";

// One service per process: the dispatcher's callbacks reach it here.
std::mutex mutex;  // guards the steps and the reported status
ServiceSteps steps;
SERVICE_STATUS_HANDLE statusHandle = nullptr;
SERVICE_STATUS status{};
const std::function<int(const ServiceStepsSink&)>* work = nullptr;
int exitCode = 0;

// Callers hold `mutex`.
void Report(DWORD state, DWORD waitHintMs = 0) {
  const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted =
      pending || state == SERVICE_STOPPED
          ? 0
          : SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_SHUTDOWN;
  status.dwWaitHint = waitHintMs;
  status.dwCheckPoint = pending ? status.dwCheckPoint + 1 : 0;
  SetServiceStatus(statusHandle, &status);
}

// Pause is the service's "stop pinging": the program stays, the checks wait.
DWORD WINAPI OnControl(DWORD control, DWORD, LPVOID, LPVOID) {
  std::lock_guard lock(mutex);
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      // The save at the end may take some seconds.
      Report(SERVICE_STOP_PENDING, 20000);
      if (steps.stop) steps.stop();
      return NO_ERROR;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
      if (!steps.pause) return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
      steps.pause(control == SERVICE_CONTROL_PAUSE);
      Report(control == SERVICE_CONTROL_PAUSE ? SERVICE_PAUSED : SERVICE_RUNNING);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
  statusHandle = RegisterServiceCtrlHandlerExW(kServiceName, OnControl, nullptr);
  if (statusHandle == nullptr) return;
  {
    std::lock_guard lock(mutex);
    Report(SERVICE_START_PENDING, 10000);
  }
  IgnoreLogoffEvents();
  exitCode = (*work)([](ServiceSteps given) {
    std::lock_guard lock(mutex);
    const bool first = !steps.stop && given.stop;
    steps = std::move(given);
    if (first) Report(SERVICE_RUNNING);
  });
  std::lock_guard lock(mutex);
  steps = {};
  status.dwWin32ExitCode = exitCode == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
  status.dwServiceSpecificExitCode = static_cast<DWORD>(exitCode);
  Report(SERVICE_STOPPED);
}

std::string Refusal(const std::string& what, DWORD error) {
  if (error == ERROR_ACCESS_DENIED) return what + " needs an administrator";
  return what + ": " + SystemErrorText(error);
}

// Service handles, closed with the object.
class ServiceHandle {
 public:
  explicit ServiceHandle(SC_HANDLE handle) : handle_(handle) {}
  ~ServiceHandle() {
    if (handle_ != nullptr) CloseServiceHandle(handle_);
  }
  ServiceHandle(const ServiceHandle&) = delete;
  ServiceHandle& operator=(const ServiceHandle&) = delete;
  SC_HANDLE Get() const { return handle_; }

 private:
  SC_HANDLE handle_;
};

}  // namespace

std::string InstallService(const std::string& arguments) {
  const std::string program = GetProgramPath();
  if (program.empty()) return "cannot find the program's own file";
  const ServiceHandle manager(
      OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
  if (manager.Get() == nullptr) return Refusal("installing a service", GetLastError());
  // Asked first: not every service manager refuses a second service of a name.
  if (const ServiceHandle existing(OpenServiceW(manager.Get(), kServiceName, SERVICE_QUERY_STATUS));
      existing.Get() != nullptr) {
    return "the service Sentrel is installed already (sentrel --uninstall-service removes it)";
  }
  const std::wstring command = Widen("\"" + program + "\" " + arguments);
  const ServiceHandle service(CreateServiceW(
      manager.Get(), kServiceName, kDisplayName, SERVICE_CHANGE_CONFIG, SERVICE_WIN32_OWN_PROCESS,
      SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, nullptr,
      nullptr, nullptr));
  if (service.Get() == nullptr) {
    const DWORD error = GetLastError();
    if (error == ERROR_SERVICE_EXISTS) {
      return "the service Sentrel is installed already (sentrel --uninstall-service removes it)";
    }
    return Refusal("installing a service", error);
  }
  SERVICE_DESCRIPTIONW description{const_cast<LPWSTR>(kDescription)};
  ChangeServiceConfig2W(service.Get(), SERVICE_CONFIG_DESCRIPTION, &description);
  return {};
}

std::string UninstallService() {
  const ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (manager.Get() == nullptr) return Refusal("removing a service", GetLastError());
  const ServiceHandle service(
      OpenServiceW(manager.Get(), kServiceName, DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS));
  if (service.Get() == nullptr) {
    const DWORD error = GetLastError();
    if (error == ERROR_SERVICE_DOES_NOT_EXIST) return "the service Sentrel is not installed";
    return Refusal("removing a service", error);
  }
  SERVICE_STATUS state{};
  if (ControlService(service.Get(), SERVICE_CONTROL_STOP, &state)) {
    // It saves before it ends; 30 s bound that, as the system's own wait does.
    for (int i = 0; i < 300 && state.dwCurrentState != SERVICE_STOPPED; ++i) {
      Sleep(100);
      if (!QueryServiceStatus(service.Get(), &state)) break;
    }
  }
  if (!DeleteService(service.Get())) return Refusal("removing the service", GetLastError());
  return {};
}

std::optional<int> RunAsService(const std::function<int(const ServiceStepsSink&)>& run) {
  work = &run;
  SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(kServiceName), ServiceMain},
                                  {nullptr, nullptr}};
  // Fails at once (ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) when the service
  // control manager did not start this process.
  const bool served = StartServiceCtrlDispatcherW(table);
  work = nullptr;
  if (!served) return std::nullopt;
  return exitCode;
}

}  // namespace sentrel
