#pragma once

#include <functional>
#include <optional>
#include <string>

namespace sentrel {

// What a service's controls do to the work it runs. Each step may be called
// from the service control manager's thread while the work runs.
struct ServiceSteps {
  std::function<void()> stop;
  std::function<void(bool paused)> pause;
};

// Hands the service control manager the steps of the running work; empty
// steps once the work no longer takes them. The first steps also report the
// service as running.
using ServiceStepsSink = std::function<void(ServiceSteps)>;

// Installs this program as the service "Sentrel", started with the system
// and run as `arguments` (after the program's path). Empty when installed,
// else a one-line reason (an installed service, missing rights, a system
// without services).
std::string InstallService(const std::string& arguments);

// Stops the service "Sentrel" when it runs (waiting 30 s at most) and
// removes it. Empty when removed, else a one-line reason.
std::string UninstallService();

// Runs `work` as the service's work while serving the service control
// manager: stop and shutdown call the stop step, pause and continue the
// pause step. Returns the work's exit code once it ended, or nothing at
// once when the process was not started by the service control manager
// (`work` then never runs).
std::optional<int> RunAsService(const std::function<int(const ServiceStepsSink&)>& work);

}  // namespace sentrel
