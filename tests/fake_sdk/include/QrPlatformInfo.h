// The fake platform SDK's QrPlatformInfo: the members the product calls, and a few hundred
// bytes of state that the constructor fills and every call checks.
#pragma once

#include <cstdint>

class QrPlatformInfo {
  public:
    QrPlatformInfo();
    ~QrPlatformInfo();

    QrPlatformInfo(const QrPlatformInfo&) = delete;
    QrPlatformInfo& operator=(const QrPlatformInfo&) = delete;
    QrPlatformInfo(QrPlatformInfo&&) = delete;
    QrPlatformInfo& operator=(QrPlatformInfo&&) = delete;

    int getString(const char* key, const char* name, char* buffer, int* size);
    int setString(const char* key, const char* name, const char* text, int size);

  private:
    void checkLayout(const char* call) const;

    std::uint64_t front_;
    unsigned char state_[384];
    std::uint64_t back_;
};
