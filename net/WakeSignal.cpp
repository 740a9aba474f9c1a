#include "net/WakeSignal.h"

#include "SocketOps.h"

WakeSignal::WakeSignal() {
    sockets::StartLayer();
    sockets::OpenWakeChannel(channel);
}

WakeSignal::~WakeSignal() {
    sockets::CloseWakeChannel(channel);
    sockets::StopLayer();
}

void WakeSignal::Raise() const {
    if (IsOpen()) {
        sockets::SignalWakeChannel(channel);
    }
}

void WakeSignal::Clear() const {
    if (IsOpen()) {
        sockets::DrainWakeChannel(channel);
    }
}
