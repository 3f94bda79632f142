// OrchardMon's switch table, its step for every switch and service state,
// and the pause before a server is started again.
#include "monitor/service/codec/monitor_action.h"

#include <gtest/gtest.h>

#include <string>

TEST(MonitorAction, SwitchOfTheFirstArgument) {
  struct Row {
    std::u16string argument;
    MonitorSwitch expected;
  };
  const Row rows[] = {
      {u"-install", MonitorSwitch::kInstall},   {u"/install", MonitorSwitch::kInstall},
      {u"-uninstall", MonitorSwitch::kUninstall}, {u"-start", MonitorSwitch::kStart},
      {u"/stop", MonitorSwitch::kStop},         {u"-installauto", MonitorSwitch::kInstallAuto},
      {u"-Install", MonitorSwitch::kAsk},       {u"-STOP", MonitorSwitch::kAsk},
      {u"install", MonitorSwitch::kAsk},        {u"-install ", MonitorSwitch::kAsk},
      {u"--start", MonitorSwitch::kAsk},        {u"-", MonitorSwitch::kAsk},
      {u"/", MonitorSwitch::kAsk},              {u"", MonitorSwitch::kAsk},
      {u"-remove", MonitorSwitch::kAsk},        {u"\\start", MonitorSwitch::kAsk},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.argument.begin(), row.argument.end()));
    EXPECT_EQ(ParseMonitorSwitch(row.argument), row.expected);
  }
}

TEST(MonitorAction, StepForEverySwitchAndServiceState) {
  using S = MonitorSwitch;
  using T = MonitorStep;
  struct Row {
    ServiceCondition condition;
    const char* name;
    T ask, install, installAuto, uninstall, start, stop;
  };
  const Row rows[] = {
      {ServiceCondition::kNotInstalled, "not installed", T::kAskInstall, T::kInstall, T::kInstallAuto, T::kNothing,
       T::kNothing, T::kNothing},
      {ServiceCondition::kStopped, "stopped", T::kAskStart, T::kNothing, T::kNothing, T::kUninstall, T::kStart,
       T::kNothing},
      {ServiceCondition::kOther, "running, pending or unknown", T::kAskStop, T::kNothing, T::kNothing, T::kNothing,
       T::kNothing, T::kStop},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(ChooseMonitorStep(row.condition, S::kAsk), row.ask);
    EXPECT_EQ(ChooseMonitorStep(row.condition, S::kInstall), row.install);
    EXPECT_EQ(ChooseMonitorStep(row.condition, S::kInstallAuto), row.installAuto);
    EXPECT_EQ(ChooseMonitorStep(row.condition, S::kUninstall), row.uninstall);
    EXPECT_EQ(ChooseMonitorStep(row.condition, S::kStart), row.start);
    EXPECT_EQ(ChooseMonitorStep(row.condition, S::kStop), row.stop);
  }
}

TEST(MonitorAction, QuickExitsBackOffAndALongRunStartsAnew) {
  RestartPacing pacing;
  struct Row {
    const char* name;
    uint32_t runMs;
    uint32_t pause;
  };
  const Row rows[] = {
      {"a long run: the usual pause", 60000, 100},
      {"first quick exit", 50, 200},
      {"second", 2999, 400},
      {"third", 0, 800},
      {"fourth", 10, 1600},
      {"fifth", 10, 3200},
      {"sixth", 10, 6400},
      {"seventh", 10, 12800},
      {"eighth", 10, 25600},
      {"ninth", 10, 51200},
      {"tenth reaches the cap", 10, 60000},
      {"and stays there", 10, 60000},
      {"a run of exactly the limit counts as long", 3000, 100},
      {"quick again doubles from the start", 1, 200},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(pacing.NextPause(row.runMs), row.pause);
  }
  for (int i = 0; i < 100; ++i) pacing.NextPause(0);
  EXPECT_EQ(pacing.NextPause(0), kRestartPauseMaxMs) << "many quick exits neither wrap nor overflow";
}
