#include <qar/CqarLogManager.h>

#include <mutex>

namespace {

// Threads that each work on their own scene may log at the same time; the
// lock keeps every message, whole.
struct LogStore {
    std::mutex lock;
    std::vector<std::string> messages;
};

LogStore& logStore()
{
    static LogStore store;
    return store;
}

} // namespace

void CqarLogManager::addError(std::string const& message)
{
    LogStore& s = logStore();
    std::lock_guard<std::mutex> const hold(s.lock);
    s.messages.push_back(message);
}

std::vector<std::string> CqarLogManager::messages()
{
    LogStore& s = logStore();
    std::lock_guard<std::mutex> const hold(s.lock);
    return s.messages;
}

void CqarLogManager::clear()
{
    LogStore& s = logStore();
    std::lock_guard<std::mutex> const hold(s.lock);
    s.messages.clear();
}
