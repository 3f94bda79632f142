// CIniFile: one INI file read and written through the private-profile functions.
#pragma once
#include <string>

class CIniFile {
 public:
  CIniFile() = default;
  ~CIniFile();  // flushes the system's cache of the file
  CIniFile(const CIniFile&) = delete;
  CIniFile& operator=(const CIniFile&) = delete;

  void SetPath(const std::wstring& path) { path_ = path; }
  const std::wstring& Path() const { return path_; }

  int GetInt(const wchar_t* section, const wchar_t* key, int defaultValue) const;
  // At most 4095 characters; an empty value gives the default.
  std::wstring GetText(const wchar_t* section, const wchar_t* key, const wchar_t* defaultValue) const;
  bool WriteText(const wchar_t* section, const wchar_t* key, const std::wstring& value) const;
  bool WriteInt(const wchar_t* section, const wchar_t* key, int value) const;  // as "%d"
  void Flush() const;

 private:
  std::wstring path_;
};
