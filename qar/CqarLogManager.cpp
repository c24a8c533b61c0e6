#include <qar/CqarLogManager.h>

namespace {

std::vector<std::string>& logStore()
{
    static std::vector<std::string> store;
    return store;
}

} // namespace

void CqarLogManager::addError(std::string const& message)
{
    logStore().push_back(message);
}

std::vector<std::string> CqarLogManager::messages()
{
    return logStore();
}

void CqarLogManager::clear()
{
    logStore().clear();
}
