#include "app/target_commands.h"

#include <ctime>

#include "common/text.h"
#include "notify/notify_target.h"
#include "notify/target_message.h"
#include "platform/registry.h"

namespace sentrel {

namespace {

int List(const Registry& registry, std::FILE* out) {
  const auto targets = LoadTargets(registry);
  if (targets.empty()) std::fputs("No notification targets.\n", out);
  for (const NotifyTarget& target : targets) {
    std::fprintf(out, "%s\t%s\t%s", target.Name.c_str(), target.Kind.c_str(), target.Url.c_str());
    for (const auto& [name, value] : target.Values) {
      // Tokens are secrets: a listing on a shared screen shows only that one is set.
      const bool secret = EqualsIgnoringCase(name, "Token");
      std::fprintf(out, "\t%s=%s", name.c_str(), secret ? "********" : value.c_str());
    }
    std::fputc('\n', out);
  }
  return 0;
}

int Save(Registry& registry, std::FILE* err) {
  std::string error;
  if (registry.Save(&error)) return 0;
  std::fprintf(err, "sentrel: %s\n", error.c_str());
  return 1;
}

int Add(const CliCommand& command, Registry& registry, std::FILE* err) {
  const auto& args = command.targetArgs;
  NotifyTarget target;
  target.Name = args[0];
  target.Kind = AsciiLower(args[1]);
  target.Url = args[2];
  for (std::size_t i = 3; i < args.size(); ++i) {
    const std::size_t equals = args[i].find('=');
    target.SetValue(args[i].substr(0, equals), args[i].substr(equals + 1));
  }
  if (const std::string problem = TargetProblem(target); !problem.empty()) {
    std::fprintf(err, "sentrel: %s\n", problem.c_str());
    return 2;
  }
  if (!StoreTarget(registry, target)) {
    std::fputs("sentrel: the target cannot be stored\n", err);
    return 1;
  }
  return Save(registry, err);
}

int Test(const CliCommand& command, const Registry& registry, std::FILE* out, std::FILE* err) {
  const auto target = LoadTarget(registry, command.targetArgs[0]);
  if (!target) {
    std::fprintf(err, "sentrel: no target named %s\n", command.targetArgs[0].c_str());
    return 1;
  }
  const DeliveryOutcome outcome =
      DeliverToTarget(target, TestTargetEvent(static_cast<long long>(std::time(nullptr))), {}, {});
  std::fprintf(out, "%s: %s\n", target->Name.c_str(), outcome.reason.c_str());
  return outcome.result == DeliveryResult::Delivered ? 0 : 1;
}

}  // namespace

int RunTargetCommand(const CliCommand& command, Registry& registry, std::FILE* out,
                     std::FILE* err) {
  using Kind = CliCommand::Kind;
  switch (command.kind) {
    case Kind::Targets:
      return List(registry, out);
    case Kind::TargetAdd:
      return Add(command, registry, err);
    case Kind::TargetRemove:
      if (!RemoveTarget(registry, command.targetArgs[0])) {
        std::fprintf(err, "sentrel: no target named %s\n", command.targetArgs[0].c_str());
        return 1;
      }
      return Save(registry, err);
    case Kind::TargetTest:
      return Test(command, registry, out, err);
    default:
      return 2;
  }
}

}  // namespace sentrel
