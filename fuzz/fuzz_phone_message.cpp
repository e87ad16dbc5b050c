// libFuzzer target for what a phone's page sends: every message a page sends
// is read by parsePhoneMessage() alone. What it accepts must keep to the
// limits the server relies on; a message it accepts is then used as the
// server uses it (a clock sample, a press time mapped through the clock).
#include "phones/ClockSync.h"
#include "phones/PhoneProtocol.h"

#include <QByteArray>

#include <cmath>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray text(reinterpret_cast<const char*>(data), int(size));
    const std::optional<phones::PhoneMessage> m = phones::parsePhoneMessage(text);
    if (!m) return 0;
    if (text.size() > phones::MaxMessageBytes) std::abort();
    if (!std::isfinite(m->clientMs) || m->clientMs < 0) std::abort();
    if (m->kind == phones::PhoneMessage::Hello && (m->seat < -1 || m->token.size() < 8 || m->token.size() > 64))
        std::abort();
    phones::ClockSync clock;
    if (m->kind == phones::PhoneMessage::Pong) clock.addSample(m->serverUs, m->clientMs, m->serverUs + 1000);
    if (m->kind == phones::PhoneMessage::Press) {
        clock.addSample(1'000'000, 5.0, 1'002'000);
        (void)clock.toTableUs(m->clientMs);
    }
    return 0;
}
