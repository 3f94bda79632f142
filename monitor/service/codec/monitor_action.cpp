// OrchardMon's switch, its step table and the restart pause. Platform-free.
#include "monitor/service/codec/monitor_action.h"

MonitorSwitch ParseMonitorSwitch(std::u16string_view argument) {
  if (argument.empty() || (argument[0] != u'/' && argument[0] != u'-')) return MonitorSwitch::kAsk;
  const std::u16string_view name = argument.substr(1);
  if (name == u"install") return MonitorSwitch::kInstall;
  if (name == u"uninstall") return MonitorSwitch::kUninstall;
  if (name == u"start") return MonitorSwitch::kStart;
  if (name == u"stop") return MonitorSwitch::kStop;
  if (name == u"installauto") return MonitorSwitch::kInstallAuto;
  return MonitorSwitch::kAsk;
}

MonitorStep ChooseMonitorStep(ServiceCondition condition, MonitorSwitch action) {
  switch (condition) {
    case ServiceCondition::kNotInstalled:
      if (action == MonitorSwitch::kAsk) return MonitorStep::kAskInstall;
      if (action == MonitorSwitch::kInstall) return MonitorStep::kInstall;
      if (action == MonitorSwitch::kInstallAuto) return MonitorStep::kInstallAuto;
      return MonitorStep::kNothing;
    case ServiceCondition::kStopped:
      if (action == MonitorSwitch::kAsk) return MonitorStep::kAskStart;
      if (action == MonitorSwitch::kUninstall) return MonitorStep::kUninstall;
      if (action == MonitorSwitch::kStart) return MonitorStep::kStart;
      return MonitorStep::kNothing;
    case ServiceCondition::kOther:
      if (action == MonitorSwitch::kAsk) return MonitorStep::kAskStop;
      if (action == MonitorSwitch::kStop) return MonitorStep::kStop;
      return MonitorStep::kNothing;
  }
  return MonitorStep::kNothing;
}

uint32_t RestartPacing::NextPause(uint32_t runMs) {
  if (runMs >= kQuickExitMs) {
    quickExits = 0;
    return kRestartPauseMs;
  }
  if (quickExits < 31) ++quickExits;
  uint64_t pause = uint64_t(kRestartPauseMs) << (quickExits < 20 ? quickExits : 20);
  return pause < kRestartPauseMaxMs ? static_cast<uint32_t>(pause) : kRestartPauseMaxMs;
}
