#pragma once

// The version line of the usage text: the version (at most 40 bytes) and the
// date and time the program was compiled.
class CVersionInfo {
  public:
    explicit CVersionInfo(const char* version);
    virtual ~CVersionInfo() = default;

    const char* GetVersionInfo() const { return m_text; }

  private:
    char m_text[255];
};
