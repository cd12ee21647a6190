// CDeviceLink: the one connection to the machine. It holds the connection settings, chooses
// the transport by port kind and machine type, owns the byte formats every operation shares,
// and runs each operation as one exchange: open the port, write, read, close on every path.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/lpr_put.h"
#include "link/mega_put.h"
#include "link/ports.h"
#include "link/settings.h"
#include "platform/cancel_dialog.h"
#include "platform/profile.h"

namespace kelo {

class CDeviceLink {
  public:
    static constexpr int kReplyBufferSize = 65535;
    static constexpr int kStatusBufferSize = 512;
    static constexpr int kUsbStatusBufferSize = 1024;
    static constexpr int kMaxCommandText = 509;

    // Loads the settings from the profile at profilePath; the progress dialog is the
    // caller's and must outlive the connection.
    CDeviceLink(platform::CancelDialog& dialog, const std::string& profilePath);
    // Saves the settings.
    ~CDeviceLink();
    CDeviceLink(const CDeviceLink&) = delete;
    CDeviceLink& operator=(const CDeviceLink&) = delete;

    // Settings.
    const ConnectionSettings& Settings() const { return settings_; }
    ConnectionSettings& MutableSettings() { return settings_; }
    // Machine type 1 to 4 (the stored index plus one).
    int GetMachineType() const { return settings_.machineTypeIndex + 1; }
    // Runs the port selection dialog and takes its values after OK.
    void SelectPort(PortSelectDialog& dialog);
    // Writes the settings to the profile now (the destructor does it too). A profile that
    // cannot be written shows the OS reason naming it, and gives false.
    bool SaveSettings();
    // The connection never writes its settings back (for a run with temporary overrides).
    void DiscardSettingsOnExit() { saveOnExit_ = false; }

    // Port handling.
    bool OpenPort(bool quiet);
    bool ClosePort();
    bool WritePort(const uint8_t* data, int length);
    bool SendCommand(const std::string& text);
    // Reads one reply frame from the packet sender: exactly the frame, nothing after it.
    int ReadReply(uint8_t* buffer, bool showProgress, int progressBase);
    // One receive of at most length bytes: the count, 0 when the peer closed, or -1.
    using ReplyReceive = std::function<int(uint8_t* bytes, int length)>;
    // ReadReply's steps on whatever receive delivers (the packet sender's socket, or bytes in
    // memory for a check).
    int ReadReplyFrame(const ReplyReceive& receive, uint8_t* buffer, bool showProgress,
                       int progressBase);
    bool ReadStatus(std::string& statusText);
    bool WaitForRestart();

    // Operations (ops/).
    bool GetReport(std::string& report);
    int GetParameters(uint8_t* buffer, int capacity);
    void PutParameters(const uint8_t* data, int length, bool all);
    void UpgradeFirmware(const uint8_t* data, int size);
    // True when the last upgrade sent the update command but not the whole image, so the
    // machine may still be waiting for one.
    bool FirmwareAwaited() const { return firmwareAwaited_; }
    // True when the last Put Parameters sent its closing command, or the last upgrade the
    // whole image: the machine has everything, and what is left is the wait for its restart.
    bool MachineHasAll() const { return machineHasAll_; }

    // Byte formats of machine types 1 and 2.
    static std::string AccessLine(int machineType);
    static std::vector<uint8_t> CommandFrame(const std::string& text);

    platform::CancelDialog& Dialog() { return dialog_; }

    // Seams for the local ports; the system's own are used unless replaced.
    void SetParallelPortFactory(ParallelPortFactory factory) { parallelFactory_ = factory; }
    void SetUsbDeviceFactory(UsbDeviceFactory factory) { usbFactory_ = factory; }

    // The payload between the key and the first ";" after it; empty without either.
    static void ExtractField(std::string& statusText, const std::string& key);

  private:
    bool HasSelectedHost() const;
    const std::string& SelectedHost() const;
    bool UsesPacketLink() const;

    bool OpenNetwork(bool quiet);
    bool OpenParallel();
    bool OpenUsb();
    bool WriteParallel(const uint8_t* data, int length);
    bool ReadParallelStatus(std::string& statusText);
    bool ReadUsbStatus(std::string& statusText);
    bool WriteAccessLine();
    bool WriteText(const std::string& text);
    // A fixed wait before a step that a Cancel refuses (a write, a status read, an opening):
    // a Cancel ends it, since the step after it would fail anyway.
    void WaitUnlessCancelled(int milliseconds);

    // The line protocol of machine types 1 and 2 (Get Report and Get Parameters).
    bool ReadReportCount();
    bool ReadReportLines(std::string& report);
    bool ReadParamCount();
    int ReadParamLines(uint8_t* buffer, int capacity);
    // A payload of the line protocol and the number it starts with.
    struct NumberedPayload {
        std::string text;
        int number = 0;
        size_t numberEnd = 0;  // where the number's digits end in text
    };
    bool ReadNumberedPayload(const char* key, bool waitOnEmptyPayload, NumberedPayload& payload);
    bool ReadLineCount(const char* key, bool waitOnEmptyPayload);
    bool ReadNumberedLines(const char* key, bool waitOnEmptyPayload, std::vector<uint8_t>& slots,
                           int& lastLineLength);
    bool SendRsCommand();

    // The frame of the writing operations: the progress shown from 0 with the machine not yet
    // having everything; the progress full; then hidden, the port closed and Done on success.
    void BeginWrite();
    void ShowWriteComplete();
    void EndWrite(bool succeeded);

    platform::CancelDialog& dialog_;
    std::string profilePath_;
    ConnectionSettings settings_;
    bool win9x_ = false;
    bool saveOnExit_ = true;
    bool firmwareAwaited_ = false;
    bool machineHasAll_ = false;
    int expectedLineCount_ = 0;

    std::unique_ptr<CLprPut> lprPut_;
    std::unique_ptr<CMegaPut> megaPut_;
    std::unique_ptr<CMega9100Put> mega9100Put_;

    ParallelPortFactory parallelFactory_ = MakeSystemParallelPort;
    UsbDeviceFactory usbFactory_ = MakeSystemUsbDevice;
    std::unique_ptr<ParallelPort> parallel_;
    std::unique_ptr<UsbDevice> usb_;
};

}  // namespace kelo
