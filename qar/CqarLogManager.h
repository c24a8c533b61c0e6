#pragma once

#include <qar/qarExport.h>

#include <string>
#include <vector>

// The process-wide error log of the utility library.
//
// Libraries record errors with addError(); the messages are kept in the order
// they arrive until clear(). messages() returns a copy, so that a host or a
// test can check what was logged. Threads may write and read it at the
// same time: each call takes a lock.
class QAR_API CqarLogManager {
public:
    static void addError(std::string const& message);
    static std::vector<std::string> messages();
    static void clear();

private:
    CqarLogManager() = delete;
};
