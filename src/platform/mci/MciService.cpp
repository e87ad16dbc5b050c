#include "platform/mci/MciService.h"

#include "platform/CodePage932.h"
#include "platform/mci/Interpreter.h"

MciService& MciService::instance() {
    static MciService service;
    return service;
}

MciService::MciService() : interpreter_(std::make_unique<mci::Interpreter>(defaultSoundfont())) {}

MciService::~MciService() = default;

QString MciService::defaultSoundfont() { return QString::fromLatin1(mci::Interpreter::DefaultSoundfontPath); }

int MciService::sendString(const QByteArray& command) {
    std::lock_guard lock(mutex_);
    return interpreter_->execute(command);
}

void MciService::warmUp(const QString& soundPath) {
    std::lock_guard lock(mutex_);
    interpreter_->warmUp(cp932::fromUnicode(soundPath));
}

void MciService::shutdown() {
    std::lock_guard lock(mutex_);
    interpreter_->shutdown();
}

void MciService::setSoundfont(const QString& path) {
    std::lock_guard lock(mutex_);
    interpreter_ = std::make_unique<mci::Interpreter>(path);
}
