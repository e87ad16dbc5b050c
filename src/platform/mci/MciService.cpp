#include "platform/mci/MciService.h"

#include "platform/mci/Interpreter.h"
#include "platform/mci/MciErrors.h"

#include <SDL_thread.h>

#include <chrono>

MciService& MciService::instance() {
    static MciService service;
    return service;
}

MciService::MciService() : interpreter_(std::make_unique<mci::Interpreter>(defaultSoundfont())) {}

MciService::~MciService() { joinReopen(); }

void MciService::joinReopen() {
    if (reopen_.joinable()) reopen_.join();
}

std::unique_lock<std::mutex> MciService::lockedAfterReopen() {
    for (;;) {
        std::unique_lock lock(mutex_);
        if (!reopening_.load(std::memory_order_acquire)) {
            joinReopen();
            return lock;
        }
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

template <typename Command>
int MciService::run(const Command& command) {
    if (reopening_.load(std::memory_order_acquire)) return mcierr::Hardware;
    std::lock_guard lock(mutex_);
    if (reopening_.load(std::memory_order_acquire)) return mcierr::Hardware;
    const int result = command();
    if (interpreter_->deviceStalled()) {
        reopening_.store(true, std::memory_order_release);
        // The last reopen has ended: its flag went down under this lock.
        joinReopen();
        reopen_ = std::thread([this] {
            {
                std::lock_guard lock(mutex_);
                interpreter_->reopenDevice();
                reopening_.store(false, std::memory_order_release);
            }
            SDL_TLSCleanup();
        });
    }
    return result;
}

QString MciService::defaultSoundfont() { return QString::fromLatin1(mci::Interpreter::DefaultSoundfontPath); }

int MciService::sendString(const QByteArray& command) {
    return run([&] { return interpreter_->execute(command); });
}

int MciService::sendText(const QString& command) {
    return run([&] { return interpreter_->executeText(command); });
}

void MciService::warmUp(const QString& soundPath) {
    std::unique_lock lock = lockedAfterReopen();
    interpreter_->warmUp(soundPath);
}

void MciService::shutdown() {
    std::unique_lock lock = lockedAfterReopen();
    interpreter_->shutdown();
}

void MciService::setSoundfont(const QString& path) {
    std::unique_lock lock = lockedAfterReopen();
    interpreter_ = std::make_unique<mci::Interpreter>(path);
}
