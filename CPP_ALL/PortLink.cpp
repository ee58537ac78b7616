#include "PortLink.h"

#include "WinSerial.h"

namespace {

class CSystemTicks final : public CTickSource {
  public:
    std::uint32_t Now() const override { return GetTickCount(); }
};

constexpr CSystemTicks systemTicks;

}  // namespace

const CTickSource& SystemTicks() {
    return systemTicks;
}

CComLink::CComLink(CComPort* port) : port(port), ticks(&systemTicks) {
    // A port that failed to open keeps its error for TakeLineErrors; nothing is touched.
    if (port == nullptr || port->PendingError() != 0) {
        return;
    }
    lineSettings.emplace(this);
    lineSettings->Apply(9600, 'N', 8, 1);
    lineStatus.emplace(this);
    port->SetHandshake(LINE_NONE, LINE_NONE);
}

CComLink::~CComLink() {
    // Flow control first, then the line parameters, the reverse of how they were taken.
    if (lineStatus) {
        lineStatus->Restore();
    }
    if (lineSettings) {
        lineSettings->Restore();
    }
}

void CComLink::SetTickSource(const CTickSource* source) {
    ticks = source != nullptr ? source : &systemTicks;
}

int CComLink::ReadByteTimed(int timeoutMs) {
    if (port == nullptr) {
        return COM_ERR_FAILED;
    }
    const std::uint32_t start = ticks->Now();
    int result = port->ReadByte();
    if (result >= 0) {
        return result;
    }
    while (!TimeLimitPassed(start, ticks->Now(), timeoutMs)) {
        const int idle = port->Idle();
        if (idle < 0) {
            return idle;
        }
        result = port->ReadByte();
        if (result >= 0) {
            return result;
        }
    }
    return COM_ERR_TIMEOUT;
}

int CComLink::WriteByteTimed(unsigned char byte) {
    if (port == nullptr) {
        return COM_ERR_FAILED;
    }
    return port->WriteByte(byte);
}

int CComLink::Reserved1() {
    return COM_ERR_UNSUPPORTED;
}

int CComLink::WriteBytes(const void* buffer, int count) {
    // A negative count would reach the port as a huge unsigned length.
    if (port == nullptr || buffer == nullptr || count <= 0) {
        return 0;
    }
    return port->Write(buffer, static_cast<unsigned>(count));
}

int CComLink::ReadBlock(char* buffer, int count, int timeoutMs) {
    // With a negative count the caller's buffer has no room even for the NUL.
    if (buffer == nullptr || count < 0) {
        return 0;
    }
    if (port == nullptr) {
        buffer[0] = '\0';
        return 0;
    }
    const std::uint32_t start = ticks->Now();
    int got = 0;
    int remaining = count;
    // The first read comes before the clock is looked at, so bytes already waiting are taken
    // even with a limit of 0. A port that reports more than it was asked for is held to what
    // was asked, so the NUL always lands inside the caller's count + 1 bytes.
    auto take = [&](int pieceCount) {
        if (pieceCount < 0) {
            pieceCount = 0;
        } else if (pieceCount > remaining) {
            pieceCount = remaining;
        }
        got += pieceCount;
        remaining -= pieceCount;
    };
    take(port->Read(buffer, static_cast<unsigned>(count)));
    while (remaining != 0) {
        if (TimeLimitPassed(start, ticks->Now(), timeoutMs)) {
            break;
        }
        const int idle = port->Idle();
        if (idle < 0) {
            return idle;
        }
        take(port->Read(buffer + got, static_cast<unsigned>(remaining)));
    }
    buffer[got] = '\0';
    return got;
}

int CComLink::RxCount() {
    if (port == nullptr) {
        return 0;
    }
    BufferStatus status{};
    port->GetBufferStatus(&status, 1);
    return status.rxCount;
}

int CComLink::TakeLineErrors(std::uint16_t* flags) {
    std::uint16_t word = 0;
    if (flags != nullptr) {
        *flags = 0;
    }
    if (port == nullptr) {
        return COM_ERR_NO_DEVICE;
    }
    const int code = port->TakePendingError();
    if (code != 0) {
        return code;
    }
    // A link built over a failed port has no status snapshot; once its error has been handed
    // over there is nothing more to report.
    if (!lineStatus) {
        return 0;
    }
    lineStatus->Refresh();
    if (lineStatus->ParityError() != 0) {
        word |= LINK_PARITY_ERROR;
    }
    if (lineStatus->FramingError() != 0) {
        word |= LINK_FRAMING_ERROR;
    }
    if (lineStatus->RxOverflow() != 0) {
        word |= LINK_RX_OVERFLOW;
    }
    if (lineStatus->Overrun() != 0) {
        word |= LINK_OVERRUN;
    }
    if (lineStatus->BreakDetected() != 0) {
        word |= LINK_BREAK;
    }
    if (flags != nullptr) {
        *flags = word;
    }
    return 0;
}
