// QrPlatformInfo: the configuration-store ("registry") object of the platform library
// libQrLib.so, declared as this library calls it. The platform library ships outside this
// tree; only the members below are used.
#pragma once

class QrPlatformInfo {
  public:
    QrPlatformInfo();
    ~QrPlatformInfo();

    QrPlatformInfo(const QrPlatformInfo&) = delete;
    QrPlatformInfo& operator=(const QrPlatformInfo&) = delete;

    // Non-zero exactly when the value exists; its text is then in `buffer`, NUL-terminated
    // and cut to fit `*size` bytes.
    int getString(const char* key, const char* name, char* buffer, int* size);

    // Stores `text` as the value's content, creating the value when it does not exist.
    int setString(const char* key, const char* name, const char* text, int size);

  private:
    void* impl_;
};
