// Case-sensitive, with nothing before or after the switch.
#include "ui/app/codec/command_line.h"

bool IsCloseSwitch(std::u16string_view commandLine) {
  if (commandLine.empty() || (commandLine[0] != u'/' && commandLine[0] != u'-')) return false;
  return commandLine.substr(1) == u"close";
}
