// The serial port on the Windows serial driver (supplied on POSIX terminals by the platform
// layer).
#pragma once

#include <memory>

#include "COMLINK.h"
#include "WinSerial.h"

class CWin32Port : public CComPort {
  public:
    // Opens COM(portIndex + 1) at once unless deferOpen is not 0. The program passes
    // rxSize 4096, txSize 2048 and deferOpen 0.
    CWin32Port(int portIndex, unsigned rxSize, unsigned txSize, int deferOpen);
    ~CWin32Port() override;

    int Idle() override;
    int RefreshStatus() override;
    void Open(int portIndex) override;
    int OpenDevice() override;
    int Close() override;
    BufferStatus* GetBufferStatus(BufferStatus* status, int parts) override;
    int SetBufferSizes(int rxSize, int xoffLimit, int txSize) override;
    int SetHandshake(int inputFlow, int outputFlow) override;
    int GetHandshake(int& inputFlow, int& outputFlow) override;
    int Break(int state) override;
    int LineControl(int lineCode, int value) override;
    int SetLineParameters(long baud, char parity, int dataBits, int stopBits) override;
    int GetLineParameters(long& baud, char& parity, int& dataBits, int& stopBits) override;
    int GetLineStatus(PackedLineStatus* status) override;
    int WriteByte(unsigned char byte) override;
    int WriteString(const char* text) override;
    int Write(const void* buffer, unsigned count) override;
    int TransmitChar(unsigned char byte) override;
    int ReadByte() override;
    int Read(void* buffer, unsigned count) override;
    int Purge(int direction, int count) override;
    int DumpStatus(StatusLineSink sink) override;

    // Win32 additions. SetEventChar answers the system's success flag (nonzero on success).
    virtual int SetEventChar(char eventChar);
    virtual int GetEventMask(DWORD* mask);
    virtual int SetEventMask(DWORD mask);
    virtual int WaitEvent(DWORD* events);
    virtual int TestModemLine(int mask);
    virtual int MapSystemError();

  private:
    // Gathers ClearCommError's error bits into lineErrors; returns false (counts 0) on failure.
    bool GatherLineErrors(COMSTAT& status);
    // Finishes a write that the driver left in flight, so its record can be used again.
    void FinishWriteInFlight();
    bool HasRecords() const { return controlBlock != nullptr; }
    // The control-block flags of one side's flow control; 0, or the refusal (recorded too).
    int SelectInputFlow(DCB& dcb, int flow);
    int SelectOutputFlow(DCB& dcb, int flow);
    // Records and answers the code of the system call that just failed.
    int FailWithSystemError();
    // Records code only when no earlier failure is still waiting to be taken, so that the
    // first, more telling code (a refused open, a bad setting) is the one the owner sees.
    void RecordUnlessPending(int code) {
        if (pendingError == 0) {
            pendingError = code;
        }
    }

    std::unique_ptr<DCB> controlBlock;
    std::unique_ptr<OVERLAPPED> readCompletion;
    std::unique_ptr<OVERLAPPED> writeCompletion;
    HANDLE device = INVALID_HANDLE_VALUE;
    std::int32_t inputFlow = 0;
    std::int32_t outputFlow = 0;
    std::int32_t rtsState = 0;
    std::int32_t dtrState = 0;
    std::uint16_t breakState = 0;
    std::uint32_t lineErrors = 0;
    std::uint32_t txQueueSize = 0;
    std::uint32_t rxQueueSize = 0;
};
