// The table of control commands: one row per command code the server answers.
#include "server/control/command_table.h"

#include "server/control/dir_commands.h"
#include "server/control/ftp_commands.h"
#include "server/control/p2p_commands.h"
#include "server/control/server_commands.h"
#include "server/links/link_export.h"

namespace {

const CommandEntry kCommands[] = {
    {ControlCommand::AddDir, OnAddDir},
    {ControlCommand::PubDir, OnPubDir},
    {ControlCommand::DelDir, OnDelDir},
    {ControlCommand::SetAutoDir, OnSetAutoDir},
    {ControlCommand::PubFile, OnPubFile},
    {ControlCommand::CancelPubFile, OnCancelPubFile},
    {ControlCommand::DirList, OnDirList},
    {ControlCommand::GetFileList, OnGetFileList},
    {ControlCommand::AllUnpublished, OnAllUnpublished},
    {ControlCommand::ExportURL, OnExportURL},
    {ControlCommand::GetFtpAccount, OnGetFtpAccount},
    {ControlCommand::SetFtpAccount, OnSetFtpAccount},
    {ControlCommand::GetFtpSetting, OnGetFtpSetting},
    {ControlCommand::SetFtpSetting, OnSetFtpSetting},
    {ControlCommand::GetFtpStatistics, OnGetFtpStatistics},
    {ControlCommand::GetServerInfo, OnGetServerInfo},
    {ControlCommand::GetSystemInfo, OnGetSystemInfo},
    {ControlCommand::GetPerformance, OnGetPerformance},
    {ControlCommand::GetUserList, OnGetUserList},
    {ControlCommand::GetUploadingList, OnGetUploadingList},
    {ControlCommand::GetP2pSetting, OnGetP2pSetting},
    {ControlCommand::SetP2pMaxUpSpeed, OnSetP2pMaxUpSpeed},
    {ControlCommand::SetP2pLogLevel, OnSetP2pLogLevel},
    {ControlCommand::SetP2pPort, OnSetP2pPort},
    {ControlCommand::GetP2pStatistics, OnGetP2pStatistics},
    {ControlCommand::CloseServer, OnCloseServer},
    {ControlCommand::ResumeUpload, OnResumeUpload},
    {ControlCommand::PauseUpload, OnPauseUpload},
};

}  // namespace

const CommandEntry* FindCommand(uint16_t code) {
  for (const CommandEntry& e : kCommands)
    if (static_cast<uint16_t>(e.code) == code) return &e;
  return nullptr;
}

const CommandEntry* CommandTableBegin() { return kCommands; }
const CommandEntry* CommandTableEnd() { return kCommands + sizeof kCommands / sizeof kCommands[0]; }
