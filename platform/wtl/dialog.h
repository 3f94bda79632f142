// Dialogs built from resource templates. CDialogBase routes the messages a
// dialog cares about to small virtual hooks; CModalDialog and CModelessDialog
// differ only in how they are created and ended.
#pragma once
#include <windows.h>

#include "platform/wtl/window.h"

namespace wtl {

class CDialogBase : public CWindow {
 public:
  explicit CDialogBase(int templateId) : templateId_(templateId) {}
  virtual ~CDialogBase() = default;
  CDialogBase(const CDialogBase&) = delete;
  CDialogBase& operator=(const CDialogBase&) = delete;

  int TemplateId() const { return templateId_; }

 protected:
  // Each hook returns true when it handled the message. OnInitDialog's value
  // is what WM_INITDIALOG returns (TRUE: let the system set the focus).
  virtual BOOL OnInitDialog() { return TRUE; }
  virtual bool OnCommand(int /*id*/, int /*code*/, HWND /*control*/) { return false; }
  virtual bool OnNotify(int /*id*/, NMHDR* /*header*/, LRESULT& /*result*/) { return false; }
  virtual bool OnTimer(UINT_PTR /*id*/) { return false; }
  virtual bool OnSize(UINT /*type*/, int /*width*/, int /*height*/) { return false; }
  // Every other message; `result` is the message's value when handled.
  virtual bool OnMessage(UINT /*message*/, WPARAM /*w*/, LPARAM /*l*/, LRESULT& /*result*/) { return false; }
  // After WM_NCDESTROY; the handle is already cleared.
  virtual void OnFinalMessage() {}

  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM w, LPARAM l);

 private:
  bool Dispatch(UINT message, WPARAM w, LPARAM l, LRESULT& result);

  int templateId_;
};

class CModalDialog : public CDialogBase {
 public:
  using CDialogBase::CDialogBase;
  // The value passed to End, or -1 when the dialog could not be created.
  INT_PTR DoModal(HWND parent);
  bool End(INT_PTR result) { return ::EndDialog(hwnd_, result) != FALSE; }

 protected:
  // IDOK and IDCANCEL end the dialog unless a subclass handles them first.
  bool OnCommand(int id, int code, HWND control) override;
};

class CModelessDialog : public CDialogBase {
 public:
  using CDialogBase::CDialogBase;
  ~CModelessDialog() override;
  HWND Create(HWND parent);
  bool Destroy();
};

}  // namespace wtl
