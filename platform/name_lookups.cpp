#include "name_lookups.h"

#include <system_error>
#include <thread>
#include <utility>

namespace nodrel::platform {

std::future<LookupAnswer> NameLookups::Start(QByteArray name, Done done) {
    std::promise<LookupAnswer> promise;
    std::future<LookupAnswer> answered = promise.get_future();
    {
        const std::lock_guard lock(FLock);
        ++FUnderWay;
    }
    try {
        // Detached: the count, not a join, tells when it is over, so that nobody has to keep
        // the threads of the lookups it gave up on.
        std::thread([this, name = std::move(name), done = std::move(done),
                     promise = std::move(promise)]() mutable {
            LookupAnswer answer;
            answer.error = FPlatform.ResolveHost(name.constData(), answer.address);
            if (done) done(answer);
            done = nullptr;  // what it holds goes before the owner may
            promise.set_value(answer);
            const std::lock_guard lock(FLock);
            if (--FUnderWay == 0) FAllAnswered.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        const std::lock_guard lock(FLock);
        if (--FUnderWay == 0) FAllAnswered.notify_all();
        throw;
    }
    return answered;
}

void NameLookups::WaitForAll() {
    std::unique_lock lock(FLock);
    FAllAnswered.wait(lock, [this] { return FUnderWay == 0; });
}

}  // namespace nodrel::platform
